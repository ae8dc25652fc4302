// The main window's download-and-install workflow: its messages and timers, the server-info,
// download and manual-download workers, progress display, restarts, validation, installation
// and what follows it.
#include <windows.h>

#include <memory>
#include <string>

#include "app/cmdparams.h"
#include "installer/instjob.h"
#include "installer/mainframe.h"
#include "installer/workflow_rules.h"
#include "local/cleanup.h"
#include "local/inifile.h"
#include "base/vdlog.h"
#include "net/mtdownload.h"
#include "net/serverinfo.h"
#include "payload/vdbizhandler.h"
#include "probes/hostinfo.h"
#include "probes/vdutils.h"
#include "telemetry/telemetry.h"
#include "telemetry/telemetryutil.h"
#include "vd_endpoints.h"

using namespace DuiLib;
using namespace vdworkflow;
using VdFoundationHttpDownload::CMtHttpDownload;
using VdFoundationHttpDownload::DownloadProgressInfo;

namespace {

const wchar_t kSub[] = L"Vardo";
const DWORD kOwnSizeWithPackage = 0x3FF000;
// A window-private status: the download worker found no package address at all.
const int kStatusNoUrl = -100;
const int kStatusInstalling = 3;
const int kStatusDone = 0;

// The server-info records and IsFromVidiraUrl belong to the window's thread: workers get copies
// and send changes back by message.
InstServerInfo CopyRecord(const std::unique_ptr<InstServerInfo>& p) { return p ? *p : InstServerInfo(); }

void StoreRecord(std::unique_ptr<InstServerInfo>& p, const InstServerInfo& info) {
    if (p) *p = info;
    else p.reset(new InstServerInfo(info));
}

// What the download worker decided, for the window's thread to carry out.
struct DownloadOrder {
    InstServerInfo m_record;     // the record the URL came from
    bool m_b_record_changed = false;
    bool m_b_from_template = false;
    std::wstring m_s_url;        // empty: no package address at all
    std::wstring m_s_sub_folder;
};

struct DownloadJob {
    HWND m_h_window;
    InstServerInfo m_record;
};

struct ManualJob {
    HWND m_h_window;
    InstServerInfo m_sdxz;
};

bool StartWorker(LPTHREAD_START_ROUTINE fn, LPVOID param) {
    HANDLE h = CreateThread(nullptr, 0, fn, param, 0, nullptr);
    if (!h) return false;
    CloseHandle(h);
    return true;
}

// Posts a heap object; frees it when the window is gone.
template <class T>
void PostOwned(HWND hwnd, UINT msg, T* object, LPARAM lParam = 0) {
    if (!PostMessageW(hwnd, msg, (WPARAM)object, lParam)) delete object;
}

// A final answer must arrive: a full queue is waited out (bounded), a window that is gone is not.
template <class T>
void PostOwnedFinal(HWND hwnd, UINT msg, T* object) {
    for (int i = 0; i < 100; ++i) {
        if (PostMessageW(hwnd, msg, (WPARAM)object, 0)) return;
        if (!IsWindow(hwnd) || GetLastError() != ERROR_NOT_ENOUGH_QUOTA) break;
        Sleep(20);
    }
    WriteLogW(L"post message:%d failure,err:%d\n", (int)msg, (int)GetLastError());
    delete object;
}

CEditUI* AsEdit(CControlUI* c) { return c ? static_cast<CEditUI*>(c->GetInterface(L"Edit")) : nullptr; }
CProgressUI* AsProgress(CControlUI* c) {
    return c ? static_cast<CProgressUI*>(c->GetInterface(L"Progress")) : nullptr;
}
CCheckBoxUI* AsCheckBox(CControlUI* c) {
    return c ? static_cast<CCheckBoxUI*>(c->GetInterface(L"CheckBox")) : nullptr;
}

std::wstring WebPageForManualDownload() {
    return ManualDownloadWebPage(VD_WEBSITE_URL, GetInstX64Flag() != 0);
}

void WorkflowTimer(CMainFrameWnd& w, WPARAM id);
void ServerInfoArrived(CMainFrameWnd& w, bool sdxz, const InstServerInfo& rec);
void ProgressArrived(CMainFrameWnd& w, const DownloadProgressInfo& info);
void DownloadRequested(CMainFrameWnd& w, bool automaticRestart);
void ShowStatusRecord(CMainFrameWnd& w, int status);
void StartOrderedDownload(CMainFrameWnd& w, DownloadOrder& order);
void InstallFeedback(CMainFrameWnd& w, bool success);

}  // namespace

// ---- start-up and end ----------------------------------------------------------------------

void CMainFrameWnd::InitDownloadManager() {
    if (!m_p_mt_download) m_p_mt_download = new CMtHttpDownload();
    std::wstring out;
    if (!VdFoundationHttpDownload::GetTempOutputPath(out)) WriteLogW(L"GetTempOutputPath failure\n");
    wcsncpy(m_s_inst_exe, out.c_str(), MAX_PATH - 1);
    m_s_inst_exe[MAX_PATH - 1] = 0;
    // the handle, not the object: the callback runs on downloader threads
    m_p_mt_download->SetProgressCallback(&CMainFrameWnd::OnDownloadProgress, m_hWnd);
}

