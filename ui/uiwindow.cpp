#include "ui/uiwindow.h"

#include <windowsx.h>

#include "base/vdlog.h"
#include "ui/uibuilder.h"
#include "ui/uicontrol.h"
#include "ui/uiparse.h"

namespace DuiLib {

// ---- CWindowWnd ----------------------------------------------------------------------------

CWindowWnd::~CWindowWnd() {
    if (m_hWnd && IsWindow(m_hWnd)) {
        HWND h = m_hWnd;
        m_hWnd = nullptr;
        SetWindowLongPtrW(h, GWLP_USERDATA, 0);
        DestroyWindow(h);
    }
}

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    HINSTANCE inst = CPaintManagerUI::GetInstance();
    if (GetClassInfoExW(inst, GetWindowClassName(), &wc)) return true;
    wc.cbSize = sizeof(wc);
    wc.style = GetClassStyle();
    wc.lpfnWndProc = CWindowWnd::__WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    if (UINT icon = GetClassIconId()) {
        wc.hIcon = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(icon), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                 GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR | LR_SHARED));
        wc.hIconSm = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(icon), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR | LR_SHARED));
    }
    wc.hbrBackground = nullptr;
    wc.lpszClassName = GetWindowClassName();
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT& rc,
                        HMENU hMenu) {
    return Create(hwndParent, pstrName, dwStyle, dwExStyle, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                  hMenu);
}

HWND CWindowWnd::Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, int x, int y, int cx,
                        int cy, HMENU hMenu) {
    if (!RegisterWindowClass()) return nullptr;
    // m_hWnd is set by WM_NCCREATE and cleared by WM_NCDESTROY. A window whose WM_CREATE failed
    // has had its final message before this returns, and an object that deletes itself then is
    // gone: nothing may be written into it here.
    return CreateWindowExW(dwExStyle, GetWindowClassName(), pstrName, dwStyle, x, y, cx, cy, hwndParent, hMenu,
                           CPaintManagerUI::GetInstance(), this);
}

