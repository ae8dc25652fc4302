#include "ui/uimanager.h"

#include <commctrl.h>
#include <oleacc.h>
#include <windowsx.h>

#include <algorithm>

#include "ui/uiaccess.h"
#include "ui/uicontrol.h"
#include "ui/uicontrols.h"
#include "ui/uiparse.h"
#include "ui/uirender.h"

namespace DuiLib {

namespace {

// Control timers live in their own id range so that window timers of the derived windows
// (small ids such as 1999..2002) never reach a control.
constexpr UINT kFirstControlTimer = 0xD000;
constexpr UINT kMaxControlTimers = 0x1000;
// Posted to itself to send queued notifications; registered, so no window's own number collides.
UINT AsyncNotifyMessage() {
    static const UINT msg = RegisterWindowMessageW(L"DuiLibAsyncNotify");
    return msg;
}
UINT AccActionMessage() {
    static const UINT msg = RegisterWindowMessageW(L"DuiLibAccDefaultAction");
    return msg;
}
constexpr wchar_t kEditOwnerProp[] = L"DuiLibEditOwner";

struct TGlobals {
    HINSTANCE hInstance = nullptr;
    HINSTANCE hResourceInstance = nullptr;
    std::wstring sResourcePath;
    std::vector<CPaintManagerUI*> managers;
};

TGlobals& Globals() {
    static TGlobals g;
    return g;
}

std::wstring LowerAscii(const wchar_t* s) {
    std::wstring out = s ? s : L"";
    for (auto& c : out)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return out;
}

CControlUI* CALLBACK FindByName(CControlUI* pThis, LPVOID pData) {
    return pThis->GetName() == static_cast<const wchar_t*>(pData) ? pThis : nullptr;
}

CControlUI* CALLBACK FindByPoint(CControlUI* pThis, LPVOID pData) {
    const POINT* pt = static_cast<const POINT*>(pData);
    return PtInRect(&pThis->GetPos(), *pt) ? pThis : nullptr;
}

struct TShortcutFind {
    wchar_t ch;
};
CControlUI* CALLBACK FindByShortcut(CControlUI* pThis, LPVOID pData) {
    const auto* f = static_cast<const TShortcutFind*>(pData);
    if (!pThis->IsVisible() || !pThis->GetShortcut()) return nullptr;
    return towupper(pThis->GetShortcut()) == towupper(f->ch) ? pThis : nullptr;
}

struct TTabList {
    std::vector<CControlUI*> items;
};
CControlUI* CALLBACK CollectTabStops(CControlUI* pThis, LPVOID pData) {
    if (pThis->IsTabStop() && pThis->IsVisible() && pThis->IsEnabled() && pThis->IsKeyboardEnabled())
        static_cast<TTabList*>(pData)->items.push_back(pThis);
    return nullptr;
}

TEventUI MakeEvent(int type, CControlUI* sender, POINT pt, WPARAM wParam, LPARAM lParam) {
    TEventUI ev;
    ev.Type = type;
    ev.pSender = sender;
    ev.ptMouse = pt;
    ev.wParam = wParam;
    ev.lParam = lParam;
    ev.wKeyState = static_cast<WORD>(wParam);
    ev.dwTimestamp = GetTickCount();
    return ev;
}

}  // namespace

CPaintManagerUI::CPaintManagerUI() {}

void CPaintManagerUI::ReleaseOffscreen() {
    // the bitmap must leave the DC before either can go
    if (m_hDcOffscreen) SelectObject(m_hDcOffscreen.Get(), m_hOldOffscreen);
    m_hDcOffscreen.Reset();
    m_hbmpOffscreen.Reset();
}

CPaintManagerUI::~CPaintManagerUI() {
    ReleaseDialog();
    if (m_pAccessible) {
        DetachAccessible(m_pAccessible);
        ReleaseAccessible(m_pAccessible);
        m_pAccessible = nullptr;
    }
    ReleaseOffscreen();
    if (m_hwndTooltip && IsWindow(m_hwndTooltip)) DestroyWindow(m_hwndTooltip);
    auto& list = Globals().managers;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

// ---- process-wide --------------------------------------------------------------------------

void CPaintManagerUI::SetInstance(HINSTANCE hInst) {
    // GDI+ starts with the first picture decoded (EnsureGdiplus), when the window paints
    Globals().hInstance = hInst;
}

HINSTANCE CPaintManagerUI::GetInstance() {
    return Globals().hInstance ? Globals().hInstance : GetModuleHandleW(nullptr);
}

std::wstring CPaintManagerUI::GetInstancePath() {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(GetInstance(), path, MAX_PATH);
    std::wstring p(path, n < MAX_PATH ? n : 0);
    size_t slash = p.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1);
}

void CPaintManagerUI::SetResourceInstance(HINSTANCE hInst) { Globals().hResourceInstance = hInst; }

HINSTANCE CPaintManagerUI::GetResourceInstance() {
    return Globals().hResourceInstance ? Globals().hResourceInstance : GetInstance();
}

void CPaintManagerUI::SetResourcePath(const wchar_t* path) {
    std::wstring p = path ? path : L"";
    if (!p.empty() && p.back() != L'\\' && p.back() != L'/') p += L'\\';
    Globals().sResourcePath = p;
}

const std::wstring& CPaintManagerUI::GetResourcePath() { return Globals().sResourcePath; }

bool CPaintManagerUI::SetResourceZip(const void* data, size_t len, const wchar_t* name) {
    return CResourceArchive::OpenMemory(name, data, len);
}

bool CPaintManagerUI::SetResourceZip(const wchar_t* zipPath) {
    std::wstring p = zipPath ? zipPath : L"";
    if (p.size() < 2 || (p[1] != L':' && p[0] != L'\\')) p = GetResourcePath() + p;
    return CResourceArchive::OpenFile(p.c_str());
}

const std::wstring& CPaintManagerUI::GetResourceZip() { return CResourceArchive::GetName(); }

void CPaintManagerUI::MessageLoop() {
    MSG msg = {};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

bool CPaintManagerUI::TranslateMessage(const LPMSG pMsg) {
    if (!pMsg || !pMsg->hwnd) return false;
    // the window itself or the top-level window that holds the control (a native edit)
    for (HWND h = pMsg->hwnd; h; h = GetParent(h)) {
        for (CPaintManagerUI* pm : Globals().managers) {
            if (pm->GetPaintWindow() != h) continue;
            LRESULT lRes = 0;
            if (pm->PreMessageHandler(pMsg->message, pMsg->wParam, pMsg->lParam, lRes)) return true;
            return false;
        }
        if (!(GetWindowLongW(h, GWL_STYLE) & WS_CHILD)) break;
    }
    return false;
}

void CPaintManagerUI::Term() {
    FreeImageCache();
    CResourceArchive::Close();
    StopGdiplus();
}

// ---- this window ---------------------------------------------------------------------------

void CPaintManagerUI::Init(HWND hWnd) {
    m_hWndPaint = hWnd;
    // known before the markup is built, so fonts and the window size come out scaled
    m_uDpi = GetWindowDpi(hWnd);
    auto& list = Globals().managers;
    if (std::find(list.begin(), list.end(), this) == list.end()) list.push_back(this);
}

HDC CPaintManagerUI::GetPaintDC() const { return m_hDcOffscreen.Get(); }

bool CPaintManagerUI::AttachDialog(CControlUI* pControl) {
    ReleaseDialog();
    m_pRoot = pControl;
    if (!m_pRoot) return false;
    m_bUpdateNeeded = true;
    m_bFirstLayout = true;
    InitControls(pControl);
    if (m_hWndPaint) InvalidateRect(m_hWndPaint, nullptr, FALSE);
    return true;
}

void CPaintManagerUI::ReleaseDialog() {
    CControlUI* root = m_pRoot;
    m_pRoot = nullptr;
    m_pFocus = m_pEventHover = m_pEventClick = m_pTooltipFor = m_pNoTipUntilLeave = nullptr;
    for (auto& t : m_vTimers)
        if (m_hWndPaint && IsWindow(m_hWndPaint)) ::KillTimer(m_hWndPaint, t.uWinTimer);
    m_vTimers.clear();
    m_vAsyncNotify.clear();
    m_vAccActions.clear();
    delete root;
}

bool CPaintManagerUI::InitControls(CControlUI* pControl, CControlUI* pParent) {
    if (!pControl) return false;
    pControl->SetManager(this, pParent ? pParent : pControl->GetParent(), true);
    return true;
}

void CPaintManagerUI::ReapObjects(CControlUI* pControl) {
    if (!pControl) return;
    if (pControl == m_pFocus) m_pFocus = nullptr;
    if (pControl == m_pEventHover) m_pEventHover = nullptr;
    if (pControl == m_pNoTipUntilLeave) m_pNoTipUntilLeave = nullptr;
    if (pControl == m_pEventClick) m_pEventClick = nullptr;
    if (pControl == m_pTooltipFor) {
        HideToolTip();
        m_pTooltipFor = nullptr;
    }
    if (pControl == m_pRoot) m_pRoot = nullptr;
    m_vAccActions.erase(std::remove(m_vAccActions.begin(), m_vAccActions.end(), pControl), m_vAccActions.end());
    KillTimer(pControl);
    m_vAsyncNotify.erase(std::remove_if(m_vAsyncNotify.begin(), m_vAsyncNotify.end(),
                                        [pControl](const TNotifyUI& n) { return n.pSender == pControl; }),
                         m_vAsyncNotify.end());
}

CControlUI* CPaintManagerUI::FindControl(const wchar_t* pstrName) const {
    if (!m_pRoot || !pstrName || !*pstrName) return nullptr;
    return m_pRoot->FindControl(FindByName, const_cast<wchar_t*>(pstrName), UIFIND_ALL | UIFIND_ME_FIRST);
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
    if (!m_pRoot) return nullptr;
    return m_pRoot->FindControl(FindByPoint, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* pParent, const wchar_t* pstrName) const {
    if (!pParent || !pstrName || !*pstrName) return nullptr;
    return pParent->FindControl(FindByName, const_cast<wchar_t*>(pstrName), UIFIND_ALL | UIFIND_ME_FIRST);
}

void CPaintManagerUI::SetInitSize(int cx, int cy) {
    m_szInitWindowSize = {cx, cy};
    if (m_hWndPaint && cx > 0 && cy > 0)
        SetWindowPos(m_hWndPaint, nullptr, 0, 0, ScaleValue(cx), ScaleValue(cy), SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

UINT CPaintManagerUI::GetMonitorDpi(HWND hWnd) {
    // shcore.dll is no KnownDLL on Windows 8.1: it is named by its full System32 path
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const GetDpiForMonitorFn pGetDpiForMonitor = []() -> GetDpiForMonitorFn {
        wchar_t path[MAX_PATH];
        UINT n = GetSystemDirectoryW(path, MAX_PATH);
        if (n == 0 || n + 12 >= MAX_PATH) return nullptr;
        wcscpy(path + n, L"\\shcore.dll");
        HMODULE shcore = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        return shcore ? reinterpret_cast<GetDpiForMonitorFn>(GetProcAddress(shcore, "GetDpiForMonitor")) : nullptr;
    }();
    UINT x = 0, y = 0;
    HMONITOR monitor = MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST);
    const int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    if (!pGetDpiForMonitor || !monitor || FAILED(pGetDpiForMonitor(monitor, kEffectiveDpi, &x, &y))) return 0;
    return x;
}

UINT CPaintManagerUI::GetWindowDpi(HWND hWnd) {
    // Windows 10 1607 and later; loaded by name so the program still starts on Windows 7
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const GetDpiForWindowFn pGetDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"));
    UINT dpi = (pGetDpiForWindow && hWnd) ? pGetDpiForWindow(hWnd) : 0;
    // Windows 8.1 to 10 1511: the monitor's own scale; the system DPI would be wrong on a second screen
    if (dpi == 0 && hWnd) dpi = GetMonitorDpi(hWnd);
    if (dpi == 0) {
        CScopedWindowDC hdc = GetScopedDC(nullptr);
        if (hdc) dpi = static_cast<UINT>(GetDeviceCaps(hdc.Get(), LOGPIXELSX));
    }
    // beyond 500 % is no real screen: a broken setting must not blow the window up
    return (dpi < 96 || dpi > 480) ? 96 : dpi;
}

void CPaintManagerUI::SetDPI(UINT dpi) {
    if (dpi < 96 || dpi > 480) dpi = 96;
    if (dpi == m_uDpi) return;
    m_uDpi = dpi;
    CreateFonts();
    // the edit box's native control keeps the old font while it is open
    if (m_pFocus) SetFocus(nullptr);
    m_bUpdateNeeded = true;
    if (m_hWndPaint) InvalidateRect(m_hWndPaint, nullptr, FALSE);
}

void CPaintManagerUI::SetWindowAttribute(const wchar_t* name, const wchar_t* value) {
    std::wstring n = LowerAscii(name);
    int v[4];
    if (n == L"size") {
        ParseIntList(value, v, 2);
        SetInitSize(v[0], v[1]);
    } else if (n == L"sizebox") {
        TRectI r = ParseRect(value);
        m_rcSizeBox = RECT{r.left, r.top, r.right, r.bottom};
    } else if (n == L"caption") {
        TRectI r = ParseRect(value);
        m_rcCaption = RECT{r.left, r.top, r.right, r.bottom};
    } else if (n == L"roundcorner") {
        ParseIntList(value, v, 2);
        SetRoundCorner(v[0], v[1]);
    } else if (n == L"mininfo") {
        ParseIntList(value, v, 2);
        SetMinInfo(v[0], v[1]);
    } else if (n == L"maxinfo") {
        ParseIntList(value, v, 2);
        SetMaxInfo(v[0], v[1]);
    } else if (n == L"defaultfontcolor") {
        m_dwDefaultTextColor = ParseColor(value);
    } else if (n == L"disabledfontcolor") {
        m_dwDefaultDisabledColor = ParseColor(value);
    } else if (n == L"linkfontcolor") {
        m_dwDefaultLinkColor = ParseColor(value);
    }
}

// ---- fonts ---------------------------------------------------------------------------------

static HFONT CreateUIFont(const std::wstring& face, int size, bool bold, bool underline, bool italic) {
    LOGFONTW lf = {};
    // sizes are pixel heights of the character cell, already scaled for the window's DPI
    lf.lfHeight = -size;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = underline;
    lf.lfItalic = italic;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = ANTIALIASED_QUALITY;
    lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

bool CPaintManagerUI::AddFont(int id, const wchar_t* name, int size, bool bold, bool underline, bool italic,
                              bool isDefault) {
    if (size <= 0 || size > 500) size = 12;
    TFontInfo info;
    info.sFontName = name && *name ? name : L"Tahoma";
    info.iSize = size;
    info.bBold = bold;
    info.bUnderline = underline;
    info.bItalic = italic;
    info.hFont.Reset(CreateUIFont(info.sFontName, ScaleValue(size), bold, underline, italic));
    if (!info.hFont) return false;
    CScopedWindowDC hdc = GetScopedDC(nullptr);
    if (hdc) {
        CScopedSelect sel(hdc.Get(), info.hFont.Get());
        GetTextMetricsW(hdc.Get(), &info.tm);
    }
    m_mFonts[id] = std::move(info);
    if (isDefault || m_iDefaultFont < 0) m_iDefaultFont = isDefault ? id : (m_iDefaultFont < 0 ? id : m_iDefaultFont);
    return true;
}

const TFontInfo* CPaintManagerUI::GetFontInfo(int id) {
    auto it = m_mFonts.find(id);
    if (it == m_mFonts.end()) it = m_mFonts.find(m_iDefaultFont);
    if (it != m_mFonts.end()) return &it->second;
    if (!m_fallbackFont.hFont) {
        NONCLIENTMETRICSW ncm = {};
        ncm.cbSize = sizeof(ncm);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
        m_fallbackFont.sFontName = ncm.lfMessageFont.lfFaceName[0] ? ncm.lfMessageFont.lfFaceName : L"Tahoma";
        m_fallbackFont.iSize = 12;
        m_fallbackFont.hFont.Reset(CreateUIFont(m_fallbackFont.sFontName, ScaleValue(12), false, false, false));
    }
    return &m_fallbackFont;
}

HFONT CPaintManagerUI::GetFont(int id) {
    const TFontInfo* f = GetFontInfo(id);
    return f && f->hFont ? f->hFont.Get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HFONT CPaintManagerUI::GetFontVariant(int id, bool bold, bool underline, bool italic) {
    const TFontInfo* f = GetFontInfo(id);
    if (!f) return GetFont(id);
    bold = bold || f->bBold, underline = underline || f->bUnderline, italic = italic || f->bItalic;
    if (bold == f->bBold && underline == f->bUnderline && italic == f->bItalic && f->hFont) return f->hFont.Get();
    wchar_t key[64];
    wsprintfW(key, L"%d|%d|%d|%d", f->iSize, bold ? 1 : 0, underline ? 1 : 0, italic ? 1 : 0);
    std::wstring k = f->sFontName + key;
    auto it = m_mFontVariants.find(k);
    if (it != m_mFontVariants.end()) return it->second.Get();
    HFONT h = CreateUIFont(f->sFontName, ScaleValue(f->iSize), bold, underline, italic);
    m_mFontVariants[k].Reset(h);
    return h ? h : GetFont(id);
}

void CPaintManagerUI::CreateFonts() {
    m_mFontVariants.clear();
    m_fallbackFont.hFont.Reset();
    CScopedWindowDC hdc = GetScopedDC(nullptr);
    for (auto& it : m_mFonts) {
        TFontInfo& info = it.second;
        HFONT h = CreateUIFont(info.sFontName, ScaleValue(info.iSize), info.bBold, info.bUnderline, info.bItalic);
        if (!h) continue;  // keeps the old size rather than no font
        info.hFont.Reset(h);
        if (hdc) {
            CScopedSelect sel(hdc.Get(), h);
            GetTextMetricsW(hdc.Get(), &info.tm);
        }
    }
}

void CPaintManagerUI::AddDefaultAttributeList(const wchar_t* pstrControlName, const wchar_t* pstrAttrList) {
    if (!pstrControlName || !pstrAttrList) return;
    m_mDefaultAttrs[LowerAscii(pstrControlName)] = pstrAttrList;
}

const wchar_t* CPaintManagerUI::GetDefaultAttributeList(const wchar_t* pstrControlName) const {
    auto it = m_mDefaultAttrs.find(LowerAscii(pstrControlName));
    return it == m_mDefaultAttrs.end() ? nullptr : it->second.c_str();
}

bool CPaintManagerUI::DrawImageString(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const std::wstring& image) {
    return CRenderEngine::DrawImageString(hDC, rcItem, rcPaint, image, m_uDpi);
}

// ---- accessibility -------------------------------------------------------------------------

void CPaintManagerUI::NotifyAccEvent(DWORD event, CControlUI* pControl) {
    if (!m_hWndPaint || !m_pRoot || !IsWindow(m_hWndPaint)) return;
    LONG id = CHILDID_SELF;
    if (pControl) {
        id = AccChildId(m_pRoot, pControl);
        if (id == CHILDID_SELF) return;  // not shown to screen readers
    }
    ::NotifyWinEvent(event, m_hWndPaint, OBJID_CLIENT, id);
}

bool CPaintManagerUI::QueueDefaultAction(CControlUI* pControl) {
    if (!pControl || !m_hWndPaint) return false;
    if (std::find(m_vAccActions.begin(), m_vAccActions.end(), pControl) == m_vAccActions.end())
        m_vAccActions.push_back(pControl);
    return PostMessageW(m_hWndPaint, AccActionMessage(), 0, 0) != FALSE;
}

void CPaintManagerUI::RunDefaultActions() {
    std::vector<CControlUI*> actions;
    actions.swap(m_vAccActions);
    for (size_t i = 0; i < actions.size(); ++i) {
        CControlUI* c = actions[i];
        // a control deleted by an earlier action was reaped from m_vAccActions, not from this copy
        if (!c->IsVisible() || !c->IsEnabled() || c->GetManager() != this) continue;
        // the mouse focuses first, then clicks
        c->SetFocus();
        c->Activate();
        if (!m_pRoot || !IsWindow(m_hWndPaint)) break;  // the click closed the window
    }
}

// ---- focus, timers, notifications ------------------------------------------------------------

void CPaintManagerUI::SetFocus(CControlUI* pControl) {
    struct TFocusEvent {
        CPaintManagerUI* pm;
        CControlUI* before;
        ~TFocusEvent() {
            if (pm->m_pFocus && pm->m_pFocus != before) pm->NotifyAccEvent(EVENT_OBJECT_FOCUS, pm->m_pFocus);
        }
    } focusEvent{this, m_pFocus};
    HWND focused = ::GetFocus();
    if (m_hWndPaint && focused != m_hWndPaint && !(focused && IsChild(m_hWndPaint, focused)) && pControl)
        ::SetFocus(m_hWndPaint);
    if (pControl == m_pFocus) return;
    if (m_pFocus) {
        CControlUI* old = m_pFocus;
        m_pFocus = nullptr;
        TEventUI ev;
        ev.Type = UIEVENT_KILLFOCUS;
        ev.pSender = pControl;
        ev.dwTimestamp = GetTickCount();
        old->Event(ev);
        SendNotify(old, L"killfocus");
    }
    if (pControl && pControl->GetManager() == this && pControl->IsVisible() && pControl->IsEnabled()) {
        m_pFocus = pControl;
        TEventUI ev;
        ev.Type = UIEVENT_SETFOCUS;
        ev.pSender = pControl;
        ev.dwTimestamp = GetTickCount();
        pControl->Event(ev);
        SendNotify(pControl, L"setfocus");
    }
}

bool CPaintManagerUI::SetNextTabControl(bool bForward) {
    if (!m_pRoot) return false;
    TTabList list;
    m_pRoot->FindControl(CollectTabStops, &list, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
    if (list.items.empty()) return false;
    auto it = std::find(list.items.begin(), list.items.end(), m_pFocus);
    size_t n = list.items.size(), i;
    if (it == list.items.end()) i = bForward ? 0 : n - 1;
    else i = (static_cast<size_t>(it - list.items.begin()) + (bForward ? 1 : n - 1)) % n;
    SetFocus(list.items[i]);
    return true;
}

bool CPaintManagerUI::SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse) {
    if (!pControl || !m_hWndPaint) return false;
    for (auto& t : m_vTimers) {
        if (t.pSender == pControl && t.nLocalID == nTimerID)
            return ::SetTimer(m_hWndPaint, t.uWinTimer, uElapse, nullptr) != 0;
    }
    UINT id = kFirstControlTimer + (m_uNextTimerID++ % kMaxControlTimers);
    if (!::SetTimer(m_hWndPaint, id, uElapse, nullptr)) return false;
    m_vTimers.push_back({pControl, nTimerID, id});
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* pControl, UINT nTimerID) {
    for (size_t i = 0; i < m_vTimers.size(); ++i) {
        if (m_vTimers[i].pSender == pControl && m_vTimers[i].nLocalID == nTimerID) {
            if (m_hWndPaint) ::KillTimer(m_hWndPaint, m_vTimers[i].uWinTimer);
            m_vTimers.erase(m_vTimers.begin() + i);
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::KillTimer(CControlUI* pControl) {
    for (size_t i = 0; i < m_vTimers.size();) {
        if (m_vTimers[i].pSender == pControl) {
            if (m_hWndPaint) ::KillTimer(m_hWndPaint, m_vTimers[i].uWinTimer);
            m_vTimers.erase(m_vTimers.begin() + i);
        } else {
            ++i;
        }
    }
}

bool CPaintManagerUI::AddNotifier(INotifyUI* p) {
    if (!p || std::find(m_vNotifiers.begin(), m_vNotifiers.end(), p) != m_vNotifiers.end()) return false;
    m_vNotifiers.push_back(p);
    return true;
}

bool CPaintManagerUI::RemoveNotifier(INotifyUI* p) {
    auto it = std::find(m_vNotifiers.begin(), m_vNotifiers.end(), p);
    if (it == m_vNotifiers.end()) return false;
    m_vNotifiers.erase(it);
    return true;
}

void CPaintManagerUI::SendNotify(CControlUI* pControl, const wchar_t* pstrMessage, WPARAM wParam, LPARAM lParam,
                                 bool bAsync) {
    TNotifyUI msg;
    msg.pSender = pControl;
    msg.sType = pstrMessage ? pstrMessage : L"";
    msg.wParam = wParam;
    msg.lParam = lParam;
    SendNotify(msg, bAsync);
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg, bool bAsync) {
    msg.ptMouse = m_ptLastMousePos;
    msg.dwTimestamp = GetTickCount();
    if (msg.pSender && msg.sVirtualWnd.empty()) {
        // the nearest ancestor that names a virtual window routes the notification
        for (CControlUI* p = msg.pSender; p; p = p->GetParent()) {
            if (!p->GetVirtualWnd().empty()) {
                msg.sVirtualWnd = p->GetVirtualWnd();
                break;
            }
        }
    }
    if (bAsync) {
        m_vAsyncNotify.push_back(msg);
        if (!m_bAsyncPosted && m_hWndPaint && PostMessageW(m_hWndPaint, AsyncNotifyMessage(), 0, 0)) m_bAsyncPosted = true;
        return;
    }
    // a receiver may add or remove receivers (or open a modal box): walk a copy
    std::vector<INotifyUI*> receivers = m_vNotifiers;
    for (INotifyUI* r : receivers) {
        if (std::find(m_vNotifiers.begin(), m_vNotifiers.end(), r) == m_vNotifiers.end()) continue;
        r->Notify(msg);
    }
}

void CPaintManagerUI::DispatchPendingNotifications() {
    m_bAsyncPosted = false;
    std::vector<TNotifyUI> pending;
    pending.swap(m_vAsyncNotify);
    for (auto& msg : pending) {
        std::vector<INotifyUI*> receivers = m_vNotifiers;
        for (INotifyUI* r : receivers) {
            if (std::find(m_vNotifiers.begin(), m_vNotifiers.end(), r) == m_vNotifiers.end()) continue;
            r->Notify(msg);
        }
    }
}

bool CPaintManagerUI::AddPreMessageFilter(IMessageFilterUI* p) {
    if (!p || std::find(m_vPreMessageFilters.begin(), m_vPreMessageFilters.end(), p) != m_vPreMessageFilters.end())
        return false;
    m_vPreMessageFilters.push_back(p);
    return true;
}

bool CPaintManagerUI::RemovePreMessageFilter(IMessageFilterUI* p) {
    auto it = std::find(m_vPreMessageFilters.begin(), m_vPreMessageFilters.end(), p);
    if (it == m_vPreMessageFilters.end()) return false;
    m_vPreMessageFilters.erase(it);
    return true;
}

bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* p) {
    if (!p || std::find(m_vMessageFilters.begin(), m_vMessageFilters.end(), p) != m_vMessageFilters.end()) return false;
    m_vMessageFilters.push_back(p);
    return true;
}

bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* p) {
    auto it = std::find(m_vMessageFilters.begin(), m_vMessageFilters.end(), p);
    if (it == m_vMessageFilters.end()) return false;
    m_vMessageFilters.erase(it);
    return true;
}

void CPaintManagerUI::Invalidate(const RECT& rcItem) {
    if (m_hWndPaint) InvalidateRect(m_hWndPaint, &rcItem, FALSE);
}

void CPaintManagerUI::Invalidate() {
    if (m_hWndPaint) InvalidateRect(m_hWndPaint, nullptr, FALSE);
}

CControlUI* CPaintManagerUI::FindShortcutControl(wchar_t ch) const {
    if (!m_pRoot) return nullptr;
    TShortcutFind f = {ch};
    return m_pRoot->FindControl(FindByShortcut, &f, UIFIND_ENABLED | UIFIND_VISIBLE | UIFIND_ME_FIRST | UIFIND_TOP_FIRST);
}

// ---- messages ------------------------------------------------------------------------------

bool CPaintManagerUI::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    std::vector<IMessageFilterUI*> filters = m_vPreMessageFilters;
    for (IMessageFilterUI* f : filters) {
        if (std::find(m_vPreMessageFilters.begin(), m_vPreMessageFilters.end(), f) == m_vPreMessageFilters.end())
            continue;
        bool handled = false;
        LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
        if (handled) {
            lRes = r;
            return true;
        }
    }
    switch (uMsg) {
        case WM_KEYDOWN:
            if (wParam == VK_TAB && m_pRoot) {
                // Tab inside a native edit leaves it too
                SetNextTabControl(GetKeyState(VK_SHIFT) >= 0);
                return true;
            }
            break;
        case WM_SYSCHAR: {
            // Alt+letter runs the control whose shortcut it is
            CControlUI* c = FindShortcutControl(static_cast<wchar_t>(wParam));
            if (c) {
                c->SetFocus();
                c->Activate();
                return true;
            }
            break;
        }
        default:
            break;
    }
    return false;
}

void CPaintManagerUI::UpdateLayout() {
    if (!m_pRoot || !m_hWndPaint) return;
    RECT rc;
    GetClientRect(m_hWndPaint, &rc);
    if (IsIconic(m_hWndPaint) || rc.right <= rc.left || rc.bottom <= rc.top) return;
    m_bUpdateNeeded = false;
    m_pRoot->SetPos(rc);
    if (m_bAccReorder) {
        m_bAccReorder = false;
        NotifyAccEvent(EVENT_OBJECT_REORDER, nullptr);
    }
}

void CPaintManagerUI::DoPaint() {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(m_hWndPaint, &ps);
    if (!hdc) return;
    RECT rcClient;
    GetClientRect(m_hWndPaint, &rcClient);
    const int cx = rcClient.right, cy = rcClient.bottom;
    if (!m_pRoot || cx <= 0 || cy <= 0) {
        EndPaint(m_hWndPaint, &ps);
        return;
    }
    if (!m_hDcOffscreen || m_szOffscreen.cx != cx || m_szOffscreen.cy != cy) {
        ReleaseOffscreen();
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = cx;
        bi.bmiHeader.biHeight = -cy;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_hbmpOffscreen.Reset(CreateDIBSection(hdc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        m_hDcOffscreen.Reset(m_hbmpOffscreen ? CreateCompatibleDC(hdc) : nullptr);
        if (m_hDcOffscreen) m_hOldOffscreen = SelectObject(m_hDcOffscreen.Get(), m_hbmpOffscreen.Get());
        m_szOffscreen = {cx, cy};
    }
    if (!m_hDcOffscreen) {
        // no memory for a back buffer: paint straight onto the window
        m_pRoot->DoPaint(hdc, ps.rcPaint);
        EndPaint(m_hWndPaint, &ps);
        return;
    }
    {
        CRenderClip clip(m_hDcOffscreen.Get(), ps.rcPaint);
        // what no control covers stays neutral instead of showing last frame's pixels
        CRenderEngine::DrawColor(m_hDcOffscreen.Get(), ps.rcPaint, 0xFFFFFFFF);
        m_pRoot->DoPaint(m_hDcOffscreen.Get(), ps.rcPaint);
    }
    BitBlt(hdc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left, ps.rcPaint.bottom - ps.rcPaint.top,
           m_hDcOffscreen.Get(), ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    EndPaint(m_hWndPaint, &ps);
}

void CPaintManagerUI::ArmMouseTracking(bool hover) {
    TRACKMOUSEEVENT tme = {};
    tme.cbSize = sizeof(tme);
    tme.dwFlags = TME_LEAVE | (hover ? TME_HOVER : 0);
    tme.hwndTrack = m_hWndPaint;
    tme.dwHoverTime = 400;
    TrackMouseEvent(&tme);
    m_bMouseTracking = true;
}

void CPaintManagerUI::SetHot(CControlUI* pNew, POINT pt) {
    if (pNew == m_pEventHover) return;
    CControlUI* old = m_pEventHover;
    m_pEventHover = pNew;
    m_pNoTipUntilLeave = nullptr;
    if (old) {
        TEventUI ev;
        ev.Type = UIEVENT_MOUSELEAVE;
        ev.pSender = old;
        ev.ptMouse = pt;
        ev.dwTimestamp = GetTickCount();
        old->Event(ev);
    }
    if (m_pTooltipFor && m_pTooltipFor != pNew) HideToolTip();
    if (pNew) {
        TEventUI ev;
        ev.Type = UIEVENT_MOUSEENTER;
        ev.pSender = pNew;
        ev.ptMouse = pt;
        ev.dwTimestamp = GetTickCount();
        pNew->Event(ev);
        // hover is measured per control, so it is armed again on every change
        ArmMouseTracking(true);
    }
}

void CPaintManagerUI::ShowToolTip(CControlUI* pControl, POINT pt) {
    if (!pControl || pControl->GetToolTip().empty()) return;
    if (!m_hwndTooltip) {
        m_hwndTooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWndPaint, nullptr,
                                        GetInstance(), nullptr);
        if (!m_hwndTooltip) return;
        SendMessageW(m_hwndTooltip, TTM_SETMAXTIPWIDTH, 0, 400);
    }
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    // transparent: a tip over another window (an open menu) must not take its clicks
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_TRANSPARENT;
    ti.hwnd = m_hWndPaint;
    ti.uId = 1;
    ti.lpszText = const_cast<wchar_t*>(pControl->GetToolTip().c_str());
    ti.rect = pControl->GetPos();
    SendMessageW(m_hwndTooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    SendMessageW(m_hwndTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    POINT screen = pt;
    ClientToScreen(m_hWndPaint, &screen);
    SendMessageW(m_hwndTooltip, TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x + 12, screen.y + 20));
    SendMessageW(m_hwndTooltip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
    m_pTooltipFor = pControl;
}

void CPaintManagerUI::HideToolTip() {
    if (!m_hwndTooltip) return;
    TOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = m_hWndPaint;
    ti.uId = 1;
    SendMessageW(m_hwndTooltip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
    m_pTooltipFor = nullptr;
}

// Painting, size and scale.
bool CPaintManagerUI::OnPaintMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    switch (uMsg) {
        case WM_ERASEBKGND:
            lRes = 1;
            return true;
        case WM_PAINT: {
            if (m_bUpdateNeeded) UpdateLayout();
            DoPaint();
            if (m_bFirstLayout && m_pRoot) {
                m_bFirstLayout = false;
                SendNotify(m_pRoot, L"windowinit", 0, 0, true);
            }
            lRes = 0;
            return true;
        }
        case WM_PRINTCLIENT: {
            if (!m_pRoot) return false;
            RECT rc;
            GetClientRect(m_hWndPaint, &rc);
            if (m_bUpdateNeeded) UpdateLayout();
            m_pRoot->DoPaint(reinterpret_cast<HDC>(wParam), rc);
            lRes = 0;
            return true;
        }
        case WM_SIZE: {
            if (m_pRoot) {
                m_bUpdateNeeded = true;
                if (wParam != SIZE_MINIMIZED) UpdateLayout();
                InvalidateRect(m_hWndPaint, nullptr, FALSE);
            }
            return false;  // the default procedure still runs
        }
        case WM_GETMINMAXINFO: {
            auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
            const SIZE mn = GetMinInfo(), mx = GetMaxInfo();
            if (mn.cx > 0) mmi->ptMinTrackSize.x = mn.cx;
            if (mn.cy > 0) mmi->ptMinTrackSize.y = mn.cy;
            if (mx.cx > 0) mmi->ptMaxTrackSize.x = mx.cx;
            if (mx.cy > 0) mmi->ptMaxTrackSize.y = mx.cy;
            return false;
        }
        case WM_DPICHANGED: {
            // moved to a screen of another scale: take the size Windows suggests and lay out again
            SetDPI(LOWORD(wParam));
            const RECT* rc = reinterpret_cast<const RECT*>(lParam);
            if (rc)
                SetWindowPos(m_hWndPaint, nullptr, rc->left, rc->top, rc->right - rc->left, rc->bottom - rc->top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
            lRes = 0;
            return true;
        }
        default:
            return false;
    }
}

// The pointer: hot control, tooltips, clicks with capture, cursor and wheel.
bool CPaintManagerUI::OnMouseMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    switch (uMsg) {
        case WM_MOUSEMOVE: {
            POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            m_ptLastMousePos = pt;
            if (!m_bMouseTracking) ArmMouseTracking(true);
            CControlUI* c = FindControl(pt);
            if (c && c->GetManager() != this) c = nullptr;
            SetHot(c, pt);
            if (m_pTooltipFor && m_pTooltipFor == c) {
                // the tip follows the pointer while it stays over its control
                POINT screen = pt;
                ClientToScreen(m_hWndPaint, &screen);
                SendMessageW(m_hwndTooltip, TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x + 12, screen.y + 20));
            }
            CControlUI* target = m_pEventClick ? m_pEventClick : c;
            if (target) {
                TEventUI ev = MakeEvent(UIEVENT_MOUSEMOVE, target, pt, wParam, lParam);
                target->Event(ev);
            }
            return false;
        }
        case WM_MOUSELEAVE: {
            m_bMouseTracking = false;
            HideToolTip();
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(m_hWndPaint, &pt);
            RECT rc;
            GetClientRect(m_hWndPaint, &rc);
            // over a native child (the edit box) the pointer has not really left
            if (!PtInRect(&rc, pt) || WindowFromPoint([&] { POINT s = pt; ClientToScreen(m_hWndPaint, &s); return s; }()) == m_hWndPaint)
                SetHot(nullptr, pt);
            return false;
        }
        case WM_MOUSEHOVER: {
            POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            CControlUI* c = FindControl(pt);
            if (c) {
                TEventUI ev = MakeEvent(UIEVENT_MOUSEHOVER, c, pt, wParam, lParam);
                c->Event(ev);
                // after a click the tip waits until the pointer comes back; so does an inactive window
                if (c != m_pNoTipUntilLeave && GetActiveWindow() == m_hWndPaint) ShowToolTip(c, pt);
            }
            return false;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
            POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            m_ptLastMousePos = pt;
            HideToolTip();
            CControlUI* c = FindControl(pt);
            m_pNoTipUntilLeave = c;
            if (!c || c->GetManager() != this) {
                SetFocus(nullptr);
                return false;
            }
            if (!c->IsEnabled()) return false;
            // focus first: activating the window on the way would take a capture set before it
            c->SetFocus();
            if (FindControl(pt) != c) return false;  // a receiver of the focus change rebuilt the page
            m_pEventClick = c;
            SetCapture(m_hWndPaint);
            TEventUI ev = MakeEvent(uMsg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN : UIEVENT_DBLCLICK, c, pt, wParam, lParam);
            c->Event(ev);
            return false;
        }
        case WM_LBUTTONUP: {
            POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            m_ptLastMousePos = pt;
            // taken before ReleaseCapture, whose WM_CAPTURECHANGED would otherwise abandon the click
            CControlUI* c = m_pEventClick;
            m_pEventClick = nullptr;
            if (GetCapture() == m_hWndPaint) ReleaseCapture();
            if (!c) return false;
            TEventUI ev = MakeEvent(UIEVENT_BUTTONUP, c, pt, wParam, lParam);
            c->Event(ev);
            return false;
        }
        case WM_CAPTURECHANGED:
        case WM_CANCELMODE: {
            if (uMsg == WM_CAPTURECHANGED && reinterpret_cast<HWND>(lParam) == m_hWndPaint) return false;
            // capture taken away (a menu or box opened): the pressed control lets go
            if (m_pEventClick) {
                CControlUI* c = m_pEventClick;
                m_pEventClick = nullptr;
                TEventUI ev = MakeEvent(UIEVENT_KILLFOCUS, c, m_ptLastMousePos, wParam, lParam);
                c->Event(ev);
            }
            return false;
        }
        case WM_SETCURSOR: {
            if (LOWORD(lParam) != HTCLIENT) return false;
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(m_hWndPaint, &pt);
            CControlUI* c = FindControl(pt);
            if (!c) return false;
            TEventUI ev = MakeEvent(UIEVENT_SETCURSOR, c, pt, wParam, lParam);
            ev.wParam = 0;
            c->Event(ev);
            if (ev.wParam) {
                lRes = TRUE;
                return true;
            }
            return false;
        }
        case WM_MOUSEWHEEL: {
            POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ScreenToClient(m_hWndPaint, &pt);
            CControlUI* c = FindControl(pt);
            if (!c) return false;
            TEventUI ev = MakeEvent(UIEVENT_SCROLLWHEEL, c, pt, wParam, lParam);
            c->Event(ev);
            return false;
        }
        default:
            return false;
    }
}

// Keys go to the focused control; losing the keyboard abandons a half-done click.
bool CPaintManagerUI::OnKeyboardMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    switch (uMsg) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CHAR: {
            if (!m_pFocus) return false;
            TEventUI ev = MakeEvent(uMsg == WM_KEYDOWN ? UIEVENT_KEYDOWN : (uMsg == WM_KEYUP ? UIEVENT_KEYUP : UIEVENT_CHAR),
                                    m_pFocus, m_ptLastMousePos, wParam, lParam);
            ev.chKey = static_cast<wchar_t>(wParam);
            m_pFocus->Event(ev);
            return false;
        }
        case WM_KILLFOCUS: {
            // another window took the keyboard: a half-done click is abandoned
            if (m_pEventClick) {
                CControlUI* c = m_pEventClick;
                m_pEventClick = nullptr;
                if (GetCapture() == m_hWndPaint) ReleaseCapture();
                TEventUI ev = MakeEvent(UIEVENT_KILLFOCUS, c, m_ptLastMousePos, wParam, lParam);
                c->Event(ev);
            }
            HideToolTip();
            return false;
        }
        default:
            return false;
    }
}

// What screen readers ask for, and the object they may hold past the window.
bool CPaintManagerUI::OnAccessibilityMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    switch (uMsg) {
        case WM_GETOBJECT: {
            // only the client is ours; the frame and the rest stay with the system
            if (static_cast<LONG>(lParam) != static_cast<LONG>(OBJID_CLIENT) || !m_pRoot) return false;
            if (!m_pAccessible) m_pAccessible = CreateAccessible(this);
            lRes = AccLresultFromObject(IID_IAccessible, wParam, AccessibleUnknown(m_pAccessible));
            return lRes != 0;
        }
        case WM_DESTROY: {
            if (m_pAccessible) {
                // clients may hold the object past the window's life
                DetachAccessible(m_pAccessible);
                ReleaseAccessible(m_pAccessible);
                m_pAccessible = nullptr;
            }
            return false;
        }
        default:
            return false;
    }
}

// Control timers and the native edit box.
bool CPaintManagerUI::OnChildMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    switch (uMsg) {
        case WM_TIMER: {
            for (auto& t : m_vTimers) {
                if (t.uWinTimer == wParam) {
                    TEventUI ev = MakeEvent(UIEVENT_TIMER, t.pSender, m_ptLastMousePos, wParam, lParam);
                    ev.wParam = t.nLocalID;
                    t.pSender->Event(ev);
                    lRes = 0;
                    return true;
                }
            }
            return false;
        }
        case WM_COMMAND: {
            HWND child = reinterpret_cast<HWND>(lParam);
            if (child && HIWORD(wParam) == EN_CHANGE) {
                auto* edit = static_cast<CEditUI*>(GetPropW(child, kEditOwnerProp));
                if (edit && edit->GetManager() == this) {
                    edit->OnNativeTextChanged();
                    lRes = 0;
                    return true;
                }
            }
            return false;
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC: {
            HWND child = reinterpret_cast<HWND>(lParam);
            auto* edit = child ? static_cast<CEditUI*>(GetPropW(child, kEditOwnerProp)) : nullptr;
            if (edit && edit->GetManager() == this) {
                HBRUSH br = edit->OnNativeCtlColor(reinterpret_cast<HDC>(wParam));
                if (br) {
                    lRes = reinterpret_cast<LRESULT>(br);
                    return true;
                }
            }
            return false;
        }
        default:
            return false;
    }
}

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    if (!m_hWndPaint) return false;
    {
        std::vector<IMessageFilterUI*> filters = m_vMessageFilters;
        for (IMessageFilterUI* f : filters) {
            bool handled = false;
            LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
            if (handled) {
                lRes = r;
                return true;
            }
        }
    }
    if (uMsg == AsyncNotifyMessage() && uMsg != 0) {
        DispatchPendingNotifications();
        lRes = 0;
        return true;
    }
    if (uMsg == AccActionMessage() && uMsg != 0) {
        RunDefaultActions();
        lRes = 0;
        return true;
    }
    // each handler knows its own messages only; false also lets the default procedure run
    return OnPaintMessage(uMsg, wParam, lParam, lRes) || OnMouseMessage(uMsg, wParam, lParam, lRes) ||
           OnKeyboardMessage(uMsg, wParam, lParam, lRes) || OnAccessibilityMessage(uMsg, wParam, lParam, lRes) ||
           OnChildMessage(uMsg, wParam, lParam, lRes);
}

}  // namespace DuiLib