void CMainFrameWnd::StartBehaviorAndStatistics() {
    StartBehaviorWorker(kSub);
    std::string biz = BizContentToUtf8(CVdBizHandler::Inst().GetBizContent());
    PushBehaviorRecord(kBehaviorWindowShown, "1", nullptr, biz.empty() ? nullptr : biz.c_str());
    SendInstallStatics();
}

void CMainFrameWnd::ReleaseWorkflowResources() {
    if (m_hWnd && IsWindow(m_hWnd)) {
        for (UINT_PTR id : {VD_TIMER_ID_PROGRESS_BG, VD_TIMER_ID_EXIT, VD_TIMER_ID_Check_Download_Status,
                            VD_TIMER_ID_INSTALLING, VD_TIMER_ID_HIDDEN_FAILURE_EXIT})
            KillTimer(m_hWnd, id);
    }
    // Workers own copies of what they use and answer by message only: none is waited for. The
    // downloader's stop is bounded; threads it leaves keep their own attempt state alive.
    if (m_p_mt_download) {
        m_p_mt_download->StopDownload();
        delete m_p_mt_download;  // its destructor keeps part files unless the download succeeded
        m_p_mt_download = nullptr;
    }
    m_p_inst_server_info.reset();
    m_p_inst_sdxz_info.reset();
    StopTelemetry();
}

// ---- workers ---------------------------------------------------------------------------------

DWORD WINAPI CMainFrameWnd::RequestInstInfoThread(LPVOID param) {
    HWND hwnd = static_cast<HWND>(param);
    try {
        for (int i = 0; i < 3; ++i) {
            if (std::unique_ptr<InstServerInfo> r = SendInstServerInfoRequest()) {
                PostOwned(hwnd, WM_USER_INST_SERVER_INFO, r.release());
                break;
            }
        }
        for (int i = 0; i < 3; ++i) {
            if (std::unique_ptr<InstServerInfo> r = SendInstSDXZInfoRequest()) {
                PostOwned(hwnd, WM_USER_INST_SDXZ_INFO, r.release());
                break;
            }
        }
    } catch (...) {
        WriteLogW(L"RequestInstInfoThread UNexpected excepiton....\n");
    }
    return 0;
}

void CMainFrameWnd::OnDownloadProgress(const DownloadProgressInfo* info, void* context) {
    HWND hwnd = static_cast<HWND>(context);
    if (!info || !hwnd) return;
    if (info->m_n_status == kStatusDownloading) PostOwned(hwnd, WM_USER_SHOW_PROGRESS, new DownloadProgressInfo(*info));
    else PostOwnedFinal(hwnd, WM_USER_SHOW_PROGRESS, new DownloadProgressInfo(*info));
}

DWORD WINAPI CMainFrameWnd::DownloadInstExeImp(LPVOID param) {
    std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(param));
    const HWND hwnd = job->m_h_window;
    // exactly one answer: the package at hand, an order to download, or no address at all
    std::unique_ptr<DownloadOrder> order(new DownloadOrder());
    try {
        WriteLogW(L"receive download msg\n");
        PushBehaviorRecord(kBehaviorDownloadStart, "1");

        CVdBizHandler& biz = CVdBizHandler::Inst();
        if (biz.IsVdpmInside()) {
            biz.CheckVdpmInsideFromRc();
            std::wstring path = biz.GetVdpmTargetPath();
            WriteLogW(L"IsVdpmInside,use tmp inst.exe:%s\n", path.c_str());
            PostOwnedFinal(hwnd, WM_USER_USE_LOCAL_INST_EXE, new std::wstring(path));
            return 0;
        }

        InstServerInfo& rec = order->m_record;
        rec = job->m_record;
        std::wstring cachePath;
        bool fetched = false;
        bool need = ::CheckLocalInstExe(rec, cachePath, fetched, [] { return SendInstServerInfoRequest(); });
        order->m_b_record_changed = fetched;
        if (!need) {
            WriteLogW(L"not need download,use local inst.exe:%s\n", cachePath.c_str());
            if (fetched) PostOwned(hwnd, WM_USER_INST_SERVER_INFO, new InstServerInfo(rec), 1);
            PostOwnedFinal(hwnd, WM_USER_USE_LOCAL_INST_EXE, new std::wstring(cachePath));
            return 0;
        }

        WriteLogW(L"begin multi download\n");
        std::wstring configured = CInstConfig::Inst().ReadPmConfig(kSub, L"URL");
        bool simulate = CInstConfig::Inst().IsTestIni_simu_pin_cou_url_error();
        if (rec.m_s_url.empty() && !configured.empty()) {
            rec.m_s_url = configured;
            order->m_b_record_changed = true;
        }
        if (rec.m_s_url.empty() || simulate) {
            rec = InstServerInfo();
            ComposeFallbackUrl(&rec, &order->m_b_from_template);
            order->m_b_record_changed = true;
            WriteLogW(L"===>to do pin cou url:%s\n", rec.m_s_url.c_str());
        }
        order->m_s_url = rec.m_s_url;
        order->m_s_sub_folder = MakeTempSubFolderName(rec.m_s_version, rec.m_s_channel, rec.m_n_x64 != 0);
        if (order->m_s_sub_folder.empty() && !order->m_s_url.empty()) {
            // the same address keeps the same folder, so that its part files resume
            WriteLogW(L"not full server info,use random subfoler...\n");
            order->m_s_sub_folder = SubFolderForUrl(order->m_s_url);
        }
    } catch (...) {
        WriteLogW(L"DownloadInstExeImp UNexpected excepiton....\n");
        order->m_s_url.clear();
    }
    PostOwnedFinal(hwnd, WM_USER_START_DOWNLOAD, order.release());
    return 0;
}

