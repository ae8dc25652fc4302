// Test driver: a process that lives for a while, then leaves a marker file behind.
// usage: vdsleep MILLISECONDS [MARKER_PATH]
#include <windows.h>
#include <cstdio>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    Sleep(argc > 1 ? (DWORD)_wtoi(argv[1]) : 10000);
    if (argc > 2) {
        FILE* f = _wfopen(argv[2], L"wb");
        if (f) {
            fputs("done", f);
            fclose(f);
        }
    }
    return 7;
}
