#include "probes/userlaunch.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

#include "local/vdlog.h"
#include "base/scoped.h"

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

}  // namespace

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
