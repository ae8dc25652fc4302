#include "ui/uicontrol.h"

#include <algorithm>

#include <oleacc.h>

#include "ui/uimanager.h"
#include "ui/uiparse.h"
#include "ui/uirender.h"

namespace DuiLib {

namespace {
LONG NextAccId() {
    static LONG s_nLast = 0;
    return InterlockedIncrement(&s_nLast);  // positive: CHILDID_SELF is 0
}
}  // namespace

CControlUI::CControlUI() : m_nAccId(NextAccId()) {}

CControlUI::~CControlUI() {
    if (m_pManager) m_pManager->ReapObjects(this);
}

void* CControlUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"Control")) return this;
    return nullptr;
}

void CControlUI::SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit) {
    m_pManager = pManager;
    m_pParent = pParent;
    if (bInit && m_pParent) DoInit();
    else if (bInit) DoInit();
}

void CControlUI::SetText(const wchar_t* pstrText) {
    std::wstring t = pstrText ? pstrText : L"";
    if (t == m_sText) return;
    m_sText = t;
    Invalidate();
    if (m_pManager) m_pManager->NotifyAccEvent(EVENT_OBJECT_NAMECHANGE, this);
}

int CControlUI::Scaled(int v) const { return m_pManager ? m_pManager->ScaleValue(v) : v; }

RECT CControlUI::Scaled(const RECT& rc) const { return m_pManager ? m_pManager->ScaleRect(rc) : rc; }

const wchar_t* CControlUI::GetCustomAttribute(const wchar_t* name) const {
    auto it = m_mCustomAttrs.find(name ? name : L"");
    return it == m_mCustomAttrs.end() ? nullptr : it->second.c_str();
}

void CControlUI::SetPos(RECT rc) {
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    RECT old = m_rcItem;
    m_rcItem = rc;
    m_bUpdateNeeded = false;
    if (m_pManager) {
        RECT u;
        UnionRect(&u, &old, &m_rcItem);
        m_pManager->Invalidate(u);
    }
}

void CControlUI::SetFixedWidth(int cx) {
    if (cx < 0) return;
    m_cxyFixed.cx = cx;
    NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
    if (cy < 0) return;
    m_cxyFixed.cy = cy;
    NeedParentUpdate();
}

SIZE CControlUI::EstimateSize(SIZE) { return SIZE{Scaled(m_cxyFixed.cx), Scaled(m_cxyFixed.cy)}; }

void CControlUI::SetVisible(bool bVisible) {
    if (m_bVisible == bVisible) return;
    bool was = IsVisible();
    m_bVisible = bVisible;
    if (m_bFocused && !bVisible && m_pManager) m_pManager->SetFocus(nullptr);
    if (IsVisible() != was) {
        NeedParentUpdate();
        if (m_pManager) m_pManager->AccTreeChanged();
    }
}

