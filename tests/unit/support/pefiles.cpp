#include "tests/unit/support/pefiles.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "probes/vdutils.h"

namespace vdtest {

std::wstring BinDir() {
    wchar_t self[MAX_PATH] = {0};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring s = self;
    return s.substr(0, s.rfind(L'\\'));
}

std::wstring MakeTempDir(const wchar_t* tag) {
    wchar_t tmp[MAX_PATH] = {0};
    GetTempPathW(MAX_PATH, tmp);
    std::wstring dir = CombinePath(tmp, std::wstring(L"vdtest_") + tag + L"_" + std::to_wstring(GetCurrentProcessId()));
    DeleteFolderTree(dir);
    CreateFolderChain(dir);
    return dir;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    CScopedHandle f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.Valid()) return false;
    DWORD written = 0;
    return WriteFile(f.Get(), bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size();
}

bool StampFileVersion(const std::wstring& exe, unsigned a, unsigned b, unsigned c, unsigned d) {
    // VS_VERSIONINFO with the fixed part only: header, key, padding to 4 bytes, VS_FIXEDFILEINFO.
    static const wchar_t kKey[] = L"VS_VERSION_INFO";
    std::vector<BYTE> block(6 + sizeof(kKey) + 2 + sizeof(VS_FIXEDFILEINFO), 0);
    WORD* head = (WORD*)block.data();
    head[0] = (WORD)block.size();
    head[1] = (WORD)sizeof(VS_FIXEDFILEINFO);
    head[2] = 0;
    memcpy(block.data() + 6, kKey, sizeof(kKey));
    VS_FIXEDFILEINFO* fixed = (VS_FIXEDFILEINFO*)(block.data() + 6 + sizeof(kKey) + 2);
    fixed->dwSignature = 0xFEEF04BD;
    fixed->dwStrucVersion = 0x00010000;
    fixed->dwFileVersionMS = fixed->dwProductVersionMS = MAKELONG(b, a);
    fixed->dwFileVersionLS = fixed->dwProductVersionLS = MAKELONG(d, c);
    fixed->dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    fixed->dwFileOS = VOS_NT_WINDOWS32;
    fixed->dwFileType = VFT_APP;
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update) return false;
    if (!UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                         block.data(), (DWORD)block.size())) {
        EndUpdateResourceW(update, TRUE);
        return false;
    }
    return EndUpdateResourceW(update, FALSE) != FALSE;
}

}  // namespace vdtest
