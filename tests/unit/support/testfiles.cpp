#include "tests/unit/support/testfiles.h"

#include <cstdio>

namespace vdtest {
std::string ReadFileBytes(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return std::string();
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}
}  // namespace vdtest
