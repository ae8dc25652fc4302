// The installer's one main window: its pages and controls. mainframe.cpp holds the pages, the
// controls' actions, the drag behaviour and the route table of the window's messages;
// settingmenu.cpp the menu, the log archive and the quit box. The download-and-install workflow
// is CWorkflow (installer/workflow.h), which sees the window only as its IWorkflowView.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "installer/messages.h"
#include "installer/workflow.h"
#include "ui/UIlib.h"

static_assert(WM_USER_MENU_ITEM_CLICK == DuiLib::UIMSG_MENU_ITEM_CLICK, "the menu window posts this number");

class CMessageBoxWnd;

class CMainFrameWnd : public DuiLib::WindowImplBase, public DuiLib::IMenuObserver, private IWorkflowView {
public:
    explicit CMainFrameWnd(const WorkflowOptions& options);
    ~CMainFrameWnd() override;

    // ---- identity and skin ----
    const wchar_t* GetWindowClassName() const override { return L"VdInstMainFrameWndClass"; }
    UINT GetClassIconId() const override { return 121; }
    std::wstring GetSkinFolder() override { return L"skin"; }
    std::wstring GetSkinFile() override { return L"MainFrameWnd.xml"; }
    UILIB_RESOURCETYPE GetResourceType() const override { return UILIB_ZIPRESOURCE; }
    const wchar_t* GetResourceID() const override { return MAKEINTRESOURCEW(122); }

    void InitWindow() override;
    void InitAfterShow() override;
    void Notify(DuiLib::TNotifyUI& msg) override;
    void OnMenuShown(DuiLib::CMenuUI* pMenu) override;
    void OnMenuClosed(DuiLib::CMenuUI* pMenu) override;
    // What the process exits with once the loop has ended.
    int ExitCode() const { return m_p_workflow ? m_p_workflow->ExitCode() : 0; }

protected:
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    // The whole window drags but for its clickable controls.
    LRESULT ClientHitTest(POINT pt) override;
    // The window has one size: maximise and size commands (Win+Up, Aero Snap) are refused.
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    // Enter and Escape do nothing in this window.
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;

private:
    // One row per message of this window: the handler is the workflow's or the window's own.
    struct Route {
        UINT m_n_msg;
        void (CWorkflow::*m_pfn_flow)(WPARAM, LPARAM);
        void (CMainFrameWnd::*m_pfn_window)(WPARAM, LPARAM);
    };
    static const Route kRoutes[];

    // ---- what the workflow sees (IWorkflowView) ----
    HWND WorkerTarget() const override { return m_hWnd; }
    void ShowPage(int page) override { ShowUIStatus(page); }
    void ShowProgress(int percent, const std::wstring& percentText, const std::wstring& speedText,
                      bool hideResumeNote) override;
    void ShowManualDownload() override { ShowManualDownUI(); }
    void SetFailureLabel(const wchar_t* text) override;
    void EnableClose(bool enable) override;
    void ShowCountdown(int seconds) override;
    void StartTimer(UINT_PTR id, UINT ms) override;
    void StopTimer(UINT_PTR id) override;
    void PostToSelf(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void EndLoop(int exitCode) override;
    bool GetInstallDirText(std::wstring& text) const override;
    void SetInstallDirText(const std::wstring& text) override;
    std::wstring UserDir() const override { return m_s_user_dir; }
    wchar_t UserDrive() const override { return m_s_user_drive; }
    int MonitorChoice() const override;

    // ---- pages and controls ----
    void ShowUIStatus(int page);
    void ResizeClientHeight(int height);
    // From a click the box's state before it flips decides; otherwise `flag` does. Either way
    // true disables the controls.
    void EnableEasyInstallButtons(bool fromClick, bool flag);
    void EnableCustomInstallControls(bool fromClick, bool flag);
    void UpdateCustomInstallNowBtn();
    void BrowseInstallDir();
    void SetUserInstallDir(wchar_t drive, const wchar_t* folder);
    void ShowFailureControls(bool show);
    void ShowManualDownUI();
    // Install-now and retry clicks: the progress page and the download message.
    void OnInstallClick(bool fromRetry);
    // Looks a control up by name; null when the markup has none.
    DuiLib::CControlUI* FindControl(const wchar_t* name) const;
    void Prepare4QuitApp(int exitCode = 0) { m_p_workflow->Prepare4QuitApp(exitCode); }

    // ---- the window's own messages and timers ----
    void OnWakeUp(WPARAM wParam, LPARAM lParam);
    void OnShowMsgBox(WPARAM wParam, LPARAM lParam);
    // The quit box's and the menu's messages (1027, 1028, 1036, 1801).
    void OnBoxMessage(UINT uMsg, WPARAM wParam);
    void OnCloseMsgBox(WPARAM wParam, LPARAM) { OnBoxMessage(WM_USER_CLOSE_MSGBOX, wParam); }
    void OnQuitApp(WPARAM wParam, LPARAM) { OnBoxMessage(WM_USER_QUIT_APP, wParam); }
    void OnMinimizeAll(WPARAM wParam, LPARAM) { OnBoxMessage(WM_USER_MINIMIZE_ALL, wParam); }
    void OnMenuReport(WPARAM wParam, LPARAM lParam);
    // The header pictures and the installing dots here; the workflow's timers there.
    void OnTimer(WPARAM wParam, LPARAM lParam);

    // ---- settings menu, log archive, quit box ----
    void ShowSettingMenu(DuiLib::CControlUI* button);
    void OnMenuItemClick(DuiLib::TNotifyUI& msg);
    void CollectLogs();
    void ShowQuitMessageBox();

    std::unique_ptr<CWorkflow> m_p_workflow;

    // ---- references kept after the markup is built ----
    DuiLib::CControlUI* m_p_title_h_layout = nullptr;
    DuiLib::CControlUI* m_p_title_h_layout_300 = nullptr;
    DuiLib::CControlUI* m_p_easyui_h_layout = nullptr;
    DuiLib::CControlUI* m_p_customui_h_layout = nullptr;
    DuiLib::CControlUI* m_p_successui_h_layout = nullptr;
    DuiLib::CControlUI* m_p_instalingui_h_layout_80 = nullptr;

    int m_n_ui_status = UI_STATUS_UI_EASY;
    int m_n_installing_dots = 0;
    int m_n_bg_index = 1;
    // The folder chosen by browsing or typing, and the drive of the last browsed one.
    std::wstring m_s_user_dir;
    wchar_t m_s_user_drive = 0;
    // Whether the custom page's agreement currently allows installing.
    bool m_b_custom_agreed = true;
    // The quit box while it runs; messages naming any other box are stale and ignored.
    CMessageBoxWnd* m_p_msgbox = nullptr;
};

// The one main window of the process; null outside the windowed run.
extern CMainFrameWnd* gptrMainFrame;

// The hit-test rule over controls, without the window: the caption unless the class takes clicks.
bool IsClickableControlClass(const wchar_t* cls);
