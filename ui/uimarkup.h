// The skin's XML reader: UTF-8 with or without byte-order mark, entities, comments, processing
// instructions and CDATA. Elements live in one flat array, so neither parsing nor freeing
// recurses however deep a hostile file nests. No windows.h: fuzzed natively.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace DuiLib {

class CMarkup;

// A light handle on one element of a CMarkup; valid while the CMarkup lives unchanged.
class CMarkupNode {
public:
    CMarkupNode() = default;
    CMarkupNode(const CMarkup* owner, int index) : m_pOwner(owner), m_iIndex(index) {}
    bool IsValid() const { return m_pOwner != nullptr && m_iIndex >= 0; }
    CMarkupNode GetParent() const;
    CMarkupNode GetChild() const;
    CMarkupNode GetChild(const wchar_t* name) const;
    CMarkupNode GetSibling() const;
    bool HasChildren() const { return GetChild().IsValid(); }
    const wchar_t* GetName() const;
    const wchar_t* GetText() const;
    int GetAttributeCount() const;
    const wchar_t* GetAttributeName(int i) const;
    const wchar_t* GetAttributeValue(int i) const;
    // nullptr when the element has no such attribute.
    const wchar_t* GetAttributeValue(const wchar_t* name) const;
    bool HasAttribute(const wchar_t* name) const { return GetAttributeValue(name) != nullptr; }

private:
    const CMarkup* m_pOwner = nullptr;
    int m_iIndex = -1;
};

class CMarkup {
public:
    static constexpr size_t kMaxFileSize = 4 * 1024 * 1024;

    CMarkup() = default;
    CMarkup(const CMarkup&) = delete;
    CMarkup& operator=(const CMarkup&) = delete;

    // Parses UTF-8 bytes; on failure keeps no tree and one of the stated error texts.
    bool Load(const char* data, size_t len);
    bool Load(const std::string& data) { return Load(data.data(), data.size()); }
    void Release();
    bool IsValid() const { return !m_vElements.empty(); }
    CMarkupNode GetRoot() const { return IsValid() ? CMarkupNode(this, 0) : CMarkupNode(); }

    // Loaders that read the bytes elsewhere report their own failures through this.
    void SetLastError(const wchar_t* message, size_t location = 0);
    const std::wstring& GetLastErrorMessage() const { return m_sLastError; }
    // Offset in characters (after decoding) where parsing stopped.
    size_t GetLastErrorLocation() const { return m_nErrorLocation; }

private:
    friend class CMarkupNode;
    struct TElement {
        std::wstring sName;
        std::wstring sText;
        std::vector<std::pair<std::wstring, std::wstring>> vAttrs;
        int iParent = -1, iChild = -1, iLastChild = -1, iNext = -1;
    };
    bool Parse();
    bool Fail(const wchar_t* message);
    bool ParseAttributes(TElement& element);
    bool ReadQuoted(std::wstring& value);
    void AppendDecoded(std::wstring& out, size_t from, size_t to) const;

    std::wstring m_sXml;
    size_t m_nPos = 0;
    std::vector<TElement> m_vElements;
    std::wstring m_sLastError;
    size_t m_nErrorLocation = 0;
};

}  // namespace DuiLib
