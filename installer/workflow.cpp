#include "installer/workflow.h"

#include "base/threads.h"
#include "installer/workflow_rules.h"
#include "local/cleanup.h"
#include "local/inifile.h"
#include "base/vdlog.h"
#include "net/mtdownload.h"
#include "payload/vdbizhandler.h"
#include "probes/hostinfo.h"
#include "probes/vdutils.h"
#include "telemetry/telemetry.h"
#include "telemetry/telemetryutil.h"
#include "vd_endpoints.h"

using namespace vdworkflow;
using VdFoundationHttpDownload::CMtHttpDownload;
using VdFoundationHttpDownload::DownloadProgressInfo;

namespace {


DownloadStatus StatusOf(const DownloadProgressInfo& info) { return ToDownloadStatus(info.m_n_status); }

InstServerInfo CopyRecord(const std::unique_ptr<InstServerInfo>& p) { return p ? *p : InstServerInfo(); }

void StoreRecord(std::unique_ptr<InstServerInfo>& p, const InstServerInfo& info) {
    if (p) *p = info;
    else p.reset(new InstServerInfo(info));
}

// A worker's last word: logged when even the bounded retry could not deliver it.
template <class T>
void PostAnswer(HWND hwnd, UINT msg, std::unique_ptr<T> object) {
    if (!vdthread::PostOwnedFinal(hwnd, msg, std::move(object)))
        WriteLogW(L"post message:%d failure,err:%d\n", (int)msg, (int)GetLastError());
}

std::wstring WebPageForManualDownload() {
    return ManualDownloadWebPage(VD_WEBSITE_URL, GetInstX64Flag() != 0);
}

void OpenInBrowser(const wchar_t* url) {
    if (!OpenUrlInBrowser(url)) WriteLogW(L"open url failure:%s\n", url);
}

// The downloader's reports arrive on its threads: the handle, not the workflow, is the context.
void OnDownloadProgress(const DownloadProgressInfo* info, void* context) {
    HWND hwnd = static_cast<HWND>(context);
    if (!info || !hwnd) return;
    std::unique_ptr<DownloadProgressInfo> copy(new DownloadProgressInfo(*info));
    if (StatusOf(*info) == DownloadStatus::Downloading)
        vdthread::PostOwned(hwnd, WM_USER_SHOW_PROGRESS, std::move(copy));
    else
        PostAnswer(hwnd, WM_USER_SHOW_PROGRESS, std::move(copy));
}

// ---- workers ---------------------------------------------------------------------------------

void RequestInstInfoWorker(HWND hwnd) {
    try {
        for (int i = 0; i < 3; ++i) {
            if (std::unique_ptr<InstServerInfo> r = SendInstServerInfoRequest()) {
                vdthread::PostOwned(hwnd, WM_USER_INST_SERVER_INFO, std::move(r));
                break;
            }
        }
        for (int i = 0; i < 3; ++i) {
            if (std::unique_ptr<InstServerInfo> r = SendInstSDXZInfoRequest()) {
                vdthread::PostOwned(hwnd, WM_USER_INST_SDXZ_INFO, std::move(r));
                break;
            }
        }
    } catch (...) {
        WriteLogW(L"RequestInstInfoThread UNexpected excepiton....\n");
    }
}

std::wstring ManualDownloadWorker(HWND hwnd, const InstServerInfo& sdxz) {
    std::wstring url;
    try {
        PushBehaviorRecord(kBehaviorManualDownload, "1");
        if (CInstConfig::Inst().IsTestIni_simu_get_url_error()) {
            WriteLogW(L"IsTestIni_simu_get_url_error do....\n");
        } else if (!sdxz.m_s_url.empty()) {
            WriteLogW(L"WM_USER_OPEN_INST_URL open m_p_inst_sdxz_info url:%s\n", sdxz.m_s_url.c_str());
            url = sdxz.m_s_url;
        } else {
            WriteLogW(L"ManualInstallDownloadImp manual request SendInstSDXZInfoRequest\n");
            if (std::unique_ptr<InstServerInfo> r = SendInstSDXZInfoRequest()) {
                url = r->m_s_url;
                vdthread::PostOwned(hwnd, WM_USER_INST_SDXZ_INFO, std::move(r), 1);
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
    return url;
}

}  // namespace

// What the download worker decided, for the window's thread to carry out.
struct DownloadOrder {
    InstServerInfo m_record;  // the record the URL came from
    bool m_b_record_changed = false;
    bool m_b_from_template = false;
    std::wstring m_s_url;  // empty: no package address at all
    std::wstring m_s_sub_folder;
};

namespace {

// Exactly one answer: the package at hand, or an order to download (without an address when
// there is none).
void DownloadWorker(HWND hwnd, const InstServerInfo& record, std::unique_ptr<DownloadOrder>& order);

}  // namespace

CWorkflow::CWorkflow(IWorkflowView& view, WorkflowOptions options)
    : m_view(view), m_options(std::move(options)), m_p_inst_server_info(new InstServerInfo()) {
    if (!m_options.now) m_options.now = [] { return (uint32_t)GetTickCount(); };
    if (!m_options.startInstall) m_options.startInstall = &StartInstallThread;
}

CWorkflow::~CWorkflow() {
    if (m_p_mt_download) m_p_mt_download->StopDownload();
}

uint32_t CWorkflow::Now() const { return m_options.now(); }

void CWorkflow::StopDownload() {
    if (m_p_mt_download) m_p_mt_download->StopDownload();
}

InstServerInfo CWorkflow::ServerRecord() const { return CopyRecord(m_p_inst_server_info); }

void CWorkflow::SetServerRecord(const InstServerInfo& record) { StoreRecord(m_p_inst_server_info, record); }

// ---- start-up and end ----------------------------------------------------------------------

void CWorkflow::SetConnectionLimits() {
    // six sections and the two telemetry posts, all through one proxy where there is one
    const DWORD conns = 8;
    const int taken = VdFoundationHttpDownload::SetWinInetConnectionLimits(conns);
    WriteLogW(L"wininet connection limits:%u,server:%d,1.0 server:%d,proxy:%d\n", (unsigned)conns, taken & 1,
              (taken >> 1) & 1, (taken >> 2) & 1);
}

void CWorkflow::ReadOwnFileSize() {
    m_n_own_file_size = 0;
    wchar_t path[MAX_PATH] = {0};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        CScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD size = file.Valid() ? GetFileSize(file.Get(), nullptr) : INVALID_FILE_SIZE;
        if (size != INVALID_FILE_SIZE) m_n_own_file_size = static_cast<long>(size);
    }
    WriteLogW(L"file size=%ld\n", m_n_own_file_size);
}

void CWorkflow::StartServerInfoWorker() {
    HWND hwnd = m_view.WorkerTarget();
    if (!vdthread::StartDetachedWorker([hwnd] { RequestInstInfoWorker(hwnd); }))
        WriteLogW(L"RequestInstInfoThread create failure,err:%d\n", (int)GetLastError());
}

void CWorkflow::StartBehaviorAndStatistics() {
    StartBehaviorWorker(VD_PRODUCT_NAME);
    std::string biz = BizContentToUtf8(CVdBizHandler::Inst().GetBizContent());
    PushBehaviorRecord(kBehaviorWindowShown, "1", nullptr, biz.empty() ? nullptr : biz.c_str());
    SendInstallStatics();
}

void CWorkflow::InitDownloadManager() {
    if (!m_p_mt_download) m_p_mt_download.reset(new CMtHttpDownload());
    std::wstring out;
    if (!VdFoundationHttpDownload::GetTempOutputPath(out)) WriteLogW(L"GetTempOutputPath failure\n");
    m_s_inst_exe = out.substr(0, MAX_PATH - 1);
    m_p_mt_download->SetProgressCallback(&OnDownloadProgress, m_view.WorkerTarget());
}

void CWorkflow::FillInstallDir(bool onlyIfEmpty) {
    std::wstring text;
    const bool box = m_view.GetInstallDirText(text);
    if (onlyIfEmpty && (!box || !text.empty())) return;
    text = InitialInstallDirText(box, ServerRecord());
    if (box) m_view.SetInstallDirText(text);
}

void CWorkflow::ArmRestartTimer() { m_view.StartTimer(VD_TIMER_ID_Check_Download_Status, 5000); }

void CWorkflow::Begin() {
    if (m_options.installMode) m_view.PostToSelf(WM_USER_MT_HTTP_DOWNLOAD, 0, 0);
}

void CWorkflow::Prepare4QuitApp(int exitCode) {
    if (m_b_quitting) return;
    m_b_quitting = true;
    m_n_exit_code = exitCode;
    // Stopped first (bounded): a transfer that went on would keep the queue busy and hold WM_QUIT
    // back. Its part files stay unless no transfer was running.
    if (m_p_mt_download) {
        m_p_mt_download->StopDownload();
        if (!ShouldKeepPartFiles(m_e_last_download_status)) m_p_mt_download->CleanupTempCacheFolder(true);
    }
    m_view.EndLoop(exitCode);
}

void CWorkflow::ReleaseWorkflowResources() {
    for (UINT_PTR id : {VD_TIMER_ID_PROGRESS_BG, VD_TIMER_ID_EXIT, VD_TIMER_ID_Check_Download_Status,
                        VD_TIMER_ID_INSTALLING, VD_TIMER_ID_HIDDEN_FAILURE_EXIT})
        m_view.StopTimer(id);
    // Workers own copies of what they use and answer by message only: none is waited for. The
    // downloader's stop is bounded; threads it leaves keep their own attempt state alive.
    if (m_p_mt_download) {
        m_p_mt_download->StopDownload();
        m_p_mt_download.reset();  // its destructor keeps part files unless the download succeeded
    }
    m_p_inst_server_info.reset();
    m_p_inst_sdxz_info.reset();
    StopTelemetry();
}

// ---- messages --------------------------------------------------------------------------------

void CWorkflow::OnServerInfo(WPARAM wParam, LPARAM lParam) {
    std::unique_ptr<InstServerInfo> rec(reinterpret_cast<InstServerInfo*>(wParam));
    if (!rec || m_b_quitting) return;
    // from a worker that fetched the record for itself: kept, nothing else
    if (lParam == 1) StoreRecord(m_p_inst_server_info, *rec);
    else ServerInfoArrived(false, *rec);
}

void CWorkflow::OnSdxzInfo(WPARAM wParam, LPARAM lParam) {
    std::unique_ptr<InstServerInfo> rec(reinterpret_cast<InstServerInfo*>(wParam));
    if (!rec || m_b_quitting) return;
    if (lParam == 1) StoreRecord(m_p_inst_sdxz_info, *rec);
    else ServerInfoArrived(true, *rec);
}

void CWorkflow::OnProgress(WPARAM wParam, LPARAM) {
    std::unique_ptr<DownloadProgressInfo> info(reinterpret_cast<DownloadProgressInfo*>(wParam));
    if (info && !m_b_quitting) ProgressArrived(*info);
}

void CWorkflow::OnDownloadRequest(WPARAM wParam, LPARAM) {
    if (!m_b_quitting) DownloadRequested(wParam == 1);
}

void CWorkflow::OnStartDownload(WPARAM wParam, LPARAM) {
    std::unique_ptr<DownloadOrder> order(reinterpret_cast<DownloadOrder*>(wParam));
    m_b_download_running = false;
    if (order && !m_b_quitting) StartOrderedDownload(*order);
}

void CWorkflow::OnLocalSetup(WPARAM wParam, LPARAM) {
    std::unique_ptr<std::wstring> path(reinterpret_cast<std::wstring*>(wParam));
    m_b_download_running = false;
    if (!path || m_b_quitting) return;
    m_view.EnableClose(false);
    WriteLogW(L"not need download,use local inst.exe:%s\n", path->c_str());
    ShowStatusRecord(DownloadStatus::Installing);
    PrepareExecvdInstExe(path->c_str());
    m_s_inst_exe = path->substr(0, MAX_PATH - 1);
}

void CWorkflow::OnInstallFeedback(WPARAM wParam, LPARAM) {
    if (!m_b_quitting) InstallFeedback(wParam == 1);
}

void CWorkflow::OnSuccessPage(WPARAM, LPARAM) {
    // the install switch starts nothing at the end, the browser included
    if (!m_options.installMode) OpenSuccessPageIfNeeded(m_s_inst_folder);
}

void CWorkflow::OnOpenInstUrl(WPARAM, LPARAM) {
    if (m_b_manual_download_running || m_b_quitting) return;
    HWND hwnd = m_view.WorkerTarget();
    InstServerInfo sdxz = CopyRecord(m_p_inst_sdxz_info);
    auto work = [hwnd, sdxz] {
        PostAnswer(hwnd, WM_USER_OPEN_TARGET_URL, std::unique_ptr<std::wstring>(
                                                      new std::wstring(ManualDownloadWorker(hwnd, sdxz))));
    };
    if (!vdthread::StartDetachedWorker(std::move(work))) {
        WriteLogW(L"ManualInstallDownloadImp create failure,err:%d\n", GetLastError());
        return;
    }
    m_b_manual_download_running = true;
}

void CWorkflow::OnOpenTargetUrl(WPARAM wParam, LPARAM) {
    std::unique_ptr<std::wstring> url(reinterpret_cast<std::wstring*>(wParam));
    m_b_manual_download_running = false;
    if (!url || m_b_quitting) return;
    WriteLogW(L"WM_USER_OPEN_TARGET_URL:%s\n", url->c_str());
    // the address may come from a server answer over plain HTTP: never hand the shell anything
    // but a web address
    if (IsSafeBrowserUrl(*url)) OpenInBrowser(url->c_str());
    else OpenTargetUrlSafely(*url, WebPageForManualDownload());
}

void CWorkflow::OnOpenAgreement(WPARAM, LPARAM) { OpenInBrowser(AgreementPageUrl().c_str()); }

void CWorkflow::OnJoinGroup(WPARAM, LPARAM) { OpenInBrowser(VD_CHATGROUP_URL); }

// ---- the steps -------------------------------------------------------------------------------

void CWorkflow::FailurePage(const wchar_t* label) {
    WriteLogW(L"show failure page:%s\n", label);
    m_view.SetFailureLabel(label);
    m_view.ShowPage(UI_STATUS_UI_FAILURE);
    if (m_options.installMode) {
        // nobody can press retry in a hidden window: the run ends with its own code, after a
        // moment for the behaviour record of the failure to go out
        WriteLogW(L"install mode reached the failure page,exit code:%d\n", kExitHiddenRunFailed);
        m_view.StartTimer(VD_TIMER_ID_HIDDEN_FAILURE_EXIT, 1500);
    }
}

void CWorkflow::DownloadFailed(const wchar_t* label) {
    PushBehaviorRecord(kBehaviorDownloadEnd, "2", FormatSpeedRecord(m_d_last_speed).c_str());
    FailurePage(label);
}

void CWorkflow::ShowStatusRecord(DownloadStatus status) {
    DownloadProgressInfo rec = {};
    rec.m_d_fraction = (status == DownloadStatus::Installing || status == DownloadStatus::Done) ? 1.0 : 0.0;
    rec.m_n_status = StatusCode(status);
    ShowProgress(rec);
}

void CWorkflow::ShowProgress(const DownloadProgressInfo& info) {
    const DownloadStatus status = StatusOf(info);
    const int percent = ProgressPercent(info.m_d_fraction);
    std::wstring speedText, percentText;
    if (status == DownloadStatus::Downloading) {
        speedText = FormatSpeedText(info.m_d_speed);
        percentText = FormatPercentText(percent);
        const int resumePercent = ProgressPercent(info.m_d_resume_fraction);
        if (IsInLowSpeedWindow(percent, resumePercent)) {
            if (IsLowSpeed(info.m_d_speed)) {
                WriteLogW(L"ShowManualDownUI true nLastFileBeginPercent:%d,fPercent:%d,low speed,<50 KB/S:%.2f\n",
                          resumePercent, percent, info.m_d_speed);
                WriteLogW(L"ShowManualDownUI true nowsize:%ld,totalsize:%ld,total seconds:%d\n",
                          (long)info.m_ll_now_size, (long)info.m_ll_total_size, info.m_n_elapsed);
                WriteLogW(L"strPost:%s\n", speedText.c_str());
                m_view.ShowManualDownload();
            }
            if (CInstConfig::Inst().IsTestIni_simu_speed_less_50()) m_view.ShowManualDownload();
        }
        m_d_last_speed = info.m_d_speed;
    } else if (status == DownloadStatus::Installing) {
        speedText = L"正在安装,请稍候";
    }
    m_view.ShowProgress(percent, percentText, speedText,
                        status == DownloadStatus::Installing || status == DownloadStatus::Done);
}

void CWorkflow::ServerInfoArrived(bool sdxz, const InstServerInfo& rec) {
    if (!sdxz) {
        StoreRecord(m_p_inst_server_info, rec);
        FillInstallDir(true);
        CInstConfig& cfg = CInstConfig::Inst();
        cfg.WritePmConfig(VD_PRODUCT_NAME, L"URL", rec.m_s_url.c_str());
        cfg.WritePackageInfo(VD_PRODUCT_NAME, rec.m_n_id, rec.m_ll_size, rec.m_n_x64 != 0, rec.m_s_app_name.c_str(),
                             rec.m_s_channel.c_str(), rec.m_s_url.c_str(), rec.m_s_version.c_str());
        return;
    }
    StoreRecord(m_p_inst_sdxz_info, rec);
    FillInstallDir(true);
    CInstConfig::Inst().WritePmConfig(VD_PRODUCT_NAME, L"URL", rec.m_s_url.c_str());
    if (m_p_inst_server_info && m_p_inst_server_info->m_s_url.empty()) *m_p_inst_server_info = rec;
    WriteLogW(L"WM_USER_INST_SDXZ_INFO m_p_inst_sdxz_info url:%s\n", rec.m_s_url.c_str());
}

void CWorkflow::DownloadRequested(bool automaticRestart) {
    std::wstring text;
    if (m_view.GetInstallDirText(text)) {
        if (text.empty()) {
            FillInstallDir(false);
            m_view.GetInstallDirText(text);
        }
        CInstConfig::Inst().WritePmConfig(VD_PRODUCT_NAME, L"InstallDir", text.c_str());
    }
    if (m_b_download_running) return;
    if (!automaticRestart && (DWORD)m_n_own_file_size < VD_OWN_SIZE_LIMIT) {
        DownloadProgressInfo zero = {};
        zero.m_n_status = StatusCode(DownloadStatus::Downloading);
        ShowProgress(zero);
    }
    HWND hwnd = m_view.WorkerTarget();
    InstServerInfo record = CopyRecord(m_p_inst_server_info);
    auto work = [hwnd, record] {
        std::unique_ptr<DownloadOrder> order(new DownloadOrder());
        DownloadWorker(hwnd, record, order);
        if (order) PostAnswer(hwnd, WM_USER_START_DOWNLOAD, std::move(order));
    };
    if (!vdthread::StartDetachedWorker(std::move(work))) {
        WriteLogW(L"DownloadInstExeImp create failure,err:%d\n", GetLastError());
        // counts as a download error: the restart rule tries again, or gives up
        if (RestartRuleOnError(m_b_error_pending, m_dw_error_time, m_n_restart_count, Now()) == RestartAction::Fail)
            DownloadFailed(L"下载失败,请");
        return;
    }
    m_b_download_running = true;
}

// The download worker's order, carried out here: this thread alone starts and stops the manager.
void CWorkflow::StartOrderedDownload(DownloadOrder& order) {
    if (order.m_b_record_changed) StoreRecord(m_p_inst_server_info, order.m_record);
    if (order.m_b_from_template) m_b_from_template = true;
    if (order.m_s_url.empty()) {
        DownloadProgressInfo none = {};
        none.m_n_status = StatusCode(DownloadStatus::NoUrl);
        ProgressArrived(none);
        return;
    }
    CMtHttpDownload* dl = m_p_mt_download.get();
    if (!dl) return;
    const std::wstring output = m_s_inst_exe;
    dl->StopDownload();
    DeletePath(output);
    dl->SetSectionCount(6);
    dl->SetSupportBreakpoint(1);
    dl->SetTempSubFolder(order.m_s_sub_folder.c_str());
    dl->SetProgressCallback(&OnDownloadProgress, m_view.WorkerTarget());
    dl->SetProgressRange(0.0f, 1.0f);
    if (!dl->StartDownload(order.m_s_url.c_str(), output.c_str()))
        WriteLogW(L"start multi download failure\n");  // its failure report is on its way
    WriteLogW(L"end multi download\n");
}

void CWorkflow::ProgressArrived(const DownloadProgressInfo& info) {
    const DownloadStatus status = StatusOf(info);
    if (status == DownloadStatus::NoUrl) {
        DownloadFailed(L"网络失败,请");
        return;
    }
    m_e_last_download_status = status;

    if (CInstConfig::Inst().IsTestIni_downloading_failure() && status == DownloadStatus::Downloading &&
        info.m_d_fraction >= 0.1) {
        WriteLogW(L"simulate downloading failure\n");
        // stopped, so the transfer cannot go on to install behind the failure page; the part
        // files stay for the retry
        StopDownload();
        FailurePage(L"安装失败,请");
        return;
    }

    if (status == DownloadStatus::Success && PathExists(m_s_inst_exe)) {
        WriteLogW(L"download total seconds:%ld\n", (long)info.m_n_elapsed);
        InstServerInfo rec = ServerRecord();
        bool good = m_b_from_template || ValidInstExe(m_s_inst_exe.c_str(), rec.m_ll_size, false, rec.m_ws_md5);
        if (!good) {
            WriteLogW(L"file:%s, serversize:%ld\n", m_s_inst_exe.c_str(), (long)rec.m_ll_size);
            DownloadFailed(L"下载失败,请");
            return;
        }
        PushBehaviorRecord(kBehaviorDownloadEnd, "1", FormatSpeedRecord(m_d_last_speed).c_str());
        m_view.EnableClose(false);
        ShowStatusRecord(DownloadStatus::Installing);
        if (m_s_inst_exe.size() > 1 && !rec.m_s_version.empty() && IsSafePathComponent(rec.m_s_version)) {
            std::wstring cache;
            if (!CopySetupToCache(m_s_inst_exe.c_str(), rec.m_n_x64 != 0, VD_PRODUCT_NAME, rec.m_s_version.c_str(), cache))
                WriteLogW(L"copy cache exe failure:%s\n", cache.c_str());
            WriteLogW(L"WM_USER_SHOW_PROGRESS errDownloadSuccess check cache exe to:%s\n", cache.c_str());
            CInstConfig::Inst().WritePmConfigIniExePath(VD_PRODUCT_NAME, cache.c_str());
        }
        PrepareExecvdInstExe(m_s_inst_exe.c_str());
        return;
    }

    if (status == DownloadStatus::Downloading) {
        ShowProgress(info);
        return;
    }

    if (RestartRuleOnError(m_b_error_pending, m_dw_error_time, m_n_restart_count, Now()) == RestartAction::Fail) {
        // automatic restarts are used up: a retried download that fails again ends here
        WriteLogW(L"WM_USER_SHOW_PROGRESS download errcode:%d,no restart left\n", info.m_n_status);
        StopDownload();
        DownloadFailed(L"下载失败,请");
        return;
    }
    WriteLogW(L"WM_USER_SHOW_PROGRESS download errcode:%d\n", info.m_n_status);
}

void CWorkflow::RestartTimer() {
    RestartAction a = RestartRuleOnTimer(m_b_error_pending, m_dw_error_time, m_n_restart_count, Now());
    switch (a) {
    case RestartAction::Wait:
        WriteLogW(L"find download err,but time is less than 40 seoncds.wating to restart");
        break;
    case RestartAction::Restart:
        WriteLogW(L"VD_TIMER_ID_Check_Download_Status retry count:%d\n", m_n_restart_count);
        WriteLogW(L"VD_TIMER_ID_EXIT post WM_USER_MT_HTTP_DOWNLOAD to restart download now...\n");
        m_view.PostToSelf(WM_USER_MT_HTTP_DOWNLOAD, 1, 0);
        break;
    case RestartAction::Fail:
        WriteLogW(L"VD_TIMER_ID_Check_Download_Status retry count:%d\n", m_n_restart_count);
        StopDownload();
        DownloadFailed(L"下载失败,请");
        break;
    case RestartAction::None:
        break;
    }
}

void CWorkflow::OnTimer(UINT_PTR id) {
    if (m_b_quitting) return;
    switch (id) {
    case VD_TIMER_ID_Check_Download_Status:
        RestartTimer();
        break;
    case VD_TIMER_ID_HIDDEN_FAILURE_EXIT:
        m_view.StopTimer(VD_TIMER_ID_HIDDEN_FAILURE_EXIT);
        Prepare4QuitApp(kExitHiddenRunFailed);
        break;
    case VD_TIMER_ID_EXIT:
        --m_n_exit_countdown;
        if (m_n_exit_countdown <= 0) {
            m_view.StopTimer(VD_TIMER_ID_EXIT);
            WriteLogW(L"VD_TIMER_ID_EXIT timeout,execute default actions\n");
            ExecuteDefaultActions();
            WriteLogW(L"VD_TIMER_ID_EXIT timeout,prepare4quitapp\n");
            Prepare4QuitApp();
        } else {
            m_view.ShowCountdown(m_n_exit_countdown);
        }
        break;
    default:
        break;
    }
}

void CWorkflow::OnExperienceNow() {
    m_view.StopTimer(VD_TIMER_ID_EXIT);
    WriteLogW(L"successui_experience_now_btn click,execute default actions\n");
    ExecuteDefaultActions();
    Prepare4QuitApp();
}

// The package of a successful installation goes into the cache; older ones go.
void CWorkflow::KeepInstalledPackage() {
    InstServerInfo rec = ServerRecord();
    const bool x64 = rec.m_n_x64 != 0;
    std::wstring cache;
    bool versionUsable = !rec.m_s_version.empty() && IsSafePathComponent(rec.m_s_version);
    if (versionUsable && (m_b_from_template || m_s_inst_exe.size() > 1)) {
        if (!CopySetupToCache(m_s_inst_exe.c_str(), x64, VD_PRODUCT_NAME, rec.m_s_version.c_str(), cache))
            WriteLogW(L"copy cache exe failure:%s\n", cache.c_str());
        WriteLogW(m_b_from_template ? L"IsFromVidiraUrl check cache exe to:%s\n"
                                    : L"WM_USER_EXEC_INST_FEEDBACK check cache exe to:%s\n",
                  cache.c_str());
    }
    WriteLogW(L"before WritePmConfigIniExePath\n");
    CInstConfig::Inst().WritePmConfigIniExePath(VD_PRODUCT_NAME, cache.c_str());
    WriteLogW(L"end WritePmConfigIniExePath,before CheckOldExeFile m_p_inst_server_info:%0x\n",
              (unsigned)(UINT_PTR)m_p_inst_server_info.get());
    WriteLogW(L"m_p_inst_server_info version:%s,x64:%d\n", rec.m_s_version.c_str(), rec.m_n_x64);
    WriteLogW(L"CheckOldExeFile do..\n");
    if (versionUsable) CheckOldExeFile(x64, VD_PRODUCT_NAME, rec.m_s_version.c_str());
    WriteLogW(L"CheckOldExeFile end..\n");
    WriteLogW(L"end CheckOldExeFile,before check exe is the same or not...\n");
    if (!cache.empty() && PathExists(cache) && cache != m_s_inst_exe) {
        WriteLogW(L"delete exe file:%s\n", m_s_inst_exe.c_str());
        DeletePath(m_s_inst_exe);
    }
}

void CWorkflow::InstallFeedback(bool success) {
    // started on this thread before the install thread: stopped here
    m_view.StopTimer(VD_TIMER_ID_INSTALLING);
    StopDownload();
    WriteLogW(L"WM_USER_EXEC_INST_FEEDBACK receive wParam:%d\n", success ? 1 : 0);
    m_view.EnableClose(true);
    if (!success) {
        PushBehaviorRecord(kBehaviorInstallEnd, "2", "Installing failure");
        FailurePage(L"安装失败,请");
        return;
    }
    WriteLogW(L"WM_USER_EXEC_INST_FEEDBACK nFeedback == 1\n");
    PushBehaviorRecord(kBehaviorInstallEnd, "1");
    ShowStatusRecord(DownloadStatus::Done);

    CVdBizHandler& biz = CVdBizHandler::Inst();
    if (biz.IsVdpmInside()) {
        WriteLogW(L"delete vdpm inside tmp exe file:%s\n", biz.GetVdpmTargetPath().c_str());
        DeletePath(biz.GetVdpmTargetPath());
    } else {
        KeepInstalledPackage();
    }
    WriteLogW(L"begin CVdBizHandler::Inst()->CheckBizChannelFromRc \n");
    biz.CheckBizChannelFromRc(m_s_inst_folder);
    WriteLogW(L"end CVdBizHandler::Inst()->CheckBizChannelFromRc \n");
    m_view.PostToSelf(WM_USER_OPEN_SUCCESS_PAGE, 0, 0);
    CheckMonitorOption();
    m_view.ShowPage(UI_STATUS_UI_SUCCESS);
    m_n_exit_countdown = 5;
    m_view.ShowCountdown(m_n_exit_countdown);
    m_view.StopTimer(VD_TIMER_ID_PROGRESS_BG);
    m_view.StartTimer(VD_TIMER_ID_EXIT, 1000);
}

bool CWorkflow::ValidInstExe(const wchar_t* path, long long serverSize, bool keepCache,
                             const std::wstring& serverMd5) {
    std::string md5(serverMd5.begin(), serverMd5.end());  // hex digits only
    CMtHttpDownload* dl = m_p_mt_download.get();
    return ::ValidInstExe(path ? path : L"", serverSize, keepCache, md5, [dl] {
        if (dl) dl->CleanupTempCacheFolder(true);
    });
}

void CWorkflow::PrepareExecvdInstExe(const wchar_t* setupPath) {
    InstallFolderInputs in;
    in.userDir = m_view.UserDir();
    in.userDrive = m_view.UserDrive();
    m_view.GetInstallDirText(in.editText);
    in.configInstallDir = CInstConfig::Inst().ReadPmConfig(VD_PRODUCT_NAME, L"InstallDir");
    in.cmdDir = m_options.cmdInstallDir;

    InstServerInfo rec = ServerRecord();
    InstallCheckInput check;
    check.fromVidiraUrl = m_b_from_template;
    m_s_inst_folder.clear();
    std::wstring folder = SettleInstallFolder(in, rec);
    if (folder.size() >= MAX_PATH) {
        // the folder would not fit the setup's and the product's path buffers: installing
        // elsewhere is worse
        WriteLogW(L"install folder too long:%s\n", folder.c_str());
        m_view.PostToSelf(WM_USER_EXEC_INST_FEEDBACK, 0, 0);
        return;
    }
    m_s_inst_folder = folder;
    check.serverVersion = rec.m_s_version;
    check.x64 = rec.m_n_x64 != 0;
    check.vdpmInside = CVdBizHandler::Inst().IsVdpmInside();
    if (!check.fromVidiraUrl && !check.vdpmInside) check.expectedMd5 = rec.m_s_md5;
    m_options.startInstall(MakeInstallJob(m_view.WorkerTarget(), setupPath ? setupPath : L"", folder, check));
}

void CWorkflow::ExecuteDefaultActions() { ::ExecuteDefaultActions(m_options.installMode, m_s_inst_folder); }

void CWorkflow::CheckMonitorOption() {
    const int choice = m_view.MonitorChoice();
    if (choice < 0) return;
    WriteLogW(L"pamo jiance checkbox:%d\n", choice);
    if (choice == 1) DoHelperMRegister(m_s_inst_folder);
}

namespace {

void DownloadWorker(HWND hwnd, const InstServerInfo& record, std::unique_ptr<DownloadOrder>& order) {
    try {
        WriteLogW(L"receive download msg\n");
        PushBehaviorRecord(kBehaviorDownloadStart, "1");

        CVdBizHandler& biz = CVdBizHandler::Inst();
        if (biz.IsVdpmInside()) {
            biz.CheckVdpmInsideFromRc();
            std::wstring path = biz.GetVdpmTargetPath();
            WriteLogW(L"IsVdpmInside,use tmp inst.exe:%s\n", path.c_str());
            order.reset();
            PostAnswer(hwnd, WM_USER_USE_LOCAL_INST_EXE, std::unique_ptr<std::wstring>(new std::wstring(path)));
            return;
        }

        InstServerInfo& rec = order->m_record;
        rec = record;
        std::wstring cachePath;
        bool fetched = false;
        bool need = ::CheckLocalInstExe(rec, cachePath, fetched, [] { return SendInstServerInfoRequest(); });
        order->m_b_record_changed = fetched;
        if (!need) {
            WriteLogW(L"not need download,use local inst.exe:%s\n", cachePath.c_str());
            if (fetched)
                vdthread::PostOwned(hwnd, WM_USER_INST_SERVER_INFO,
                                    std::unique_ptr<InstServerInfo>(new InstServerInfo(rec)), 1);
            order.reset();
            PostAnswer(hwnd, WM_USER_USE_LOCAL_INST_EXE, std::unique_ptr<std::wstring>(new std::wstring(cachePath)));
            return;
        }

        WriteLogW(L"begin multi download\n");
        std::wstring configured = CInstConfig::Inst().ReadPmConfig(VD_PRODUCT_NAME, L"URL");
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
        if (!order) order.reset(new (std::nothrow) DownloadOrder());
        if (order) order->m_s_url.clear();
    }
}

}  // namespace
