#include "ui/uiparse.h"

#include <cwchar>

namespace DuiLib {

static wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool EqualsNoCase(const wchar_t* a, const wchar_t* b) {
    if (!a || !b) return a == b;
    while (*a && *b) {
        if (LowerAscii(*a) != LowerAscii(*b)) return false;
        ++a, ++b;
    }
    return *a == *b;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// Decimal with optional sign; saturates instead of overflowing.
static const wchar_t* ReadInt(const wchar_t* p, int& value, bool& ok) {
    while (*p == L' ' || *p == L'\t') ++p;
    bool neg = false;
    if (*p == L'-' || *p == L'+') { neg = (*p == L'-'); ++p; }
    ok = (*p >= L'0' && *p <= L'9');
    long long v = 0;
    while (*p >= L'0' && *p <= L'9') {
        if (v < 100000000) v = v * 10 + (*p - L'0');
        ++p;
    }
    value = static_cast<int>(neg ? -v : v);
    return p;
}

int ParseIntList(const wchar_t* text, int* values, int count) {
    for (int i = 0; i < count; ++i) values[i] = 0;
    if (!text) return 0;
    const wchar_t* p = text;
    int n = 0;
    while (n < count) {
        bool ok = false;
        int v = 0;
        p = ReadInt(p, v, ok);
        if (!ok) break;
        values[n++] = v;
        if (*p == 0) break;
        ++p;  // exactly one separator
    }
    return n;
}

TRectI ParseRect(const wchar_t* text) {
    int v[4];
    ParseIntList(text, v, 4);
    TRectI rc;
    rc.left = v[0], rc.top = v[1], rc.right = v[2], rc.bottom = v[3];
    return rc;
}

uint32_t ParseColor(const wchar_t* text) {
    if (!text) return 0;
    while (*text == L' ') ++text;
    if (*text == L'#') ++text;
    uint32_t v = 0;
    int digits = 0;
    for (; digits < 8; ++digits) {
        wchar_t c = text[digits];
        int d;
        if (c >= L'0' && c <= L'9') d = c - L'0';
        else if (c >= L'a' && c <= L'f') d = c - L'a' + 10;
        else if (c >= L'A' && c <= L'F') d = c - L'A' + 10;
        else break;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    if (digits == 6) v |= 0xFF000000u;
    return v;
}

bool ParseBool(const wchar_t* text) { return text && EqualsNoCase(text, L"true"); }

static bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const std::wstring& text) {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    size_t i = 0, n = text.size();
    while (i < n) {
        while (i < n && IsBlank(text[i])) ++i;
        if (i >= n) break;
        size_t k = i;
        while (i < n && text[i] != L'=' && !IsBlank(text[i])) ++i;
        if (i == k || i >= n || text[i] != L'=') break;
        std::wstring key = text.substr(k, i - k);
        ++i;
        if (i >= n || (text[i] != L'"' && text[i] != L'\'')) break;
        wchar_t q = text[i++];
        size_t v = i;
        while (i < n && text[i] != q) ++i;
        if (i >= n) break;
        out.emplace_back(key, text.substr(v, i - v));
        ++i;
    }
    return out;
}

bool ParseImageString(const std::wstring& text, TImageAttrUI& out) {
    out = TImageAttrUI();
    // A bare name is the whole string; pairs below replace it.
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) ++first;
    if (first == text.size()) return false;
    out.sFile = text;
    size_t i = 0, n = text.size();
    while (i < n) {
        while (i < n && IsBlank(text[i])) ++i;
        if (i >= n) break;
        size_t k = i;
        while (i < n && text[i] != L'=') ++i;
        if (i >= n) break;
        std::wstring key = text.substr(k, i - k);
        ++i;
        if (i >= n || text[i] != L'\'') break;
        ++i;
        size_t v = i;
        while (i < n && text[i] != L'\'') ++i;
        if (i >= n) break;
        std::wstring value = text.substr(v, i - v);
        ++i;
        const wchar_t* pv = value.c_str();
        if (key == L"file" || key == L"res") {
            out.sFile = value;
            out.bRes = (key == L"res");
        } else if (key == L"restype") {
            out.sResType = value;
        } else if (key == L"color") {
            out.bColor = true;
            out.dwColor = ParseColor(pv);
            if (out.sFile == text) out.sFile.clear();
        } else if (key == L"dest") {
            out.rcDest = ParseRect(pv);
            out.bDest = true;
        } else if (key == L"source") {
            out.rcSource = ParseRect(pv);
        } else if (key == L"corner" || key == L"scale9") {
            out.rcCorner = ParseRect(pv);
        } else if (key == L"mask") {
            out.bMask = true;
            out.dwMask = ParseColor(pv);
        } else if (key == L"fade") {
            int f = 255;
            bool ok = false;
            ReadInt(pv, f, ok);
            out.uFade = static_cast<uint8_t>(!ok ? 255 : (f < 0 ? 0 : (f > 255 ? 255 : f)));
        } else if (key == L"hole") {
            out.bHole = ParseBool(pv);
        } else if (key == L"xtiled") {
            out.bTiledX = ParseBool(pv);
        } else if (key == L"ytiled") {
            out.bTiledY = ParseBool(pv);
        }
        if (i >= n || text[i] != L' ') break;
        ++i;
    }
    // A string of pairs that never named a file keeps no file (only a colour, if any).
    if (out.sFile == text && text.find(L'=') != std::wstring::npos && text.find(L'\'') != std::wstring::npos)
        out.sFile.clear();
    // Blanks around a bare name are not part of it.
    if (!out.sFile.empty()) {
        size_t b = out.sFile.find_first_not_of(L" \t\r\n");
        size_t e = out.sFile.find_last_not_of(L" \t\r\n");
        out.sFile = (b == std::wstring::npos) ? std::wstring() : out.sFile.substr(b, e - b + 1);
    }
    return !out.IsEmpty();
}

std::vector<THtmlRunUI> ParseHtmlText(const std::wstring& text) {
    std::vector<THtmlRunUI> runs;
    THtmlRunUI cur;
    int under = 0, bold = 0, italic = 0;
    std::vector<uint32_t> colors;
    bool newline = false;
    // a line break waits for the next text, so tags between them add no empty runs
    auto flush = [&]() {
        if (!cur.sText.empty()) {
            cur.bNewLine = newline;
            runs.push_back(cur);
            newline = false;
        }
        cur = THtmlRunUI();
        cur.bUnderline = under > 0;
        cur.bBold = bold > 0;
        cur.bItalic = italic > 0;
        cur.bColor = !colors.empty();
        cur.dwColor = colors.empty() ? 0 : colors.back();
    };
    size_t i = 0, n = text.size();
    while (i < n) {
        wchar_t c = text[i];
        if (c == L'{' && i + 1 < n && text[i + 1] == L'{') {
            cur.sText.push_back(L'{');
            i += 2;
            continue;
        }
        if (c == L'{') {
            size_t close = text.find(L'}', i + 1);
            if (close != std::wstring::npos) {
                std::wstring tag = text.substr(i + 1, close - i - 1);
                bool known = true;
                if (tag == L"u" || tag == L"/u" || tag == L"b" || tag == L"/b" || tag == L"i" || tag == L"/i" ||
                    tag == L"/c" || tag == L"n" || (tag.size() > 2 && tag[0] == L'c' && tag[1] == L' ')) {
                    flush();
                    if (tag == L"u") ++under;
                    else if (tag == L"/u") under = under > 0 ? under - 1 : 0;
                    else if (tag == L"b") ++bold;
                    else if (tag == L"/b") bold = bold > 0 ? bold - 1 : 0;
                    else if (tag == L"i") ++italic;
                    else if (tag == L"/i") italic = italic > 0 ? italic - 1 : 0;
                    else if (tag == L"/c") { if (!colors.empty()) colors.pop_back(); }
                    else if (tag == L"n") newline = true;
                    else colors.push_back(ParseColor(tag.c_str() + 2));
                    cur.bUnderline = under > 0;
                    cur.bBold = bold > 0;
                    cur.bItalic = italic > 0;
                    cur.bColor = !colors.empty();
                    cur.dwColor = colors.empty() ? 0 : colors.back();
                } else {
                    known = false;
                }
                if (known) {
                    i = close + 1;
                    continue;
                }
            }
        }
        cur.sText.push_back(c);
        ++i;
    }
    flush();
    if (newline) {
        THtmlRunUI blank;
        blank.bNewLine = true;
        runs.push_back(blank);
    }
    return runs;
}

}  // namespace DuiLib
