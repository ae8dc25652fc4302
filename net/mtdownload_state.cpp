// One attempt's shared state: progress, reports, and joining the part files at the end.
#include "net/mtdownload.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/files.h"
#include "base/safefs.h"

namespace VdFoundationHttpDownload {

namespace {

const double kThrottleKBps = 5120.0;
const DWORD kThrottleSleepMs = 80;
const size_t kCopyBlock = 64 * 1024;

}  // namespace

MtDownloadState::MtDownloadState() {}

// every thread of the attempt has let go: the section objects are no longer used
MtDownloadState::~MtDownloadState() {}

bool MtDownloadState::AddSection(SectionSlot&& row) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    m_v_sections.push_back(std::move(row));  // owned here either way
    if (!m_b_stopping) return true;
    // a stop came first: the thread leaves as soon as it runs
    SectionSlot& added = m_v_sections.back();
    SetEvent(added.m_p_worker->ExitEvent());
    added.m_b_resumed = true;
    ResumeThread(added.m_h_thread.Get());
    return false;
}

std::vector<CScopedHandle> MtDownloadState::WakeSections() {
    std::vector<CScopedHandle> threads;
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    // every worker first, so that they wind down together rather than one after another
    for (SectionSlot& row : m_v_sections) {
        if (!row.m_p_worker) continue;
        SetEvent(row.m_p_worker->ExitEvent());
        row.m_p_worker->AbortTransfer();
        if (row.m_h_thread && !row.m_b_resumed) {
            row.m_b_resumed = true;
            ResumeThread(row.m_h_thread.Get());
        }
        HANDLE dup = nullptr;
        if (row.m_h_thread && DuplicateHandle(GetCurrentProcess(), row.m_h_thread.Get(), GetCurrentProcess(), &dup, SYNCHRONIZE,
                                              FALSE, 0))
            threads.emplace_back(dup);
    }
    return threads;
}

void MtDownloadState::ReleaseSections(bool toLeave) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    for (SectionSlot& row : m_v_sections) {
        if (!row.m_p_worker || !row.m_h_thread || row.m_b_resumed) continue;
        if (toLeave || m_b_stopping) {
            SetEvent(row.m_p_worker->ExitEvent());
            row.m_p_worker->AbortTransfer();
        }
        row.m_b_resumed = true;
        ResumeThread(row.m_h_thread.Get());
    }
}

void MtDownloadState::SetRange(float start, float end) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    m_f_range_start = start;
    m_f_range_end = end;
}

void MtDownloadState::SetCallback(ProgressCallback cb, void* ctx) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    m_pfn_callback = cb;
    m_p_context = ctx;
}

void MtDownloadState::BeginStop() {
    // the flag first, so that a combine in progress gives the lock up at its next block; taking
    // the lock then waits out a report in progress
    m_b_stopping = true;
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
}

void MtDownloadState::ResetForStart(int64_t total, int resume) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    m_ll_now_size = 0;
    m_ll_total_size = total;
    m_ll_session_bytes = 0;
    m_n_finished = 0;
    m_n_success = 0;
    m_n_resume = resume;
}

void MtDownloadState::AddPresent(int64_t n) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    m_ll_now_size += n;
}

void MtDownloadState::MarkStartTick(bool takeResumeFraction) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    if (takeResumeFraction && m_ll_now_size > 0 && m_ll_total_size > 0)
        m_d_resume_fraction = (double)m_ll_now_size / (double)m_ll_total_size;
    m_dw_start_tick = GetTickCount();
}

DownloadProgressInfo MtDownloadState::MakeInfo(int64_t speedBytes, int status) const {
    DownloadProgressInfo info;
    const DWORD ms = GetTickCount() - m_dw_start_tick;
    info.m_ll_now_size = m_ll_now_size;
    info.m_ll_total_size = m_ll_total_size;
    info.m_ll_session_bytes = m_ll_session_bytes;
    info.m_d_fraction = m_f_range_start;
    if (m_ll_total_size > 0)
        info.m_d_fraction += (double)(m_f_range_end - m_f_range_start) * (double)m_ll_now_size / (double)m_ll_total_size;
    info.m_d_speed = ms ? (double)speedBytes / (double)ms * 1000.0 / 1024.0 : 0.0;
    info.m_n_elapsed = (int)(ms / 1000);
    info.m_d_resume_fraction = m_d_resume_fraction;
    info.m_n_status = status;
    return info;
}

void MtDownloadState::Emit(const DownloadProgressInfo& info) {
    if (m_b_stopping || !m_pfn_callback) return;
    m_pfn_callback(&info, m_p_context);
}

void MtDownloadState::AddProgress(int64_t n, bool report) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    if (m_b_stopping) return;
    m_ll_now_size += n;
    m_ll_session_bytes += n;
    DownloadProgressInfo info = MakeInfo(m_ll_session_bytes, errDownloading);
    if (report) Emit(info);
    // holding the lock while asleep stalls every section: the average stays near 5 MB/s
    if (info.m_d_speed > kThrottleKBps) Sleep(kThrottleSleepMs);
}

