#include "installer/mainframe.h"

#include <shlobj.h>
#include <windowsx.h>

#include <cwchar>
#include <cwctype>

#include "base/threads.h"
#include "installer/wakeup.h"
#include "installer/workflow_rules.h"
#include "local/cleanup.h"
#include "base/vdlog.h"
#include "net/mtdownload.h"
#include "payload/vdbizhandler.h"
#include "probes/vdutils.h"
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

CCheckBoxUI* AsCheckBox(CControlUI* c) {
    return c ? static_cast<CCheckBoxUI*>(c->GetInterface(L"CheckBox")) : nullptr;
}


CEditUI* AsEdit(CControlUI* c) { return c ? static_cast<CEditUI*>(c->GetInterface(L"Edit")) : nullptr; }

CProgressUI* AsProgress(CControlUI* c) {
    return c ? static_cast<CProgressUI*>(c->GetInterface(L"Progress")) : nullptr;
}

}  // namespace

bool IsClickableControlClass(const wchar_t* cls) {
    if (!cls) return false;
    for (const wchar_t* c : {L"Button", L"Option", L"Text", L"CheckBox", L"Edit"})
        if (wcscmp(cls, c) == 0) return true;
    return false;
}

CMainFrameWnd::CMainFrameWnd(const WorkflowOptions& options) : m_p_workflow(new CWorkflow(*this, options)) {}

CMainFrameWnd::~CMainFrameWnd() {
    // while the window's members still stand: the workflow stops the timers through them
    m_p_workflow->ReleaseWorkflowResources();
    m_p_workflow.reset();
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
    m_p_workflow->ArmRestartTimer();
}

void CMainFrameWnd::InitAfterShow() {
    CWorkflow& flow = *m_p_workflow;
    flow.SetConnectionLimits();
    flow.ReadOwnFileSize();

    CVdBizHandler::Inst().CheckBizToMyDocumentBegin();
    flow.StartServerInfoWorker();
    flow.StartBehaviorAndStatistics();

    flow.InitDownloadManager();
    VdFoundationHttpDownload::DownloadLogHook = &WriteDownloadLog;
    if (!vdthread::StartDetachedWorker([] { CheckOldLogFile(); }))
        WriteLogW(L"CheckOldLogFile create failure,err:%d\n", (int)GetLastError());
    flow.FillInstallDir(false);

    flow.Begin();
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
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_UAHINT;
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
    m_s_user_drive = static_cast<wchar_t>(towupper(drive));
    if (CControlUI* edit = FindControl(L"customui_dir_edit")) edit->SetText(dir.c_str());
    m_s_user_dir = dir;
    UpdateCustomInstallNowBtn();
}

