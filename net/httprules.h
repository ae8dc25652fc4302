// Wire rules of the HTTP requests that need no system calls: request targets, the range header
// block, the secure-scheme test and header number parsing.
#pragma once
#include <cstdint>
#include <string>

// Both families of clients send the same user agent.
#define VD_HTTP_USER_AGENT "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/534.54.16 (KHTML, like Gecko) Chrome/11.0.696.65 Safari/534.54.16"

// Path only (the probe), or path and query (the text and section GETs); "/" when nothing is left.
std::wstring HttpRequestTarget(const std::wstring& path, const std::wstring& query, bool withQuery);

// Header lines that the probe's range test and every section GET send: the fixed lines, then the
// Range line.
std::string HttpRangeHeaderBlock(unsigned long long first, unsigned long long last);
std::string HttpFixedHeaderLines();
std::string HttpRangeHeaderLine(unsigned long long first, unsigned long long last);

// Case-sensitive on purpose: only "https" turns on the secure flags.
bool IsSecureScheme(const std::wstring& scheme);

// A decimal header value as an unsigned 64-bit number. False for empty text, any character that is
// not a digit (surrounding blanks excepted) or a value that does not fit.
bool ParseHttpUInt64(const std::string& text, unsigned long long& value);
