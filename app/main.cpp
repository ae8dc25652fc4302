// Process entry: the silent road or the windowed road with its single-instance guard.
#include <windows.h>
#include <objbase.h>

#include "app/cmdparams.h"
#include "app/plainwindow.h"
#include "app/silent.h"
#include "app/wakeup.h"
#include "local/vdlog.h"
#include "payload/vdbizhandler.h"
#include "probes/vdutils.h"

namespace {

void CenterOnWorkArea(HWND hwnd) {
    RECT rc;
    GetWindowRect(hwnd, &rc);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (!GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &mi)) return;
    const RECT& wa = mi.rcWork;
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    SetWindowPos(hwnd, nullptr, wa.left + (wa.right - wa.left - w) / 2, wa.top + (wa.bottom - wa.top - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int RunWindowed(HINSTANCE hInstance, CCmdParameters& params) {
    // The handle stays open for the life of the process: its existence is the signal.
    CreateMutexW(nullptr, FALSE, kVdSingletonMutex);
    DWORD err = GetLastError();
    WriteLogW(L"last error=%d...\n", err);
    if (err == ERROR_ALREADY_EXISTS) {
        HWND first = FindWindowW(kVdMainWndClass, nullptr);
        if (first) SendWakeUp(first);
        return 0;
    }
    WriteLogW(L"is 64 os:%d...\n", IsNativeOs64() ? 1 : 0);

    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        WriteLogW(L"CoInitialize failure,result:%d,lasterror:%d\n", hr, GetLastError());
        return -1;
    }
    WriteLogW(L"CoInitialize success...\n");

    HWND hwnd = CreatePlainMainWindow(hInstance);
    if (!hwnd) {
        WriteLogW(L"gptrMainFrame malloc memory failure\n");
        return -2;
    }
    WriteLogW(L"CMainFrameWnd malloc success...\n");
    HICON icon = LoadIconW(hInstance, MAKEINTRESOURCEW(121));
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, (LPARAM)icon);
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, (LPARAM)icon);
    CenterOnWorkArea(hwnd);
    ShowWindow(hwnd, params.IsInstallMode() ? SW_HIDE : SW_SHOWNORMAL);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    WriteLogW(L"end CPaintManagerUI::MessageLoop...\n");
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    WriteLogW(L"end free CMainFrameWnd memory...\n");
    CoUninitialize();
    WriteLogW(L"end CoUninitialize...\n");
    WriteLogW(L"End vdInstaller...\n");
    CloseLog();
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int) {
    try {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        OpenLog();
        WriteLogW(L"Begin vdInstaller...\n");
        CCmdParameters& params = CCmdParameters::Inst();
        params.ParseCmdParameters(lpCmdLine);
        bool silent = params.IsSilentMode();
        bool vdpmInside = CVdBizHandler::Inst().IsVdpmInside();
        if (silent) {
            WriteLogW(L"bSilentMode:%d...bVdpmRcInside:%d\n", 1, vdpmInside ? 1 : 0);
            int result = DoSilentWork();
            CloseLog();
            return result;
        }
        return RunWindowed(hInstance, params);
    } catch (...) {
        return 0;
    }
}
