#include "tests/unit/support/testfiles.h"

#include <cstdio>

#include "base/md5.h"

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

std::string Md5Hex(const std::string& bytes) {
    CMd5 md5;
    md5.Update(bytes.data(), bytes.size());
    unsigned char digest[16];
    md5.Final(digest);
    return Md5DigestToHex(digest);
}
}  // namespace vdtest