DWORD WINAPI CMainFrameWnd::ManualInstallDownloadImp(LPVOID param) {
    std::unique_ptr<ManualJob> job(static_cast<ManualJob*>(param));
    const HWND hwnd = job->m_h_window;
    std::wstring url;
    try {
        PushBehaviorRecord(kBehaviorManualDownload, "1");
        if (CInstConfig::Inst().IsTestIni_simu_get_url_error()) {
            WriteLogW(L"IsTestIni_simu_get_url_error do....\n");
        } else if (!job->m_sdxz.m_s_url.empty()) {
            WriteLogW(L"WM_USER_OPEN_INST_URL open m_p_inst_sdxz_info url:%s\n", job->m_sdxz.m_s_url.c_str());
            url = job->m_sdxz.m_s_url;
        } else {
            WriteLogW(L"ManualInstallDownloadImp manual request SendInstSDXZInfoRequest\n");
            if (std::unique_ptr<InstServerInfo> r = SendInstSDXZInfoRequest()) {
                url = r->m_s_url;
                PostOwned(hwnd, WM_USER_INST_SDXZ_INFO, r.release(), 1);
            } else {
                WriteLogW(L"ManualInstallDownloadImp todo web page\n");
            }
        }
    } catch (...) {
        WriteLogW(L"ManualInstallDownloadImp UNexpected excepiton....\n");
        url.clear();
    }
    if (url.empty()) {
        url = WebPageForManualDownload();
        WriteLogW(L"ManualInstallDownloadImp web page url:%s\n", url.c_str());
    }
    PostOwnedFinal(hwnd, WM_USER_OPEN_TARGET_URL, new std::wstring(url));
    return 0;
}

// ---- messages and timers ---------------------------------------------------------------------

void CMainFrameWnd::OnWorkflowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    try {
        switch (uMsg) {
        case WM_TIMER:
            if (!m_b_quitting) WorkflowTimer(*this, wParam);
            break;
        case WM_USER_INST_SERVER_INFO:
        case WM_USER_INST_SDXZ_INFO: {
            std::unique_ptr<InstServerInfo> rec(reinterpret_cast<InstServerInfo*>(wParam));
            if (!rec || m_b_quitting) break;
            // from a worker that fetched the record for itself: kept, nothing else
            if (lParam == 1)
                StoreRecord(uMsg == WM_USER_INST_SDXZ_INFO ? m_p_inst_sdxz_info : m_p_inst_server_info, *rec);
            else
                ServerInfoArrived(*this, uMsg == WM_USER_INST_SDXZ_INFO, *rec);
            break;
        }
        case WM_USER_SHOW_PROGRESS: {
            std::unique_ptr<DownloadProgressInfo> info(reinterpret_cast<DownloadProgressInfo*>(wParam));
            if (info && !m_b_quitting) ProgressArrived(*this, *info);
            break;
        }
        case WM_USER_MT_HTTP_DOWNLOAD:
            if (!m_b_quitting) DownloadRequested(*this, wParam == 1);
            break;
        case WM_USER_START_DOWNLOAD: {
            std::unique_ptr<DownloadOrder> order(reinterpret_cast<DownloadOrder*>(wParam));
            m_b_download_running = false;
            if (order && !m_b_quitting) StartOrderedDownload(*this, *order);
            break;
        }
        case WM_USER_USE_LOCAL_INST_EXE: {
            std::unique_ptr<std::wstring> path(reinterpret_cast<std::wstring*>(wParam));
            m_b_download_running = false;
            if (!path || m_b_quitting) break;
            EnableCloseBtn(false);
            WriteLogW(L"not need download,use local inst.exe:%s\n", path->c_str());
            ShowStatusRecord(*this, kStatusInstalling);
            PrepareExecvdInstExe(path->c_str());
            wcsncpy(m_s_inst_exe, path->c_str(), MAX_PATH - 1);
            m_s_inst_exe[MAX_PATH - 1] = 0;
            break;
        }
        case WM_USER_EXEC_INST_FEEDBACK:
            if (!m_b_quitting) InstallFeedback(*this, wParam == 1);
            break;
        case WM_USER_OPEN_SUCCESS_PAGE:
            // the install switch starts nothing at the end, the browser included
            if (!CCmdParameters::Inst().IsInstallMode()) OpenSuccessPageIfNeeded(m_s_inst_folder);
            break;
        case WM_USER_OPEN_INST_URL: {
            if (m_b_manual_download_running || m_b_quitting) break;
            std::unique_ptr<ManualJob> job(new ManualJob{m_hWnd, CopyRecord(m_p_inst_sdxz_info)});
            if (!StartWorker(&CMainFrameWnd::ManualInstallDownloadImp, job.get())) {
                WriteLogW(L"ManualInstallDownloadImp create failure,err:%d\n", GetLastError());
                break;
            }
            job.release();  // the worker's
            m_b_manual_download_running = true;
            break;
        }
        case WM_USER_OPEN_TARGET_URL: {
            std::unique_ptr<std::wstring> url(reinterpret_cast<std::wstring*>(wParam));
            m_b_manual_download_running = false;
            if (!url || m_b_quitting) break;
            WriteLogW(L"WM_USER_OPEN_TARGET_URL:%s\n", url->c_str());
            // the address may come from a server answer over plain HTTP: never hand the shell
            // anything but a web address
            if (IsSafeBrowserUrl(*url)) OpenUrlInBrowser(url->c_str());
            else OpenTargetUrlSafely(*url, WebPageForManualDownload());
            break;
        }
        case WM_USER_OPEN_AGREEMENT:
            OpenUrlInBrowser(AgreementPageUrl().c_str());
            break;
        case WM_USER_JOIN_GROUP:
            OpenUrlInBrowser(VD_CHATGROUP_URL);
            break;
        default:
            break;
        }
    } catch (...) {
        WriteLogW(L"OnWorkflowMessage UNexpected excepiton....\n");
    }
}

