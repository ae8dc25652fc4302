// File helpers shared by the unit tests.
#pragma once
#include <string>

namespace vdtest {
// The whole file as bytes; empty when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path);
}  // namespace vdtest
