#include "probes/userlaunch.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <vector>

#include "base/scoped.h"
#include "base/vdlog.h"
#include "probes/vdutils.h"

namespace {

CScopedBstr MakeBstr(const std::wstring& s) { return CScopedBstr(SysAllocStringLen(s.data(), (UINT)s.size())); }

// The desktop's own IShellDispatch2: its ShellExecute runs inside Explorer, with Explorer's token.
HRESULT DesktopShellDispatch(IShellDispatch2** out) {
    CComPtrLite<IShellWindows> windows;
    HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  windows.ReceiveVoid());
    if (FAILED(hr)) return hr;
    VARIANT loc, empty;
    VariantInit(&loc);
    VariantInit(&empty);
    loc.vt = VT_I4;
    loc.lVal = CSIDL_DESKTOP;
    long hwnd = 0;
    CComPtrLite<IDispatch> desktop;
    hr = windows->FindWindowSW(&loc, &empty, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, desktop.Receive());
    if (hr != S_OK || !desktop.Get()) return FAILED(hr) ? hr : E_FAIL;
    CComPtrLite<IServiceProvider> provider;
    if (FAILED(hr = desktop->QueryInterface(IID_IServiceProvider, provider.ReceiveVoid()))) return hr;
    CComPtrLite<IShellBrowser> browser;
    if (FAILED(hr = provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.ReceiveVoid()))) return hr;
    CComPtrLite<IShellView> view;
    if (FAILED(hr = browser->QueryActiveShellView(view.Receive()))) return hr;
    CComPtrLite<IDispatch> background;
    if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.ReceiveVoid()))) return hr;
    CComPtrLite<IShellFolderViewDual> folderView;
    if (FAILED(hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.ReceiveVoid()))) return hr;
    CComPtrLite<IDispatch> app;
    if (FAILED(hr = folderView->get_Application(app.Receive()))) return hr;
    return app->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(out));
}

// The desktop shell of this session: the owner of the shell window, else (no shell window, as under
// Wine or while Explorer restarts) this session's Explorer from the Windows folder.
DWORD ShellProcessId() {
    DWORD pid = 0;
    if (HWND shell = GetShellWindow()) GetWindowThreadProcessId(shell, &pid);
    if (pid) return pid;
    wchar_t windows[MAX_PATH] = {0};
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 14) return 0;
    std::wstring explorer = std::wstring(windows) + L"\\explorer.exe";
    DWORD mySession = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &mySession);
    CScopedHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.Valid()) return 0;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL more = Process32FirstW(snap.Get(), &pe); more; more = Process32NextW(snap.Get(), &pe)) {
        DWORD session = 0;
        if (_wcsicmp(pe.szExeFile, L"explorer.exe") != 0 || !ProcessIdToSessionId(pe.th32ProcessID, &session) ||
            session != mySession)
            continue;
        CScopedHandle proc(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID));
        wchar_t image[MAX_PATH] = {0};
        DWORD size = MAX_PATH;
        if (proc.Valid() && QueryFullProcessImageNameW(proc.Get(), 0, image, &size) && !_wcsicmp(image, explorer.c_str()))
            return pe.th32ProcessID;
    }
    return 0;
}

HANDLE ShellPrimaryToken() {
    DWORD pid = ShellProcessId();
    if (!pid) return nullptr;
    CScopedHandle proc(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    HANDLE token = nullptr, primary = nullptr;
    if (!proc.Valid() || !OpenProcessToken(proc.Get(), TOKEN_DUPLICATE | TOKEN_QUERY, &token)) return nullptr;
    CScopedHandle owned(token);
    const DWORD access = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
    if (!DuplicateTokenEx(token, access, nullptr, SecurityImpersonation, TokenPrimary, &primary)) return nullptr;
    return primary;
}

}  // namespace

bool StartWithShellToken(const std::wstring& app, const std::wstring& commandLine) {
    CScopedHandle token(ShellPrimaryToken());
    if (!token.Valid()) {
        WriteLogW(L"no desktop shell to take a token from, not started:%s\n", commandLine.c_str());
        return false;
    }
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessWithTokenW(token.Get(), 0, app.empty() ? nullptr : app.c_str(), cmd.data(),
                                 CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &si, &pi)) {
        WriteLogW(L"start with the shell's token failed,err:%d:%s\n", (int)GetLastError(), commandLine.c_str());
        return false;
    }
    WriteLogW(L"started as the signed-in user with the shell's token:%s\n", commandLine.c_str());
    return FinishStartedProcess(pi, false, nullptr);
}

bool StartUnelevated(const std::wstring& file, const std::wstring& params) {
    if (ShellExecuteAsDesktopUser(file, params)) return true;
    std::wstring line = L"\"" + file + L"\"";
    if (!params.empty()) line += L" " + params;
    return StartWithShellToken(file, line);
}

bool ShellExecuteAsDesktopUser(const std::wstring& file, const std::wstring& params) {
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = false;
    HRESULT hr = E_FAIL;
    {
        CComPtrLite<IShellDispatch2> shell;
        hr = DesktopShellDispatch(shell.Receive());
        if (SUCCEEDED(hr)) {
            CScopedBstr bFile = MakeBstr(file);
            VARIANT args, dir, verb, show;
            VariantInit(&args);
            VariantInit(&dir);
            VariantInit(&verb);
            VariantInit(&show);
            CScopedBstr bArgs = MakeBstr(params), bVerb = MakeBstr(L"open");
            args.vt = VT_BSTR;
            args.bstrVal = bArgs.Get();
            verb.vt = VT_BSTR;
            verb.bstrVal = bVerb.Get();
            show.vt = VT_I4;
            show.lVal = SW_SHOWNORMAL;
            hr = shell->ShellExecute(bFile.Get(), args, dir, verb, show);
            ok = SUCCEEDED(hr);
        }
    }
    if (SUCCEEDED(init)) CoUninitialize();
    if (ok) WriteLogW(L"started as the signed-in user through the desktop shell:%s %s\n", file.c_str(), params.c_str());
    else WriteLogW(L"desktop shell unavailable (0x%08x), starting directly:%s %s\n", (unsigned)hr, file.c_str(), params.c_str());
    return ok;
}