// ---- handlers of the UI thread ---------------------------------------------------------------

namespace {

void FailurePage(CMainFrameWnd& w, const wchar_t* label) {
    WriteLogW(L"show failure page:%s\n", label);
    w.SetFailureLabel(label);
    w.ShowUIStatus(UI_STATUS_UI_FAILURE);
    if (CCmdParameters::Inst().IsInstallMode()) {
        // nobody can press retry in a hidden window: the run ends with its own code, after a
        // moment for the behaviour record of the failure to go out
        WriteLogW(L"install mode reached the failure page,exit code:%d\n", kExitHiddenRunFailed);
        SetTimer(w.GetHWND(), VD_TIMER_ID_HIDDEN_FAILURE_EXIT, 1500, nullptr);
    }
}

void DownloadFailed(CMainFrameWnd& w, const wchar_t* label) {
    PushBehaviorRecord(kBehaviorDownloadEnd, "2", FormatSpeedRecord(w.m_d_last_speed).c_str());
    FailurePage(w, label);
}

void ShowStatusRecord(CMainFrameWnd& w, int status) {
    DownloadProgressInfo rec = {};
    rec.m_d_fraction = (status == kStatusInstalling || status == kStatusDone) ? 1.0 : 0.0;
    rec.m_n_status = status;
    w.ShowProgress(rec);
}

void FillEditIfEmpty(CMainFrameWnd& w) {
    if (CEditUI* edit = AsEdit(w.FindControl(L"customui_dir_edit")))
        if (edit->GetText().empty()) w.InitInstallDirEdit();
}

void ServerInfoArrived(CMainFrameWnd& w, bool sdxz, const InstServerInfo& rec) {
    if (!sdxz) {
        StoreRecord(w.m_p_inst_server_info, rec);
        FillEditIfEmpty(w);
        CInstConfig& cfg = CInstConfig::Inst();
        cfg.WritePmConfig(kSub, L"URL", rec.m_s_url.c_str());
        cfg.WritePackageInfo(kSub, rec.m_n_id, rec.m_ll_size, rec.m_n_x64 != 0, rec.m_s_app_name.c_str(),
                             rec.m_s_channel.c_str(), rec.m_s_url.c_str(), rec.m_s_version.c_str());
        return;
    }
    StoreRecord(w.m_p_inst_sdxz_info, rec);
    FillEditIfEmpty(w);
    CInstConfig::Inst().WritePmConfig(kSub, L"URL", rec.m_s_url.c_str());
    if (w.m_p_inst_server_info && w.m_p_inst_server_info->m_s_url.empty()) *w.m_p_inst_server_info = rec;
    WriteLogW(L"WM_USER_INST_SDXZ_INFO m_p_inst_sdxz_info url:%s\n", rec.m_s_url.c_str());
}

void DownloadRequested(CMainFrameWnd& w, bool automaticRestart) {
    if (CEditUI* edit = AsEdit(w.FindControl(L"customui_dir_edit"))) {
        if (edit->GetText().empty()) w.InitInstallDirEdit();
        CInstConfig::Inst().WritePmConfig(kSub, L"InstallDir", edit->GetText().c_str());
    }
    if (w.m_b_download_running) return;
    if (!automaticRestart && (DWORD)w.m_n_own_file_size < kOwnSizeWithPackage) {
        DownloadProgressInfo zero = {};
        zero.m_n_status = kStatusDownloading;
        w.ShowProgress(zero);
    }
    std::unique_ptr<DownloadJob> job(new DownloadJob{w.GetHWND(), CopyRecord(w.m_p_inst_server_info)});
    if (!StartWorker(&CMainFrameWnd::DownloadInstExeImp, job.get())) {
        WriteLogW(L"DownloadInstExeImp create failure,err:%d\n", GetLastError());
        // counts as a download error: the restart rule tries again, or gives up
        if (RestartRuleOnError(w.m_b_error_pending, w.m_dw_error_time, w.m_n_restart_count, GetTickCount()) ==
            RestartAction::Fail)
            DownloadFailed(w, L"下载失败,请");
        return;
    }
    job.release();  // the worker's
    w.m_b_download_running = true;
}

// The download worker's order, carried out here: this thread alone starts and stops the manager.
void StartOrderedDownload(CMainFrameWnd& w, DownloadOrder& order) {
    if (order.m_b_record_changed) StoreRecord(w.m_p_inst_server_info, order.m_record);
    if (order.m_b_from_template) w.IsFromVidiraUrl = true;
    if (order.m_s_url.empty()) {
        DownloadProgressInfo none = {};
        none.m_n_status = kStatusNoUrl;
        ProgressArrived(w, none);
        return;
    }
    CMtHttpDownload* dl = w.m_p_mt_download;
    if (!dl) return;
    const std::wstring output = w.m_s_inst_exe;
    dl->StopDownload();
    DeletePath(output);
    dl->SetSectionCount(6);
    dl->SetSupportBreakpoint(1);
    dl->SetTempSubFolder(order.m_s_sub_folder.c_str());
    dl->SetProgressCallback(&CMainFrameWnd::OnDownloadProgress, w.GetHWND());
    dl->SetProgressRange(0.0f, 1.0f);
    dl->StartDownload(order.m_s_url.c_str(), output.c_str());
    WriteLogW(L"end multi download\n");
}

void ProgressArrived(CMainFrameWnd& w, const DownloadProgressInfo& info) {
    if (info.m_n_status == kStatusNoUrl) {
        DownloadFailed(w, L"网络失败,请");
        return;
    }
    w.m_n_last_download_status = info.m_n_status;

    if (CInstConfig::Inst().IsTestIni_downloading_failure() && info.m_n_status == kStatusDownloading &&
        info.m_d_fraction >= 0.1) {
        WriteLogW(L"simulate downloading failure\n");
        // stopped, so the transfer cannot go on to install behind the failure page; the part
        // files stay for the retry
        if (w.m_p_mt_download) w.m_p_mt_download->StopDownload();
        FailurePage(w, L"安装失败,请");
        return;
    }

    if (info.m_n_status == kStatusSuccess && PathExists(w.m_s_inst_exe)) {
        WriteLogW(L"download total seconds:%ld\n", (long)info.m_n_elapsed);
        InstServerInfo rec = CopyRecord(w.m_p_inst_server_info);
        bool fromTemplate = w.IsFromVidiraUrl;
        bool good = fromTemplate || w.ValidInstExe(w.m_s_inst_exe, rec.m_ll_size, false, rec.m_ws_md5);
        if (!good) {
            WriteLogW(L"file:%s, serversize:%ld\n", w.m_s_inst_exe, (long)rec.m_ll_size);
            DownloadFailed(w, L"下载失败,请");
            return;
        }
        PushBehaviorRecord(kBehaviorDownloadEnd, "1", FormatSpeedRecord(w.m_d_last_speed).c_str());
        w.EnableCloseBtn(false);
        ShowStatusRecord(w, kStatusInstalling);
        if (wcslen(w.m_s_inst_exe) > 1 && !rec.m_s_version.empty() && IsSafePathComponent(rec.m_s_version)) {
            std::wstring cache;
            CopySetupToCache(w.m_s_inst_exe, rec.m_n_x64 != 0, kSub, rec.m_s_version.c_str(), cache);
            WriteLogW(L"WM_USER_SHOW_PROGRESS errDownloadSuccess check cache exe to:%s\n", cache.c_str());
            CInstConfig::Inst().WritePmConfigIniExePath(kSub, cache.c_str());
        }
        w.PrepareExecvdInstExe(w.m_s_inst_exe);
        return;
    }

    if (info.m_n_status == kStatusDownloading) {
        w.ShowProgress(info);
        return;
    }

    if (RestartRuleOnError(w.m_b_error_pending, w.m_dw_error_time, w.m_n_restart_count, GetTickCount()) ==
        RestartAction::Fail) {
        // automatic restarts are used up: a retried download that fails again ends here
        WriteLogW(L"WM_USER_SHOW_PROGRESS download errcode:%d,no restart left\n", info.m_n_status);
        if (w.m_p_mt_download) w.m_p_mt_download->StopDownload();
        DownloadFailed(w, L"下载失败,请");
        return;
    }
    WriteLogW(L"WM_USER_SHOW_PROGRESS download errcode:%d\n", info.m_n_status);
}

void RestartTimer(CMainFrameWnd& w) {
    RestartAction a = RestartRuleOnTimer(w.m_b_error_pending, w.m_dw_error_time, w.m_n_restart_count, GetTickCount());
    switch (a) {
    case RestartAction::Wait:
        WriteLogW(L"find download err,but time is less than 40 seoncds.wating to restart");
        break;
    case RestartAction::Restart:
        WriteLogW(L"VD_TIMER_ID_Check_Download_Status retry count:%d\n", w.m_n_restart_count);
        WriteLogW(L"VD_TIMER_ID_EXIT post WM_USER_MT_HTTP_DOWNLOAD to restart download now...\n");
        w.PostMessage(WM_USER_MT_HTTP_DOWNLOAD, 1, 0);
        break;
    case RestartAction::Fail:
        WriteLogW(L"VD_TIMER_ID_Check_Download_Status retry count:%d\n", w.m_n_restart_count);
        if (w.m_p_mt_download) w.m_p_mt_download->StopDownload();
        DownloadFailed(w, L"下载失败,请");
        break;
    case RestartAction::None:
        break;
    }
}

void WorkflowTimer(CMainFrameWnd& w, WPARAM id) {
    switch (id) {
    case VD_TIMER_ID_Check_Download_Status:
        RestartTimer(w);
        break;
    case VD_TIMER_ID_PROGRESS_BG: {
        w.m_n_bg_index = w.m_n_bg_index >= 3 ? 1 : w.m_n_bg_index + 1;
        static const wchar_t* const kImages[] = {L"file='progress_page_bg_580x300_1.png'",
                                                 L"file='progress_page_bg_580x300_2.png'",
                                                 L"file='progress_page_bg_580x300_3.png'"};
        if (w.m_p_title_h_layout_300) w.m_p_title_h_layout_300->SetAttribute(L"bkimage", kImages[w.m_n_bg_index - 1]);
        break;
    }
    case VD_TIMER_ID_INSTALLING: {
        w.m_n_installing_dots = w.m_n_installing_dots % 3 + 1;
        std::wstring text = L"正在安装,请稍候" + std::wstring(w.m_n_installing_dots, L'.');
        if (CControlUI* label = w.FindControl(L"installingui_progress_label")) {
            label->SetText(text.c_str());
            label->SetVisible(true);
        }
        for (const wchar_t* name : {L"installingui_breakpoint_label", L"installingui_red_close",
                                    L"installingui_failure_label", L"installingui_failure_retry_btn"})
            if (CControlUI* c = w.FindControl(name)) c->SetVisible(false);
        if (w.m_n_installing_dots >= 3) w.m_n_installing_dots = 0;
        break;
    }
    case VD_TIMER_ID_HIDDEN_FAILURE_EXIT:
        KillTimer(w.GetHWND(), VD_TIMER_ID_HIDDEN_FAILURE_EXIT);
        w.Prepare4QuitApp(kExitHiddenRunFailed);
        break;
    case VD_TIMER_ID_EXIT:
        --w.m_n_exit_countdown;
        if (w.m_n_exit_countdown <= 0) {
            KillTimer(w.GetHWND(), VD_TIMER_ID_EXIT);
            WriteLogW(L"VD_TIMER_ID_EXIT timeout,execute default actions\n");
            w.ExecuteDefaultActions();
            WriteLogW(L"VD_TIMER_ID_EXIT timeout,prepare4quitapp\n");
            w.Prepare4QuitApp();
        } else {
            w.ShowExperienceCountdown(w.m_n_exit_countdown);
        }
        break;
    default:
        break;
    }
}

void InstallFeedback(CMainFrameWnd& w, bool success) {
    // started on this thread before the install thread: stopped here
    KillTimer(w.GetHWND(), VD_TIMER_ID_INSTALLING);
    if (w.m_p_mt_download) w.m_p_mt_download->StopDownload();
    WriteLogW(L"WM_USER_EXEC_INST_FEEDBACK receive wParam:%d\n", success ? 1 : 0);
    w.EnableCloseBtn(true);
    if (!success) {
        PushBehaviorRecord(kBehaviorInstallEnd, "2", "Installing failure");
        FailurePage(w, L"安装失败,请");
        return;
    }
    WriteLogW(L"WM_USER_EXEC_INST_FEEDBACK nFeedback == 1\n");
    PushBehaviorRecord(kBehaviorInstallEnd, "1");
    ShowStatusRecord(w, kStatusDone);

    CVdBizHandler& biz = CVdBizHandler::Inst();
    if (biz.IsVdpmInside()) {
        WriteLogW(L"delete vdpm inside tmp exe file:%s\n", biz.GetVdpmTargetPath().c_str());
        DeletePath(biz.GetVdpmTargetPath());
    } else {
        InstServerInfo rec = CopyRecord(w.m_p_inst_server_info);
        bool fromTemplate = w.IsFromVidiraUrl;
        const bool x64 = rec.m_n_x64 != 0;
        std::wstring cache;
        bool versionUsable = !rec.m_s_version.empty() && IsSafePathComponent(rec.m_s_version);
        if (fromTemplate && versionUsable) {
            CopySetupToCache(w.m_s_inst_exe, x64, kSub, rec.m_s_version.c_str(), cache);
            WriteLogW(L"IsFromVidiraUrl check cache exe to:%s\n", cache.c_str());
        } else if (wcslen(w.m_s_inst_exe) > 1 && versionUsable) {
            CopySetupToCache(w.m_s_inst_exe, x64, kSub, rec.m_s_version.c_str(), cache);
            WriteLogW(L"WM_USER_EXEC_INST_FEEDBACK check cache exe to:%s\n", cache.c_str());
        }
        WriteLogW(L"before WritePmConfigIniExePath\n");
        CInstConfig::Inst().WritePmConfigIniExePath(kSub, cache.c_str());
        WriteLogW(L"end WritePmConfigIniExePath,before CheckOldExeFile m_p_inst_server_info:%0x\n",
                  (unsigned)(UINT_PTR)w.m_p_inst_server_info.get());
        WriteLogW(L"m_p_inst_server_info version:%s,x64:%d\n", rec.m_s_version.c_str(), rec.m_n_x64);
        WriteLogW(L"CheckOldExeFile do..\n");
        if (versionUsable) CheckOldExeFile(x64, kSub, rec.m_s_version.c_str());
        WriteLogW(L"CheckOldExeFile end..\n");
        WriteLogW(L"end CheckOldExeFile,before check exe is the same or not...\n");
        if (!cache.empty() && PathExists(cache) && cache != w.m_s_inst_exe) {
            WriteLogW(L"delete exe file:%s\n", w.m_s_inst_exe);
            DeletePath(w.m_s_inst_exe);
        }
    }
    WriteLogW(L"begin CVdBizHandler::Inst()->CheckBizChannelFromRc \n");
    biz.CheckBizChannelFromRc(w.m_s_inst_folder);
    WriteLogW(L"end CVdBizHandler::Inst()->CheckBizChannelFromRc \n");
    w.PostMessage(WM_USER_OPEN_SUCCESS_PAGE, 0, 0);
    w.CheckMonitorOption();
    w.ShowUIStatus(UI_STATUS_UI_SUCCESS);
    w.m_n_exit_countdown = 5;
    w.ShowExperienceCountdown(w.m_n_exit_countdown);
    KillTimer(w.GetHWND(), VD_TIMER_ID_PROGRESS_BG);
    SetTimer(w.GetHWND(), VD_TIMER_ID_EXIT, 1000, nullptr);
}

}  // namespace

