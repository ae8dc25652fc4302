#include "ui/uimenu.h"

#include <algorithm>

#include "base/vdlog.h"
#include "ui/uibuilder.h"
#include "ui/uiparse.h"
#include "ui/uirender.h"

namespace DuiLib {

namespace {
HWND& MenuOwner() {
    static HWND owner = nullptr;
    return owner;
}
}  // namespace

// ---- CMenuUI -------------------------------------------------------------------------------

void* CMenuUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"Menu")) return this;
    return CVerticalLayoutUI::GetInterface(pstrName);
}

void CMenuUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    const wchar_t* v = pstrValue ? pstrValue : L"";
    if (n == L"itemtextpadding") {
        TRectI r = ParseRect(v);
        m_rcItemTextPadding = RECT{r.left, r.top, r.right, r.bottom};
    } else if (n == L"itemtextcolor") {
        m_dwItemTextColor = ParseColor(v);
    } else if (n == L"itemhotbkcolor") {
        m_dwItemHotBkColor = ParseColor(v);
    } else if (n == L"itemhottextcolor") {
        m_dwItemHotTextColor = ParseColor(v);
    } else if (n == L"itemselectedbkcolor") {
        m_dwItemSelectedBkColor = ParseColor(v);
    } else if (n == L"itemselectedtextcolor") {
        m_dwItemSelectedTextColor = ParseColor(v);
    } else if (n == L"itemdisabledtextcolor") {
        m_dwItemDisabledTextColor = ParseColor(v);
    } else if (n == L"font" || n == L"itemfont") {
        m_iItemFont = _wtoi(v);
    } else {
        CVerticalLayoutUI::SetAttribute(pstrName, pstrValue);
    }
}

// ---- CMenuElementUI ------------------------------------------------------------------------

CMenuElementUI::CMenuElementUI() {
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
    m_cxyFixed.cy = 22;
}

void* CMenuElementUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"MenuElement")) return this;
    return CButtonUI::GetInterface(pstrName);
}

CMenuUI* CMenuElementUI::Menu() const {
    return m_pParent ? static_cast<CMenuUI*>(m_pParent->GetInterface(L"Menu")) : nullptr;
}

bool CMenuElementUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_pManager) m_pManager->SendNotify(this, L"itemclick");
    return true;
}

void CMenuElementUI::SetHot(bool hot) {
    if (hot) m_uButtonState |= UISTATE_HOT;
    else m_uButtonState &= ~UISTATE_HOT;
    Invalidate();
}

SIZE CMenuElementUI::EstimateSize(SIZE) {
    SIZE sz = {0, Scaled(m_cxyFixed.cy > 0 ? m_cxyFixed.cy : 22)};
    CMenuUI* menu = Menu();
    int font = m_iFont >= 0 ? m_iFont : (menu ? menu->m_iItemFont : -1);
    RECT pad = Scaled(menu ? menu->m_rcItemTextPadding : RECT{0, 0, 0, 0});
    const RECT own = Scaled(m_rcTextPadding);
    if (m_pManager) {
        CScopedWindowDC hdc = GetScopedDC(m_pManager->GetPaintWindow());
        if (hdc) {
            std::wstring shown = m_sText;
            if (m_bShowHtml) {
                shown.clear();
                for (const auto& r : ParseHtmlText(m_sText)) shown += r.sText;
            }
            SIZE t = CRenderEngine::GetTextSize(hdc.Get(), m_pManager, shown, font, 0);
            sz.cx = t.cx;
        }
    }
    sz.cx += pad.left + pad.right + own.left + own.right;
    if (m_cxyFixed.cx > 0) sz.cx = Scaled(m_cxyFixed.cx);
    return sz;
}

void CMenuElementUI::PaintBkColor(HDC hDC) {
    CMenuUI* menu = Menu();
    DWORD color = m_dwBackColor;
    if (IsEnabled() && menu) {
        if ((m_uButtonState & UISTATE_PUSHED) && menu->m_dwItemSelectedBkColor) color = menu->m_dwItemSelectedBkColor;
        else if ((m_uButtonState & UISTATE_HOT) && menu->m_dwItemHotBkColor) color = menu->m_dwItemHotBkColor;
    }
    RECT r;
    if ((color >> 24) && IntersectRect(&r, &m_rcItem, &m_rcPaint)) CRenderEngine::DrawColor(hDC, r, color);
}

