#include "ui/uicontrols.h"

#include <oleacc.h>

#include <algorithm>

#include "ui/uimanager.h"
#include "ui/uiparse.h"
#include "ui/uirender.h"

namespace DuiLib {

namespace {
constexpr wchar_t kEditOwnerProp[] = L"DuiLibEditOwner";
// Posted to the native edit to end editing outside the message that asked for it.
constexpr UINT WM_UI_END_EDIT = WM_APP + 0x3F02;

COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

UINT AlignStyle(const wchar_t* v, UINT style) {
    style &= ~(DT_LEFT | DT_CENTER | DT_RIGHT | DT_TOP | DT_BOTTOM | DT_VCENTER);
    if (EqualsNoCase(v, L"left")) style |= DT_LEFT | DT_VCENTER;
    else if (EqualsNoCase(v, L"center")) style |= DT_CENTER | DT_VCENTER;
    else if (EqualsNoCase(v, L"right")) style |= DT_RIGHT | DT_VCENTER;
    else if (EqualsNoCase(v, L"top")) style |= DT_TOP | DT_LEFT;
    else if (EqualsNoCase(v, L"bottom")) style |= DT_BOTTOM | DT_LEFT;
    else style |= DT_LEFT | DT_VCENTER;
    return style;
}
}  // namespace

// ---- label ---------------------------------------------------------------------------------

void* CLabelUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"Label")) return this;
    return CControlUI::GetInterface(pstrName);
}

void CLabelUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    const wchar_t* v = pstrValue ? pstrValue : L"";
    if (n == L"align") {
        SetTextStyle(AlignStyle(v, m_uTextStyle));
    } else if (n == L"valign") {
        m_uTextStyle &= ~(DT_TOP | DT_VCENTER | DT_BOTTOM);
        if (EqualsNoCase(v, L"top")) m_uTextStyle |= DT_TOP;
        else if (EqualsNoCase(v, L"bottom")) m_uTextStyle |= DT_BOTTOM;
        else m_uTextStyle |= DT_VCENTER;
    } else if (n == L"endellipsis") {
        if (ParseBool(v)) m_uTextStyle |= DT_END_ELLIPSIS;
        else m_uTextStyle &= ~DT_END_ELLIPSIS;
    } else if (n == L"multiline") {
        if (ParseBool(v)) m_uTextStyle = (m_uTextStyle & ~DT_SINGLELINE) | DT_WORDBREAK;
        else m_uTextStyle = (m_uTextStyle & ~DT_WORDBREAK) | DT_SINGLELINE;
    } else if (n == L"font") {
        SetFont(_wtoi(v));
    } else if (n == L"textcolor") {
        SetTextColor(ParseColor(v));
    } else if (n == L"disabledtextcolor") {
        SetDisabledTextColor(ParseColor(v));
    } else if (n == L"textpadding") {
        TRectI r = ParseRect(v);
        SetTextPadding(RECT{r.left, r.top, r.right, r.bottom});
    } else if (n == L"showhtml") {
        SetShowHtml(ParseBool(v));
    } else {
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

void CLabelUI::PaintTextColored(HDC hDC, DWORD color) {
    if (m_sText.empty() || !m_pManager) return;
    const RECT pad = Scaled(m_rcTextPadding);
    RECT rc = {m_rcItem.left + pad.left, m_rcItem.top + pad.top, m_rcItem.right - pad.right, m_rcItem.bottom - pad.bottom};
    if (m_bShowHtml) CRenderEngine::DrawHtmlText(hDC, m_pManager, rc, m_sText, color, m_iFont, m_uTextStyle);
    else CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText, color, m_iFont, m_uTextStyle);
}

void CLabelUI::PaintText(HDC hDC) {
    DWORD color = m_dwTextColor ? m_dwTextColor : (m_pManager ? m_pManager->GetDefaultTextColor() : 0xFF000000);
    if (!IsEnabled())
        color = m_dwDisabledTextColor ? m_dwDisabledTextColor
                                      : (m_pManager ? m_pManager->GetDefaultDisabledColor() : 0xFFA7A6AA);
    PaintTextColored(hDC, color);
}

