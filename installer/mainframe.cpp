#include "installer/mainframe.h"

#include <shlobj.h>
#include <windowsx.h>

#include <cwchar>
#include <cwctype>

#include "app/cmdparams.h"
#include "app/wakeup.h"
#include "local/cleanup.h"
#include "base/vdlog.h"
#include "net/vdhttp.h"
#include "payload/vdbizhandler.h"
#include "vd_endpoints.h"

using namespace DuiLib;

CMainFrameWnd* gptrMainFrame = nullptr;

namespace {

const int kWindowWidth = 580;
const int kShortHeight = 380;
const int kTallHeight = 478;

const wchar_t* const kEasyGated[] = {L"easyui_install_now_btn", L"easyui_custom_install_btn",
                                     L"easyui_custom_install_arrow_btn"};
const wchar_t* const kCustomGated[] = {L"customui_install_now_btn",        L"customui_custom_install_btn",
                                       L"customui_custom_install_arrow_btn", L"customui_dir_edit",
                                       L"customui_browse_dir_btn",          L"customui_pmsec_monitor_checkbox"};

void WriteDownloadLog(const wchar_t* text) { WriteLogW(L"%s", text); }

DWORD WINAPI OldLogCleanupThread(LPVOID) {
    CheckOldLogFile();
    return 0;
}

void StartDetachedThread(LPTHREAD_START_ROUTINE fn, LPVOID param) {
    CScopedHandle thread(CreateThread(nullptr, 0, fn, param, 0, nullptr));
}

CCheckBoxUI* AsCheckBox(CControlUI* c) {
    return c ? static_cast<CCheckBoxUI*>(c->GetInterface(L"CheckBox")) : nullptr;
}


CEditUI* AsEdit(CControlUI* c) { return c ? static_cast<CEditUI*>(c->GetInterface(L"Edit")) : nullptr; }

long ReadOwnFileSize() {
    wchar_t path[MAX_PATH] = {0};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    CScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return 0;
    DWORD size = GetFileSize(file.Get(), nullptr);
    return size == INVALID_FILE_SIZE ? 0 : static_cast<long>(size);
}

}  // namespace

bool IsClickableControlClass(const wchar_t* cls) {
    if (!cls) return false;
    for (const wchar_t* c : {L"Button", L"Option", L"Text", L"CheckBox", L"Edit"})
        if (wcscmp(cls, c) == 0) return true;
    return false;
}

CMainFrameWnd::CMainFrameWnd()
    : m_h_progress_mutex(CreateMutexW(nullptr, FALSE, nullptr)),
      m_p_inst_server_info(new InstServerInfo()) {}

CMainFrameWnd::~CMainFrameWnd() {
    ReleaseWorkflowResources();
    if (gptrMainFrame == this) gptrMainFrame = nullptr;
}

CControlUI* CMainFrameWnd::FindControl(const wchar_t* name) const { return m_PaintManager.FindControl(name); }

void CMainFrameWnd::InitWindow() {
    m_p_title_h_layout = FindControl(L"title_h_layout");
    m_p_title_h_layout_300 = FindControl(L"title_h_layout_300");
    m_p_easyui_h_layout = FindControl(L"easyui_h_layout");
    m_p_customui_h_layout = FindControl(L"customui_h_layout");
    m_p_successui_h_layout = FindControl(L"successui_h_layout");
    m_p_instalingui_h_layout_80 = FindControl(L"instalingui_h_layout_80");

    if (CCheckBoxUI* monitor = AsCheckBox(FindControl(L"customui_pmsec_monitor_checkbox"))) monitor->SetCheck(true, false);

    // the folder must fit the fixed path buffers of the installation
    if (CEditUI* edit = AsEdit(FindControl(L"customui_dir_edit"))) edit->SetMaxChar(MAX_PATH - 1);

    if (CControlUI* qq = FindControl(L"joinQQbtn")) {
        wchar_t tip[128];
        _snwprintf(tip, 128, L"联系客服QQ群:%s", VD_CHATGROUP_NUMBER);
        tip[127] = 0;
        qq->SetToolTip(tip);
    }

    ShowManualDownUI();
    SetTimer(m_hWnd, VD_TIMER_ID_Check_Download_Status, 5000, nullptr);
}

