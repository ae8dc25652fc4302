// Dotted four-part version values and the text helpers they need; no Windows headers.
#pragma once
#include <string>
#include <vector>

class CVersion {
public:
    CVersion() = default;
    explicit CVersion(const std::wstring& text);
    virtual ~CVersion() = default;

    // 1 when this is greater, -1 when smaller, 0 when equal.
    int Compare(const CVersion& other) const;

    int m_nMajor = 0;
    int m_nMinor = 0;
    int m_nBuild = 0;
    int m_nRevision = 0;
};

// Pieces before each delimiter; text after the last delimiter is not returned.
std::vector<std::wstring> SplitByDelimiter(const std::wstring& text, const std::wstring& delimiter);