// ---- button --------------------------------------------------------------------------------

CButtonUI::CButtonUI() { m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER; }

void* CButtonUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"Button")) return this;
    return CLabelUI::GetInterface(pstrName);
}

bool CButtonUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_pManager) m_pManager->SendNotify(this, L"click");
    return true;
}

void CButtonUI::SetEnabled(bool bEnable) {
    CControlUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState = 0;
}

void CButtonUI::DoEvent(TEventUI& event) {
    switch (event.Type) {
        case UIEVENT_SETFOCUS:
            m_uButtonState |= UISTATE_FOCUSED;
            break;
        case UIEVENT_KILLFOCUS:
            // also sent when a click is abandoned: the pressed look goes
            m_uButtonState &= ~(UISTATE_FOCUSED | UISTATE_PUSHED | UISTATE_CAPTURED);
            break;
        case UIEVENT_KEYDOWN:
            if (IsKeyboardEnabled() && (event.chKey == VK_SPACE || event.chKey == VK_RETURN)) {
                Activate();
                return;
            }
            break;
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK:
            if (PtInRect(&m_rcItem, event.ptMouse) && IsEnabled()) {
                m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
                Invalidate();
            }
            return;
        case UIEVENT_MOUSEMOVE:
            if (m_uButtonState & UISTATE_CAPTURED) {
                UINT before = m_uButtonState;
                if (PtInRect(&m_rcItem, event.ptMouse)) m_uButtonState |= UISTATE_PUSHED;
                else m_uButtonState &= ~UISTATE_PUSHED;
                if (before != m_uButtonState) Invalidate();
            }
            return;
        case UIEVENT_BUTTONUP:
            if (m_uButtonState & UISTATE_CAPTURED) {
                bool inside = PtInRect(&m_rcItem, event.ptMouse) != FALSE;
                m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
                Invalidate();
                // last: the receiver may delete this control or the whole window
                if (inside) Activate();
            }
            return;
        case UIEVENT_MOUSEENTER:
            if (IsEnabled()) {
                m_uButtonState |= UISTATE_HOT;
                Invalidate();
            }
            return;
        case UIEVENT_MOUSELEAVE:
            if (m_uButtonState & UISTATE_HOT) {
                m_uButtonState &= ~UISTATE_HOT;
                Invalidate();
            }
            return;
        case UIEVENT_SETCURSOR:
            if (IsEnabled()) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                event.wParam = 1;
            }
            return;
        default:
            break;
    }
    CLabelUI::DoEvent(event);
}

void CButtonUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    const wchar_t* v = pstrValue ? pstrValue : L"";
    if (n == L"normalimage") SetNormalImage(v);
    else if (n == L"hotimage") SetHotImage(v);
    else if (n == L"pushedimage") SetPushedImage(v);
    else if (n == L"focusedimage") m_sFocusedImage = v;
    else if (n == L"disabledimage") SetDisabledImage(v);
    else if (n == L"foreimage") m_sForeImage = v;
    else if (n == L"hotforeimage") m_sHotForeImage = v;
    else if (n == L"hottextcolor") m_dwHotTextColor = ParseColor(v);
    else if (n == L"pushedtextcolor") m_dwPushedTextColor = ParseColor(v);
    else if (n == L"focusedtextcolor") m_dwFocusedTextColor = ParseColor(v);
    else if (n == L"hotbkcolor") m_dwHotBkColor = ParseColor(v);
    else CLabelUI::SetAttribute(pstrName, pstrValue);
}

