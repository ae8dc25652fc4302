#include "probes/fileversion.h"

#include <windows.h>

#include <cstdio>
#include <vector>

std::wstring GetFileVersionText(const wchar_t* path, VdFileVersionNumbers* numbers) {
    if (!path || !*path) return std::wstring();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) return std::wstring();
    std::vector<BYTE> data(size + 1, 0);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return std::wstring();
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\", (void**)&info, &len) || !info || len < sizeof(VS_FIXEDFILEINFO))
        return std::wstring();
    const unsigned major = HIWORD(info->dwFileVersionMS), minor = LOWORD(info->dwFileVersionMS);
    const unsigned build = HIWORD(info->dwFileVersionLS), revision = LOWORD(info->dwFileVersionLS);
    if (numbers) {
        numbers->build = (unsigned short)build;
        numbers->major = (unsigned short)major;
        numbers->minor = (unsigned short)minor;
        numbers->revision = (unsigned short)revision;
    }
    wchar_t text[64];
    _snwprintf(text, 64, L"%d.%d.%d.%d", major, minor, build, revision);
    text[63] = 0;
    return text;
}

std::wstring GetOwnVersionText(std::wstring* ownPath) {
    wchar_t path[MAX_PATH] = {0};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) path[0] = 0;
    if (ownPath) *ownPath = path;
    return GetFileVersionText(path, nullptr);
}
