// Shows one markup file of a program's skin package in a real window, the way the installer's
// windows are built (WindowImplBase, resource "ZIPRES" 122), so a person or a test can look at it
// and drive it. Events go to a log file, one line each.
//
//   skinview --module <exe with the skin> --skin <file.xml> [--events <log>] [--pos x,y]
//            [--show n1,n2] [--hide n3] [--height h] [--text name=value] [--disable n]
//            [--uncheck n] [--progress v] [--attr name:key=value] [--box] [--menu] [--menu-on-click]
//            [--timeout seconds] [--dpi-change dpi]
// --dpi-change sends the window the WM_DPICHANGED that a move to a screen of that DPI would bring.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/UIlib.h"

using namespace DuiLib;

namespace {

FILE* g_events = nullptr;
bool g_menuOnClick = false;
void OpenSettingMenu(HWND hwnd, CPaintManagerUI& pm);

void LogEvent(const wchar_t* format, ...) {
    if (!g_events) return;
    wchar_t buf[1024];
    va_list ap;
    va_start(ap, format);
    _vsnwprintf(buf, 1023, format, ap);
    va_end(ap);
    buf[1023] = 0;
    std::string line = WideToUtf8(buf) + "\n";
    fwrite(line.data(), 1, line.size(), g_events);
    fflush(g_events);
}

std::vector<std::wstring> SplitList(const std::wstring& s) {
    std::vector<std::wstring> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(L',', start);
        if (comma == std::wstring::npos) comma = s.size();
        if (comma > start) out.push_back(s.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

struct TOptions {
    std::wstring module, skin, events, show, hide, disable, uncheck;
    std::vector<std::wstring> texts, attrs;
    int x = -1, y = -1, height = 0, progress = -1, timeout = 120, dpiChange = 0;
    bool box = false, menu = false;
};

class CSkinViewWnd : public WindowImplBase {
public:
    CSkinViewWnd(const std::wstring& skin, const wchar_t* cls, bool main) : m_sSkin(skin), m_sClass(cls), m_bMain(main) {}
    const wchar_t* GetWindowClassName() const override { return m_sClass.c_str(); }
    std::wstring GetSkinFolder() override { return L"skin"; }
    std::wstring GetSkinFile() override { return m_sSkin; }
    UILIB_RESOURCETYPE GetResourceType() const override { return UILIB_ZIPRESOURCE; }
    const wchar_t* GetResourceID() const override { return MAKEINTRESOURCEW(122); }

    void InitWindow() override { LogEvent(L"init %s", m_sSkin.c_str()); }

    void Notify(TNotifyUI& msg) override {
        if (g_menuOnClick && msg.sType == L"click" && msg.pSender && msg.pSender->GetName() == L"settingbtn") {
            LogEvent(L"notify click settingbtn");
            OpenSettingMenu(m_hWnd, m_PaintManager);
            return;
        }
        if (msg.sType == L"textchanged" && msg.pSender)
            LogEvent(L"notify textchanged %s text=%s", msg.pSender->GetName().c_str(), msg.pSender->GetText().c_str());
        else
            LogEvent(L"notify %s %s", msg.sType.c_str(), msg.pSender ? msg.pSender->GetName().c_str() : L"");
        WindowImplBase::Notify(msg);
    }

    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override {
        LRESULT r = WindowImplBase::HandleMessage(uMsg, wParam, lParam);
        if (uMsg == WM_NCHITTEST && m_hWnd) {
            POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            ScreenToClient(m_hWnd, &pt);
            if (pt.x != m_ptLastHit.x || pt.y != m_ptLastHit.y || r != m_lastHit)
                LogEvent(L"hittest %s %d,%d=%d", m_sSkin.c_str(), pt.x, pt.y, static_cast<int>(r));
            m_ptLastHit = pt;
            m_lastHit = r;
        }
        return r;
    }

    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override {
        bHandled = FALSE;
        if (uMsg == WM_CLOSE) {
            LogEvent(L"close %s wparam=%u", m_sSkin.c_str(), static_cast<unsigned>(wParam));
        } else if (uMsg == WM_DESTROY) {
            LogEvent(L"destroy %s", m_sSkin.c_str());
            if (m_bMain) PostQuitMessage(0);
        } else if (uMsg == UIMSG_MENU_ITEM_CLICK) {
            auto* n = reinterpret_cast<TNotifyUI*>(wParam);
            if (n) {
                LogEvent(L"menuitem %s %s", n->sType.c_str(), n->pSender ? n->pSender->GetName().c_str() : L"");
                delete n;
            }
            bHandled = TRUE;
            return 0;
        } else if (uMsg == WM_EXITSIZEMOVE) {
            RECT rc;
            GetWindowRect(m_hWnd, &rc);
            LogEvent(L"moved %s %d %d", m_sSkin.c_str(), rc.left, rc.top);
        }
        return 0;
    }

    // logged here because the base handles it before the custom handler sees it
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override {
        LogEvent(L"syscommand %s 0x%X", m_sSkin.c_str(), static_cast<unsigned>(wParam & 0xFFF0));
        LRESULT r = WindowImplBase::OnSysCommand(uMsg, wParam, lParam, bHandled);
        if (IsWindow(m_hWnd)) LogEvent(L"iconic %s %d", m_sSkin.c_str(), IsIconic(m_hWnd) ? 1 : 0);
        return r;
    }

    void OnFinalMessage(HWND hWnd) override {
        WindowImplBase::OnFinalMessage(hWnd);
        if (!m_bMain) delete this;
    }

private:
    std::wstring m_sSkin, m_sClass;
    bool m_bMain;
    POINT m_ptLastHit = {-1, -1};
    LRESULT m_lastHit = -1;
};

class CMenuLogger : public IMenuObserver {
public:
    void OnMenuShown(CMenuUI* pMenu) override {
        const wchar_t* vd = pMenu ? pMenu->GetCustomAttribute(L"vdname") : nullptr;
        LogEvent(L"menu shown %s", vd ? vd : L"");
    }
    void OnMenuClosed(CMenuUI* pMenu) override {
        const wchar_t* vd = pMenu ? pMenu->GetCustomAttribute(L"vdname") : nullptr;
        LogEvent(L"menu closed %s", vd ? vd : L"");
    }
};

CMenuLogger* g_menuLogger = nullptr;

void CALLBACK OnTimeout(HWND, UINT, UINT_PTR, DWORD) {
    LogEvent(L"timeout");
    PostQuitMessage(3);
}

void LogRect(const wchar_t* what, HWND hwnd) {
    RECT rc;
    GetWindowRect(hwnd, &rc);
    LogEvent(L"rect %s %d %d %d %d", what, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

void OpenSettingMenu(HWND hwnd, CPaintManagerUI& pm) {
    CControlUI* btn = pm.FindControl(L"settingbtn");
    POINT pt = {0, 0};
    if (btn) pt = POINT{btn->GetPos().left, btn->GetPos().bottom};
    ClientToScreen(hwnd, &pt);
    CMenuWnd::SetOwnerWindow(hwnd);
    auto* menu = new CMenuWnd(hwnd);
    menu->AddObserver(g_menuLogger);
    if (menu->Init(L"setting.xml", nullptr, pt)) {
        LogEvent(L"menu at %d,%d", pt.x, pt.y);
        LogRect(L"menu", menu->GetHWND());
    } else {
        LogEvent(L"menu failed");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    TOptions opt;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto next = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
        if (a == L"--module") opt.module = next();
        else if (a == L"--skin") opt.skin = next();
        else if (a == L"--events") opt.events = next();
        else if (a == L"--show") opt.show = next();
        else if (a == L"--hide") opt.hide = next();
        else if (a == L"--disable") opt.disable = next();
        else if (a == L"--uncheck") opt.uncheck = next();
        else if (a == L"--text") opt.texts.push_back(next());
        else if (a == L"--attr") opt.attrs.push_back(next());
        else if (a == L"--height") opt.height = _wtoi(next().c_str());
        else if (a == L"--progress") opt.progress = _wtoi(next().c_str());
        else if (a == L"--timeout") opt.timeout = _wtoi(next().c_str());
        else if (a == L"--dpi-change") opt.dpiChange = _wtoi(next().c_str());
        else if (a == L"--box") opt.box = true;
        else if (a == L"--menu") opt.menu = true;
        else if (a == L"--menu-on-click") g_menuOnClick = true;
        else if (a == L"--pos") {
            int v[2];
            ParseIntList(next().c_str(), v, 2);
            opt.x = v[0], opt.y = v[1];
        } else {
            fwprintf(stderr, L"unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (opt.skin.empty()) {
        fwprintf(stderr, L"usage: skinview --module <exe> --skin <file.xml> [options]\n");
        return 2;
    }
    if (!opt.events.empty()) g_events = _wfopen(opt.events.c_str(), L"ab");

    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    // screen readers reach the windows through COM, as in the installer
    const HRESULT com = CoInitialize(nullptr);
    if (!opt.module.empty()) {
        HMODULE res = LoadLibraryExW(opt.module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!res) {
            LogEvent(L"cannot load %s", opt.module.c_str());
            return 2;
        }
        CPaintManagerUI::SetResourceInstance(res);
    }
    SetTimer(nullptr, 0, static_cast<UINT>(opt.timeout) * 1000, OnTimeout);

    auto* pMain = new CSkinViewWnd(opt.skin, L"DuiLibSkinViewMain", true);
    CSkinViewWnd& main = *pMain;
    HWND hwnd = main.Create(nullptr, L"Vardo在线安装", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0);
    if (!hwnd) {
        LogEvent(L"create failed");
        return 2;
    }
    CPaintManagerUI& pm = main.m_PaintManager;
    for (const auto& n : SplitList(opt.hide))
        if (CControlUI* c = pm.FindControl(n.c_str())) c->SetVisible(false);
    for (const auto& n : SplitList(opt.show))
        if (CControlUI* c = pm.FindControl(n.c_str())) c->SetVisible(true);
    for (const auto& n : SplitList(opt.disable))
        if (CControlUI* c = pm.FindControl(n.c_str())) c->SetEnabled(false);
    for (const auto& n : SplitList(opt.uncheck))
        if (auto* c = static_cast<CCheckBoxUI*>(pm.FindControl(n.c_str()) ? pm.FindControl(n.c_str())->GetInterface(L"CheckBox") : nullptr))
            c->SetCheck(false, false);
    for (const auto& t : opt.texts) {
        size_t eq = t.find(L'=');
        if (eq == std::wstring::npos) continue;
        if (CControlUI* c = pm.FindControl(t.substr(0, eq).c_str())) c->SetText(t.substr(eq + 1).c_str());
    }
    for (const auto& t : opt.attrs) {
        size_t colon = t.find(L':'), eq = t.find(L'=');
        if (colon == std::wstring::npos || eq == std::wstring::npos || eq < colon) continue;
        if (CControlUI* c = pm.FindControl(t.substr(0, colon).c_str()))
            c->SetAttribute(t.substr(colon + 1, eq - colon - 1).c_str(), t.substr(eq + 1).c_str());
    }
    if (opt.progress >= 0)
        if (auto* p = static_cast<CProgressUI*>(pm.FindControl(L"installingui_progress") ? pm.FindControl(L"installingui_progress")->GetInterface(L"Progress") : nullptr))
            p->SetValue(opt.progress);
    if (opt.height > 0) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        SetWindowPos(hwnd, nullptr, 0, 0, rc.right - rc.left, opt.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (opt.x >= 0) SetWindowPos(hwnd, nullptr, opt.x, opt.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    else main.CenterWindow();
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    LogRect(L"main", hwnd);
    if (opt.dpiChange > 0) {
        // the rectangle Windows suggests: the same window scaled from the old DPI to the new one
        RECT rc;
        GetWindowRect(hwnd, &rc);
        const int old = static_cast<int>(pm.GetDPI());
        rc.right = rc.left + MulDiv(rc.right - rc.left, opt.dpiChange, old);
        rc.bottom = rc.top + MulDiv(rc.bottom - rc.top, opt.dpiChange, old);
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(opt.dpiChange, opt.dpiChange), reinterpret_cast<LPARAM>(&rc));
        UpdateWindow(hwnd);
        LogRect(L"moved", hwnd);
    }

    CMenuLogger menuLogger;
    g_menuLogger = &menuLogger;
    if (opt.menu) OpenSettingMenu(hwnd, pm);
    if (opt.box) {
        auto* box = new CSkinViewWnd(L"messagebox.xml", L"CMessageBoxWnd", false);
        HWND hbox = box->Create(hwnd, L"CMessageBoxWnd", WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0, 0);
        if (hbox) {
            box->CenterWindow();
            LogRect(L"box", hbox);
            UINT ret = box->ShowModal();
            LogEvent(L"box closed ret=%u main=%d enabled=%d", ret, IsWindow(hwnd) ? 1 : 0, IsWindowEnabled(hwnd) ? 1 : 0);
        } else {
            delete box;
            LogEvent(L"box failed");
        }
    }
    LogEvent(L"ready");
    CPaintManagerUI::MessageLoop();
    // the loop may end with the window still there (timeout): the object takes it along
    delete pMain;
    LogEvent(L"after delete window=%d", IsWindow(hwnd) ? 1 : 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    LogEvent(L"exit");
    if (SUCCEEDED(com)) CoUninitialize();
    if (g_events) fclose(g_events);
    return 0;
}