void CMainFrameWnd::EnableClose(bool enable) {
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

void CMainFrameWnd::ShowCountdown(int seconds) {
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
            if (!text.empty()) m_s_user_dir = text.substr(0, MAX_PATH - 1);
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
            m_p_workflow->OnExperienceNow();
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

LRESULT CMainFrameWnd::ClientHitTest(POINT pt) {
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

const CMainFrameWnd::Route CMainFrameWnd::kRoutes[] = {
    {WM_COPYDATA, nullptr, &CMainFrameWnd::OnWakeUp},
    {WM_TIMER, nullptr, &CMainFrameWnd::OnTimer},
    {WM_USER_SHOW_MSGBOX, nullptr, &CMainFrameWnd::OnShowMsgBox},
    {WM_USER_CLOSE_MSGBOX, nullptr, &CMainFrameWnd::OnCloseMsgBox},
    {WM_USER_QUIT_APP, nullptr, &CMainFrameWnd::OnQuitApp},
    {WM_USER_MINIMIZE_ALL, nullptr, &CMainFrameWnd::OnMinimizeAll},
    {WM_USER_MENU_ITEM_CLICK, nullptr, &CMainFrameWnd::OnMenuReport},
    {WM_USER_INST_SERVER_INFO, &CWorkflow::OnServerInfo, nullptr},
    {WM_USER_INST_SDXZ_INFO, &CWorkflow::OnSdxzInfo, nullptr},
    {WM_USER_SHOW_PROGRESS, &CWorkflow::OnProgress, nullptr},
    {WM_USER_MT_HTTP_DOWNLOAD, &CWorkflow::OnDownloadRequest, nullptr},
    {WM_USER_START_DOWNLOAD, &CWorkflow::OnStartDownload, nullptr},
    {WM_USER_USE_LOCAL_INST_EXE, &CWorkflow::OnLocalSetup, nullptr},
    {WM_USER_EXEC_INST_FEEDBACK, &CWorkflow::OnInstallFeedback, nullptr},
    {WM_USER_OPEN_SUCCESS_PAGE, &CWorkflow::OnSuccessPage, nullptr},
    {WM_USER_OPEN_INST_URL, &CWorkflow::OnOpenInstUrl, nullptr},
    {WM_USER_OPEN_TARGET_URL, &CWorkflow::OnOpenTargetUrl, nullptr},
    {WM_USER_OPEN_AGREEMENT, &CWorkflow::OnOpenAgreement, nullptr},
    {WM_USER_JOIN_GROUP, &CWorkflow::OnJoinGroup, nullptr},
};

LRESULT CMainFrameWnd::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    bHandled = FALSE;
    if (uMsg == WM_NCLBUTTONDBLCLK) {
        // a double click on the title must not maximise the fixed-size window
        bHandled = TRUE;
        return 0;
    }
    // never marks a message handled: the framework's own handling goes on
    for (const Route& r : kRoutes) {
        if (r.m_n_msg != uMsg) continue;
        try {
            if (r.m_pfn_flow) (m_p_workflow.get()->*r.m_pfn_flow)(wParam, lParam);
            else (this->*r.m_pfn_window)(wParam, lParam);
        } catch (...) {
            WriteLogW(L"OnWorkflowMessage UNexpected excepiton....\n");
        }
        break;
    }
    return 0;
}

void CMainFrameWnd::OnWakeUp(WPARAM wParam, LPARAM lParam) { HandleWakeUp(m_hWnd, wParam, lParam); }

void CMainFrameWnd::OnShowMsgBox(WPARAM, LPARAM) { ShowQuitMessageBox(); }

void CMainFrameWnd::OnTimer(WPARAM id, LPARAM) {
    if (m_p_workflow->IsQuitting()) return;
    switch (id) {
    case VD_TIMER_ID_PROGRESS_BG: {
        m_n_bg_index = m_n_bg_index >= 3 ? 1 : m_n_bg_index + 1;
        static const wchar_t* const kImages[] = {L"file='progress_page_bg_580x300_1.png'",
                                                 L"file='progress_page_bg_580x300_2.png'",
                                                 L"file='progress_page_bg_580x300_3.png'"};
        if (m_p_title_h_layout_300) m_p_title_h_layout_300->SetAttribute(L"bkimage", kImages[m_n_bg_index - 1]);
        break;
    }
    case VD_TIMER_ID_INSTALLING: {
        m_n_installing_dots = m_n_installing_dots % 3 + 1;
        std::wstring text = L"正在安装,请稍候" + std::wstring(m_n_installing_dots, L'.');
        if (CControlUI* label = FindControl(L"installingui_progress_label")) {
            label->SetText(text.c_str());
            label->SetVisible(true);
        }
        for (const wchar_t* name : {L"installingui_breakpoint_label", L"installingui_red_close",
                                    L"installingui_failure_label", L"installingui_failure_retry_btn"})
            if (CControlUI* c = FindControl(name)) c->SetVisible(false);
        if (m_n_installing_dots >= 3) m_n_installing_dots = 0;
        break;
    }
    default:
        m_p_workflow->OnTimer(id);
        break;
    }
}

// ---- what the workflow sees ----------------------------------------------------------------

void CMainFrameWnd::ShowProgress(int percent, const std::wstring& percentText, const std::wstring& speedText,
                                 bool hideResumeNote) {
    if (hideResumeNote)
        if (CControlUI* c = FindControl(L"installingui_breakpoint_label")) c->SetVisible(false);
    if (CProgressUI* bar = AsProgress(FindControl(L"installingui_progress"))) {
        bar->SetValue(percent);
        bar->SetAttribute(L"textcolor", vdworkflow::ProgressTextColor(percent));
        bar->SetText(percentText.c_str());
        if (CControlUI* label = FindControl(L"installingui_progress_label")) {
            label->SetText(speedText.c_str());
            label->SetVisible(true);
        }
    }
}

void CMainFrameWnd::StartTimer(UINT_PTR id, UINT ms) { SetTimer(m_hWnd, id, ms, nullptr); }

void CMainFrameWnd::StopTimer(UINT_PTR id) {
    if (m_hWnd && IsWindow(m_hWnd)) KillTimer(m_hWnd, id);
}

void CMainFrameWnd::PostToSelf(UINT msg, WPARAM wParam, LPARAM lParam) { PostMessage(msg, wParam, lParam); }

void CMainFrameWnd::EndLoop(int exitCode) { PostQuitMessage(exitCode); }

bool CMainFrameWnd::GetInstallDirText(std::wstring& text) const {
    CEditUI* edit = AsEdit(FindControl(L"customui_dir_edit"));
    if (!edit) return false;
    text = edit->GetText();
    return true;
}

void CMainFrameWnd::SetInstallDirText(const std::wstring& text) {
    if (CEditUI* edit = AsEdit(FindControl(L"customui_dir_edit"))) edit->SetText(text.c_str());
}

int CMainFrameWnd::MonitorChoice() const {
    CCheckBoxUI* box = AsCheckBox(FindControl(L"customui_pmsec_monitor_checkbox"));
    if (!box) return -1;
    return box->IsSelected() ? 1 : 0;
}
