// The main window's vocabulary shared by the window, its workflow and the workers: window
// messages, timers, pages and the hidden run's exit code.
#pragma once
#include <windows.h>

// Window messages of the main window; numbers are fixed (other processes and the menu window
// rely on them). A heap object passed in wParam belongs to the receiver. Each has one row in
// CMainFrameWnd's route table, which names its handler.
enum : UINT {
    WM_USER_SHOW_MSGBOX = 1026,          // 0
    WM_USER_CLOSE_MSGBOX = 1027,         // the box window object
    WM_USER_QUIT_APP = 1028,             // the box window object
    WM_USER_INST_SERVER_INFO = 1029,     // new InstServerInfo; lParam 1: kept, nothing else done
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
    WM_USER_START_DOWNLOAD = 1041,       // new DownloadOrder: the download worker's decision
    WM_USER_MENU_ITEM_CLICK = 1801,      // new DuiLib::TNotifyUI
};

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

// The pages of the main window.
enum : int {
    UI_STATUS_UI_EASY = 0,
    UI_STATUS_UI_CUSTOM = 1,
    UI_STATUS_UI_INSTALLING = 2,
    UI_STATUS_UI_FAILURE = 3,
    UI_STATUS_UI_SUCCESS = 4,
};
