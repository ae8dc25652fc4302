// The paint manager: binds one window to its control tree, paints it double-buffered, turns
// window input into control events and control events into notifications.
#pragma once
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/uidefs.h"
#include "ui/uiresource.h"

namespace DuiLib {

struct TFontInfo {
    CScopedGdiObject<HFONT> hFont;
    std::wstring sFontName;
    int iSize = 0;
    bool bBold = false;
    bool bUnderline = false;
    bool bItalic = false;
    TEXTMETRICW tm = {};
};

class CAccessibleUI;

class CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // --- process-wide ---
    // Remembers the module and starts GDI+.
    static void SetInstance(HINSTANCE hInst);
    static HINSTANCE GetInstance();
    // Folder of the program's own file, with a trailing backslash.
    static std::wstring GetInstancePath();
    // Module whose resources hold the skin (defaults to the instance).
    static void SetResourceInstance(HINSTANCE hInst);
    static HINSTANCE GetResourceInstance();
    static void SetResourcePath(const wchar_t* path);
    static const std::wstring& GetResourcePath();
    // Opens a copy of the bytes as the current archive under `name`.
    static bool SetResourceZip(const void* data, size_t len, const wchar_t* name);
    static bool SetResourceZip(const wchar_t* zipPath);
    // Name of the current archive ("membuffer" for the resource copy), empty when none.
    static const std::wstring& GetResourceZip();
    // GetMessage/TranslateMessage/DispatchMessage until WM_QUIT, with pre-translation filters.
    static void MessageLoop();
    // Runs the pre-translation filters of the window that owns msg->hwnd; true when one ate it.
    static bool TranslateMessage(const LPMSG pMsg);
    static void Term();

    // --- this window ---
    void Init(HWND hWnd);
    HWND GetPaintWindow() const { return m_hWndPaint; }
    HDC GetPaintDC() const;
    POINT GetMousePos() const { return m_ptLastMousePos; }

    bool AttachDialog(CControlUI* pControl);
    // Detaches and deletes the control tree.
    void ReleaseDialog();
    CControlUI* GetRoot() const { return m_pRoot; }
    bool InitControls(CControlUI* pControl, CControlUI* pParent = nullptr);
    // Called by a control that leaves the tree or is deleted, so no stale pointer stays here.
    void ReapObjects(CControlUI* pControl);

    CControlUI* FindControl(const wchar_t* pstrName) const;
    CControlUI* FindControl(POINT pt) const;
    CControlUI* FindSubControlByName(CControlUI* pParent, const wchar_t* pstrName) const;

    // Scale: markup lengths are given at 96 DPI; the window's DPI turns them into pixels.
    // The window's DPI: GetDpiForWindow where the system has it, else its monitor's
    // (GetDpiForMonitor), else the screen's LOGPIXELSX.
    static UINT GetWindowDpi(HWND hWnd);
    // 0 where the system has no GetDpiForMonitor (before Windows 8.1).
    static UINT GetMonitorDpi(HWND hWnd);
    UINT GetDPI() const { return m_uDpi; }
    int ScaleValue(int v) const { return m_uDpi == 96 ? v : MulDiv(v, static_cast<int>(m_uDpi), 96); }
    RECT ScaleRect(const RECT& rc) const {
        return RECT{ScaleValue(rc.left), ScaleValue(rc.top), ScaleValue(rc.right), ScaleValue(rc.bottom)};
    }
    SIZE ScaleSize(SIZE sz) const { return SIZE{ScaleValue(sz.cx), ScaleValue(sz.cy)}; }
    // Fonts are made again and the tree laid out again; the window's size is the caller's.
    void SetDPI(UINT dpi);

    // Window attributes from markup; setters take markup lengths, getters give pixels.
    SIZE GetInitSize() const { return ScaleSize(m_szInitWindowSize); }
    void SetInitSize(int cx, int cy);
    RECT GetSizeBox() const { return ScaleRect(m_rcSizeBox); }
    void SetSizeBox(const RECT& rc) { m_rcSizeBox = rc; }
    RECT GetCaptionRect() const { return ScaleRect(m_rcCaption); }
    void SetCaptionRect(const RECT& rc) { m_rcCaption = rc; }
    SIZE GetRoundCorner() const { return ScaleSize(m_szRoundCorner); }
    void SetRoundCorner(int cx, int cy) { m_szRoundCorner = {cx, cy}; }
    SIZE GetMinInfo() const { return ScaleSize(m_szMinWindow); }
    void SetMinInfo(int cx, int cy) { m_szMinWindow = {cx, cy}; }
    SIZE GetMaxInfo() const { return ScaleSize(m_szMaxWindow); }
    void SetMaxInfo(int cx, int cy) { m_szMaxWindow = {cx, cy}; }
    void SetWindowAttribute(const wchar_t* name, const wchar_t* value);

    // Fonts by numeric id; the default font serves controls that name none or an unknown one.
    bool AddFont(int id, const wchar_t* name, int size, bool bold, bool underline, bool italic, bool isDefault);
    HFONT GetFont(int id);
    const TFontInfo* GetFontInfo(int id);
    // The same face and size with other styles (showhtml runs), cached.
    HFONT GetFontVariant(int id, bool bold, bool underline, bool italic);
    void SetDefaultTextColor(DWORD c) { m_dwDefaultTextColor = c; }
    DWORD GetDefaultTextColor() const { return m_dwDefaultTextColor; }
    DWORD GetDefaultDisabledColor() const { return m_dwDefaultDisabledColor; }
    DWORD GetDefaultLinkColor() const { return m_dwDefaultLinkColor; }

