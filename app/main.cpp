// Process entry: the silent road or the windowed road with its single-instance guard.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "app/cmdparams.h"
#include "app/silent.h"
#include "installer/wakeup.h"
#include "installer/mainframe.h"
#include "base/vdlog.h"
#include "net/vdhttp.h"
#include "payload/vdbizhandler.h"
#include "probes/delayload.h"
#include "probes/vdutils.h"

// The library's default handler prints the demangled type of an uncaught exception to a console
// a GUI program does not have, and brings a demangler of 40 KB along for it; the end is the same.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx

#ifdef VD_TEST_NO_DEFAULT_DLL_DIRS
extern "C" bool g_vd_no_search_flags;  // probes/delayload.cpp
#endif

namespace {

// An exception reached the entry point: whatever was under way did not finish.
constexpr int kExitUnexpectedError = -7;

// The process runs elevated from a Downloads folder: no DLL may come from there or from the
// current folder, whether we load it, the delay-load helper does, or the system does for us
// (theme engine, shell extensions of the folder dialog).
void RestrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
    auto setDefault = k32 ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                reinterpret_cast<void*>(GetProcAddress(k32, "SetDefaultDllDirectories")))
                          : nullptr;
#ifdef VD_TEST_NO_DEFAULT_DLL_DIRS
    setDefault = nullptr;
    g_vd_no_search_flags = true;  // the delay loader too, as without the update
#endif
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it (Windows 7 before KB2533623) at least the current folder goes; our own delay
    // loads name System32 themselves (probes/delayload.cpp). The application folder still comes
    // first for DLLs the system loads by name later: loaded now by full path, those later loads
    // find the module already there.
    SetDllDirectoryW(L"");
    // dependencies first: a DLL loaded early pulls its own imports by name
    static const wchar_t* const kLoadedByName[] = {
        L"iphlpapi.dll", L"dnsapi.dll",   L"cryptbase.dll", L"sspicli.dll", L"cryptsp.dll", L"rsaenh.dll",
        L"profapi.dll",  L"userenv.dll",  L"secur32.dll",   L"ntmarta.dll", L"uxtheme.dll", L"dwmapi.dll",
        L"propsys.dll",  L"winmm.dll"};
    wchar_t path[MAX_PATH];
    const UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n + 16 >= MAX_PATH) return;
    path[n] = L'\\';
    for (const wchar_t* name : kLoadedByName) {
        wcscpy(path + n + 1, name);
        LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);  // a DLL the system lacks is fine
    }
}

void LogDelayLoadFailure(const char* dll, const char* function) {
    // opening the log may itself need a DLL that fails: that second failure only ends the process
    static bool reported = false;
    if (reported) return;
    reported = true;
    WriteLogA("delay load failed:%s%s%s,exit code:%d\n", dll ? dll : "?", function ? "!" : "", function ? function : "",
              kVdExitDelayLoadFailed);
    CloseLog();  // the process ends next: held records and this one reach the file
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

    DuiLib::CPaintManagerUI::SetInstance(hInstance);
    WriteLogW(L"CPaintManagerUI::SetInstance success...\n");

    // zero-filled storage, then constructed: no field starts with leftover bytes
    void* storage = ::operator new(sizeof(CMainFrameWnd), std::nothrow);
    if (!storage) {
        WriteLogW(L"gptrMainFrame malloc memory failure\n");
        return -2;
    }
    memset(storage, 0, sizeof(CMainFrameWnd));
    WorkflowOptions options;
    options.installMode = params.IsInstallMode();
    options.cmdInstallDir = params.GetCmdInstallDir();
    gptrMainFrame = new (storage) CMainFrameWnd(options);
    WriteLogW(L"CMainFrameWnd malloc success...\n");

    // Made hidden, sized by its skin and centred, then shown once where it stays. The hidden run's
    // window is never shown: one shown and hidden again flashes on the screen, and under X the
    // hiding waits up to 2 s for a window manager to confirm it.
    // A fixed-size window: no maximise box and no sizing frame, so neither Win+Up nor Snap offers it.
    const DWORD style = WS_OVERLAPPEDWINDOW & ~(WS_MAXIMIZEBOX | WS_THICKFRAME);
    gptrMainFrame->Create(nullptr, L"Vardo在线安装", style, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, nullptr);
    gptrMainFrame->CenterWindow();
    gptrMainFrame->ShowWindow(!params.IsInstallMode());
    // COM after the window is shown: nothing before needs it, and its DLLs would delay the window;
    // the first paint decodes pictures and needs it.
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        WriteLogW(L"CoInitialize failure,result:%d,lasterror:%d\n", hr, GetLastError());
        DestroyWindow(gptrMainFrame->GetHWND());
        delete gptrMainFrame;  // nothing started yet: InitAfterShow waits in the queue
        gptrMainFrame = nullptr;
        return -1;
    }
    WriteLogW(L"CoInitialize success...\n");
    // painted now, ahead of the start-up work already posted (InitAfterShow), not after it
    if (!params.IsInstallMode()) UpdateWindow(gptrMainFrame->GetHWND());
    // the records held since start-up reach the file before any worker starts
    OpenLog();

    DuiLib::CPaintManagerUI::MessageLoop();
    WriteLogW(L"end CPaintManagerUI::MessageLoop...\n");
    // the window goes before its object: its procedure must never see a deleted object
    if (IsWindow(gptrMainFrame->GetHWND())) DestroyWindow(gptrMainFrame->GetHWND());
    const int exitCode = gptrMainFrame->ExitCode();
    // Workers still blocked on a server are not waited for: they hold copies of what they use,
    // and the process-wide objects they reach are never destroyed.
    delete gptrMainFrame;
    gptrMainFrame = nullptr;
    WriteLogW(L"end free CMainFrameWnd memory...\n");
    CoUninitialize();
    WriteLogW(L"end CoUninitialize...\n");
    WriteLogW(L"End vdInstaller...\n");
    CloseLog();
    return exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int) {
    RestrictDllSearch();
    g_vd_delay_load_failed = LogDelayLoadFailure;
    try {
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        // The log's folder comes from the shell: the windowed run opens the log once its window is
        // shown, and the records until then wait in memory.
        HoldLogUntilOpen();
        WriteLogW(L"Begin vdInstaller...\n");
        CCmdParameters& params = CCmdParameters::Inst();
        params.ParseCmdParameters(lpCmdLine);
        bool silent = params.IsSilentMode();
        bool vdpmInside = CVdBizHandler::Inst().IsVdpmInside();
        if (silent) {
            OpenLog();
            WriteLogW(L"bSilentMode:%d...bVdpmRcInside:%d\n", 1, vdpmInside ? 1 : 0);
            int result = DoSilentWork();
            CloseLog();
            return result;
        }
        const int result = RunWindowed(hInstance, params);
        CloseLog();  // a run that ended before its window leaves its records too
        return result;
    } catch (...) {
        // an installation that broke off is never reported as a success
        WriteLogW(L"wWinMain UNexpected excepiton....\n");
        CloseLog();
        return kExitUnexpectedError;
    }
}
