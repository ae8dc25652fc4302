// The download-and-install workflow of the main window, without the window: it owns the two
// server-info records, the downloader, the restart and retry state, and handles the workflow's
// messages and timers. It reaches the window only through IWorkflowView, so a unit test drives
// it against a fake view.
//
// Threads: every method runs on the window's thread, which alone owns this object (and through it
// the records and the downloader; it alone starts and stops the downloader). Workers get copies of
// what they need and the window handle, and answer only by posting messages; nothing a worker
// touches belongs to the workflow, so a worker may outlive it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "installer/instjob.h"
#include "installer/messages.h"
#include "net/dlstatus.h"
#include "net/serverinfo.h"

namespace VdFoundationHttpDownload {
class CMtHttpDownload;
struct DownloadProgressInfo;
}  // namespace VdFoundationHttpDownload

// What the download worker decided, for the window's thread to carry out (WM_USER_START_DOWNLOAD).
struct DownloadOrder;

// What the workflow asks of the window.
class IWorkflowView {
public:
    virtual ~IWorkflowView() = default;
    // Where workers post their answers.
    virtual HWND WorkerTarget() const = 0;
    virtual void ShowPage(int page) = 0;
    // The bar and its texts; `hideResumeNote` hides the note that the download resumes.
    virtual void ShowProgress(int percent, const std::wstring& percentText, const std::wstring& speedText,
                              bool hideResumeNote) = 0;
    virtual void ShowManualDownload() = 0;
    virtual void SetFailureLabel(const wchar_t* text) = 0;
    virtual void EnableClose(bool enable) = 0;
    virtual void ShowCountdown(int seconds) = 0;
    virtual void StartTimer(UINT_PTR id, UINT ms) = 0;
    virtual void StopTimer(UINT_PTR id) = 0;
    virtual void PostToSelf(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    // Ends the message loop; the process then exits with `exitCode`.
    virtual void EndLoop(int exitCode) = 0;
    // The folder box's text; false when the markup has no box.
    virtual bool GetInstallDirText(std::wstring& text) const = 0;
    virtual void SetInstallDirText(const std::wstring& text) = 0;
    // The folder chosen by browsing or typing, and the drive last browsed; empty until then.
    virtual std::wstring UserDir() const = 0;
    virtual wchar_t UserDrive() const = 0;
    // The Helper.exe /m box: 1 ticked, 0 not, -1 no box.
    virtual int MonitorChoice() const = 0;
};

struct WorkflowOptions {
    bool installMode = false;    // "/i": hidden window, nothing started at the end
    std::wstring cmdInstallDir;  // "/d"
    // The restart rule's clock (GetTickCount).
    std::function<uint32_t()> now;
    // Starts the install thread (StartInstallThread).
    std::function<bool(std::unique_ptr<InstallJob>)> startInstall;
};

class CWorkflow {
public:
    CWorkflow(IWorkflowView& view, WorkflowOptions options);
    ~CWorkflow();
    CWorkflow(const CWorkflow&) = delete;
    CWorkflow& operator=(const CWorkflow&) = delete;

    // ---- start-up and end ----
    // WinINet's process-wide connection limits, set before the first WinINet handle.
    void SetConnectionLimits();
    // Logs the executable's size: a large one carries a package and shows no empty bar.
    void ReadOwnFileSize();
    void StartServerInfoWorker();
    // The behaviour worker, behaviour record "4010101" and the statistics event.
    void StartBehaviorAndStatistics();
    // The downloader, its output path and its progress callback.
    void InitDownloadManager();
    // The folder box's starting text (only when it is empty, with `onlyIfEmpty`).
    void FillInstallDir(bool onlyIfEmpty);
    // The 5-second timer of the restart rule.
    void ArmRestartTimer();
    // Once the window shows: with the install switch the download starts at once.
    void Begin();
    // Every road out ends here: downloader stopped (bounded), part files kept when a resume is
    // worth it, loop ended. Later calls do nothing.
    void Prepare4QuitApp(int exitCode = 0);
    // Timers killed, downloader stopped and freed, records dropped, telemetry stopped.
    void ReleaseWorkflowResources();
    bool IsQuitting() const { return m_b_quitting; }
    int ExitCode() const { return m_n_exit_code; }