void CMenuElementUI::PaintText(HDC hDC) {
    CMenuUI* menu = Menu();
    DWORD color = m_dwTextColor ? m_dwTextColor : (menu ? menu->m_dwItemTextColor : 0xFF000000);
    if (!IsEnabled()) color = menu ? menu->m_dwItemDisabledTextColor : 0xFFA7A6AA;
    else if ((m_uButtonState & UISTATE_PUSHED) && menu && menu->m_dwItemSelectedTextColor)
        color = menu->m_dwItemSelectedTextColor;
    else if ((m_uButtonState & UISTATE_HOT) && menu && menu->m_dwItemHotTextColor)
        color = menu->m_dwItemHotTextColor;
    if (m_sText.empty() || !m_pManager) return;
    const RECT pad = Scaled(menu ? menu->m_rcItemTextPadding : RECT{0, 0, 0, 0});
    const RECT own = Scaled(m_rcTextPadding);
    RECT rc = {m_rcItem.left + pad.left + own.left, m_rcItem.top + pad.top + own.top,
               m_rcItem.right - pad.right - own.right, m_rcItem.bottom - pad.bottom - own.bottom};
    int font = m_iFont >= 0 ? m_iFont : (menu ? menu->m_iItemFont : -1);
    if (m_bShowHtml) CRenderEngine::DrawHtmlText(hDC, m_pManager, rc, m_sText, color, font, m_uTextStyle);
    else CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText, color, font, m_uTextStyle);
}

// ---- CMenuWnd ------------------------------------------------------------------------------

CMenuWnd::CMenuWnd(HWND hParent) : m_hParent(hParent) {}

CMenuWnd::~CMenuWnd() = default;

void CMenuWnd::SetOwnerWindow(HWND hOwner) { MenuOwner() = hOwner; }
HWND CMenuWnd::GetOwnerWindow() { return MenuOwner(); }

void CMenuWnd::AddObserver(IMenuObserver* p) {
    if (p && std::find(m_vObservers.begin(), m_vObservers.end(), p) == m_vObservers.end()) m_vObservers.push_back(p);
}

void CMenuWnd::RemoveObserver(IMenuObserver* p) {
    m_vObservers.erase(std::remove(m_vObservers.begin(), m_vObservers.end(), p), m_vObservers.end());
}

CMenuUI* CMenuWnd::GetMenu() const {
    CControlUI* root = m_pm.GetRoot();
    return root ? static_cast<CMenuUI*>(root->GetInterface(L"Menu")) : nullptr;
}