// ---- progress display ------------------------------------------------------------------------

void CMainFrameWnd::ShowProgress(const DownloadProgressInfo& info) {
    HANDLE mutex = m_h_progress_mutex.Get();
    if (mutex) WaitForSingleObject(mutex, INFINITE);
    const int percent = ProgressPercent(info.m_d_fraction);
    std::wstring speedText, percentText;
    if (info.m_n_status == kStatusDownloading) {
        speedText = FormatSpeedText(info.m_d_speed);
        percentText = FormatPercentText(percent);
        m_d_last_resume_ratio = info.m_d_resume_fraction;
        const int resumePercent = ProgressPercent(info.m_d_resume_fraction);
        if (IsInLowSpeedWindow(percent, resumePercent)) {
            if (IsLowSpeed(info.m_d_speed)) {
                WriteLogW(L"ShowManualDownUI true nLastFileBeginPercent:%d,fPercent:%d,low speed,<50 KB/S:%.2f\n",
                          resumePercent, percent, info.m_d_speed);
                WriteLogW(L"ShowManualDownUI true nowsize:%ld,totalsize:%ld,total seconds:%d\n",
                          (long)info.m_ll_now_size, (long)info.m_ll_total_size, info.m_n_elapsed);
                WriteLogW(L"strPost:%s\n", speedText.c_str());
                ShowManualDownUI();
            }
            if (CInstConfig::Inst().IsTestIni_simu_speed_less_50()) ShowManualDownUI();
        }
        m_d_last_speed = info.m_d_speed;
    } else if (info.m_n_status == kStatusInstalling) {
        speedText = L"正在安装,请稍候";
    }
    if (info.m_n_status == kStatusInstalling || info.m_n_status == kStatusDone)
        if (CControlUI* c = FindControl(L"installingui_breakpoint_label")) c->SetVisible(false);
    if (CProgressUI* bar = AsProgress(FindControl(L"installingui_progress"))) {
        bar->SetValue(percent);
        bar->SetAttribute(L"textcolor", ProgressTextColor(percent));
        bar->SetText(percentText.c_str());
        if (CControlUI* label = FindControl(L"installingui_progress_label")) {
            label->SetText(speedText.c_str());
            label->SetVisible(true);
        }
    }
    if (mutex) ReleaseMutex(mutex);
}

