// The one pair of code-page conversions. Text stops at the first NUL of a C string.
#pragma once
#include <windows.h>

#include <string>

std::string WideToCodePage(const std::wstring& text, UINT codePage);
std::string WideToCodePage(const wchar_t* text, UINT codePage);  // null reads as empty
std::wstring CodePageToWide(const std::string& text, UINT codePage);
