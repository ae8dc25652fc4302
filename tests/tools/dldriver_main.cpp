// Test and benchmark driver around CMtHttpDownload.
// usage: dldriver URL OUTPUT [--sections N] [--resume] [--sub NAME] [--stop-after-ms MS]
//                 [--stop-at-bytes N] [--cleanup] [--log]
// Prints one line per status change and a final summary line:
//   result status=S now=N total=T records=R ms=M resume=F
// Exit code: 0 for errDownloadSuccess, 2 when stopped on purpose, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "net/mtdownload.h"
#include "net/vdhttp.h"

using namespace VdFoundationHttpDownload;

namespace {

struct CDriverSink {
    HANDLE m_h_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    LONG m_n_records = 0;
    LONG m_n_last_status = 0;
    long long m_ll_now = 0;
    long long m_ll_total = 0;
    double m_d_resume = 0;
    long long m_ll_stop_at = -1;
    HANDLE m_h_half = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

void OnProgress(const DownloadProgressInfo* info, void* ctx) {
    CDriverSink* sink = static_cast<CDriverSink*>(ctx);
    ++sink->m_n_records;
    if (info->m_n_status != sink->m_n_last_status) {
        printf("status %d now=%lld total=%lld\n", info->m_n_status, info->m_ll_now_size, info->m_ll_total_size);
        fflush(stdout);
    }
    sink->m_n_last_status = info->m_n_status;
    if (info->m_n_status == errDownloading) {
        sink->m_ll_now = info->m_ll_now_size;
        sink->m_ll_total = info->m_ll_total_size;
        sink->m_d_resume = info->m_d_resume_fraction;
        if (sink->m_ll_stop_at >= 0 && info->m_ll_now_size >= sink->m_ll_stop_at) SetEvent(sink->m_h_half);
    } else {
        if (info->m_n_status == errDownloadSuccess) sink->m_ll_now = info->m_ll_now_size;
        SetEvent(sink->m_h_done);
    }
}

void PrintLog(const wchar_t* text) {
    fputws(text, stderr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: dldriver URL OUTPUT [--sections N] [--resume] [--sub NAME] [--stop-after-ms MS] "
                        "[--stop-at-bytes N] [--cleanup] [--log]\n");
        return 1;
    }
    int sections = 6, resume = 0;
    DWORD stopAfter = INFINITE;
    bool cleanup = false;
    std::wstring sub;
    CDriverSink sink;
    for (int i = 3; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--sections" && i + 1 < argc) sections = _wtoi(argv[++i]);
        else if (a == L"--resume") resume = 1;
        else if (a == L"--sub" && i + 1 < argc) sub = argv[++i];
        else if (a == L"--stop-after-ms" && i + 1 < argc) stopAfter = (DWORD)_wtoi(argv[++i]);
        else if (a == L"--stop-at-bytes" && i + 1 < argc) sink.m_ll_stop_at = _wtoi64(argv[++i]);
        else if (a == L"--cleanup") cleanup = true;
        else if (a == L"--log") DownloadLogHook = PrintLog;
    }
    SetWinInetConnectionLimits(8);  // as the installer does at start-up
    DWORD t0 = GetTickCount();
    int rc = 1;
    {
        CMtHttpDownload dl;
        dl.SetSectionCount(sections);
        dl.SetSupportBreakpoint(resume);
        if (!sub.empty()) dl.SetTempSubFolder(sub.c_str());
        dl.SetProgressCallback(OnProgress, &sink);
        dl.StartDownload(argv[1], argv[2]);
        HANDLE waits[2] = {sink.m_h_done, sink.m_h_half};
        DWORD w = WaitForMultipleObjects(2, waits, FALSE, stopAfter);
        if (w != WAIT_OBJECT_0) {
            dl.StopDownload();
            printf("stopped now=%lld\n", sink.m_ll_now);
            rc = 2;
        } else {
            rc = sink.m_n_last_status == errDownloadSuccess ? 0 : 1;
        }
        if (cleanup) dl.CleanupTempCacheFolder(true);
        printf("tempfolder %ls\n", dl.GetTempFolder().c_str());
    }
    printf("result status=%ld now=%lld total=%lld records=%ld ms=%lu resume=%.4f\n", sink.m_n_last_status, sink.m_ll_now,
           sink.m_ll_total, sink.m_n_records, GetTickCount() - t0, sink.m_d_resume);
    fflush(stdout);
    return rc;
}