// ---- quitting --------------------------------------------------------------------------------

void CMainFrameWnd::Prepare4QuitApp(int exitCode) {
    if (m_b_quitting) return;
    m_b_quitting = true;
    m_n_exit_code = exitCode;
    // Stopped first (bounded): a transfer that went on would keep the queue busy and hold WM_QUIT
    // back. Its part files stay unless no transfer was running.
    if (m_p_mt_download) {
        m_p_mt_download->StopDownload();
        if (!ShouldKeepPartFiles(m_n_last_download_status)) m_p_mt_download->CleanupTempCacheFolder(true);
    }
    PostQuitMessage(exitCode);
}

// ---- validation, installation and launch -----------------------------------------------------

void CMainFrameWnd::GetDefaultInstallDir(wchar_t* folder, int mode) {
    if (!folder) return;
    InstServerInfo rec = CopyRecord(m_p_inst_server_info);
    std::wstring dir = ::GetDefaultInstallDir(
        mode == VD_DEFAULT_DIR_FIXED_DRIVE ? DefaultDirMode::FixedDrive : DefaultDirMode::RememberedDrive, rec,
        m_s_user_drive[0]);
    wcsncpy(folder, dir.c_str(), MAX_PATH - 1);
    folder[MAX_PATH - 1] = 0;
}