LRESULT CALLBACK CWindowWnd::__WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* pThis = nullptr;
    if (uMsg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
        pThis = static_cast<CWindowWnd*>(cs->lpCreateParams);
        pThis->m_hWnd = hWnd;
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pThis));
    } else {
        pThis = reinterpret_cast<CWindowWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (uMsg == WM_NCDESTROY && pThis) {
            LRESULT lRes = DefWindowProcW(hWnd, uMsg, wParam, lParam);
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            pThis->m_hWnd = nullptr;
            pThis->OnFinalMessage(hWnd);
            return lRes;
        }
    }
    if (pThis) return pThis->HandleMessage(uMsg, wParam, lParam);
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::ShowWindow(bool bShow, bool bTakeFocus) {
    if (!IsWindow(m_hWnd)) return;
    ::ShowWindow(m_hWnd, bShow ? (bTakeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal() {
    // the object may delete itself when its window goes: only locals are used after that
    HWND self = m_hWnd;
    if (!IsWindow(self)) return static_cast<UINT>(-1);
    HWND owner = GetWindow(self, GW_OWNER);
    ::ShowWindow(self, SW_SHOWNORMAL);
    if (owner) EnableWindow(owner, FALSE);
    UINT nRet = 0;
    MSG msg = {};
    bool quit = false;
    while (IsWindow(self)) {
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            quit = (got == 0);
            break;
        }
        if (msg.message == WM_CLOSE && msg.hwnd == self) {
            nRet = static_cast<UINT>(msg.wParam);
            // enabled before the box goes, so the owner gets the activation back
            if (owner) EnableWindow(owner, TRUE);
        }
        if (!CPaintManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (owner) {
        EnableWindow(owner, TRUE);
        if (IsWindow(owner)) SetFocus(owner);
    }
    // the outer loop must see the quit too
    if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
    return nRet;
}

void CWindowWnd::Close(UINT nRet) {
    if (IsWindow(m_hWnd)) ::PostMessageW(m_hWnd, WM_CLOSE, nRet, 0);
}

void CWindowWnd::CenterWindow() {
    if (!IsWindow(m_hWnd)) return;
    RECT rc;
    GetWindowRect(m_hWnd, &rc);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    RECT area = mi.rcWork;
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    RECT center = area;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &center);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = (center.left + center.right) / 2 - w / 2;
    int y = (center.top + center.bottom) / 2 - h / 2;
    // kept on the work area
    if (x + w > area.right) x = area.right - w;
    if (y + h > area.bottom) y = area.bottom - h;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::ResizeClient(int cx, int cy) {
    RECT rc;
    if (!GetClientRect(m_hWnd, &rc)) return;
    if (cx != -1) rc.right = cx;
    if (cy != -1) rc.bottom = cy;
    AdjustWindowRectEx(&rc, GetWindowLongW(m_hWnd, GWL_STYLE), GetMenu(m_hWnd) != nullptr,
                       GetWindowLongW(m_hWnd, GWL_EXSTYLE));
    SetWindowPos(m_hWnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

// ---- CNotifyPump ---------------------------------------------------------------------------

bool CNotifyPump::AddVirtualWnd(const std::wstring& strName, CNotifyPump* pObject) {
    if (strName.empty() || !pObject) return false;
    for (auto& v : m_vVirtualWnd)
        if (EqualsNoCase(v.first, strName)) return false;
    m_vVirtualWnd.emplace_back(strName, pObject);
    return true;
}

bool CNotifyPump::RemoveVirtualWnd(const std::wstring& strName) {
    for (size_t i = 0; i < m_vVirtualWnd.size(); ++i) {
        if (EqualsNoCase(m_vVirtualWnd[i].first, strName)) {
            m_vVirtualWnd.erase(m_vVirtualWnd.begin() + i);
            return true;
        }
    }
    return false;
}

void CNotifyPump::NotifyPump(TNotifyUI& msg) {
    if (!msg.sVirtualWnd.empty()) {
        for (auto& v : m_vVirtualWnd)
            if (EqualsNoCase(v.first, msg.sVirtualWnd) && v.second->LoopDispatch(msg)) return;
    }
    LoopDispatch(msg);
}

// ---- WindowImplBase ------------------------------------------------------------------------

void WindowImplBase::OnFinalMessage(HWND) {
    m_PaintManager.RemovePreMessageFilter(this);
    m_PaintManager.RemoveNotifier(this);
    m_PaintManager.ReleaseDialog();
}

void WindowImplBase::Notify(TNotifyUI& msg) { NotifyPump(msg); }

bool WindowImplBase::LoopDispatch(TNotifyUI& msg) {
    if (msg.sType == L"click") {
        OnClick(msg);
        return true;
    }
    return false;
}

void WindowImplBase::OnClick(TNotifyUI& msg) {
    if (!msg.pSender) return;
    const std::wstring& name = msg.pSender->GetName();
    if (name == L"closebtn") {
        if (IsWindow(m_hWnd)) ::PostMessageW(m_hWnd, WM_CLOSE, 1, 0);
    } else if (name == L"minbtn") {
        ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"maxbtn") {
        ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else if (name == L"restorebtn") {
        ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    }
}

LRESULT WindowImplBase::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM, bool& bHandled) {
    if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) return ResponseDefaultKeyEvent(wParam, bHandled);
    return 0;
}

LRESULT WindowImplBase::ResponseDefaultKeyEvent(WPARAM wParam, bool& bHandled) {
    if (wParam == VK_ESCAPE) {
        Close(1);
        bHandled = true;
        return TRUE;
    }
    return FALSE;  // Enter: left to the focused control
}

void WindowImplBase::OnSkinLoadFailure(const std::wstring& reason) {
    WriteLogW(L"load skin file %s failure:%s\n", GetSkinFile().c_str(), reason.c_str());
    CloseLog();  // the process ends below: every record so far reaches the file
    MessageBoxW(nullptr, L"加载资源文件失败", L"Duilib", MB_OK | MB_ICONERROR);
    ExitProcess(1);
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = TRUE;
    LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
    style &= ~WS_CAPTION;
    SetWindowLongW(m_hWnd, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    // not activated here: a window still hidden becomes active when it is shown
    SetWindowPos(m_hWnd, nullptr, rcClient.left, rcClient.top, rcClient.right - rcClient.left,
                 rcClient.bottom - rcClient.top, SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOACTIVATE);

    m_PaintManager.Init(m_hWnd);
    m_PaintManager.AddPreMessageFilter(this);

    if (CPaintManagerUI::GetResourcePath().empty())
        CPaintManagerUI::SetResourcePath((CPaintManagerUI::GetInstancePath() + GetSkinFolder()).c_str());

    std::wstring failure;
    switch (GetResourceType()) {
        case UILIB_ZIP:
            if (!CPaintManagerUI::SetResourceZip(GetZIPFileName().c_str())) failure = L"Error opening zip file";
            break;
        case UILIB_ZIPRESOURCE: {
            if (CPaintManagerUI::GetResourceZip() == L"membuffer") break;  // a second window shares it
            HINSTANCE inst = CPaintManagerUI::GetResourceInstance();
            HRSRC hResource = FindResourceW(inst, GetResourceID(), L"ZIPRES");
            HGLOBAL hGlobal = hResource ? LoadResource(inst, hResource) : nullptr;
            const void* data = hGlobal ? LockResource(hGlobal) : nullptr;
            DWORD size = hResource ? SizeofResource(inst, hResource) : 0;
            // the archive keeps its own copy for the life of the process
            if (!data || !size || !CPaintManagerUI::SetResourceZip(data, size, L"membuffer"))
                failure = L"Error opening zip file";
            if (hGlobal) FreeResource(hGlobal);
            break;
        }
        default:
            break;
    }

    CControlUI* pRoot = nullptr;
    if (failure.empty()) {
        CDialogBuilder builder;
        std::wstring skin = GetSkinFile();
        if (GetResourceType() == UILIB_RESOURCE) pRoot = builder.Create(skin.c_str(), L"xml", this, &m_PaintManager);
        else pRoot = builder.Create(skin.c_str(), nullptr, this, &m_PaintManager);
        if (!pRoot) failure = builder.GetLastErrorMessage().empty() ? L"Error opening file" : builder.GetLastErrorMessage();
    }
    if (!pRoot) {
        OnSkinLoadFailure(failure);
        return -1;  // only reached when a derived window chose to survive the failure
    }
    m_PaintManager.AttachDialog(pRoot);
    m_PaintManager.AddNotifier(this);
    InitWindow();
    ::PostMessageW(m_hWnd, UIMSG_INIT_AFTER_SHOW, 0, 0);
    return 0;
}

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSize(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    SIZE round = m_PaintManager.GetRoundCorner();
    if (!IsIconic(m_hWnd) && (round.cx != 0 || round.cy != 0)) {
        RECT rc;
        GetWindowRect(m_hWnd, &rc);
        OffsetRect(&rc, -rc.left, -rc.top);
        rc.right++;
        rc.bottom++;
        CScopedGdiObject<HRGN> rgn(CreateRoundRectRgn(rc.left, rc.top, rc.right, rc.bottom, round.cx, round.cy));
        // the window owns the region once it is set
        if (SetWindowRgn(m_hWnd, rgn.Get(), TRUE)) rgn.Release();
    }
    (void)wParam;
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnKillFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi)) {
        RECT work = mi.rcWork, mon = mi.rcMonitor;
        mmi->ptMaxPosition.x = work.left - mon.left;
        mmi->ptMaxPosition.y = work.top - mon.top;
        mmi->ptMaxTrackSize.x = work.right - work.left;
        mmi->ptMaxTrackSize.y = work.bottom - work.top;
    }
    SIZE minInfo = m_PaintManager.GetMinInfo();
    if (minInfo.cx > 0) mmi->ptMinTrackSize.x = minInfo.cx;
    if (minInfo.cy > 0) mmi->ptMinTrackSize.y = minInfo.cy;
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    bHandled = TRUE;
    if (IsZoomed(m_hWnd)) {
        MONITORINFO mi = {};
        mi.cbSize = sizeof(mi);
        if (GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi)) {
            RECT* rc = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
            *rc = mi.rcWork;
        }
        return WVR_REDRAW;
    }
    return 0;
}

LRESULT WindowImplBase::SizingHitTest(POINT pt) const {
    if (IsZoomed(m_hWnd)) return HTNOWHERE;
    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    RECT box = m_PaintManager.GetSizeBox();
    if (pt.y < rcClient.top + box.top) {
        if (pt.x < rcClient.left + box.left) return HTTOPLEFT;
        if (pt.x > rcClient.right - box.right) return HTTOPRIGHT;
        return HTTOP;
    }
    if (pt.y > rcClient.bottom - box.bottom) {
        if (pt.x < rcClient.left + box.left) return HTBOTTOMLEFT;
        if (pt.x > rcClient.right - box.right) return HTBOTTOMRIGHT;
        return HTBOTTOM;
    }
    if (pt.x < rcClient.left + box.left) return HTLEFT;
    if (pt.x > rcClient.right - box.right) return HTRIGHT;
    return HTNOWHERE;
}

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    bHandled = TRUE;
    POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(m_hWnd, &pt);
    LRESULT edge = SizingHitTest(pt);
    return edge != HTNOWHERE ? edge : ClientHitTest(pt);
}

LRESULT WindowImplBase::ClientHitTest(POINT pt) {
    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    RECT cap = m_PaintManager.GetCaptionRect();
    if (pt.x >= rcClient.left + cap.left && pt.x < rcClient.right - cap.right && pt.y >= cap.top && pt.y < cap.bottom) {
        CControlUI* c = m_PaintManager.FindControl(pt);
        if (!c) return HTCAPTION;
        const std::wstring cls = c->GetClass();
        if (cls != L"Button" && cls != L"Option" && cls != L"Text") return HTCAPTION;
    }
    return HTCLIENT;
}

LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = TRUE;
    return 0;
}

LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    if (IsIconic(m_hWnd)) {
        bHandled = FALSE;
        return 0;
    }
    bHandled = TRUE;
    return wParam == 0 ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnKeyDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnChar(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    bHandled = TRUE;
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        ::SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }
    const bool wasZoomed = IsZoomed(m_hWnd) != FALSE;
    LRESULT lRes = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    if (IsWindow(m_hWnd) && wasZoomed != (IsZoomed(m_hWnd) != FALSE)) {
        CControlUI* maxbtn = m_PaintManager.FindControl(L"maxbtn");
        CControlUI* restorebtn = m_PaintManager.FindControl(L"restorebtn");
        if (maxbtn && restorebtn) {
            const bool zoomed = IsZoomed(m_hWnd) != FALSE;
            maxbtn->SetVisible(!zoomed);
            restorebtn->SetVisible(zoomed);
        }
    }
    return lRes;
}

