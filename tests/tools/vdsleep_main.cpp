// Test driver: a process that lives for a while, then leaves a marker file behind holding where
// it ran from and its working folder ("<image>|<working folder>", ANSI).
// usage: vdsleep MILLISECONDS [MARKER_PATH]
#include <windows.h>
#include <cstdio>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    Sleep(argc > 1 ? (DWORD)_wtoi(argv[1]) : 10000);
    if (argc > 2) {
        FILE* f = _wfopen(argv[2], L"wb");
        if (f) {
            wchar_t self[MAX_PATH] = {0}, cwd[MAX_PATH] = {0};
            GetModuleFileNameW(nullptr, self, MAX_PATH);
            GetCurrentDirectoryW(MAX_PATH, cwd);
            fprintf(f, "%ls|%ls", self, cwd);
            fclose(f);
        }
    }
    return 7;
}
