#include "installer/wakeup.h"

#include <cwchar>

#include "base/vdlog.h"

void SendWakeUp(HWND target) {
    static const wchar_t kText[] = L"2Foreground";
    COPYDATASTRUCT cds = {};
    cds.dwData = kVdWakeUpData;
    cds.cbData = (DWORD)sizeof(kText);
    cds.lpData = (PVOID)kText;
    // Only the foreground process may hand the foreground on; the first instance asks for it.
    DWORD pid = 0;
    if (GetWindowThreadProcessId(target, &pid) && pid) AllowSetForegroundWindow(pid);
    // a first instance that hangs must not hang this one too
    DWORD_PTR result = 0;
    SendMessageTimeoutW(target, WM_COPYDATA, 1, (LPARAM)&cds, SMTO_ABORTIFHUNG | SMTO_BLOCK, kVdWakeUpTimeoutMs,
                        &result);
}

bool HandleWakeUp(HWND self, WPARAM wParam, LPARAM lParam) {
    const COPYDATASTRUCT* cds = (const COPYDATASTRUCT*)lParam;
    if (wParam != 1 || !cds || cds->dwData != kVdWakeUpData) return false;
    HWND fg = GetForegroundWindow();
    // A minimised window can still be the foreground one (nothing else to activate); the user
    // sees nothing then, so it is restored as well.
    if (fg == self && !IsIconic(self)) return true;
    WriteLogW(L"receive WM_COPYDAT,set to foreground now...\n");
    ShowWindow(self, SW_RESTORE);
    DWORD fgThread = fg ? GetWindowThreadProcessId(fg, nullptr) : 0;
    DWORD me = GetCurrentThreadId();
    bool attached = fgThread && fgThread != me && AttachThreadInput(me, fgThread, TRUE);
    SetForegroundWindow(self);
    if (attached) AttachThreadInput(me, fgThread, FALSE);
    return true;
}