void CMainFrameWnd::InitAfterShow() {
    m_n_own_file_size = ReadOwnFileSize();
    WriteLogW(L"file size=%ld\n", m_n_own_file_size);

    CVdBizHandler::Inst().CheckBizToMyDocumentBegin();
    StartDetachedThread(&CMainFrameWnd::RequestInstInfoThread, m_hWnd);
    StartBehaviorAndStatistics();

    InitDownloadManager();
    VdFoundationHttpDownload::DownloadLogHook = &WriteDownloadLog;
    StartDetachedThread(&OldLogCleanupThread, nullptr);
    InitInstallDirEdit();

    if (CCmdParameters::Inst().IsInstallMode()) PostMessage(WM_USER_MT_HTTP_DOWNLOAD, 0, 0);
}

void CMainFrameWnd::ShowUIStatus(int page) {
    if (page < UI_STATUS_UI_EASY || page > UI_STATUS_UI_SUCCESS) return;
    m_n_ui_status = page;
    CControlUI* header = (page == UI_STATUS_UI_INSTALLING || page == UI_STATUS_UI_FAILURE) ? m_p_title_h_layout_300
                                                                                          : m_p_title_h_layout;
    CControlUI* lower = nullptr;
    switch (page) {
        case UI_STATUS_UI_EASY: lower = m_p_easyui_h_layout; break;
        case UI_STATUS_UI_CUSTOM: lower = m_p_customui_h_layout; break;
        case UI_STATUS_UI_SUCCESS: lower = m_p_successui_h_layout; break;
        default: lower = m_p_instalingui_h_layout_80; break;
    }
    for (CControlUI* layout : {m_p_title_h_layout, m_p_title_h_layout_300, m_p_easyui_h_layout, m_p_customui_h_layout,
                               m_p_successui_h_layout, m_p_instalingui_h_layout_80}) {
        if (layout) layout->SetVisible(layout == header || layout == lower);
    }
    ResizeClientHeight(page == UI_STATUS_UI_CUSTOM ? kTallHeight : kShortHeight);

    CCheckBoxUI* easyAgree = AsCheckBox(FindControl(L"easyui_agree_checkbox"));
    CCheckBoxUI* customAgree = AsCheckBox(FindControl(L"customui_agree_checkbox"));
    CControlUI* progressLabel = FindControl(L"installingui_progress_label");
    switch (page) {
        case UI_STATUS_UI_EASY:
            if (easyAgree && customAgree) {
                easyAgree->SetCheck(customAgree->GetCheck(), false);
                EnableEasyInstallButtons(false, !customAgree->GetCheck());
            }
            break;
        case UI_STATUS_UI_CUSTOM:
            if (easyAgree && customAgree) {
                customAgree->SetCheck(easyAgree->GetCheck(), false);
                EnableCustomInstallControls(false, !easyAgree->GetCheck());
            }
            break;
        case UI_STATUS_UI_INSTALLING:
            if (progressLabel) {
                progressLabel->SetText(L"准备下载，请等待......");
                progressLabel->SetVisible(true);
            }
            ShowFailureControls(false);
            m_n_bg_index = 1;
            if (m_p_title_h_layout_300) m_p_title_h_layout_300->SetBkImage(L"file='progress_page_bg_580x300_1.png'");
            SetTimer(m_hWnd, VD_TIMER_ID_PROGRESS_BG, 5000, nullptr);
            break;
        case UI_STATUS_UI_FAILURE:
            if (progressLabel) {
                progressLabel->SetText(L"");
                progressLabel->SetVisible(false);
            }
            if (CControlUI* breakpoint = FindControl(L"installingui_breakpoint_label")) breakpoint->SetVisible(false);
            ShowFailureControls(true);
            break;
        case UI_STATUS_UI_SUCCESS:
            if (m_p_title_h_layout) m_p_title_h_layout->SetAttribute(L"bkimage", L"file='success_page_bg_580x254.png'");
            if (CControlUI* qq = FindControl(L"joinQQbtn")) qq->SetVisible(false);
            break;
    }
}