void CControlUI::SetInternVisible(bool bVisible) {
    m_bInternVisible = bVisible;
    if (!bVisible && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
}

void CControlUI::SetEnabled(bool bEnable) {
    if (m_bEnabled == bEnable) return;
    m_bEnabled = bEnable;
    if (!bEnable && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
    Invalidate();
    if (m_pManager) m_pManager->NotifyAccEvent(EVENT_OBJECT_STATECHANGE, this);
}

void CControlUI::SetFocus() {
    if (m_pManager) m_pManager->SetFocus(this);
}

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

void CControlUI::Invalidate() {
    if (!IsVisible() || !m_pManager) return;
    // a control never paints outside its parents
    RECT rc = m_rcItem;
    for (CControlUI* p = m_pParent; p; p = p->GetParent()) {
        RECT pr = p->GetPos();
        if (!IntersectRect(&rc, &rc, &pr)) return;
    }
    m_pManager->Invalidate(rc);
}

void CControlUI::NeedUpdate() {
    if (!IsVisible()) return;
    m_bUpdateNeeded = true;
    if (m_pManager) {
        m_pManager->NeedUpdate();
        m_pManager->Invalidate();
    }
}

void CControlUI::NeedParentUpdate() {
    if (m_pParent) {
        m_pParent->NeedUpdate();
        m_pParent->Invalidate();
    } else {
        NeedUpdate();
    }
    if (m_pManager) {
        m_pManager->NeedUpdate();
        m_pManager->Invalidate();
    }
}

void CControlUI::Event(TEventUI& event) { DoEvent(event); }

void CControlUI::DoEvent(TEventUI& event) {
    if (event.Type == UIEVENT_SETFOCUS) {
        m_bFocused = true;
        Invalidate();
    } else if (event.Type == UIEVENT_KILLFOCUS) {
        m_bFocused = false;
        Invalidate();
    }
}

CControlUI* CControlUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
    if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if ((uFlags & UIFIND_HITTEST) && (!m_bMouseEnabled || !PtInRect(&m_rcItem, *static_cast<POINT*>(pData))))
        return nullptr;
    return Proc(this, pData);
}

void CControlUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    const wchar_t* v = pstrValue ? pstrValue : L"";
    int iv[4];
    if (n == L"pos") {
        TRectI r = ParseRect(v);
        m_rcXY = RECT{r.left, r.top, r.right, r.bottom};
        if (r.right > r.left) m_cxyFixed.cx = r.right - r.left;
        if (r.bottom > r.top) m_cxyFixed.cy = r.bottom - r.top;
        NeedParentUpdate();
    } else if (n == L"float") {
        SetFloat(ParseBool(v));
    } else if (n == L"width") {
        SetFixedWidth(_wtoi(v));
    } else if (n == L"height") {
        SetFixedHeight(_wtoi(v));
    } else if (n == L"minwidth") {
        m_cxyMin.cx = _wtoi(v);
    } else if (n == L"minheight") {
        m_cxyMin.cy = _wtoi(v);
    } else if (n == L"maxwidth") {
        m_cxyMax.cx = _wtoi(v);
    } else if (n == L"maxheight") {
        m_cxyMax.cy = _wtoi(v);
    } else if (n == L"name") {
        SetName(v);
    } else if (n == L"text") {
        SetText(v);
    } else if (n == L"tooltip") {
        SetToolTip(v);
    } else if (n == L"userdata") {
        SetUserData(v);
    } else if (n == L"virtualwnd") {
        SetVirtualWnd(v);
    } else if (n == L"visible") {
        SetVisible(ParseBool(v));
    } else if (n == L"enabled") {
        SetEnabled(ParseBool(v));
    } else if (n == L"mouse") {
        SetMouseEnabled(ParseBool(v));
    } else if (n == L"keyboard") {
        SetKeyboardEnabled(ParseBool(v));
    } else if (n == L"shortcut") {
        SetShortcut(v[0]);
    } else if (n == L"bkcolor" || n == L"bkcolor1") {
        SetBkColor(ParseColor(v));
    } else if (n == L"bordercolor") {
        SetBorderColor(ParseColor(v));
    } else if (n == L"focusbordercolor") {
        SetFocusBorderColor(ParseColor(v));
    } else if (n == L"bordersize") {
        SetBorderSize(_wtoi(v));
    } else if (n == L"borderround") {
        ParseIntList(v, iv, 2);
        SetBorderRound(SIZE{iv[0], iv[1]});
    } else if (n == L"bkimage") {
        SetBkImage(v);
    } else {
        m_mCustomAttrs[n] = v;
    }
}

void CControlUI::ApplyAttributeList(const wchar_t* pstrList) {
    if (!pstrList) return;
    for (const auto& kv : ParseAttributeList(pstrList)) SetAttribute(kv.first.c_str(), kv.second.c_str());
}

bool CControlUI::DrawImage(HDC hDC, const std::wstring& image) {
    if (image.empty()) return false;
    return CRenderEngine::DrawImageString(hDC, m_rcItem, m_rcPaint, image, m_pManager ? m_pManager->GetDPI() : 96);
}

void CControlUI::DoPaint(HDC hDC, const RECT& rcPaint) {
    if (!IntersectRect(&m_rcPaint, &rcPaint, &m_rcItem)) return;
    if (m_cxyBorderRound.cx > 0 && m_cxyBorderRound.cy > 0) {
        CRenderClip clip(hDC, m_rcItem, Scaled(m_cxyBorderRound.cx), Scaled(m_cxyBorderRound.cy));
        PaintBkColor(hDC);
        PaintBkImage(hDC);
        PaintStatusImage(hDC);
        PaintText(hDC);
    } else {
        PaintBkColor(hDC);
        PaintBkImage(hDC);
        PaintStatusImage(hDC);
        PaintText(hDC);
    }
    PaintBorder(hDC);
}

void CControlUI::PaintBkColor(HDC hDC) {
    if (!(m_dwBackColor >> 24)) return;
    if (m_cxyBorderRound.cx > 0 && m_cxyBorderRound.cy > 0) {
        CRenderEngine::FillRoundRect(hDC, m_rcItem, Scaled(m_cxyBorderRound.cx), Scaled(m_cxyBorderRound.cy), m_dwBackColor);
    } else {
        RECT r;
        if (IntersectRect(&r, &m_rcItem, &m_rcPaint)) CRenderEngine::DrawColor(hDC, r, m_dwBackColor);
    }
}

