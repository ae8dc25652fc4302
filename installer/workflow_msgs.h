// Message numbers and timer ids of the main window's workflow. They are bound by number: other
// windows (the quit box, the settings menu) and the wake-up of a second start rely on them.
#pragma once
#include <windows.h>

enum : UINT {
    WM_USER_SHOW_MSGBOX = WM_USER + 2,          // 1026
    WM_USER_CLOSE_MSGBOX = WM_USER + 3,         // 1027, wParam: the box window object
    WM_USER_QUIT_APP = WM_USER + 4,             // 1028, wParam: the box window object
    WM_USER_INST_SERVER_INFO = WM_USER + 5,     // 1029, wParam: new InstServerInfo
    WM_USER_SHOW_PROGRESS = WM_USER + 6,        // 1030, wParam: new DownloadProgressInfo
    WM_USER_OPEN_INST_URL = WM_USER + 7,        // 1031
    WM_USER_OPEN_AGREEMENT = WM_USER + 8,       // 1032
    WM_USER_MT_HTTP_DOWNLOAD = WM_USER + 9,     // 1033, wParam 1: automatic restart
    WM_USER_EXEC_INST_FEEDBACK = WM_USER + 10,  // 1034, wParam 1 success, 0 failure
    WM_USER_OPEN_SUCCESS_PAGE = WM_USER + 11,   // 1035
    WM_USER_MINIMIZE_ALL = WM_USER + 12,        // 1036, wParam: the box window object
    WM_USER_INST_SDXZ_INFO = WM_USER + 13,      // 1037, wParam: new InstServerInfo
    WM_USER_USE_LOCAL_INST_EXE = WM_USER + 14,  // 1038, wParam: new std::wstring, package path
    WM_USER_OPEN_TARGET_URL = WM_USER + 15,     // 1039, wParam: new std::wstring, URL
    WM_USER_JOIN_GROUP = WM_USER + 16,          // 1040
    WM_USER_MENU_ITEM_CLICK = WM_USER + 777,    // 1801, wParam: new copy of the menu notification
};

enum : UINT_PTR {
    VD_TIMER_ID_EXIT = 1999,                   // 1000 ms, success countdown
    VD_TIMER_ID_PROGRESS_BG = 2000,            // 5000 ms, progress-page header pictures
    VD_TIMER_ID_Check_Download_Status = 2001,  // 5000 ms, restart rule
    VD_TIMER_ID_INSTALLING = 2002,             // 1000 ms, installing dots
};

static_assert(WM_USER_SHOW_MSGBOX == 1026 && WM_USER_JOIN_GROUP == 1040 && WM_USER_MENU_ITEM_CLICK == 1801,
              "message numbers are an interface");