bool CMenuWnd::Init(const wchar_t* xml, const wchar_t* type, POINT ptScreen) {
    m_sXml = xml ? xml : L"";
    m_sType = type ? type : L"";
    m_ptOrigin = ptScreen;
    if (!RegisterWindowClass()) {
        delete this;
        return false;
    }
    // built from WM_CREATE; a markup that cannot be had fails the creation, and the final
    // message has then already deleted this object. A window that never came to be had none.
    bool finalSeen = false;
    m_pbFinalSeen = &finalSeen;
    HWND hwnd = Create(m_hParent, L"", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, WS_EX_TOOLWINDOW | WS_EX_TOPMOST,
                       ptScreen.x, ptScreen.y, 0, 0);
    if (!hwnd) {
        if (!finalSeen) delete this;
        return false;
    }
    m_pbFinalSeen = nullptr;
    CMenuUI* menu = GetMenu();
    ::ShowWindow(m_hWnd, SW_SHOW);
    // screen readers announce a menu on these, as for a system menu
    ::NotifyWinEvent(EVENT_SYSTEM_MENUPOPUPSTART, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
    SetForegroundWindow(m_hWnd);
    ::SetFocus(m_hWnd);
    std::vector<IMenuObserver*> observers = m_vObservers;
    for (IMenuObserver* o : observers) o->OnMenuShown(menu);
    return true;
}

void CMenuWnd::Notify(TNotifyUI& msg) {
    if (m_bClosing || (msg.sType != L"itemclick" && msg.sType != L"click")) return;
    if (!msg.pSender || !msg.pSender->GetInterface(L"MenuElement")) return;
    HWND owner = GetOwnerWindow();
    if (owner && IsWindow(owner)) {
        TNotifyUI* copy = new TNotifyUI(msg);
        if (!::PostMessageW(owner, UIMSG_MENU_ITEM_CLICK, reinterpret_cast<WPARAM>(copy), 0)) delete copy;
    }
    // posted after the report, so the item outlives the owner's handling of it
    m_bClosing = true;
    Close(1);
}

void CMenuWnd::MoveHot(int step) {
    CMenuUI* menu = GetMenu();
    if (!menu || menu->GetCount() == 0) return;
    int n = menu->GetCount(), cur = -1;
    for (int i = 0; i < n; ++i) {
        auto* e = static_cast<CMenuElementUI*>(menu->GetItemAt(i)->GetInterface(L"MenuElement"));
        if (e && e->IsHot()) cur = i;
    }
    for (int k = 1; k <= n; ++k) {
        int i = ((cur < 0 ? (step > 0 ? -1 : 0) : cur) + step * k + n * 4) % n;
        auto* e = static_cast<CMenuElementUI*>(menu->GetItemAt(i)->GetInterface(L"MenuElement"));
        if (e && e->IsVisible() && e->IsEnabled()) {
            for (int j = 0; j < n; ++j) {
                auto* o = static_cast<CMenuElementUI*>(menu->GetItemAt(j)->GetInterface(L"MenuElement"));
                if (o) o->SetHot(j == i);
            }
            // the keyboard moved: a screen reader reads the item that has it now
            m_pm.NotifyAccEvent(EVENT_OBJECT_FOCUS, menu->GetItemAt(i));
            return;
        }
    }
}

LRESULT CMenuWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case WM_CREATE: {
            m_pm.Init(m_hWnd);
            CDialogBuilder builder;
            CControlUI* root = builder.Create(m_sXml.c_str(), m_sType.empty() ? nullptr : m_sType.c_str(), nullptr, &m_pm);
            if (!root || !root->GetInterface(L"Menu")) {
                WriteLogW(L"load menu %s failure:%s\n", m_sXml.c_str(), builder.GetLastErrorMessage().c_str());
                delete root;
                return -1;
            }
            m_pm.AttachDialog(root);
            m_pm.AddNotifier(this);
            // size: the widest item, the items' heights, the menu's inset and border
            CMenuUI* menu = GetMenu();
            RECT inset = menu->GetInset();
            int w = 0, h = 0;
            for (int i = 0; i < menu->GetCount(); ++i) {
                CControlUI* item = menu->GetItemAt(i);
                if (!item->IsVisible()) continue;
                SIZE sz = item->EstimateSize(SIZE{0, 0});
                w = std::max<int>(w, sz.cx);
                h += sz.cy > 0 ? sz.cy : m_pm.ScaleValue(22);
            }
            w = std::max(w + m_pm.ScaleValue(24), m_pm.ScaleValue(96)) + inset.left + inset.right;
            h += inset.top + inset.bottom;
            MONITORINFO mi = {};
            mi.cbSize = sizeof(mi);
            GetMonitorInfoW(MonitorFromPoint(m_ptOrigin, MONITOR_DEFAULTTONEAREST), &mi);
            int x = m_ptOrigin.x, y = m_ptOrigin.y;
            if (x + w > mi.rcWork.right) x = mi.rcWork.right - w;
            if (y + h > mi.rcWork.bottom) y = m_ptOrigin.y - h;  // open upwards near the bottom
            if (x < mi.rcWork.left) x = mi.rcWork.left;
            if (y < mi.rcWork.top) y = mi.rcWork.top;
            SetWindowPos(m_hWnd, HWND_TOPMOST, x, y, w, h, SWP_NOACTIVATE);
            return 0;
        }
        case WM_ACTIVATE:
            // a click anywhere else closes the menu
            if (LOWORD(wParam) == WA_INACTIVE && !m_bClosing) {
                m_bClosing = true;
                Close(0);
            }
            break;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) {
                m_bClosing = true;
                Close(0);
                return 0;
            }
            if (wParam == VK_DOWN || wParam == VK_UP) {
                MoveHot(wParam == VK_DOWN ? 1 : -1);
                return 0;
            }
            if (wParam == VK_RETURN) {
                CMenuUI* menu = GetMenu();
                for (int i = 0; menu && i < menu->GetCount(); ++i) {
                    auto* e = static_cast<CMenuElementUI*>(menu->GetItemAt(i)->GetInterface(L"MenuElement"));
                    if (e && e->IsHot()) {
                        e->Activate();
                        break;
                    }
                }
                return 0;
            }
            break;
        case WM_DESTROY: {
            ::NotifyWinEvent(EVENT_SYSTEM_MENUPOPUPEND, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
            CMenuUI* menu = GetMenu();
            std::vector<IMenuObserver*> observers = m_vObservers;
            for (IMenuObserver* o : observers) o->OnMenuClosed(menu);
            break;
        }
        case WM_NCHITTEST:
            return HTCLIENT;
        default:
            break;
    }
    LRESULT lRes = 0;
    if (m_pm.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

void CMenuWnd::OnFinalMessage(HWND) {
    if (m_pbFinalSeen) *m_pbFinalSeen = true;
    m_pm.RemoveNotifier(this);
    m_pm.ReleaseDialog();
    delete this;
}

}  // namespace DuiLib
