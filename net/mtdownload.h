// Multi-section resumable downloader.
//
// How the owner drives it (one CMtHttpDownload for the life of the main window; the window's
// thread is the only one that starts and stops it, although every public call takes the
// manager's lock and is safe from any thread):
//   GetTempOutputPath(out)                      once, gives ...\vdhttpTempOutput\vdinst.exe
//   per attempt:
//     StopDownload()
//     SetSectionCount(6); SetSupportBreakpoint(1); SetTempSubFolder(L"<ver>_<channel>_x64");
//     SetProgressCallback(cb, ctx); SetProgressRange(0.0f, 1.0f);
//     StartDownload(url, out)                   returns at once; the work runs on a helper thread
//   The callback then receives errDownloading (1) records, and finally either one
//   errDownloadSuccess (2) record, after which `out` holds the whole file, or a negative status.
//   A negative status leaves the part files sound: the next attempt with the same sub-folder and
//   the resume flag fetches only what is missing. The other sections go on (and may report) until
//   the owner calls StopDownload, which is its cue to stop and retry.
//   CleanupTempCacheFolder(true) discards the part files (say, after a failed digest check).
//
// Ownership: each start makes one MtDownloadState, shared by the manager, the helper thread and
// every section thread; the last of them to let go frees it with the section objects. So a stop
// never has to wait for a thread to be able to free what it uses.
//
// The callback runs on a downloader thread with the attempt's lock held: copy the record, post
// it, return; never call back into the downloader. The log goes through DownloadLogHook.
// StopDownload signals every thread of the attempt, closes the connections they may block on and
// waits for them, but never longer than its bound: a thread still blocked after that (a probe,
// or a receive that a closed handle does not wake, as under Wine) is left to end on its own. Once
// StopDownload returns, that attempt reports nothing, starts no section and combines nothing.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/dlplan.h"
#include "net/dlstatus.h"
#include "net/vdhttp.h"
#include "probes/vdutils.h"

namespace VdFoundationHttpDownload {

// The report codes as the int of DownloadProgressInfo::m_n_status: DownloadStatus values.
enum : int {
    errDownloading = StatusCode(DownloadStatus::Downloading),
    errDownloadSuccess = StatusCode(DownloadStatus::Success),
    errFileWrite = StatusCode(DownloadStatus::FileWrite),
    errNetwork = StatusCode(DownloadStatus::Network),
    errCombine = StatusCode(DownloadStatus::Combine),
    errFileSize = StatusCode(DownloadStatus::FileSize),
    errNoMemory = StatusCode(DownloadStatus::NoMemory),
};

// Valid only during the callback. Sizes are 64-bit: packages may exceed 4 GiB - 1.
struct DownloadProgressInfo {
    int64_t m_ll_now_size;       // bytes present (0 in error reports); never above the total
    int64_t m_ll_total_size;     // 0 in error reports
    int64_t m_ll_session_bytes;  // received since the start; the now size in the final record
    double m_d_fraction;         // within the owner's progress range
    double m_d_speed;            // KB/s (1 KB = 1024 bytes) since the start
    int m_n_elapsed;             // whole seconds since the start
    double m_d_resume_fraction;  // share of the file already present when the transfer began
    int m_n_status;              // errDownloading, errDownloadSuccess or a negative err...
};

typedef void (*ProgressCallback)(const DownloadProgressInfo* pInfo, void* pContext);

class CVdHttpDownload;

struct SectionSlot {
    std::unique_ptr<CVdHttpDownload> m_p_worker;
    CScopedHandle m_h_thread;  // closed before the worker goes
    unsigned m_n_thread_id = 0;
    int m_n_index = 0;
    bool m_b_resumed = false;  // created suspended; a slot never resumed is resumed to let it leave
};

// One attempt: shared by the manager, the helper thread and every section thread.
class MtDownloadState {
public:
    MtDownloadState();
    ~MtDownloadState();
    MtDownloadState(const MtDownloadState&) = delete;
    MtDownloadState& operator=(const MtDownloadState&) = delete;

    void AddProgress(int64_t n, bool report = true);  // counts always, reports when asked
    void UndoProgress(int64_t n);
    void ReportStatus(int code);
    void SectionFinished();

    // After BeginStop returns nothing is reported, combined or written by this attempt any more.
    void BeginStop();
    bool IsStopping() const { return m_b_stopping.load(); }

    // The helper's side of a start; filled before any worker runs.
    void ResetForStart(int64_t total, int resume);
    void AddPresent(int64_t n);  // bytes found in part files, before the workers start
    void MarkStartTick(bool takeResumeFraction);
    void SetRange(float start, float end);
    void SetCallback(ProgressCallback cb, void* ctx);
    bool IsSuccess() const { return m_n_success.load() != 0; }

    // Takes the row (its object and thread); false, with the thread sent on its way out, when a
    // stop has begun.
    bool AddSection(SectionSlot&& row);
    // Signals every section (exit event, connection closed, resumed) and returns the threads to
    // wait for, duplicated for the caller.
    std::vector<CScopedHandle> WakeSections();
    // Resumes every section created so far; with `toLeave` (a failed plan) they leave at once.
    void ReleaseSections(bool toLeave);

    // What the attempt was started with; fixed before the helper runs.
    std::wstring m_s_url;
    std::wstring m_s_output;
    std::wstring m_s_temp_folder;
    int m_n_requested_sections = 3;
    int m_n_support_breakpoint = 0;
    CScopedHandle m_h_helper;
    std::atomic<int> m_n_planned_sections{0};  // 1 when the server took no ranges

private:
    DownloadProgressInfo MakeInfo(int64_t speedBytes, int status) const;
    void Emit(const DownloadProgressInfo& info);
    int CombineFiles();
    int CopyPartFile(const SectionSlot& row, FILE* out);

