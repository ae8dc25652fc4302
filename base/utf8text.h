// UTF-8 and UTF-16 (wstring holds UTF-16 code units on every platform) without Windows headers,
// for the pure rules that read server answers and skin files.
#pragma once
#include <cstddef>
#include <string>

// Bad bytes become U+FFFD.
std::wstring Utf8ToWide(const char* data, size_t len);
std::string WideToUtf8(const std::wstring& text);
