// The installer's one main window: its pages and controls, and the workflow that drives it.
//
// The members are shared by several source files of installer/: mainframe.cpp holds the pages,
// the controls' actions, the drag behaviour and the window's identity; settingmenu.cpp the menu,
// the log archive and the quit box; the download-and-install workflow (messages 1029-1035,
// 1037-1040, the timers, validation and installation) lives in files of its own.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "net/serverinfo.h"
#include "probes/vdutils.h"
#include "ui/UIlib.h"

namespace VdFoundationHttpDownload {
class CMtHttpDownload;
struct DownloadProgressInfo;
}  // namespace VdFoundationHttpDownload

// Window messages of the main window; numbers are fixed (other processes and the menu window
// rely on them). A heap object passed in wParam belongs to the receiver.
//
// Threads: everything below runs on the window's thread, which alone owns the window's members,
// the server-info records and the download manager (it alone starts and stops it). Workers get
// copies of what they need and the window handle, and answer only by posting these messages;
// nothing a worker touches is owned by the window, so a worker may outlive it (a quit never waits
// for a server).
enum : UINT {
    WM_USER_SHOW_MSGBOX = 1026,          // 0
    WM_USER_CLOSE_MSGBOX = 1027,         // the box window object
    WM_USER_QUIT_APP = 1028,             // the box window object
    WM_USER_INST_SERVER_INFO = 1029,     // new InstServerInfo
    WM_USER_SHOW_PROGRESS = 1030,        // new DownloadProgressInfo
    WM_USER_OPEN_INST_URL = 1031,        // 0
    WM_USER_OPEN_AGREEMENT = 1032,       // 0
    WM_USER_MT_HTTP_DOWNLOAD = 1033,     // 1 for an automatic restart, else 0
    WM_USER_EXEC_INST_FEEDBACK = 1034,   // 1 success, 0 failure
    WM_USER_OPEN_SUCCESS_PAGE = 1035,    // 0
    WM_USER_MINIMIZE_ALL = 1036,         // the box window object
    WM_USER_INST_SDXZ_INFO = 1037,       // new InstServerInfo; lParam 1: kept, nothing else done
    WM_USER_USE_LOCAL_INST_EXE = 1038,   // new std::wstring: package path
    WM_USER_OPEN_TARGET_URL = 1039,      // new std::wstring: URL
    WM_USER_JOIN_GROUP = 1040,           // 0
    // The download worker's answer, for the window's thread to act on: new DownloadOrder.
    WM_USER_START_DOWNLOAD = 1041,
    WM_USER_MENU_ITEM_CLICK = 1801,      // new DuiLib::TNotifyUI
};
static_assert(WM_USER_MENU_ITEM_CLICK == DuiLib::UIMSG_MENU_ITEM_CLICK, "the menu window posts this number");

// Timers of the main window.
enum : UINT_PTR {
    VD_TIMER_ID_EXIT = 1999,                   // 1000 ms, success countdown
    VD_TIMER_ID_PROGRESS_BG = 2000,            // 5000 ms, progress-page header pictures
    VD_TIMER_ID_Check_Download_Status = 2001,  // 5000 ms, restart rule
    VD_TIMER_ID_INSTALLING = 2002,             // 1000 ms, installing dots
    VD_TIMER_ID_HIDDEN_FAILURE_EXIT = 2003,    // once, a hidden run that reached the failure page
};

// Exit code of a run with the install switch (hidden window) that ended on the failure page.
constexpr int kExitHiddenRunFailed = -5;

// The page state; the values are also the pages of ShowUIStatus.
enum : int {
    UI_STATUS_UI_EASY = 0,
    UI_STATUS_UI_CUSTOM = 1,
    UI_STATUS_UI_INSTALLING = 2,
    UI_STATUS_UI_FAILURE = 3,
    UI_STATUS_UI_SUCCESS = 4,
};

// Modes of GetDefaultInstallDir.
enum : int {
    VD_DEFAULT_DIR_FIXED_DRIVE = 0,       // "C:\Program Files..."
    VD_DEFAULT_DIR_REMEMBERED_DRIVE = 1,  // the drive of the last browsed folder
};

// The record handed to the install thread; defined with the install job.
struct InstallJob;
class CMessageBoxWnd;

class CMainFrameWnd : public DuiLib::WindowImplBase, public DuiLib::IMenuObserver {
public:
    CMainFrameWnd();
    ~CMainFrameWnd() override;

    // ---- identity and skin ----
    const wchar_t* GetWindowClassName() const override { return L"VdInstMainFrameWndClass"; }
    std::wstring GetSkinFolder() override { return L"skin"; }
    std::wstring GetSkinFile() override { return L"MainFrameWnd.xml"; }
    UILIB_RESOURCETYPE GetResourceType() const override { return UILIB_ZIPRESOURCE; }
    const wchar_t* GetResourceID() const override { return MAKEINTRESOURCEW(122); }

    // ---- pages and controls ----
    void InitWindow() override;
    void InitAfterShow() override;
    void Notify(DuiLib::TNotifyUI& msg) override;
    void ShowUIStatus(int page);
    void ResizeClientHeight(int height);
    // From a click the box's state before it flips decides; otherwise `flag` does. Either way
    // true disables the controls.
    void EnableEasyInstallButtons(bool fromClick, bool flag);
    void EnableCustomInstallControls(bool fromClick, bool flag);
    void UpdateCustomInstallNowBtn();
    void BrowseInstallDir();
    void SetUserInstallDir(wchar_t drive, const wchar_t* folder);
    void EnableCloseBtn(bool enable);
    void SetFailureLabel(const wchar_t* text);
    void ShowFailureControls(bool show);
    void ShowExperienceCountdown(int seconds);
    // Install-now and retry clicks: the progress page and the download message.
    void OnInstallClick(bool fromRetry);
    // Looks a control up by name; null when the markup has none.
    DuiLib::CControlUI* FindControl(const wchar_t* name) const;