LRESULT WindowImplBase::OnMouseMove(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnLButtonDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnMouseWheel(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnMouseHover(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    LRESULT lRes = 0;
    BOOL bHandled = TRUE;
    switch (uMsg) {
        case WM_CREATE: lRes = OnCreate(uMsg, wParam, lParam, bHandled); break;
        case WM_CLOSE: lRes = OnClose(uMsg, wParam, lParam, bHandled); break;
        case WM_DESTROY: lRes = OnDestroy(uMsg, wParam, lParam, bHandled); break;
        case WM_NCACTIVATE: lRes = OnNcActivate(uMsg, wParam, lParam, bHandled); break;
        case WM_NCCALCSIZE: lRes = OnNcCalcSize(uMsg, wParam, lParam, bHandled); break;
        case WM_NCPAINT: lRes = OnNcPaint(uMsg, wParam, lParam, bHandled); break;
        case WM_NCHITTEST: lRes = OnNcHitTest(uMsg, wParam, lParam, bHandled); break;
        case WM_GETMINMAXINFO: lRes = OnGetMinMaxInfo(uMsg, wParam, lParam, bHandled); break;
        case WM_MOUSEWHEEL: lRes = OnMouseWheel(uMsg, wParam, lParam, bHandled); break;
        case WM_SIZE: lRes = OnSize(uMsg, wParam, lParam, bHandled); break;
        case WM_CHAR: lRes = OnChar(uMsg, wParam, lParam, bHandled); break;
        case WM_SYSCOMMAND: lRes = OnSysCommand(uMsg, wParam, lParam, bHandled); break;
        case WM_KEYDOWN: lRes = OnKeyDown(uMsg, wParam, lParam, bHandled); break;
        case WM_KILLFOCUS: lRes = OnKillFocus(uMsg, wParam, lParam, bHandled); break;
        case WM_SETFOCUS: lRes = OnSetFocus(uMsg, wParam, lParam, bHandled); break;
        case WM_LBUTTONUP: lRes = OnLButtonUp(uMsg, wParam, lParam, bHandled); break;
        case WM_LBUTTONDOWN: lRes = OnLButtonDown(uMsg, wParam, lParam, bHandled); break;
        case WM_MOUSEMOVE: lRes = OnMouseMove(uMsg, wParam, lParam, bHandled); break;
        case WM_MOUSEHOVER: lRes = OnMouseHover(uMsg, wParam, lParam, bHandled); break;
        case UIMSG_INIT_AFTER_SHOW: InitAfterShow(); break;
        default: bHandled = FALSE; break;
    }
    if (bHandled) return lRes;
    lRes = HandleCustomMessage(uMsg, wParam, lParam, bHandled);
    if (bHandled) return lRes;
    if (m_PaintManager.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

}  // namespace DuiLib
