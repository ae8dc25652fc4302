// The window wrapper and the base class of every skinned window.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "ui/uidefs.h"
#include "ui/uimanager.h"

namespace DuiLib {

// Posted to itself by a window at its creation: InitAfterShow is due.
constexpr UINT UIMSG_INIT_AFTER_SHOW = 1802;

class CControlUI;

// Wraps one HWND: registers the class, routes messages to HandleMessage, and calls
// OnFinalMessage after the window is gone (where a heap window may delete itself).
class CWindowWnd {
public:
    CWindowWnd() = default;
    // A window that outlives its object (the loop ended on WM_QUIT) is cut loose and destroyed,
    // so no later message reaches freed memory.
    virtual ~CWindowWnd();
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    HWND GetHWND() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    HWND Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU hMenu = nullptr);
    HWND Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT& rc,
                HMENU hMenu = nullptr);
    void ShowWindow(bool bShow = true, bool bTakeFocus = true);
    // Runs a modal loop: the owner is disabled until this window is gone. Returns the wParam of
    // the WM_CLOSE that ended it.
    UINT ShowModal();
    // Posts WM_CLOSE with nRet as wParam.
    void Close(UINT nRet = IDOK);
    // Centres on the owner, or on the work area of the window's monitor when there is none.
    void CenterWindow();
    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    void ResizeClient(int cx = -1, int cy = -1);

protected:
    virtual const wchar_t* GetWindowClassName() const = 0;
    virtual UINT GetClassStyle() const { return 0; }
    // an icon resource of the class: in place from creation on, not sent to a window already made
    virtual UINT GetClassIconId() const { return 0; }
    virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    virtual void OnFinalMessage(HWND hWnd) {}
    bool RegisterWindowClass();
    static LRESULT CALLBACK __WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
};

// Routes notifications to handlers registered by virtual-window name, else to this object.
class CNotifyPump {
public:
    virtual ~CNotifyPump() = default;
    bool AddVirtualWnd(const std::wstring& strName, CNotifyPump* pObject);
    bool RemoveVirtualWnd(const std::wstring& strName);
    void NotifyPump(TNotifyUI& msg);
    // The object's own handling; true when it took the notification.
    virtual bool LoopDispatch(TNotifyUI& msg) { return false; }

private:
    std::vector<std::pair<std::wstring, CNotifyPump*>> m_vVirtualWnd;
};

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
public:
    enum UILIB_RESOURCETYPE {
        UILIB_FILE = 1,         // skin file in the resource folder
        UILIB_ZIP = 2,          // a ZIP file named by GetZIPFileName
        UILIB_RESOURCE = 3,     // markup in a numbered resource of type "xml"
        UILIB_ZIPRESOURCE = 4,  // a ZIP archive in a "ZIPRES" resource
    };

    WindowImplBase() = default;
    ~WindowImplBase() override = default;

    // Start-up callback: the controls exist.
    virtual void InitWindow() {}
    // Start-up work the first paint does not need: posted from WM_CREATE, so it runs once the
    // window is shown (and painted, see app/main.cpp) and before any input or later message.
    virtual void InitAfterShow() {}
    // Final callback: leaves the paint manager and releases the control tree.
    void OnFinalMessage(HWND hWnd) override;
    // Notification receiver: the default routing (virtual windows, then the click defaults).
    void Notify(TNotifyUI& msg) override;
    bool LoopDispatch(TNotifyUI& msg) override;
    // Default click handling of the title-bar buttons.
    virtual void OnClick(TNotifyUI& msg);

    CPaintManagerUI m_PaintManager;

protected:
    virtual std::wstring GetSkinFolder() = 0;
    virtual std::wstring GetSkinFile() = 0;
    const wchar_t* GetWindowClassName() const override = 0;
    UINT GetClassStyle() const override { return CS_DBLCLKS; }
    virtual UILIB_RESOURCETYPE GetResourceType() const { return UILIB_FILE; }
    // Resource id of the "ZIPRES" skin package (kind 4).
    virtual const wchar_t* GetResourceID() const { return L""; }
    // The ZIP file of kind 2, relative to the resource folder.
    virtual std::wstring GetZIPFileName() const { return L""; }
    CControlUI* CreateControl(const wchar_t* pstrClass) override { return nullptr; }

    // Pre-translation filter: Escape closes the window (wParam 1); Enter does nothing.
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
    virtual LRESULT ResponseDefaultKeyEvent(WPARAM wParam, bool& bHandled);

    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    // Every message the base handlers leave comes here first.
    virtual LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

    virtual LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnSetFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnKillFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnGetMinMaxInfo(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnNcCalcSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    // The sizing border's edge or corner under a client point; HTNOWHERE elsewhere or when zoomed.
    LRESULT SizingHitTest(POINT pt) const;
    // Inside the sizing border: caption (drags the window) or client. The default takes the
    // markup's caption rectangle, where only buttons, options and texts are client.
    virtual LRESULT ClientHitTest(POINT pt);
    virtual LRESULT OnNcPaint(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnNcActivate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnKeyDown(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnChar(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnLButtonDown(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnLButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnMouseWheel(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
    virtual LRESULT OnMouseHover(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);

    // Shows the failure box and ends the process with exit code 1.
    virtual void OnSkinLoadFailure(const std::wstring& reason);
};

}  // namespace DuiLib
