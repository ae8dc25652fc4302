#include "net/httprules.h"

std::wstring HttpRequestTarget(const std::wstring& path, const std::wstring& query, bool withQuery) {
    std::wstring target = withQuery ? path + query : path;
    if (target.empty()) target = L"/";
    return target;
}

std::string HttpFixedHeaderLines() {
    return "Accept: */*\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection:Keep-Alive\r\n";
}

std::string HttpRangeHeaderLine(unsigned long long first, unsigned long long last) {
    return "Range: bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

std::string HttpRangeHeaderBlock(unsigned long long first, unsigned long long last) {
    return HttpFixedHeaderLines() + HttpRangeHeaderLine(first, last);
}

bool IsSecureScheme(const std::wstring& scheme) { return scheme == L"https"; }

bool ParseHttpUInt64(const std::string& text, unsigned long long& value) {
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos) return false;
    unsigned long long v = 0;
    for (size_t i = b; i <= e; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        unsigned d = (unsigned)(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    value = v;
    return true;
}