void CMainFrameWnd::ResizeClientHeight(int height) {
    RECT rc;
    if (!GetClientRect(m_hWnd, &rc)) return;
    // markup lengths: the window's DPI makes them pixels
    rc.right = m_PaintManager.ScaleValue(kWindowWidth);
    rc.bottom = m_PaintManager.ScaleValue(height);
    SetWindowPos(m_hWnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMainFrameWnd::EnableEasyInstallButtons(bool fromClick, bool flag) {
    CCheckBoxUI* agree = AsCheckBox(FindControl(L"easyui_agree_checkbox"));
    if (!agree || !FindControl(L"easyui_install_now_btn") || !FindControl(L"easyui_custom_install_btn")) return;
    const bool enable = !(fromClick ? agree->GetCheck() : flag);
    for (const wchar_t* name : kEasyGated)
        if (CControlUI* c = FindControl(name)) c->SetEnabled(enable);
}

void CMainFrameWnd::EnableCustomInstallControls(bool fromClick, bool flag) {
    CCheckBoxUI* agree = AsCheckBox(FindControl(L"customui_agree_checkbox"));
    if (fromClick && !agree) return;
    // Controls missing from the markup are skipped: giving up on one would leave the rest
    // installable without the agreement.
    const bool enable = !(fromClick ? agree->GetCheck() : flag);
    m_b_custom_agreed = enable;
    for (const wchar_t* name : kCustomGated)
        if (CControlUI* c = FindControl(name)) c->SetEnabled(enable);
    UpdateCustomInstallNowBtn();
}

void CMainFrameWnd::UpdateCustomInstallNowBtn() {
    CControlUI* button = FindControl(L"customui_install_now_btn");
    CControlUI* edit = FindControl(L"customui_dir_edit");
    if (!button || !edit) return;
    // The folder text alone would re-enable the button that the agreement just disabled.
    button->SetEnabled(!edit->GetText().empty() && m_b_custom_agreed);
}

void CMainFrameWnd::BrowseInstallDir() {
    BROWSEINFOW bi = {};
    bi.hwndOwner = m_hWnd;
    bi.lpszTitle = L"请选择安装目录";
    bi.ulFlags = 0x151;  // file-system folders only, edit box, new dialog style, usage hint
    LPITEMIDLIST pidl = SHBrowseForFolderW(&bi);
    if (!pidl) return;
    wchar_t path[MAX_PATH] = {0};
    BOOL ok = SHGetPathFromIDListW(pidl, path);
    CoTaskMemFree(pidl);
    if (!ok || !path[0]) return;
    wchar_t drive[_MAX_DRIVE] = {0};
    _wsplitpath_s(path, drive, _MAX_DRIVE, nullptr, 0, nullptr, 0, nullptr, 0);
    SetUserInstallDir(drive[0], path);
}

void CMainFrameWnd::SetUserInstallDir(wchar_t drive, const wchar_t* folder) {
    std::wstring dir = CombinePath(folder ? folder : L"", L"Vardo");
    if (dir.empty() || dir.size() >= MAX_PATH) {
        WriteLogW(L"install dir too long or empty:%s\n", dir.c_str());
        return;
    }
    m_s_user_drive[0] = static_cast<wchar_t>(towupper(drive));
    m_s_user_drive[1] = 0;
    if (CControlUI* edit = FindControl(L"customui_dir_edit")) edit->SetText(dir.c_str());
    wcsncpy(m_s_user_dir, dir.c_str(), MAX_PATH - 1);
    m_s_user_dir[MAX_PATH - 1] = 0;
    UpdateCustomInstallNowBtn();
}

void CMainFrameWnd::EnableCloseBtn(bool enable) {
    // Both headers carry a "closebtn"; the progress page shows the second one, so a plain lookup
    // would disable a hidden button and leave the visible one working during installation.
    bool done = false;
    for (CControlUI* header : {m_p_title_h_layout, m_p_title_h_layout_300}) {
        if (!header) continue;
        if (CControlUI* c = m_PaintManager.FindSubControlByName(header, L"closebtn")) {
            c->SetEnabled(enable);
            done = true;
        }
    }
    if (!done) {
        if (CControlUI* c = FindControl(L"closebtn")) c->SetEnabled(enable);
    }
}

void CMainFrameWnd::SetFailureLabel(const wchar_t* text) {
    if (!text || !*text) return;
    if (CControlUI* c = FindControl(L"installingui_failure_label")) c->SetText(text);
}

void CMainFrameWnd::ShowFailureControls(bool show) {
    for (const wchar_t* name : {L"installingui_red_close", L"installingui_failure_label",
                                L"installingui_failure_retry_btn"})
        if (CControlUI* c = FindControl(name)) c->SetVisible(show);
}

void CMainFrameWnd::ShowExperienceCountdown(int seconds) {
    CControlUI* c = FindControl(L"successui_experience_now_btn");
    if (!c) return;
    wchar_t text[64];
    _snwprintf(text, 64, L"立即体验(%ds)", seconds);
    text[63] = 0;
    c->SetText(text);
}

void CMainFrameWnd::ShowManualDownUI() {
    for (const wchar_t* name : {L"installingui_manual_download", L"installingui_manual_label"})
        if (CControlUI* c = FindControl(name)) c->SetVisible(true);
}

void CMainFrameWnd::OnInstallClick(bool fromRetry) {
    if (fromRetry) {
        if (CControlUI* c = FindControl(L"installingui_breakpoint_label")) c->SetVisible(true);
        WriteLogW(L"ShowManualDownUI true retry button...\n");
        ShowManualDownUI();
    }
    WriteLogW(L"click download msg\n");
    ShowUIStatus(UI_STATUS_UI_INSTALLING);
    WriteLogW(L"show UI_STATUS_UI_INSTALLING ui\n");
    PostMessage(WM_USER_MT_HTTP_DOWNLOAD, 0, 0);
    WriteLogW(L"post download msg\n");
}

void CMainFrameWnd::Notify(TNotifyUI& msg) {
    const std::wstring name = msg.pSender ? msg.pSender->GetName() : std::wstring();
    const std::wstring& type = msg.sType;
    if (type == L"textchanged") {
        if (name == L"customui_dir_edit" && msg.pSender) {
            const std::wstring& text = msg.pSender->GetText();
            if (!text.empty()) {
                wcsncpy(m_s_user_dir, text.c_str(), MAX_PATH - 1);
                m_s_user_dir[MAX_PATH - 1] = 0;
            }
        }
    } else if (type == L"click") {
        if (name == L"closebtn") {
            if (m_n_ui_status == UI_STATUS_UI_INSTALLING) {
                PostMessage(WM_USER_SHOW_MSGBOX, 0, 0);
                return;
            }
            Prepare4QuitApp();
        } else if (name == L"joinQQbtn") {
            PostMessage(WM_USER_JOIN_GROUP, 0, 0);
        } else if (name == L"easyui_custom_install_btn" || name == L"easyui_custom_install_arrow_btn") {
            m_n_ui_status = UI_STATUS_UI_CUSTOM;
            ShowUIStatus(UI_STATUS_UI_CUSTOM);
        } else if (name == L"customui_custom_install_btn" || name == L"customui_custom_install_arrow_btn") {
            m_n_ui_status = UI_STATUS_UI_EASY;
            ShowUIStatus(UI_STATUS_UI_EASY);
        } else if (name == L"easyui_agree_checkbox") {
            EnableEasyInstallButtons(true, false);
        } else if (name == L"customui_agree_checkbox") {
            EnableCustomInstallControls(true, false);
        } else if (name == L"easyui_user_agreement_btn" || name == L"customui_user_agreement_btn") {
            PostMessage(WM_USER_OPEN_AGREEMENT, 0, 0);
        } else if (name == L"customui_browse_dir_btn") {
            BrowseInstallDir();
        } else if (name == L"easyui_install_now_btn" || name == L"customui_install_now_btn") {
            OnInstallClick(false);
        } else if (name == L"installingui_failure_retry_btn") {
            OnInstallClick(true);
        } else if (name == L"installingui_manual_download") {
            PostMessage(WM_USER_OPEN_INST_URL, 0, 0);
        } else if (name == L"successui_experience_now_btn") {
            KillTimer(m_hWnd, VD_TIMER_ID_EXIT);
            WriteLogW(L"successui_experience_now_btn click,execute default actions\n");
            ExecuteDefaultActions();
            Prepare4QuitApp();
        } else if (name == L"settingbtn") {
            ShowSettingMenu(msg.pSender);
        }
        OnMenuItemClick(msg);
    } else if (type == L"itemclick") {
        OnMenuItemClick(msg);
    }
    UpdateCustomInstallNowBtn();
    WindowImplBase::Notify(msg);
}

LRESULT CMainFrameWnd::OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    bHandled = TRUE;
    POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(m_hWnd, &pt);
    LRESULT edge = SizingHitTest(pt);
    if (edge != HTNOWHERE) return edge;
    CControlUI* c = m_PaintManager.FindControl(pt);
    return (c && IsClickableControlClass(c->GetClass())) ? HTCLIENT : HTCAPTION;
}

LRESULT CMainFrameWnd::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    const WPARAM cmd = wParam & 0xFFF0;
    if (cmd == SC_MAXIMIZE || cmd == SC_SIZE) {
        bHandled = TRUE;
        return 0;
    }
    return WindowImplBase::OnSysCommand(uMsg, wParam, lParam, bHandled);
}

