// Executables for tests: copies of real images, stamped the way a distributor stamps resources.
#pragma once
#include <string>

namespace vdtest {

// Folder of the running test program (the build's bin folder).
std::wstring BinDir();
// A fresh, empty folder under the temporary folder.
std::wstring MakeTempDir(const wchar_t* tag);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Adds a version resource with the file version a.b.c.d to a finished executable.
bool StampFileVersion(const std::wstring& exe, unsigned a, unsigned b, unsigned c, unsigned d);

}  // namespace vdtest