    DWORD m_dw_start_tick = 0;
    // Uncontended entry costs no trip to the kernel: every read takes it. Recursive: a callback
    // that comes back on its own thread must not deadlock.
    std::recursive_mutex m_mtx_state;
    int64_t m_ll_now_size = 0;
    int64_t m_ll_total_size = 0;
    int64_t m_ll_session_bytes = 0;
    int m_n_finished = 0;
    ProgressCallback m_pfn_callback = nullptr;
    void* m_p_context = nullptr;
    int m_n_resume = 0;
    std::vector<SectionSlot> m_v_sections;
    float m_f_range_start = 0.0f;
    float m_f_range_end = 1.0f;
    double m_d_resume_fraction = 0.0;
    std::atomic<int> m_n_success{0};
    std::atomic<bool> m_b_stopping{false};
};

// One section: fetches its remaining bytes in ranges on one reused request handle and writes
// them to its part file.
class CVdHttpDownload : public IVdHttpDownload {
public:
    CVdHttpDownload();
    ~CVdHttpDownload() override;

    int Execute() override;
    int StartHttpGet() override;
    void CloseHttp() override;

    void AttachState(MtDownloadState* state) { m_p_state = state; }
    bool CreateExitEvent();
    HANDLE ExitEvent() const { return m_h_exit_event.Get(); }
    void SetSection(const VdSectionPlan& section, int index, int64_t total, const VdResumePoint& from, int resume);
    // From the stopping thread: wakes a worker blocked on its connection.
    void AbortTransfer();

    uint64_t StartPosition() const { return m_ull_start_pos; }
    int64_t BytesNeeded() const { return m_ll_needed; }
    uint64_t SectionStart() const { return m_ull_section_start; }
    uint64_t SectionLength() const { return m_ull_section_length; }

private:
    // Current request handle, or none once aborted.
    HINTERNET Request();
    bool OpenSectionRequest();
    int RunRanges(HANDLE file, char* buffer);
    int RunWhole(HANDLE file, char* buffer);
    // Reads one answer into the part file; false after a reported failure.
    bool ReadBody(HINTERNET request, HANDLE file, char* buffer, int64_t limit, int64_t& got);
    void Finish(int received);

    uint64_t m_ull_start_pos = 0;
    int64_t m_ll_needed = 0;
    int64_t m_ll_file_start = 0;
    uint64_t m_ull_section_start = 0;
    uint64_t m_ull_section_length = 0;
    int m_n_index = 0;
    int64_t m_ll_total = 0;
    MtDownloadState* m_p_state = nullptr;
    DWORD m_dw_last_report = 0;
    bool m_b_reported = false;
    // this connection's recent pace, which sizes each read
    DWORD m_dw_pace_start = 0;
    int64_t m_ll_pace_bytes = 0;
    CScopedHandle m_h_exit_event;
    int m_n_resume = 0;
    int64_t m_ll_part_pos = 0;  // write position in the part file
    std::recursive_mutex m_mtx_handles;  // StartHttpGet closes through the virtual CloseHttp
    bool m_b_aborted = false;
};

class CMtHttpDownload {
public:
    // How long a stop waits for the attempt's threads before leaving them to end on their own.
    static const DWORD kStopWaitMs = 700;

    CMtHttpDownload();
    ~CMtHttpDownload();
    CMtHttpDownload(const CMtHttpDownload&) = delete;
    CMtHttpDownload& operator=(const CMtHttpDownload&) = delete;

    // Set before a start; they are copied when it begins.
    void SetSectionCount(int n);
    int GetSectionCount() const;
    void SetSupportBreakpoint(int flag);
    void SetProgressCallback(ProgressCallback cb, void* ctx);
    void SetProgressRange(float start, float end);
    void SetTempSubFolder(const wchar_t* name);

    // False when no attempt could be started (its failure is reported through the callback too).
    bool StartDownload(const wchar_t* url, const wchar_t* output);
    // True when every thread of the attempt ended within `waitMs`.
    bool StopDownload(DWORD waitMs = kStopWaitMs);
    void CleanupTempCacheFolder(bool bForceDel);

    std::wstring GetTempFolder() const;

private:
    static unsigned __stdcall HelperThread(void* p);
    static void HelperThreadImp(const std::shared_ptr<MtDownloadState>& state);
    static bool PlanAndStart(const std::shared_ptr<MtDownloadState>& state, uint64_t total, bool partial);
    bool StopLocked(DWORD waitMs);

    mutable std::recursive_mutex m_mtx_control;  // a report made while starting may call back
    int m_n_section_count = 3;
    std::wstring m_temp_folder;
    std::wstring m_temp_sub_folder;
    std::shared_ptr<MtDownloadState> m_p_state;  // the current attempt; null before the first start
    bool m_b_last_success = false;
    ProgressCallback m_pfn_callback = nullptr;
    void* m_p_context = nullptr;
    float m_f_range_start = 0.0f;
    float m_f_range_end = 1.0f;
    int m_n_support_breakpoint = 0;
};

// Folder helpers. Paths end with a backslash.
bool GetTempCacheFolder(std::wstring& out, const std::wstring& subFolder);
// ...\vdhttpTempOutput\vdinst.exe with the folder created and an old file removed; false when the
// path would exceed 260 characters.
int GetTempOutputPath(std::wstring& out);
int ClearFolder(const std::wstring& path, bool removeItself);
int DeleteFileOrFolder(const std::wstring& path);

}  // namespace VdFoundationHttpDownload
