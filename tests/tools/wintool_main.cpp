// Test driver: looks at and handles top-level windows and named mutexes from the Windows side,
// so end-to-end tests see what Windows sees rather than what the X server shows.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cwchar>
#include <cstdlib>
#include <string>

#include "net/mtdownload.h"
#include "probes/vdutils.h"

namespace {
HWND Find(const wchar_t* cls) { return FindWindowW(cls, nullptr); }

int Usage() {
    fwprintf(stderr, L"usage: wintool state|rect|focus|minimize|close|count CLASS | holdmutex NAME SECONDS |\n"
                     L"       deletepath|clearfolder|deleteitem PATH\n");
    return 2;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    const wchar_t* cmd = argv[1];
    // the installer's own deletes, for tests that plant links the Windows side cannot make under Wine
    if (!wcscmp(cmd, L"deletepath")) return printf("result=%d\n", DeletePath(argv[2]) ? 1 : 0), 0;
    if (!wcscmp(cmd, L"clearfolder")) return printf("result=%d\n", VdFoundationHttpDownload::ClearFolder(argv[2], true)), 0;
    if (!wcscmp(cmd, L"deleteitem")) return printf("result=%d\n", VdFoundationHttpDownload::DeleteFileOrFolder(argv[2])), 0;
    if (!wcscmp(cmd, L"holdmutex")) {
        HANDLE m = CreateMutexW(nullptr, FALSE, argv[2]);
        printf("holding=%d\n", m ? 1 : 0);
        fflush(stdout);
        Sleep(argc > 3 ? _wtoi(argv[3]) * 1000 : 10000);
        return 0;
    }
    if (!wcscmp(cmd, L"procs")) {
        // how many processes run with each of the given image names
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        for (int i = 2; i < argc; ++i) {
            int n = 0;
            PROCESSENTRY32W pe = {};
            pe.dwSize = sizeof(pe);
            for (BOOL more = Process32FirstW(snap, &pe); more; more = Process32NextW(snap, &pe))
                if (_wcsicmp(pe.szExeFile, argv[i]) == 0 && pe.th32ProcessID != GetCurrentProcessId()) ++n;
            printf("%ls=%d\n", argv[i], n);
        }
        CloseHandle(snap);
        return 0;
    }
    if (!wcscmp(cmd, L"count")) {
        int n = 0;
        for (HWND h = Find(argv[2]); h; h = FindWindowExW(nullptr, h, argv[2], nullptr)) ++n;
        printf("count=%d\n", n);
        return 0;
    }
    HWND h = Find(argv[2]);
    if (!h) {
        printf("found=0\n");
        return 1;
    }
    if (!wcscmp(cmd, L"state")) {
        wchar_t title[256] = {0};
        GetWindowTextW(h, title, 255);
        const LONG style = GetWindowLongW(h, GWL_STYLE);
        printf("found=1 visible=%d iconic=%d foreground=%d zoomed=%d maxbox=%d sizeframe=%d\n",
               IsWindowVisible(h) ? 1 : 0, IsIconic(h) ? 1 : 0, GetForegroundWindow() == h ? 1 : 0,
               IsZoomed(h) ? 1 : 0, (style & WS_MAXIMIZEBOX) ? 1 : 0, (style & WS_THICKFRAME) ? 1 : 0);
        return 0;
    }
    if (!wcscmp(cmd, L"rect")) {
        // where the window is on the screen, as Windows sees it
        RECT rc = {};
        GetWindowRect(h, &rc);
        printf("found=1 x=%ld y=%ld w=%ld h=%ld visible=%d enabled=%d\n", rc.left, rc.top, rc.right - rc.left,
               rc.bottom - rc.top, IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0);
        return 0;
    }
    if (!wcscmp(cmd, L"focus")) {
        // the control with the keyboard focus in that window's thread, and its text
        GUITHREADINFO gti = {};
        gti.cbSize = sizeof(gti);
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gti) || !gti.hwndFocus) {
            printf("found=1 focus=0\n");
            return 0;
        }
        wchar_t cls[128] = {0}, text[1024] = {0};
        GetClassNameW(gti.hwndFocus, cls, 127);
        SendMessageTimeoutW(gti.hwndFocus, WM_GETTEXT, 1023, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, nullptr);
        // the text goes last and whole, so it may hold blanks
        printf("found=1 focus=1 class=%ls text=%ls\n", cls, text);
        return 0;
    }
    if (!wcscmp(cmd, L"minimize")) {
        ShowWindow(h, SW_MINIMIZE);
        return 0;
    }
    if (!wcscmp(cmd, L"click") && argc > 4) {
        // "click CLASS X Y": a left click at client coordinates, for runs without an X pointer
        LPARAM at = MAKELPARAM(_wtoi(argv[3]), _wtoi(argv[4]));
        PostMessageW(h, WM_MOUSEMOVE, 0, at);
        PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(h, WM_LBUTTONUP, 0, at);
        return 0;
    }
    if (!wcscmp(cmd, L"post") && argc > 4) {
        // "post CLASS MSG WPARAM": a message of the window's own protocol (no heap object)
        PostMessageW(h, (UINT)_wtoi(argv[3]), (WPARAM)_wtoi(argv[4]), 0);
        return 0;
    }
    if (!wcscmp(cmd, L"close")) {
        PostMessageW(h, WM_CLOSE, 0, 0);
        return 0;
    }
    return Usage();
}