void CMainFrameWnd::InitInstallDirEdit() {
    CEditUI* edit = AsEdit(FindControl(L"customui_dir_edit"));
    std::wstring text = InitialInstallDirText(edit != nullptr, CopyRecord(m_p_inst_server_info));
    if (edit) edit->SetText(text.c_str());
}

bool CMainFrameWnd::ValidInstExe(const wchar_t* path, long long serverSize, bool keepCache,
                                 const std::wstring& serverMd5) {
    std::string md5(serverMd5.begin(), serverMd5.end());  // hex digits only
    CMtHttpDownload* dl = m_p_mt_download;
    return ::ValidInstExe(path ? path : L"", serverSize, keepCache, md5, [dl] {
        if (dl) dl->CleanupTempCacheFolder(true);
    });
}

void CMainFrameWnd::PrepareExecvdInstExe(const wchar_t* setupPath) {
    InstallFolderInputs in;
    in.userDir = m_s_user_dir;
    in.userDrive = m_s_user_drive[0];
    if (CEditUI* edit = AsEdit(FindControl(L"customui_dir_edit"))) in.editText = edit->GetText();
    in.configInstallDir = CInstConfig::Inst().ReadPmConfig(kSub, L"InstallDir");
    in.cmdDir = CCmdParameters::Inst().GetCmdInstallDir();

    InstServerInfo rec = CopyRecord(m_p_inst_server_info);
    InstallCheckInput check;
    check.fromVidiraUrl = IsFromVidiraUrl;
    m_s_inst_folder[0] = 0;
    std::wstring folder = SettleInstallFolder(in, rec);
    if (folder.size() >= MAX_PATH) {
        // the folder would not fit the window's path buffers: installing elsewhere is worse
        WriteLogW(L"install folder too long:%s\n", folder.c_str());
        PostMessage(WM_USER_EXEC_INST_FEEDBACK, 0, 0);
        return;
    }
    wcsncpy(m_s_inst_folder, folder.c_str(), MAX_PATH - 1);
    m_s_inst_folder[MAX_PATH - 1] = 0;
    check.serverVersion = rec.m_s_version;
    check.x64 = rec.m_n_x64 != 0;
    check.vdpmInside = CVdBizHandler::Inst().IsVdpmInside();
    if (!check.fromVidiraUrl && !check.vdpmInside) check.expectedMd5 = rec.m_s_md5;
    StartInstallThread(MakeInstallJob(m_hWnd, setupPath ? setupPath : L"", folder, check));
}

