// Multi-section resumable downloader.
//
// How the owner drives it (one CMtHttpDownload for the life of the main window):
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
// The callback runs on a downloader thread with the download's lock held: copy the record, post
// it, return; never call back into the downloader. The log goes through DownloadLogHook.
// StopDownload ends nothing by force: it signals every thread, closes the connections they may
// block on and joins them; once it returns no thread of that download runs, writes a part file or
// calls the callback. A helper still probing is waited for (the probe's own timeouts bound it)
// and starts nothing. (Under Wine a closed handle does not wake a blocked receive, so a stalled
// server can hold StopDownload up to the 60 s receive timeout.)
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/dlplan.h"
#include "net/vdhttp.h"
#include "probes/vdutils.h"

namespace VdFouncationHttpDownload {

enum {
    errDownloading = 1,
    errDownloadSuccess = 2,
    errFileWrite = -3,
    errNetwork = -4,
    errCombine = -5,
    errFileSize = -6,
    errNoMemory = -7,
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
    CVdHttpDownload* m_p_worker = nullptr;
    HANDLE m_h_thread = nullptr;
    unsigned m_n_thread_id = 0;
    int m_n_index = 0;
    bool m_b_resumed = false;  // created suspended; a slot never resumed is resumed to let it leave
};

// Shared by the helper thread and every section worker of one download; lives with the manager.
class MtDownloadState {
public:
    MtDownloadState();
    ~MtDownloadState();
    MtDownloadState(const MtDownloadState&) = delete;
    MtDownloadState& operator=(const MtDownloadState&) = delete;

    void AddProgress(int64_t n);
    void UndoProgress(int64_t n);
    void ReportStatus(int code);
    void SectionFinished();

    // After BeginStop nothing is reported, combined or written by this download any more.
    void BeginStop();
    bool IsStopping() const { return m_b_stopping.load(); }

    // The manager's side of a start; the helper fills these before any worker runs.
    void ResetForStart(ProgressCallback cb, void* ctx, int64_t total, const std::wstring& output, int resume);
    void AddPresent(int64_t n);  // bytes found in part files, before the workers start
    void MarkStartTick(bool takeResumeFraction);
    void SetRange(float start, float end);
    void SetCallback(ProgressCallback cb, void* ctx);
    bool IsSuccess() const { return m_n_success != 0; }

    std::vector<SectionSlot>& Sections() { return m_v_sections; }

private:
    friend class CMtHttpDownload;
    class CLock {
    public:
        explicit CLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
        ~CLock() { LeaveCriticalSection(&m_cs); }
    private:
        CRITICAL_SECTION& m_cs;
    };

    DownloadProgressInfo MakeInfo(int64_t speedBytes, int status) const;
    void Emit(const DownloadProgressInfo& info);
    int CombineFiles();
    int CopyPartFile(const SectionSlot& row, FILE* out);

    DWORD m_dw_start_tick = 0;
    // Never abandoned (no thread is ended by force), and uncontended entry costs no trip to the
    // kernel: a report is made for every 10 KB read.
    CRITICAL_SECTION m_cs_state;
    int64_t m_ll_now_size = 0;
    int64_t m_ll_total_size = 0;
    int64_t m_ll_session_bytes = 0;
    int m_n_finished = 0;
    ProgressCallback m_pfn_callback = nullptr;
    void* m_p_context = nullptr;
    int m_n_resume = 0;
    std::vector<SectionSlot> m_v_sections;
    int m_n_section_count = 0;
    std::wstring m_s_output;
    float m_f_range_start = 0.0f;
    float m_f_range_end = 1.0f;
    double m_d_resume_fraction = 0.0;
    int m_n_success = 0;
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
    CScopedHandle m_h_exit_event;
    int m_n_resume = 0;
    int64_t m_ll_part_pos = 0;  // write position in the part file
    CRITICAL_SECTION m_cs_handles;
    bool m_b_aborted = false;
};

class CMtHttpDownload {
public:
    CMtHttpDownload();
    ~CMtHttpDownload();
    CMtHttpDownload(const CMtHttpDownload&) = delete;
    CMtHttpDownload& operator=(const CMtHttpDownload&) = delete;

    // Set before a start; they are copied when it begins.
    void SetSectionCount(int n) { m_n_section_count = n < 1 ? 1 : n; }
    int GetSectionCount() const { return m_n_section_count; }
    void SetSupportBreakpoint(int flag) { m_n_support_breakpoint = flag ? 1 : 0; }
    void SetProgressCallback(ProgressCallback cb, void* ctx);
    void SetProgressRange(float start, float end);
    void SetTempSubFolder(const wchar_t* name);

    int StartDownload(const wchar_t* url, const wchar_t* output);
    void StopDownload();
    void CleanupTempCacheFolder(bool bForceDel);

    const std::wstring& GetTempFolder() const { return m_temp_folder; }
    bool IsDownloadSuccess() const { return m_p_state->IsSuccess(); }

private:
    struct StartRecord {
        CMtHttpDownload* m_p_owner;
        std::wstring m_s_url;
        std::wstring m_s_output;
    };
    static unsigned __stdcall HelperThread(void* p);
    void HelperThreadImp(const StartRecord& rec);
    bool PlanAndStart(const std::wstring& url, const std::wstring& output, uint64_t total, bool partial);

    int m_n_section_count = 3;
    std::wstring m_temp_folder;
    std::wstring m_temp_sub_folder;
    std::unique_ptr<MtDownloadState> m_p_state;
    ProgressCallback m_pfn_callback = nullptr;
    void* m_p_context = nullptr;
    int m_n_support_breakpoint = 0;
    CScopedHandle m_h_helper;
    unsigned m_n_helper_id = 0;
};

// Folder helpers. Paths end with a backslash.
bool GetTempCacheFolder(std::wstring& out, const std::wstring& subFolder);
// ...\vdhttpTempOutput\vdinst.exe with the folder created and an old file removed; false when the
// path would exceed 260 characters.
int GetTempOutputPath(std::wstring& out);
int ClearFolder(const std::wstring& path, bool removeItself);
int DeleteFileOrFolder(const std::wstring& path);

}  // namespace VdFouncationHttpDownload