    // Default attribute lists by control class.
    void AddDefaultAttributeList(const wchar_t* pstrControlName, const wchar_t* pstrAttrList);
    const wchar_t* GetDefaultAttributeList(const wchar_t* pstrControlName) const;

    // Accessibility: WinEvents for a control of this window (nullptr: the client itself).
    void NotifyAccEvent(DWORD event, CControlUI* pControl);
    // Controls were shown or hidden: screen readers hear of it after the next layout.
    void AccTreeChanged() { m_bAccReorder = true; }
    // The click a mouse would make, run from the window's queue; false when it cannot be posted.
    bool QueueDefaultAction(CControlUI* pControl);

    // Drawing an image attribute of a control (looked up in the cache).
    bool DrawImageString(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const std::wstring& image);

    // Focus among the controls of this window.
    CControlUI* GetFocus() const { return m_pFocus; }
    void SetFocus(CControlUI* pControl);
    // Moves the focus to the next (or previous) control that takes keyboard focus.
    bool SetNextTabControl(bool bForward = true);

    // Control timers; window timers set with ::SetTimer on the window are not touched.
    bool SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse);
    bool KillTimer(CControlUI* pControl, UINT nTimerID);
    void KillTimer(CControlUI* pControl);

    // Notifications.
    bool AddNotifier(INotifyUI* pControl);
    bool RemoveNotifier(INotifyUI* pControl);
    // Async notifications are queued and sent from a posted message.
    void SendNotify(CControlUI* pControl, const wchar_t* pstrMessage, WPARAM wParam = 0, LPARAM lParam = 0,
                    bool bAsync = false);
    void SendNotify(TNotifyUI& msg, bool bAsync = false);

    bool AddPreMessageFilter(IMessageFilterUI* pFilter);
    bool RemovePreMessageFilter(IMessageFilterUI* pFilter);
    bool AddMessageFilter(IMessageFilterUI* pFilter);
    bool RemoveMessageFilter(IMessageFilterUI* pFilter);

    void NeedUpdate() { m_bUpdateNeeded = true; }
    void Invalidate(const RECT& rcItem);
    void Invalidate();

    // Pre-translation (filters, Alt+shortcut, Tab); true when the message was consumed.
    bool PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    // The framework's own handling of a window message; true when it produced the result.
    bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

private:
    // MessageHandler's parts, by kind of message; each answers false to messages not its own.
    bool OnPaintMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool OnMouseMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool OnKeyboardMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool OnAccessibilityMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool OnChildMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    void DoPaint();
    void ReleaseOffscreen();
    void UpdateLayout();
    void SetHot(CControlUI* pControl, POINT pt);
    void ShowToolTip(CControlUI* pControl, POINT pt);
    void HideToolTip();
    void DispatchPendingNotifications();
    void RunDefaultActions();
    void CreateFonts();
    void ArmMouseTracking(bool hover);
    CControlUI* FindShortcutControl(wchar_t ch) const;

    HWND m_hWndPaint = nullptr;
    HWND m_hwndTooltip = nullptr;
    CControlUI* m_pRoot = nullptr;
    CControlUI* m_pFocus = nullptr;
    CControlUI* m_pEventHover = nullptr;
    CControlUI* m_pEventClick = nullptr;
    CControlUI* m_pTooltipFor = nullptr;
    CControlUI* m_pNoTipUntilLeave = nullptr;  // clicked: no tip until the pointer leaves it
    POINT m_ptLastMousePos = {-1, -1};
    bool m_bMouseTracking = false;
    bool m_bUpdateNeeded = false;
    bool m_bFirstLayout = true;

    // the back buffer
    CScopedMemDC m_hDcOffscreen;
    CScopedGdiObject<HBITMAP> m_hbmpOffscreen;
    HGDIOBJ m_hOldOffscreen = nullptr;
    SIZE m_szOffscreen = {0, 0};

    SIZE m_szInitWindowSize = {0, 0};
    RECT m_rcSizeBox = {0, 0, 0, 0};
    RECT m_rcCaption = {0, 0, 0, 0};
    SIZE m_szRoundCorner = {0, 0};
    SIZE m_szMinWindow = {0, 0};
    SIZE m_szMaxWindow = {0, 0};

    std::map<int, TFontInfo> m_mFonts;
    std::map<std::wstring, CScopedGdiObject<HFONT>> m_mFontVariants;
    int m_iDefaultFont = -1;
    TFontInfo m_fallbackFont;
    DWORD m_dwDefaultTextColor = 0xFF000000;
    DWORD m_dwDefaultDisabledColor = 0xFFA7A6AA;
    DWORD m_dwDefaultLinkColor = 0xFF0000FF;
    std::map<std::wstring, std::wstring> m_mDefaultAttrs;  // class name, lower case

    struct TTimerInfo {
        CControlUI* pSender;
        UINT nLocalID;
        UINT uWinTimer;
    };
    std::vector<TTimerInfo> m_vTimers;
    UINT m_uNextTimerID = 0;

    std::vector<INotifyUI*> m_vNotifiers;
    std::vector<IMessageFilterUI*> m_vPreMessageFilters;
    std::vector<IMessageFilterUI*> m_vMessageFilters;
    std::vector<TNotifyUI> m_vAsyncNotify;
    bool m_bAsyncPosted = false;

    UINT m_uDpi = 96;
    CAccessibleUI* m_pAccessible = nullptr;
    std::vector<CControlUI*> m_vAccActions;
    bool m_bAccReorder = false;
};

}  // namespace DuiLib
