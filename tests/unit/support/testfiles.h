// File helpers shared by the unit tests.
#pragma once
#include <string>

namespace vdtest {
// The whole file as bytes; empty when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path);
// 32 lower-case hex digits of the bytes' MD5, as servers send it.
std::string Md5Hex(const std::string& bytes);
}  // namespace vdtest