    // ---- settings menu, log archive, quit box ----
    void ShowSettingMenu(DuiLib::CControlUI* button);
    void OnMenuShown(DuiLib::CMenuUI* pMenu) override;
    void OnMenuClosed(DuiLib::CMenuUI* pMenu) override;
    void OnMenuItemClick(DuiLib::TNotifyUI& msg);
    void CollectLogs();
    void ShowQuitMessageBox();

    // ---- download-and-install workflow ----
    // Every message of the workflow's table and WM_TIMER; never marks a message handled.
    void OnWorkflowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    // InitWindow's hand-over to the workflow: m_s_inst_exe = the downloader's output path and
    // the progress callback registered.
    void InitDownloadManager();
    // InitWindow's behaviour worker, behaviour record "4010101" and statistics event.
    void StartBehaviorAndStatistics();
    // Stops the timers, the download manager and telemetry, and drops the records.
    void ReleaseWorkflowResources();
    // Workers; each takes a heap record it owns (the first takes the window handle itself).
    static DWORD WINAPI RequestInstInfoThread(LPVOID hwnd);
    static DWORD WINAPI DownloadInstExeImp(LPVOID job);
    static DWORD WINAPI ManualInstallDownloadImp(LPVOID job);
    static void OnDownloadProgress(const VdFoundationHttpDownload::DownloadProgressInfo* info, void* context);
    void ShowProgress(const VdFoundationHttpDownload::DownloadProgressInfo& info);
    void ShowManualDownUI();
    void Prepare4QuitApp(int exitCode = 0);

    // ---- validation, installation and launch ----
    void GetDefaultInstallDir(wchar_t* folder, int mode);
    void InitInstallDirEdit();
    bool ValidInstExe(const wchar_t* path, long long serverSize, bool keepCache, const std::wstring& serverMd5);
    void PrepareExecvdInstExe(const wchar_t* setupPath);
    static DWORD WINAPI ThreadFuncExecvdInstExe(LPVOID job);
    bool CheckInstalledVardoExe();
    void ExecuteDefaultActions();
    void CheckMonitorOption();
    void RunHelperMonitor();

    // ---- references kept after the markup is built ----
    DuiLib::CControlUI* m_p_title_h_layout = nullptr;
    DuiLib::CControlUI* m_p_title_h_layout_300 = nullptr;
    DuiLib::CControlUI* m_p_easyui_h_layout = nullptr;
    DuiLib::CControlUI* m_p_customui_h_layout = nullptr;
    DuiLib::CControlUI* m_p_successui_h_layout = nullptr;
    DuiLib::CControlUI* m_p_instalingui_h_layout_80 = nullptr;

    // ---- workflow state ----
    int m_n_ui_status = UI_STATUS_UI_EASY;
    int m_n_last_download_status = -1;
    // Set when a worker starts, cleared when its answer arrives; the window's thread only.
    bool m_b_download_running = false;
    bool m_b_manual_download_running = false;
    bool m_b_quitting = false;
    int m_n_exit_code = 0;
    bool m_b_error_pending = false;
    uint32_t m_dw_error_time = 0;
    int m_n_restart_count = 0;
    int m_n_exit_countdown = 0;
    int m_n_installing_dots = 0;
    int m_n_bg_index = 1;
    double m_d_last_speed = 0.0;
    double m_d_last_resume_ratio = 0.0;
    long m_n_own_file_size = 0;
    CScopedHandle m_h_progress_mutex;
    // Created and deleted by the workflow (InitDownloadManager, ReleaseWorkflowResources).
    VdFoundationHttpDownload::CMtHttpDownload* m_p_mt_download = nullptr;

    // ---- installation state ----
    wchar_t m_s_inst_folder[MAX_PATH] = {};
    wchar_t m_s_user_dir[MAX_PATH] = {};
    wchar_t m_s_user_drive[2] = {};
    wchar_t m_s_inst_exe[MAX_PATH] = {};
    std::unique_ptr<InstServerInfo> m_p_inst_server_info;
    std::unique_ptr<InstServerInfo> m_p_inst_sdxz_info;
    bool IsFromVidiraUrl = false;

protected:
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    // The window has one size: maximise and size commands (Win+Up, Aero Snap) are refused.
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    // Enter and Escape do nothing in this window.
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;

private:
    // The quit box's and the menu's messages (1027, 1028, 1036, 1801).
    void OnBoxOrMenuMessage(UINT uMsg, WPARAM wParam);

    // Whether the custom page's agreement currently allows installing.
    bool m_b_custom_agreed = true;
    // The quit box while it runs; messages naming any other box are stale and ignored.
    CMessageBoxWnd* m_p_msgbox = nullptr;
};

// The one main window of the process; null outside the windowed run.
extern CMainFrameWnd* gptrMainFrame;

// The hit-test rule over controls, without the window: the caption unless the class takes clicks.
bool IsClickableControlClass(const wchar_t* cls);