void MtDownloadState::UndoProgress(int64_t n) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    if (m_b_stopping) return;
    m_ll_now_size -= n;
    m_ll_session_bytes -= n;
    Emit(MakeInfo(m_ll_session_bytes, errFileWrite));
}

void MtDownloadState::ReportStatus(int code) {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    DownloadProgressInfo info = MakeInfo(0, code);
    info.m_ll_now_size = info.m_ll_total_size = info.m_ll_session_bytes = 0;
    info.m_d_fraction = m_f_range_start;
    info.m_d_speed = 0;
    Emit(info);
}

void MtDownloadState::SectionFinished() {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_state);
    if (m_b_stopping) return;
    ++m_n_finished;
    if (m_n_finished < (int)m_v_sections.size()) return;

    if (m_ll_now_size < m_ll_total_size) {
        DownloadProgressInfo info = {};
        info.m_n_status = errNetwork;
        Emit(info);
        return;
    }
    DownloadLog(L"CombineFiles all section count:%d\n", m_n_finished);
    DownloadLog(L"line:%d,totalsize:%llu,nowsize:%llu\n", __LINE__, (unsigned long long)m_ll_total_size,
                (unsigned long long)m_ll_now_size);
    int status = errCombine;
    for (int attempt = 0; attempt < 3 && !m_b_stopping; ++attempt) {
        if (!CombineFiles()) {
            DownloadLog(L"CombineFiles failure,line:%d\n", __LINE__);
            break;
        }
        int64_t size = FileSize64(m_s_output);
        if (size >= m_ll_total_size) {
            m_n_success = 1;
            status = errDownloadSuccess;
            break;
        }
        if (attempt < 2) {
            DownloadLog(L"CombineFiles try count:%d,file size:%lld,total size:%lld\n", attempt + 1, (long long)size,
                        (long long)m_ll_total_size);
        } else {
            DownloadLog(L"nTryCount:%d,CombineFiles failure,line:%d\n", 2, __LINE__);
        }
    }
    DownloadProgressInfo info = MakeInfo(m_ll_now_size, status);
    info.m_ll_session_bytes = m_ll_now_size;
    info.m_d_fraction = m_f_range_end;
    Emit(info);
}

int MtDownloadState::CombineFiles() {
    // Written under a temporary name: a half-joined file never sits at the output path.
    const std::wstring tmp = m_s_output + L".tmp";
    if (m_n_resume && PathExists(m_s_output) && !DeleteFileOrFolder(m_s_output))
        DownloadLog(L"delete file:%s failure,err:%d,line:%d\n", m_s_output.c_str(), (int)GetLastError(), __LINE__);
    FILE* out = _wfopen(tmp.c_str(), L"wb+");
    if (!out) {
        DownloadLog(L"_tfopen:%s failure,line:%d\n", tmp.c_str(), __LINE__);
        return 0;
    }
    int failed = 0;
    for (const SectionSlot& row : m_v_sections)
        if (!CopyPartFile(row, out)) ++failed;
    bool flushed = fflush(out) == 0;
    fclose(out);
    if (failed || !flushed) {
        DeleteFileW(tmp.c_str());
        return 0;
    }
    if (!MoveFileRetryingSharing(tmp.c_str(), m_s_output.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        DownloadLog(L"_tfopen:%s failure,line:%d\n", m_s_output.c_str(), __LINE__);
        DeleteFileW(tmp.c_str());
        return 0;
    }
    return 1;
}

int MtDownloadState::CopyPartFile(const SectionSlot& row, FILE* out) {
    if (!row.m_p_worker) return 0;
    const wchar_t* part = row.m_p_worker->GetFileName();
    FILE* in = part ? _wfopen(part, L"rb") : nullptr;
    if (!in) {
        DownloadLog(L"_tfopen:%s failure,line:%d\n", part ? part : L"", __LINE__);
        return 0;
    }
    const uint64_t length = row.m_p_worker->SectionLength();
    int ok = _fseeki64(out, (int64_t)row.m_p_worker->SectionStart(), SEEK_SET) == 0;
    std::vector<char> block(kCopyBlock);
    uint64_t copied = 0;
    while (ok && copied < length) {
        if (m_b_stopping) {
            ok = 0;  // a stop gives the lock up within one block
            break;
        }
        size_t want = (size_t)std::min<uint64_t>(block.size(), length - copied);
        size_t got = fread(block.data(), 1, want, in);
        if (got && fwrite(block.data(), 1, got, out) != got) ok = 0;
        copied += got;
        if (got < want) break;
    }
    fclose(in);
    // a short part file would leave a hole of zeros inside a file of full size
    if (ok && copied < length) {
        DownloadLog(L"_tfopen:%s failure,line:%d\n", part, __LINE__);
        ok = 0;
    }
    return ok;
}

}  // namespace VdFoundationHttpDownload