    // ---- message handlers (the route table of the window names them) ----
    void OnServerInfo(WPARAM wParam, LPARAM lParam);
    void OnSdxzInfo(WPARAM wParam, LPARAM lParam);
    void OnProgress(WPARAM wParam, LPARAM lParam);
    void OnDownloadRequest(WPARAM wParam, LPARAM lParam);
    void OnStartDownload(WPARAM wParam, LPARAM lParam);
    void OnLocalSetup(WPARAM wParam, LPARAM lParam);
    void OnInstallFeedback(WPARAM wParam, LPARAM lParam);
    void OnSuccessPage(WPARAM wParam, LPARAM lParam);
    void OnOpenInstUrl(WPARAM wParam, LPARAM lParam);
    void OnOpenTargetUrl(WPARAM wParam, LPARAM lParam);
    void OnOpenAgreement(WPARAM wParam, LPARAM lParam);
    void OnJoinGroup(WPARAM wParam, LPARAM lParam);
    // The restart, hidden-failure and success-countdown timers.
    void OnTimer(UINT_PTR id);
    // The click on 立即体验.
    void OnExperienceNow();

    // ---- the steps behind them ----
    void ProgressArrived(const VdFoundationHttpDownload::DownloadProgressInfo& info);
    void InstallFeedback(bool success);
    void PrepareExecvdInstExe(const wchar_t* setupPath);
    bool ValidInstExe(const wchar_t* path, long long serverSize, bool keepCache, const std::wstring& serverMd5);
    void ExecuteDefaultActions();
    void CheckMonitorOption();

    // The record of the configuration server's answer (a copy); tests set it.
    InstServerInfo ServerRecord() const;
    void SetServerRecord(const InstServerInfo& record);
    // The downloaded (or local) package and the install folder.
    const std::wstring& SetupPath() const { return m_s_inst_exe; }
    void SetSetupPath(const std::wstring& path) { m_s_inst_exe = path; }
    const std::wstring& InstallFolder() const { return m_s_inst_folder; }
    int RestartCount() const { return m_n_restart_count; }

private:
    void ServerInfoArrived(bool sdxz, const InstServerInfo& rec);
    void DownloadRequested(bool automaticRestart);
    void StartOrderedDownload(DownloadOrder& order);
    void ShowProgress(const VdFoundationHttpDownload::DownloadProgressInfo& info);
    void ShowStatusRecord(DownloadStatus status);
    void FailurePage(const wchar_t* label);
    void DownloadFailed(const wchar_t* label);
    void RestartTimer();
    void KeepInstalledPackage();
    void StopDownload();
    uint32_t Now() const;

    IWorkflowView& m_view;
    WorkflowOptions m_options;
    std::unique_ptr<VdFoundationHttpDownload::CMtHttpDownload> m_p_mt_download;
    std::unique_ptr<InstServerInfo> m_p_inst_server_info;
    std::unique_ptr<InstServerInfo> m_p_inst_sdxz_info;

    DownloadStatus m_e_last_download_status = DownloadStatus::None;
    // Set when a worker starts, cleared when its answer arrives.
    bool m_b_download_running = false;
    bool m_b_manual_download_running = false;
    bool m_b_quitting = false;
    int m_n_exit_code = 0;
    // The restart rule's state.
    bool m_b_error_pending = false;
    uint32_t m_dw_error_time = 0;
    int m_n_restart_count = 0;
    int m_n_exit_countdown = 0;
    double m_d_last_speed = 0.0;
    long m_n_own_file_size = 0;
    // The package address came from the fixed template: nothing but presence is checked.
    bool m_b_from_template = false;
    std::wstring m_s_inst_folder;
    std::wstring m_s_inst_exe;
};