void CButtonUI::PaintText(HDC hDC) {
    DWORD color = m_dwTextColor;
    if (!IsEnabled()) {
        color = m_dwDisabledTextColor ? m_dwDisabledTextColor
                                      : (m_pManager ? m_pManager->GetDefaultDisabledColor() : 0xFFA7A6AA);
    } else if ((m_uButtonState & UISTATE_PUSHED) && m_dwPushedTextColor) {
        color = m_dwPushedTextColor;
    } else if ((m_uButtonState & UISTATE_HOT) && m_dwHotTextColor) {
        color = m_dwHotTextColor;
    } else if ((m_uButtonState & UISTATE_FOCUSED) && m_dwFocusedTextColor) {
        color = m_dwFocusedTextColor;
    }
    if (!color) color = m_pManager ? m_pManager->GetDefaultTextColor() : 0xFF000000;
    PaintTextColored(hDC, color);
}

void CButtonUI::PaintStatusImage(HDC hDC) {
    if (!IsEnabled()) {
        if (DrawImage(hDC, m_sDisabledImage)) return;
        DrawImage(hDC, m_sNormalImage);
        return;
    }
    if ((m_uButtonState & UISTATE_HOT) && m_dwHotBkColor) {
        RECT r;
        if (IntersectRect(&r, &m_rcItem, &m_rcPaint)) CRenderEngine::DrawColor(hDC, r, m_dwHotBkColor);
    }
    bool drawn = false;
    if (m_uButtonState & UISTATE_PUSHED) drawn = DrawImage(hDC, m_sPushedImage) || DrawImage(hDC, m_sHotImage);
    else if (m_uButtonState & UISTATE_HOT) drawn = DrawImage(hDC, m_sHotImage);
    else if (m_uButtonState & UISTATE_FOCUSED) drawn = DrawImage(hDC, m_sFocusedImage);
    if (!drawn) DrawImage(hDC, m_sNormalImage);
    if ((m_uButtonState & UISTATE_HOT) && DrawImage(hDC, m_sHotForeImage)) return;
    DrawImage(hDC, m_sForeImage);
}

// ---- check box -----------------------------------------------------------------------------

void* CCheckBoxUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"CheckBox") || EqualsNoCase(pstrName, L"Option")) return this;
    return CButtonUI::GetInterface(pstrName);
}

bool CCheckBoxUI::Activate() {
    if (!CButtonUI::Activate()) return false;
    SetCheck(!m_bSelected, true);
    return true;
}

void CCheckBoxUI::SetCheck(bool bCheck, bool bTriggerEvent) {
    if (m_bSelected == bCheck) return;
    m_bSelected = bCheck;
    if (m_bSelected) m_uButtonState |= UISTATE_SELECTED;
    else m_uButtonState &= ~UISTATE_SELECTED;
    Invalidate();
    if (m_pManager) m_pManager->NotifyAccEvent(EVENT_OBJECT_STATECHANGE, this);
    if (bTriggerEvent && m_pManager) m_pManager->SendNotify(this, L"selectchanged");
}

void CCheckBoxUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    const wchar_t* v = pstrValue ? pstrValue : L"";
    if (n == L"selected") SetCheck(ParseBool(v), false);
    else if (n == L"selectedimage") m_sSelectedImage = v;
    else if (n == L"selectedhotimage") m_sSelectedHotImage = v;
    else if (n == L"selectedtextcolor") m_dwSelectedTextColor = ParseColor(v);
    else CButtonUI::SetAttribute(pstrName, pstrValue);
}

void CCheckBoxUI::PaintStatusImage(HDC hDC) {
    if (m_bSelected) {
        if ((m_uButtonState & UISTATE_HOT) && IsEnabled() && DrawImage(hDC, m_sSelectedHotImage)) return;
        if (DrawImage(hDC, m_sSelectedImage)) return;
    }
    CButtonUI::PaintStatusImage(hDC);
}

void CCheckBoxUI::PaintText(HDC hDC) {
    if (m_bSelected && m_dwSelectedTextColor && IsEnabled()) {
        PaintTextColored(hDC, m_dwSelectedTextColor);
        return;
    }
    CButtonUI::PaintText(hDC);
}