void CControlUI::PaintBkImage(HDC hDC) { DrawImage(hDC, m_sBkImage); }

void CControlUI::PaintBorder(HDC hDC) {
    if (m_nBorderSize <= 0) return;
    DWORD color = (m_bFocused && m_dwFocusBorderColor) ? m_dwFocusBorderColor : m_dwBorderColor;
    if (!(color >> 24)) return;
    if (m_cxyBorderRound.cx > 0 && m_cxyBorderRound.cy > 0)
        CRenderEngine::DrawRoundRect(hDC, m_rcItem, Scaled(m_nBorderSize), Scaled(m_cxyBorderRound.cx),
                                     Scaled(m_cxyBorderRound.cy), color);
    else
        CRenderEngine::DrawRect(hDC, m_rcItem, Scaled(m_nBorderSize), color);
}

// ---- containers ----------------------------------------------------------------------------

CContainerUI::~CContainerUI() {
    for (CControlUI* c : m_items) delete c;
    m_items.clear();
}

void* CContainerUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"Container")) return this;
    return CControlUI::GetInterface(pstrName);
}

CControlUI* CContainerUI::GetItemAt(int iIndex) const {
    if (iIndex < 0 || iIndex >= GetCount()) return nullptr;
    return m_items[iIndex];
}

int CContainerUI::GetItemIndex(CControlUI* pControl) const {
    auto it = std::find(m_items.begin(), m_items.end(), pControl);
    return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

bool CContainerUI::Add(CControlUI* pControl) { return AddAt(pControl, GetCount()); }

bool CContainerUI::AddAt(CControlUI* pControl, int iIndex) {
    if (!pControl || iIndex < 0 || iIndex > GetCount()) return false;
    if (m_pManager) m_pManager->InitControls(pControl, this);
    else pControl->SetManager(nullptr, this, false);
    // a hidden container hides what it gains
    pControl->SetInternVisible(IsVisible());
    m_items.insert(m_items.begin() + iIndex, pControl);
    NeedUpdate();
    return true;
}

bool CContainerUI::Remove(CControlUI* pControl) {
    auto it = std::find(m_items.begin(), m_items.end(), pControl);
    if (it == m_items.end()) return false;
    m_items.erase(it);
    delete pControl;
    NeedUpdate();
    return true;
}

void CContainerUI::RemoveAll() {
    std::vector<CControlUI*> items;
    items.swap(m_items);
    for (CControlUI* c : items) delete c;
    NeedUpdate();
}

void CContainerUI::SetManager(CPaintManagerUI* pManager, CControlUI* pParent, bool bInit) {
    for (CControlUI* c : m_items) c->SetManager(pManager, this, bInit);
    CControlUI::SetManager(pManager, pParent, bInit);
}

void CContainerUI::SetVisible(bool bVisible) {
    if (m_bVisible == bVisible) return;
    CControlUI::SetVisible(bVisible);
    for (CControlUI* c : m_items) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool bVisible) {
    CControlUI::SetInternVisible(bVisible);
    for (CControlUI* c : m_items) c->SetInternVisible(IsVisible());
}

void CContainerUI::SetFloatPos(int iIndex) {
    CControlUI* c = GetItemAt(iIndex);
    if (!c) return;
    RECT xy = c->GetFixedXY();
    int w = xy.right > xy.left ? xy.right - xy.left : c->GetFixedWidth();
    int h = xy.bottom > xy.top ? xy.bottom - xy.top : c->GetFixedHeight();
    // the markup's maxheight bounds a size the window grows into
    w = std::min(w, c->GetMaxWidth());
    h = std::min(h, c->GetMaxHeight());
    RECT rc = {m_rcItem.left + xy.left, m_rcItem.top + xy.top, m_rcItem.left + xy.left + w, m_rcItem.top + xy.top + h};
    c->SetPos(rc);
}

void CContainerUI::SetPos(RECT rc) {
    CControlUI::SetPos(rc);
    if (m_items.empty()) return;
    const RECT inset = GetInset();
    RECT inner = {rc.left + inset.left, rc.top + inset.top, rc.right - inset.right, rc.bottom - inset.bottom};
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* c = m_items[i];
        if (!c->IsVisible()) continue;
        if (c->IsFloat()) SetFloatPos(i);
        else c->SetPos(inner);
    }
}

void CContainerUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    if (n == L"inset") {
        TRectI r = ParseRect(pstrValue);
        SetInset(RECT{r.left, r.top, r.right, r.bottom});
    } else if (n == L"childpadding") {
        SetChildPadding(_wtoi(pstrValue ? pstrValue : L"0"));
    } else {
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

CControlUI* CContainerUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) {
    if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if ((uFlags & UIFIND_HITTEST) && !PtInRect(&m_rcItem, *static_cast<POINT*>(pData))) return nullptr;
    if (uFlags & UIFIND_ME_FIRST) {
        CControlUI* me = CControlUI::FindControl(Proc, pData, uFlags);
        if (me) return me;
    }
    if (uFlags & UIFIND_TOP_FIRST) {
        // later children are painted over earlier ones
        for (int i = GetCount() - 1; i >= 0; --i) {
            CControlUI* c = m_items[i]->FindControl(Proc, pData, uFlags);
            if (c) return c;
        }
    } else {
        for (CControlUI* item : m_items) {
            CControlUI* c = item->FindControl(Proc, pData, uFlags);
            if (c) return c;
        }
    }
    if (!(uFlags & UIFIND_ME_FIRST)) return CControlUI::FindControl(Proc, pData, uFlags);
    return nullptr;
}

void CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint) {
    RECT rcTemp;
    if (!IntersectRect(&rcTemp, &rcPaint, &m_rcItem)) return;
    CRenderClip clip(hDC, rcTemp);
    CControlUI::DoPaint(hDC, rcPaint);
    for (CControlUI* c : m_items) {
        if (!c->IsVisible()) continue;
        RECT r;
        if (!IntersectRect(&r, &rcTemp, &c->GetPos())) continue;
        c->DoPaint(hDC, rcTemp);
    }
}

void* CVerticalLayoutUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"VerticalLayout")) return this;
    return CContainerUI::GetInterface(pstrName);
}

void* CHorizontalLayoutUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"HorizontalLayout")) return this;
    return CContainerUI::GetInterface(pstrName);
}

// Children that are not floating share the space along one axis: fixed sizes first, the rest
// split evenly, each kept within its min/max.
template <bool Vertical>
static void StackChildren(std::vector<CControlUI*>& items, const RECT& inner, int padding) {
    const int avail = Vertical ? inner.bottom - inner.top : inner.right - inner.left;
    int fixedSum = 0, flexible = 0, count = 0;
    for (CControlUI* c : items) {
        if (!c->IsVisible() || c->IsFloat()) continue;
        int fixed = Vertical ? c->GetFixedHeight() : c->GetFixedWidth();
        if (fixed > 0) fixedSum += fixed;
        else ++flexible;
        ++count;
    }
    if (count > 1) fixedSum += padding * (count - 1);
    int share = flexible > 0 ? std::max(0, (avail - fixedSum) / flexible) : 0;
    int pos = Vertical ? inner.top : inner.left;
    for (CControlUI* c : items) {
        if (!c->IsVisible() || c->IsFloat()) continue;
        int fixed = Vertical ? c->GetFixedHeight() : c->GetFixedWidth();
        int size = fixed > 0 ? fixed : share;
        int lo = Vertical ? c->GetMinHeight() : c->GetMinWidth();
        int hi = Vertical ? c->GetMaxHeight() : c->GetMaxWidth();
        size = std::max(lo, std::min(size, hi));
        RECT rc;
        if (Vertical) {
            int w = c->GetFixedWidth() > 0 ? c->GetFixedWidth() : inner.right - inner.left;
            rc = RECT{inner.left, pos, inner.left + w, pos + size};
        } else {
            int h = c->GetFixedHeight() > 0 ? c->GetFixedHeight() : inner.bottom - inner.top;
            rc = RECT{pos, inner.top, pos + size, inner.top + h};
        }
        c->SetPos(rc);
        pos += size + padding;
    }
}

void CVerticalLayoutUI::SetPos(RECT rc) {
    CControlUI::SetPos(rc);
    const RECT inset = GetInset();
    RECT inner = {rc.left + inset.left, rc.top + inset.top, rc.right - inset.right, rc.bottom - inset.bottom};
    StackChildren<true>(m_items, inner, GetChildPadding());
    for (int i = 0; i < GetCount(); ++i)
        if (m_items[i]->IsVisible() && m_items[i]->IsFloat()) SetFloatPos(i);
}

void CHorizontalLayoutUI::SetPos(RECT rc) {
    CControlUI::SetPos(rc);
    const RECT inset = GetInset();
    RECT inner = {rc.left + inset.left, rc.top + inset.top, rc.right - inset.right, rc.bottom - inset.bottom};
    StackChildren<false>(m_items, inner, GetChildPadding());
    for (int i = 0; i < GetCount(); ++i)
        if (m_items[i]->IsVisible() && m_items[i]->IsFloat()) SetFloatPos(i);
}

}  // namespace DuiLib