LRESULT CMainFrameWnd::MessageHandler(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT CMainFrameWnd::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    Prepare4QuitApp();
    bHandled = FALSE;
    return 0;
}

LRESULT CMainFrameWnd::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    bHandled = FALSE;
    switch (uMsg) {
        case WM_NCLBUTTONDBLCLK:
            // a double click on the title must not maximise the fixed-size window
            bHandled = TRUE;
            return 0;
        case WM_COPYDATA:
            HandleWakeUp(m_hWnd, wParam, lParam);
            break;
        case WM_USER_SHOW_MSGBOX:
            ShowQuitMessageBox();
            break;
        case WM_USER_CLOSE_MSGBOX:
        case WM_USER_QUIT_APP:
        case WM_USER_MINIMIZE_ALL:
        case WM_USER_MENU_ITEM_CLICK:
            OnBoxOrMenuMessage(uMsg, wParam);
            break;
        case WM_TIMER:
        case WM_USER_INST_SERVER_INFO:
        case WM_USER_SHOW_PROGRESS:
        case WM_USER_OPEN_INST_URL:
        case WM_USER_OPEN_AGREEMENT:
        case WM_USER_MT_HTTP_DOWNLOAD:
        case WM_USER_EXEC_INST_FEEDBACK:
        case WM_USER_OPEN_SUCCESS_PAGE:
        case WM_USER_INST_SDXZ_INFO:
        case WM_USER_USE_LOCAL_INST_EXE:
        case WM_USER_OPEN_TARGET_URL:
        case WM_USER_JOIN_GROUP:
        case WM_USER_START_DOWNLOAD:
            OnWorkflowMessage(uMsg, wParam, lParam);
            break;
        default:
            break;
    }
    return 0;
}