// ---- progress ------------------------------------------------------------------------------

void* CProgressUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"Progress")) return this;
    return CLabelUI::GetInterface(pstrName);
}

void CProgressUI::SetValue(int n) {
    n = std::max(m_nMin, std::min(n, m_nMax));
    if (n == m_nValue) return;
    m_nValue = n;
    Invalidate();
    if (m_pManager) m_pManager->NotifyAccEvent(EVENT_OBJECT_VALUECHANGE, this);
}

void CProgressUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    const wchar_t* v = pstrValue ? pstrValue : L"";
    if (n == L"foreimage") SetForeImage(v);
    else if (n == L"hor") SetHorizontal(ParseBool(v));
    else if (n == L"min") m_nMin = _wtoi(v);
    else if (n == L"max") m_nMax = _wtoi(v);
    else if (n == L"value") m_nValue = _wtoi(v);
    else CLabelUI::SetAttribute(pstrName, pstrValue);
}

void CProgressUI::PaintStatusImage(HDC hDC) {
    if (m_sForeImage.empty() || m_nMax <= m_nMin) return;
    int value = std::max(m_nMin, std::min(m_nValue, m_nMax));
    const int w = m_rcItem.right - m_rcItem.left, h = m_rcItem.bottom - m_rcItem.top;
    TImageAttrUI attr;
    if (!ParseImageString(m_sForeImage, attr) || attr.sFile.empty()) return;
    const UINT dpi = m_pManager ? m_pManager->GetDPI() : 96;
    int density = 1;
    const TImageInfo* img = CRenderEngine::GetImageForDpi(attr, dpi, &density);
    if (!img) return;
    RECT src = CRenderEngine::ToRect(attr.rcSource);
    src = RECT{src.left * density, src.top * density, src.right * density, src.bottom * density};
    if (attr.rcSource.IsZero()) src = RECT{0, 0, img->nX, img->nY};
    RECT dest = m_rcItem;
    const long long range = static_cast<long long>(m_nMax) - m_nMin, done = static_cast<long long>(value) - m_nMin;
    // the fill is the image cut at the value, not the whole image squeezed
    if (m_bHorizontal) {
        dest.right = m_rcItem.left + static_cast<LONG>(w * done / range);
        src.right = src.left + static_cast<LONG>((src.right - src.left) * done / range);
    } else {
        dest.top = m_rcItem.bottom - static_cast<LONG>(h * done / range);
        src.top = src.bottom - static_cast<LONG>((src.bottom - src.top) * done / range);
    }
    if (dest.right <= dest.left || dest.bottom <= dest.top) return;
    const RECT corner = CRenderEngine::ToRect(attr.rcCorner);
    const RECT cornerD = {corner.left * density, corner.top * density, corner.right * density, corner.bottom * density};
    CRenderEngine::DrawImage(hDC, *img, dest, m_rcPaint, src, cornerD, Scaled(corner), attr.uFade, attr.bHole,
                             attr.bTiledX, attr.bTiledY, dpi != 96);
}

DWORD ProgressHaloColor(DWORD text) {
    const unsigned r = (text >> 16) & 0xFF, g = (text >> 8) & 0xFF, b = text & 0xFF;
    // Rec. 709 weights: light text gets a near-black halo, dark text a white one (over 12:1 either way)
    return (2126 * r + 7152 * g + 722 * b) / 10000 >= 128 ? 0xFF1A1A1A : 0xFFFFFFFF;
}