DWORD WINAPI CMainFrameWnd::ThreadFuncExecvdInstExe(LPVOID job) { return ::ThreadFuncExecvdInstExe(job); }

bool CMainFrameWnd::CheckInstalledVardoExe() {
    InstallCheckInput check;
    if (m_p_inst_server_info) {
        check.serverVersion = m_p_inst_server_info->m_s_version;
        check.x64 = m_p_inst_server_info->m_n_x64 != 0;
    }
    check.fromVidiraUrl = IsFromVidiraUrl;
    check.installFolder = m_s_inst_folder;
    check.vdpmInside = CVdBizHandler::Inst().IsVdpmInside();
    return ::CheckInstalledVardoExe(check);
}

void CMainFrameWnd::ExecuteDefaultActions() {
    ::ExecuteDefaultActions(CCmdParameters::Inst().IsInstallMode(), m_s_inst_folder);
}

void CMainFrameWnd::CheckMonitorOption() {
    CCheckBoxUI* box = AsCheckBox(FindControl(L"customui_pmsec_monitor_checkbox"));
    if (!box) return;
    WriteLogW(L"pamo jiance checkbox:%d\n", box->IsSelected() ? 1 : 0);
    if (box->IsSelected()) RunHelperMonitor();
}

void CMainFrameWnd::RunHelperMonitor() { ::RunHelperMonitor(m_s_inst_folder); }
