#include "base/vdversion.h"

#include <cwctype>
#include <cstdlib>

namespace {
bool AllDigits(const std::wstring& s) {
    if (s.empty()) return false;
    for (wchar_t c : s)
        if (!iswdigit(c)) return false;
    return true;
}
}  // namespace

CVersion::CVersion(const std::wstring& text) {
    std::vector<std::wstring> kept;
    size_t start = 0;
    for (;;) {
        size_t dot = text.find(L'.', start);
        if (dot == std::wstring::npos) {
            // the tail after the last dot is optional: dropped when not a number
            std::wstring tail = text.substr(start);
            if (AllDigits(tail)) kept.push_back(tail);
            break;
        }
        std::wstring piece = text.substr(start, dot - start);
        if (!AllDigits(piece)) return;
        kept.push_back(piece);
        start = dot + 1;
    }
    if (kept.size() < 2) return;
    int* fields[4] = {&m_nMajor, &m_nMinor, &m_nBuild, &m_nRevision};
    for (size_t i = 0; i < kept.size() && i < 4; ++i) *fields[i] = _wtoi(kept[i].c_str());
}

int CVersion::Compare(const CVersion& o) const {
    const int a[4] = {m_nMajor, m_nMinor, m_nBuild, m_nRevision};
    const int b[4] = {o.m_nMajor, o.m_nMinor, o.m_nBuild, o.m_nRevision};
    for (int i = 0; i < 4; ++i) {
        if (a[i] > b[i]) return 1;
        if (a[i] < b[i]) return -1;
    }
    return 0;
}

std::vector<std::wstring> SplitByDelimiter(const std::wstring& text, const std::wstring& delimiter) {
    std::vector<std::wstring> out;
    if (delimiter.empty()) return out;
    size_t pos = 0;
    for (;;) {
        size_t hit = text.find(delimiter, pos);
        if (hit == std::wstring::npos) break;
        out.push_back(text.substr(pos, hit - pos));
        pos = hit + delimiter.size();
    }
    return out;
}