void CProgressUI::PaintText(HDC hDC) {
    if (m_sText.empty() || !m_pManager) return;
    DWORD color = m_dwTextColor ? m_dwTextColor : m_pManager->GetDefaultTextColor();
    if (!IsEnabled()) color = m_dwDisabledTextColor ? m_dwDisabledTextColor : m_pManager->GetDefaultDisabledColor();
    const RECT item = m_rcItem;
    const DWORD halo = ProgressHaloColor(color);
    static const int kOffsets[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (const auto& o : kOffsets) {
        m_rcItem = RECT{item.left + o[0], item.top + o[1], item.right + o[0], item.bottom + o[1]};
        PaintTextColored(hDC, halo);
    }
    m_rcItem = item;
    PaintTextColored(hDC, color);
}

// ---- edit ----------------------------------------------------------------------------------

CEditUI::CEditUI() { m_rcTextPadding = RECT{4, 3, 4, 3}; }

CEditUI::~CEditUI() {
    if (m_hEditWnd && IsWindow(m_hEditWnd)) {
        RemovePropW(m_hEditWnd, kEditOwnerProp);
        SetWindowLongPtrW(m_hEditWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pOldProc));
        DestroyWindow(m_hEditWnd);
    }
    m_hEditWnd = nullptr;
}

void* CEditUI::GetInterface(const wchar_t* pstrName) {
    if (EqualsNoCase(pstrName, L"Edit")) return this;
    return CLabelUI::GetInterface(pstrName);
}

void CEditUI::SetText(const wchar_t* pstrText) {
    std::wstring t = pstrText ? pstrText : L"";
    if (m_uMaxChar && t.size() > m_uMaxChar) t.resize(m_uMaxChar);
    const bool changed = t != m_sText;
    m_sText = t;
    if (changed && m_pManager) m_pManager->NotifyAccEvent(EVENT_OBJECT_VALUECHANGE, this);
    if (m_hEditWnd) {
        // the native control reports the change itself (EN_CHANGE)
        SetWindowTextW(m_hEditWnd, m_sText.c_str());
        return;
    }
    Invalidate();
}

void CEditUI::SetEnabled(bool bEnable) {
    CLabelUI::SetEnabled(bEnable);
    if (!IsEnabled()) {
        m_uButtonState = 0;
        EndEdit();
    }
}

void CEditUI::SetVisible(bool bVisible) {
    CLabelUI::SetVisible(bVisible);
    if (!IsVisible()) EndEdit();
}

void CEditUI::SetInternVisible(bool bVisible) {
    CLabelUI::SetInternVisible(bVisible);
    if (!IsVisible()) EndEdit();
}

RECT CEditUI::NativeRect() const {
    const RECT pad = Scaled(m_rcTextPadding);
    RECT rc = {m_rcItem.left + pad.left, m_rcItem.top + pad.top, m_rcItem.right - pad.right, m_rcItem.bottom - pad.bottom};
    // single line: centred on the text height, as the painted text is
    if (m_pManager) {
        const TFontInfo* f = m_pManager->GetFontInfo(m_iFont);
        int th = f ? f->tm.tmHeight + 2 : 0;
        int avail = rc.bottom - rc.top;
        if (th > 0 && th < avail) {
            rc.top += (avail - th) / 2;
            rc.bottom = rc.top + th;
        }
    }
    return rc;
}

