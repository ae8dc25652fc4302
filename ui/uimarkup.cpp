#include "ui/uimarkup.h"

#include <cwchar>

#include "ui/uiparse.h"

namespace DuiLib {

namespace {
bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsNameChar(wchar_t c) {
    return c != 0 && !IsSpace(c) && c != L'<' && c != L'>' && c != L'/' && c != L'=' && c != L'"' && c != L'\'';
}
}  // namespace

CMarkupNode CMarkupNode::GetParent() const {
    if (!IsValid()) return CMarkupNode();
    return CMarkupNode(m_pOwner, m_pOwner->m_vElements[m_iIndex].iParent);
}
CMarkupNode CMarkupNode::GetChild() const {
    if (!IsValid()) return CMarkupNode();
    return CMarkupNode(m_pOwner, m_pOwner->m_vElements[m_iIndex].iChild);
}
CMarkupNode CMarkupNode::GetChild(const wchar_t* name) const {
    for (CMarkupNode n = GetChild(); n.IsValid(); n = n.GetSibling())
        if (m_pOwner->m_vElements[n.m_iIndex].sName == name) return n;
    return CMarkupNode();
}
CMarkupNode CMarkupNode::GetSibling() const {
    if (!IsValid()) return CMarkupNode();
    return CMarkupNode(m_pOwner, m_pOwner->m_vElements[m_iIndex].iNext);
}
const wchar_t* CMarkupNode::GetName() const { return IsValid() ? m_pOwner->m_vElements[m_iIndex].sName.c_str() : L""; }
const wchar_t* CMarkupNode::GetText() const { return IsValid() ? m_pOwner->m_vElements[m_iIndex].sText.c_str() : L""; }
int CMarkupNode::GetAttributeCount() const {
    return IsValid() ? static_cast<int>(m_pOwner->m_vElements[m_iIndex].vAttrs.size()) : 0;
}
const wchar_t* CMarkupNode::GetAttributeName(int i) const {
    if (i < 0 || i >= GetAttributeCount()) return L"";
    return m_pOwner->m_vElements[m_iIndex].vAttrs[i].first.c_str();
}
const wchar_t* CMarkupNode::GetAttributeValue(int i) const {
    if (i < 0 || i >= GetAttributeCount()) return L"";
    return m_pOwner->m_vElements[m_iIndex].vAttrs[i].second.c_str();
}
const wchar_t* CMarkupNode::GetAttributeValue(const wchar_t* name) const {
    if (!IsValid() || !name) return nullptr;
    for (const auto& a : m_pOwner->m_vElements[m_iIndex].vAttrs)
        if (a.first == name) return a.second.c_str();
    return nullptr;
}

void CMarkup::Release() {
    m_vElements.clear();
    m_sXml.clear();
    m_nPos = 0;
}

void CMarkup::SetLastError(const wchar_t* message, size_t location) {
    m_sLastError = message ? message : L"";
    m_nErrorLocation = location;
}

bool CMarkup::Fail(const wchar_t* message) {
    SetLastError(message, m_nPos);
    m_vElements.clear();
    return false;
}

bool CMarkup::Load(const char* data, size_t len) {
    Release();
    m_sLastError.clear();
    m_nErrorLocation = 0;
    if (len >= 3 && static_cast<unsigned char>(data[0]) == 0xEF && static_cast<unsigned char>(data[1]) == 0xBB &&
        static_cast<unsigned char>(data[2]) == 0xBF) {
        data += 3;
        len -= 3;
    }
    if (!data || len == 0) return Fail(L"File is empty");
    if (len > kMaxFileSize) return Fail(L"File too large");
    m_sXml = Utf8ToWide(data, len);
    bool ok = Parse();
    m_sXml.clear();
    m_sXml.shrink_to_fit();
    return ok;
}

// Entities: the five named ones and numeric references; anything else stays as written.
void CMarkup::AppendDecoded(std::wstring& out, size_t from, size_t to) const {
    for (size_t i = from; i < to; ++i) {
        wchar_t c = m_sXml[i];
        if (c != L'&') {
            out.push_back(c);
            continue;
        }
        size_t semi = i + 1;
        while (semi < to && semi - i <= 10 && m_sXml[semi] != L';') ++semi;
        if (semi >= to || m_sXml[semi] != L';') {
            out.push_back(c);
            continue;
        }
        std::wstring ent = m_sXml.substr(i + 1, semi - i - 1);
        uint32_t cp = 0;
        bool ok = true;
        if (ent == L"lt") cp = L'<';
        else if (ent == L"gt") cp = L'>';
        else if (ent == L"amp") cp = L'&';
        else if (ent == L"quot") cp = L'"';
        else if (ent == L"apos") cp = L'\'';
        else if (ent.size() >= 2 && ent[0] == L'#') {
            bool hex = (ent[1] == L'x' || ent[1] == L'X');
            size_t k = hex ? 2 : 1;
            ok = k < ent.size();
            for (; ok && k < ent.size(); ++k) {
                wchar_t d = ent[k];
                int v;
                if (d >= L'0' && d <= L'9') v = d - L'0';
                else if (hex && d >= L'a' && d <= L'f') v = d - L'a' + 10;
                else if (hex && d >= L'A' && d <= L'F') v = d - L'A' + 10;
                else { ok = false; break; }
                cp = cp * (hex ? 16 : 10) + v;
                if (cp > 0x10FFFF) { ok = false; break; }
            }
            if (ok && (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        } else {
            ok = false;
        }
        if (!ok) {
            out.push_back(c);
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
        i = semi;
    }
}

bool CMarkup::ReadQuoted(std::wstring& value) {
    wchar_t q = m_sXml[m_nPos++];
    size_t start = m_nPos;
    size_t end = m_sXml.find(q, start);
    if (end == std::wstring::npos) {
        m_nPos = m_sXml.size();
        return false;
    }
    value.clear();
    AppendDecoded(value, start, end);
    m_nPos = end + 1;
    return true;
}

bool CMarkup::ParseAttributes(TElement& element) {
    const size_t n = m_sXml.size();
    for (;;) {
        size_t before = m_nPos;
        while (m_nPos < n && IsSpace(m_sXml[m_nPos])) ++m_nPos;
        if (m_nPos >= n) return true;  // the caller reports the missing closing
        wchar_t c = m_sXml[m_nPos];
        if (c == L'>' || c == L'/' || c == L'?') return true;
        // attributes must be separated from the name and from each other
        if (m_nPos == before) return Fail(L"Error while parsing attributes");
        size_t k = m_nPos;
        while (m_nPos < n && IsNameChar(m_sXml[m_nPos])) ++m_nPos;
        if (m_nPos == k) return Fail(L"Error while parsing attributes");
        std::wstring name = m_sXml.substr(k, m_nPos - k);
        while (m_nPos < n && IsSpace(m_sXml[m_nPos])) ++m_nPos;
        if (m_nPos >= n || m_sXml[m_nPos] != L'=') return Fail(L"Error while parsing attributes");
        ++m_nPos;
        while (m_nPos < n && IsSpace(m_sXml[m_nPos])) ++m_nPos;
        if (m_nPos >= n || (m_sXml[m_nPos] != L'"' && m_sXml[m_nPos] != L'\''))
            return Fail(L"Expected attribute value");
        std::wstring value;
        if (!ReadQuoted(value)) return Fail(L"Error while parsing attribute string");
        element.vAttrs.emplace_back(std::move(name), std::move(value));
    }
}

bool CMarkup::Parse() {
    const std::wstring& s = m_sXml;
    const size_t n = s.size();
    m_nPos = 0;
    std::vector<int> open;  // elements whose end tag is still due
    bool rootDone = false;
    auto startsWith = [&](const wchar_t* lit) { return s.compare(m_nPos, wcslen(lit), lit) == 0; };
    auto skipPast = [&](const wchar_t* lit) {
        size_t e = s.find(lit, m_nPos);
        if (e == std::wstring::npos) { m_nPos = n; return false; }
        m_nPos = e + wcslen(lit);
        return true;
    };
    while (true) {
        // text up to the next markup
        size_t t = m_nPos;
        while (m_nPos < n && s[m_nPos] != L'<') ++m_nPos;
        if (!open.empty()) {
            AppendDecoded(m_vElements[open.back()].sText, t, m_nPos);
        } else {
            for (size_t k = t; k < m_nPos; ++k)
                if (!IsSpace(s[k]) && !(k == 0 && s[k] == 0xFEFF)) {
                    if (rootDone) return true;  // trailing junk after the root is ignored
                    m_nPos = k;
                    return Fail(L"Expected start tag");
                }
        }
        if (m_nPos >= n) {
            if (!open.empty()) return Fail(L"Expected end-tag start");
            if (!rootDone) return Fail(L"Expected start tag");
            return true;
        }
        if (startsWith(L"<!--")) {
            if (!skipPast(L"-->")) return Fail(open.empty() ? L"Expected start tag" : L"Expected end-tag start");
            continue;
        }
        if (startsWith(L"<![CDATA[")) {
            if (open.empty()) return Fail(L"Expected start tag");
            size_t from = m_nPos + 9;
            if (!skipPast(L"]]>")) return Fail(L"Expected end-tag start");
            m_vElements[open.back()].sText.append(s, from, m_nPos - 3 - from);
            continue;
        }
        if (startsWith(L"<?")) {
            if (!skipPast(L"?>")) return Fail(L"Expected start-tag closing");
            continue;
        }
        if (startsWith(L"<!")) {
            if (!skipPast(L">")) return Fail(L"Expected start-tag closing");
            continue;
        }
        if (startsWith(L"</")) {
            if (open.empty()) return Fail(L"Unmatched closing tag");
            m_nPos += 2;
            size_t k = m_nPos;
            while (m_nPos < n && IsNameChar(s[m_nPos])) ++m_nPos;
            if (s.compare(k, m_nPos - k, m_vElements[open.back()].sName) != 0 ||
                m_nPos - k != m_vElements[open.back()].sName.size())
                return Fail(L"Unmatched closing tag");
            while (m_nPos < n && IsSpace(s[m_nPos])) ++m_nPos;
            if (m_nPos >= n || s[m_nPos] != L'>') return Fail(L"Unmatched closing tag");
            ++m_nPos;
            open.pop_back();
            if (open.empty()) rootDone = true;
            continue;
        }
        // a start tag
        if (rootDone) return true;  // a second root is ignored, as trailing content
        ++m_nPos;
        size_t k = m_nPos;
        while (m_nPos < n && IsNameChar(s[m_nPos])) ++m_nPos;
        if (m_nPos == k) return Fail(L"Error parsing element name");
        TElement el;
        el.sName = s.substr(k, m_nPos - k);
        el.iParent = open.empty() ? -1 : open.back();
        if (!ParseAttributes(el)) return false;
        if (m_nPos >= n) return Fail(L"Expected start-tag closing");
        bool selfClosing = false;
        if (s[m_nPos] == L'/') {
            ++m_nPos;
            selfClosing = true;
        }
        if (m_nPos >= n || s[m_nPos] != L'>') return Fail(L"Expected start-tag closing");
        ++m_nPos;
        int index = static_cast<int>(m_vElements.size());
        m_vElements.push_back(std::move(el));
        if (m_vElements[index].iParent >= 0) {
            TElement& parent = m_vElements[m_vElements[index].iParent];
            if (parent.iLastChild >= 0) m_vElements[parent.iLastChild].iNext = index;
            else parent.iChild = index;
            parent.iLastChild = index;
        }
        if (selfClosing) {
            if (open.empty()) rootDone = true;
        } else {
            open.push_back(index);
        }
    }
}

}  // namespace DuiLib