void CEditUI::SetPos(RECT rc) {
    CLabelUI::SetPos(rc);
    if (m_hEditWnd) {
        RECT r = NativeRect();
        SetWindowPos(m_hEditWnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CEditUI::BeginEdit() {
    if (m_hEditWnd || !m_pManager || !m_pManager->GetPaintWindow() || !IsEnabled() || !IsVisible()) return;
    RECT r = NativeRect();
    DWORD style = WS_CHILD | ES_AUTOHSCROLL | (m_bReadOnly ? ES_READONLY : 0) | (m_bPasswordMode ? ES_PASSWORD : 0);
    if (m_uTextStyle & DT_RIGHT) style |= ES_RIGHT;
    else if (m_uTextStyle & DT_CENTER) style |= ES_CENTER;
    m_hEditWnd = CreateWindowExW(0, L"EDIT", m_sText.c_str(), style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                 m_pManager->GetPaintWindow(), nullptr, CPaintManagerUI::GetInstance(), nullptr);
    if (!m_hEditWnd) return;
    SetPropW(m_hEditWnd, kEditOwnerProp, this);
    m_pOldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(m_hEditWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CEditUI::NativeProc)));
    SendMessageW(m_hEditWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_pManager->GetFont(m_iFont)), FALSE);
    SendMessageW(m_hEditWnd, EM_LIMITTEXT, m_uMaxChar, 0);
    SendMessageW(m_hEditWnd, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    int len = GetWindowTextLengthW(m_hEditWnd);
    SendMessageW(m_hEditWnd, EM_SETSEL, len, len);
    ShowWindow(m_hEditWnd, SW_SHOWNOACTIVATE);
    ::SetFocus(m_hEditWnd);
    Invalidate();
}

void CEditUI::EndEdit() {
    if (!m_hEditWnd) return;
    HWND h = m_hEditWnd;
    m_hEditWnd = nullptr;
    if (IsWindow(h)) {
        int len = GetWindowTextLengthW(h);
        std::wstring text(static_cast<size_t>(len) + 1, L'\0');
        GetWindowTextW(h, &text[0], len + 1);
        text.resize(static_cast<size_t>(len));
        m_sText = text;
        RemovePropW(h, kEditOwnerProp);
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pOldProc));
        // keep the keyboard in the window rather than losing it to nowhere
        bool hadFocus = ::GetFocus() == h;
        DestroyWindow(h);
        if (hadFocus && m_pManager && m_pManager->GetPaintWindow()) ::SetFocus(m_pManager->GetPaintWindow());
    }
    m_pOldProc = nullptr;
    Invalidate();
}

LRESULT CALLBACK CEditUI::NativeProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CEditUI*>(GetPropW(hWnd, kEditOwnerProp));
    if (!self) return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    WNDPROC old = self->m_pOldProc;
    switch (uMsg) {
        case WM_KILLFOCUS:
            // ended from the queue: destroying a window inside its own focus change is unsafe
            PostMessageW(hWnd, WM_UI_END_EDIT, 0, 0);
            break;
        case WM_UI_END_EDIT:
            if (::GetFocus() != hWnd) {
                CPaintManagerUI* pm = self->m_pManager;
                self->EndEdit();
                // focus went to another window: this box no longer holds the window's focus
                if (pm && pm->GetFocus() == self && ::GetFocus() != pm->GetPaintWindow()) {
                    self->m_bFocused = false;
                    self->Invalidate();
                }
            }
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_RETURN) {
                self->EndEdit();
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == VK_RETURN || wParam == VK_TAB) return 0;  // no beep
            if (wParam == 1) {  // Ctrl+A selects everything, which the classic edit control does not do
                SendMessageW(hWnd, EM_SETSEL, 0, -1);
                return 0;
            }
            break;
        default:
            break;
    }
    return CallWindowProcW(old, hWnd, uMsg, wParam, lParam);
}

void CEditUI::OnNativeTextChanged() {
    if (!m_hEditWnd) return;
    int len = GetWindowTextLengthW(m_hEditWnd);
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    GetWindowTextW(m_hEditWnd, &text[0], len + 1);
    text.resize(static_cast<size_t>(len));
    m_sText = text;
    if (m_pManager) m_pManager->SendNotify(this, L"textchanged");
}

HBRUSH CEditUI::OnNativeCtlColor(HDC hdc) {
    DWORD text = m_dwTextColor ? m_dwTextColor : (m_pManager ? m_pManager->GetDefaultTextColor() : 0xFF000000);
    DWORD bk = (m_dwEditBkColor >> 24) ? m_dwEditBkColor : 0xFFFFFFFF;
    ::SetTextColor(hdc, ToColorRef(text));
    ::SetBkColor(hdc, ToColorRef(bk));
    if (!m_hBkBrush.Get()) m_hBkBrush.Reset(CreateSolidBrush(ToColorRef(bk)));
    return m_hBkBrush.Get();
}

void CEditUI::DoEvent(TEventUI& event) {
    switch (event.Type) {
        case UIEVENT_SETCURSOR:
            if (IsEnabled()) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_IBEAM));
                event.wParam = 1;
            }
            return;
        case UIEVENT_SETFOCUS:
            m_bFocused = true;
            BeginEdit();
            Invalidate();
            return;
        case UIEVENT_KILLFOCUS:
            m_bFocused = false;
            EndEdit();
            Invalidate();
            return;
        case UIEVENT_BUTTONDOWN:
        case UIEVENT_DBLCLICK:
            if (IsEnabled()) {
                BeginEdit();
                if (m_hEditWnd) {
                    // put the caret where the click was
                    POINT pt = event.ptMouse;
                    MapWindowPoints(m_pManager->GetPaintWindow(), m_hEditWnd, &pt, 1);
                    LRESULT pos = SendMessageW(m_hEditWnd, EM_CHARFROMPOS, 0, MAKELPARAM(pt.x, pt.y));
                    int ch = LOWORD(pos);
                    SendMessageW(m_hEditWnd, EM_SETSEL, ch, ch);
                    ::SetFocus(m_hEditWnd);
                }
            }
            return;
        case UIEVENT_MOUSEENTER:
            if (IsEnabled()) {
                m_uButtonState |= UISTATE_HOT;
                Invalidate();
            }
            return;
        case UIEVENT_MOUSELEAVE:
            m_uButtonState &= ~UISTATE_HOT;
            Invalidate();
            return;
        default:
            break;
    }
    CLabelUI::DoEvent(event);
}

void CEditUI::SetAttribute(const wchar_t* pstrName, const wchar_t* pstrValue) {
    std::wstring n = pstrName ? pstrName : L"";
    const wchar_t* v = pstrValue ? pstrValue : L"";
    if (n == L"readonly") SetReadOnly(ParseBool(v));
    else if (n == L"password") SetPasswordMode(ParseBool(v));
    else if (n == L"maxchar") SetMaxChar(static_cast<UINT>(std::max(0, _wtoi(v))));
    else if (n == L"normalimage") m_sNormalImage = v;
    else if (n == L"hotimage") m_sHotImage = v;
    else if (n == L"focusedimage") m_sFocusedImage = v;
    else if (n == L"disabledimage") m_sDisabledImage = v;
    else if (n == L"nativebkcolor") {
        m_dwEditBkColor = ParseColor(v);
        m_hBkBrush.Reset();
    } else if (n == L"text") {
        SetText(v);
    } else {
        CLabelUI::SetAttribute(pstrName, pstrValue);
    }
}

void CEditUI::PaintStatusImage(HDC hDC) {
    if (!IsEnabled() && DrawImage(hDC, m_sDisabledImage)) return;
    if ((m_bFocused || m_hEditWnd) && DrawImage(hDC, m_sFocusedImage)) return;
    if ((m_uButtonState & UISTATE_HOT) && DrawImage(hDC, m_sHotImage)) return;
    DrawImage(hDC, m_sNormalImage);
}

void CEditUI::PaintText(HDC hDC) {
    if (m_hEditWnd) return;  // the native control shows the text
    if (m_bPasswordMode) {
        std::wstring shown(m_sText.size(), L'*');
        std::swap(shown, m_sText);
        CLabelUI::PaintText(hDC);
        std::swap(shown, m_sText);
        return;
    }
    CLabelUI::PaintText(hDC);
}

void CEditUI::PaintBorder(HDC hDC) {
    if (m_nBorderSize <= 0) return;
    DWORD color = ((m_bFocused || m_hEditWnd) && m_dwFocusBorderColor) ? m_dwFocusBorderColor : m_dwBorderColor;
    if (color >> 24) CRenderEngine::DrawRect(hDC, m_rcItem, Scaled(m_nBorderSize), color);
}

}  // namespace DuiLib
