#include "net/mtdownload.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/safefs.h"

namespace VdFouncationHttpDownload {

namespace {

const DWORD kSectionTimeoutMs = 60000;
// Large reads and sparse reports: under Wine every read and every posted message costs several
// trips to the wine server, which once made the downloader's CPU time ten times its peers'.
const DWORD kReadBuffer = 64 * 1024;
const DWORD kProgressIntervalMs = 100;
const double kThrottleKBps = 5120.0;
const DWORD kThrottleSleepMs = 80;
const size_t kCopyBlock = 64 * 1024;

int64_t FileSize64(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fad)) return -1;
    if (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (int64_t)(((uint64_t)fad.nFileSizeHigh << 32) | fad.nFileSizeLow);
}

std::wstring SystemTempPath() {
    wchar_t buf[MAX_PATH + 1] = {0};
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return std::wstring();
    return buf;
}

// What a section thread owns: a share of its attempt, which owns the section object.
struct SectionStart {
    std::shared_ptr<MtDownloadState> m_p_state;
    CVdHttpDownload* m_p_worker;
};

unsigned __stdcall SectionThread(void* p) {
    std::unique_ptr<SectionStart> start(static_cast<SectionStart*>(p));
    if (!start->m_p_state->IsStopping()) start->m_p_worker->Execute();
    return 0;  // the last thread of an attempt to end frees it here
}

// Waits for all of `threads` until `deadline` (a tick count); true when every one ended.
bool WaitAllUntil(const std::vector<HANDLE>& threads, DWORD deadline) {
    for (HANDLE h : threads) {
        DWORD now = GetTickCount();
        DWORD left = (int32_t)(deadline - now) > 0 ? deadline - now : 0;
        if (WaitForSingleObject(h, left) != WAIT_OBJECT_0) return false;
    }
    return true;
}

void EnsureBackslash(std::wstring& s) {
    if (s.empty() || s.back() != L'\\') s += L'\\';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Folder helpers

bool GetTempCacheFolder(std::wstring& out, const std::wstring& subFolder) {
    std::wstring path = SystemTempPath();
    if (path.empty()) return false;
    path += L"vdhttpTempCache";
    EnsureBackslash(path);
    if (path.size() >= MAX_PATH) return false;
    // a link planted in the user's Temp must not decide where an elevated download writes
    path = RealFolderOrFresh(path);
    if (path.empty()) return false;
    EnsureBackslash(path);
    if (!subFolder.empty()) {
        path += subFolder;
        EnsureBackslash(path);
        if (path.size() >= MAX_PATH) return false;
        path = RealFolderOrFresh(path);
        if (path.empty()) return false;
        EnsureBackslash(path);
    }
    out = path;
    return true;
}

int GetTempOutputPath(std::wstring& out) {
    std::wstring path = SystemTempPath();
    if (path.empty()) return 0;
    path += L"vdhttpTempOutput";
    EnsureBackslash(path);
    path += L"vdinst.exe";
    if (path.size() > MAX_PATH) return 0;
    std::wstring folder = RealFolderOrFresh(path.substr(0, path.size() - wcslen(L"vdinst.exe")));
    if (folder.empty()) return 0;
    path = folder + L"\\vdinst.exe";
    out = path;
    DeleteFileOrFolder(path);
    return 1;
}

int ClearFolder(const std::wstring& path, bool removeItself) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
    return DeleteTreeNoFollow(path, removeItself) == 0 ? 1 : 0;
}

int DeleteFileOrFolder(const std::wstring& path) {
    DWORD attr = GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return 0;
    if ((attr & FILE_ATTRIBUTE_REPARSE_POINT) && (attr & FILE_ATTRIBUTE_DIRECTORY))
        return RemoveDirectoryW(path.c_str()) ? 1 : 0;
    if (attr & FILE_ATTRIBUTE_DIRECTORY) return ClearFolder(path, true);
    return DeleteFileW(path.c_str()) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// MtDownloadState

MtDownloadState::MtDownloadState() { InitializeCriticalSection(&m_cs_state); }

MtDownloadState::~MtDownloadState() {
    // every thread of the attempt has let go: the section objects are no longer used
    for (SectionSlot& row : m_v_sections) {
        if (row.m_h_thread) CloseHandle(row.m_h_thread);
        delete row.m_p_worker;
    }
    DeleteCriticalSection(&m_cs_state);
}

bool MtDownloadState::AddSection(const SectionSlot& row) {
    CLock lock(m_cs_state);
    m_v_sections.push_back(row);  // owned here either way
    if (!m_b_stopping) return true;
    // a stop came first: the thread leaves as soon as it runs
    SectionSlot& added = m_v_sections.back();
    SetEvent(added.m_p_worker->ExitEvent());
    added.m_b_resumed = true;
    ResumeThread(added.m_h_thread);
    return false;
}

std::vector<HANDLE> MtDownloadState::WakeSections() {
    std::vector<HANDLE> threads;
    CLock lock(m_cs_state);
    // every worker first, so that they wind down together rather than one after another
    for (SectionSlot& row : m_v_sections) {
        if (!row.m_p_worker) continue;
        SetEvent(row.m_p_worker->ExitEvent());
        row.m_p_worker->AbortTransfer();
        if (row.m_h_thread && !row.m_b_resumed) {
            row.m_b_resumed = true;
            ResumeThread(row.m_h_thread);
        }
        HANDLE dup = nullptr;
        if (row.m_h_thread && DuplicateHandle(GetCurrentProcess(), row.m_h_thread, GetCurrentProcess(), &dup, SYNCHRONIZE,
                                              FALSE, 0))
            threads.push_back(dup);
    }
    return threads;
}

void MtDownloadState::ReleaseSections(bool toLeave) {
    CLock lock(m_cs_state);
    for (SectionSlot& row : m_v_sections) {
        if (!row.m_p_worker || !row.m_h_thread || row.m_b_resumed) continue;
        if (toLeave || m_b_stopping) {
            SetEvent(row.m_p_worker->ExitEvent());
            row.m_p_worker->AbortTransfer();
        }
        row.m_b_resumed = true;
        ResumeThread(row.m_h_thread);
    }
}

void MtDownloadState::SetRange(float start, float end) {
    CLock lock(m_cs_state);
    m_f_range_start = start;
    m_f_range_end = end;
}

void MtDownloadState::SetCallback(ProgressCallback cb, void* ctx) {
    CLock lock(m_cs_state);
    m_pfn_callback = cb;
    m_p_context = ctx;
}

void MtDownloadState::BeginStop() {
    // the flag first, so that a combine in progress gives the lock up at its next block; taking
    // the lock then waits out a report in progress
    m_b_stopping = true;
    CLock lock(m_cs_state);
}

void MtDownloadState::ResetForStart(int64_t total, int resume) {
    CLock lock(m_cs_state);
    m_ll_now_size = 0;
    m_ll_total_size = total;
    m_ll_session_bytes = 0;
    m_n_finished = 0;
    m_n_success = 0;
    m_n_resume = resume;
}

void MtDownloadState::AddPresent(int64_t n) {
    CLock lock(m_cs_state);
    m_ll_now_size += n;
}

void MtDownloadState::MarkStartTick(bool takeResumeFraction) {
    CLock lock(m_cs_state);
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
    CLock lock(m_cs_state);
    if (m_b_stopping) return;
    m_ll_now_size += n;
    m_ll_session_bytes += n;
    DownloadProgressInfo info = MakeInfo(m_ll_session_bytes, errDownloading);
    if (report) Emit(info);
    // holding the lock while asleep stalls every section: the average stays near 5 MB/s
    if (info.m_d_speed > kThrottleKBps) Sleep(kThrottleSleepMs);
}

void MtDownloadState::UndoProgress(int64_t n) {
    CLock lock(m_cs_state);
    if (m_b_stopping) return;
    m_ll_now_size -= n;
    m_ll_session_bytes -= n;
    Emit(MakeInfo(m_ll_session_bytes, errFileWrite));
}

void MtDownloadState::ReportStatus(int code) {
    CLock lock(m_cs_state);
    DownloadProgressInfo info = MakeInfo(0, code);
    info.m_ll_now_size = info.m_ll_total_size = info.m_ll_session_bytes = 0;
    info.m_d_fraction = m_f_range_start;
    info.m_d_speed = 0;
    Emit(info);
}

void MtDownloadState::SectionFinished() {
    CLock lock(m_cs_state);
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

// ---------------------------------------------------------------------------------------------
// CVdHttpDownload

CVdHttpDownload::CVdHttpDownload() { InitializeCriticalSection(&m_cs_handles); }

CVdHttpDownload::~CVdHttpDownload() {
    CloseHttp();
    DeleteCriticalSection(&m_cs_handles);
}

bool CVdHttpDownload::CreateExitEvent() {
    m_h_exit_event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return m_h_exit_event.Get() != nullptr;
}

void CVdHttpDownload::SetSection(const VdSectionPlan& section, int index, int64_t total, const VdResumePoint& from,
                                 int resume) {
    m_ull_section_start = section.m_ull_start;
    m_ull_section_length = section.m_ull_length;
    m_n_index = index;
    m_ll_total = total;
    m_ull_start_pos = from.m_ull_start_pos;
    m_ll_needed = from.m_ll_needed;
    m_ll_file_start = from.m_ll_file_start;
    m_n_resume = resume;
}

int CVdHttpDownload::StartHttpGet() {
    EnterCriticalSection(&m_cs_handles);
    int r = m_b_aborted ? -1 : IVdHttpDownload::StartHttpGet();
    LeaveCriticalSection(&m_cs_handles);
    return r;
}

void CVdHttpDownload::CloseHttp() {
    EnterCriticalSection(&m_cs_handles);
    IVdHttpDownload::CloseHttp();
    LeaveCriticalSection(&m_cs_handles);
}

void CVdHttpDownload::AbortTransfer() {
    EnterCriticalSection(&m_cs_handles);
    m_b_aborted = true;
    IVdHttpDownload::CloseHttp();
    LeaveCriticalSection(&m_cs_handles);
}

HINTERNET CVdHttpDownload::Request() {
    EnterCriticalSection(&m_cs_handles);
    HINTERNET h = m_b_aborted ? nullptr : m_h_request.Get();
    LeaveCriticalSection(&m_cs_handles);
    return h;
}

bool CVdHttpDownload::OpenSectionRequest() {
    EnterCriticalSection(&m_cs_handles);
    if (!m_b_aborted && m_h_connection) {
        // a package is read once: nothing of it belongs in the user's browser cache
        m_h_request.Reset(OpenRequest(L"GET", TargetWithQuery(), INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE));
        if (m_h_request) ApplyTimeouts(m_h_request.Get(), kSectionTimeoutMs);
    }
    bool ok = m_h_request.Get() != nullptr;
    LeaveCriticalSection(&m_cs_handles);
    return ok;
}

void CVdHttpDownload::Finish(int received) {
    m_p_state->SectionFinished();
    DownloadLog(L"thread section:%d download total size:%d\n", m_n_index, received);
}

bool CVdHttpDownload::ReadBody(HINTERNET request, HANDLE file, char* buffer, int64_t limit, int64_t& got) {
    got = 0;
    if (!m_dw_pace_start) m_dw_pace_start = GetTickCount();
    for (;;) {
        if (m_p_state->IsStopping()) return false;
        // A read waits until its buffer is full: on a slow line a whole buffer would hold back
        // progress and a stop for long. Below a pace that fills the buffer within two progress
        // intervals, ask for what has arrived, or for what one interval brings if that is more.
        // Asking costs a receive of its own, and small reads cost more CPU than their bytes.
        const DWORD now = GetTickCount();
        DWORD span = now - m_dw_pace_start;
        if (span > 1000) {
            // the last second or two, not the whole section, sets the pace
            m_dw_pace_start = now - span / 2;
            m_ll_pace_bytes /= 2;
            span /= 2;
        }
        const int64_t paced = span ? m_ll_pace_bytes * kProgressIntervalMs / span : 0;
        DWORD want = kReadBuffer, avail = 0;
        if (paced * 2 < (int64_t)want && InternetQueryDataAvailable(request, &avail, 0, 0) && avail > 0 &&
            avail < want)
            want = (DWORD)std::max<int64_t>(avail, paced);
        memset(buffer, 0, want);
        DWORD n = 0;
        if (!InternetReadFile(request, buffer, want, &n)) {
            if (m_p_state->IsStopping()) return false;
            m_p_state->ReportStatus(errNetwork);
            DownloadLog(L"InternetReadFile failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            return false;
        }
        if (m_p_state->IsStopping()) return false;
        if (n == 0) return true;
        // bytes past what was asked for belong to no range of ours: never written, and an endless
        // body is not read to its end
        int64_t take = limit >= 0 ? std::min<int64_t>((int64_t)n, limit - got) : (int64_t)n;
        if (take <= 0) return true;
        DWORD written = 0;
        const int64_t useful = BytesInSection(m_ll_part_pos, take, m_ull_section_length);
        // the throttle still sees every read; only the report waits for its turn
        const DWORD tick = GetTickCount();
        const bool report = !m_b_reported || tick - m_dw_last_report >= kProgressIntervalMs;
        if (report) {
            m_b_reported = true;
            m_dw_last_report = tick;
        }
        m_p_state->AddProgress(useful, report);
        if (!WriteFile(file, buffer, (DWORD)take, &written, nullptr) || written != (DWORD)take) {
            DWORD err = GetLastError();
            m_p_state->UndoProgress(useful);
            m_p_state->ReportStatus(errFileWrite);
            DownloadLog(L"WriteFile failure,err:%d,line:%d\n", (int)err, __LINE__);
            return false;
        }
        m_ll_part_pos += take;
        m_ll_pace_bytes += (int64_t)n;
        got += take;
    }
}

int CVdHttpDownload::RunRanges(HANDLE file, char* buffer) {
    uint64_t cur = m_ull_start_pos;
    int64_t received = 0;
    bool firstPass = true;
    bool fixedHeaders = false;
    for (;;) {
        if (WaitForSingleObject(m_h_exit_event.Get(), 0) == WAIT_OBJECT_0 || m_p_state->IsStopping()) {
            DownloadLog(L"m_h_exit_event has signal,exit thread,line:%d\n", __LINE__);
            return 0;
        }
        if (firstPass && m_ll_needed <= 0) {
            DownloadLog(L"nNeedGetGytes <= 0,do not need download,line:%d\n", __LINE__);
            Finish((int)received);
            return 0;
        }
        firstPass = false;
        uint64_t first = 0, last = 0;
        if (!NextRange(cur, m_ull_start_pos + (uint64_t)m_ll_needed, first, last)) {
            DownloadLog(L"nNeedGetGytes <= 0,finish download,line:%d\n", __LINE__);
            Finish((int)received);
            return 0;
        }
        HINTERNET request = Request();
        // the handle is sent again for every range: its fixed headers go on with the first
        if (!request || !AddRangeHeaders(request, first, last, !fixedHeaders)) {
            if (m_p_state->IsStopping()) return 0;
            m_p_state->ReportStatus(errNetwork);
            DownloadLog(L"HttpAddRequestHeadersA failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            return 0;
        }
        fixedHeaders = true;
        if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
            if (m_p_state->IsStopping()) return 0;
            m_p_state->ReportStatus(errNetwork);
            DownloadLog(L"HttpSendRequest failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            return 0;
        }
        DWORD status = 0, size = sizeof(status);
        BOOL queried = HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        // Only a 206 for this very range carries our bytes; an error page or a whole file sent as
        // 200 would land in the part file as data.
        bool placed = queried && status == HTTP_STATUS_PARTIAL_CONTENT;
        if (placed) {
            char value[128] = {0};
            DWORD len = sizeof(value) - 1;
            uint64_t at = 0;
            // without Content-Range nothing says where these bytes belong
            if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, value, &len, nullptr) ||
                !ParseContentRangeFirst(std::string(value, len), at) || at != first)
                placed = false;
        }
        if (!placed) {
            if (m_p_state->IsStopping()) return 0;
            m_p_state->ReportStatus(errNetwork);
            DownloadLog(L"HttpQueryInfo failure,dwRetCode:%d,err:%d,line:%d\n", (int)status, (int)GetLastError(),
                        __LINE__);
            return 0;
        }
        int64_t got = 0;
        if (!ReadBody(request, file, buffer, (int64_t)(last - first + 1), got)) return 0;
        if (got == 0) {
            // no byte for a range we asked for: asking again would loop for ever
            if (m_p_state->IsStopping()) return 0;
            m_p_state->ReportStatus(errNetwork);
            DownloadLog(L"InternetReadFile failure,err:%d,line:%d\n", 0, __LINE__);
            return 0;
        }
        received += got;
        // a short answer is continued right after its last byte, so the part file has no gaps
        cur += (uint64_t)got;
        if (received >= m_ll_needed) {
            Finish((int)received);
            return 0;
        }
    }
}

int CVdHttpDownload::RunWhole(HANDLE file, char* buffer) {
    HINTERNET request = Request();
    if (!request || !HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
        if (m_p_state->IsStopping()) return 0;
        m_p_state->ReportStatus(errNetwork);
        DownloadLog(L"HttpSendRequest failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
        return 0;
    }
    DWORD status = 0, size = sizeof(status);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != HTTP_STATUS_OK) {
        if (m_p_state->IsStopping()) return 0;
        m_p_state->ReportStatus(errNetwork);
        DownloadLog(L"HttpQueryInfo failure,dwRetCode:%d,err:%d,line:%d\n", (int)status, (int)GetLastError(), __LINE__);
        return 0;
    }
    // never more than announced: this answer's Content-Length, else the probed size, else what a
    // 32-bit size can describe
    int64_t limit = m_ll_needed > 0 ? m_ll_needed : (int64_t)0xFFFFFFFF;
    char lengthText[32] = {0};
    DWORD lengthLen = sizeof(lengthText) - 1;
    if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, lengthText, &lengthLen, nullptr)) {
        char* end = nullptr;
        long long announced = strtoll(lengthText, &end, 10);
        if (end != lengthText && announced >= 0 && announced < limit) limit = announced;
    }
    int64_t got = 0;
    if (!ReadBody(request, file, buffer, limit, got)) return 0;
    // an older, longer part file must not leave its tail behind this body
    SetEndOfFile(file);
    Finish((int)got);
    return 0;
}

int CVdHttpDownload::Execute() {
    try {
        StartHttpGet();  // a failed start shows as a failed request below
        OpenSectionRequest();
        const wchar_t* part = GetFileName();
        CScopedHandle file(part ? CreateFileW(part, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                                : INVALID_HANDLE_VALUE);
        if (!file.Valid()) {
            DWORD err = GetLastError();
            m_p_state->ReportStatus(errFileWrite);
            DownloadLog(L"CreateFile failure,err:%d,line:%d\n", (int)err, __LINE__);
            CloseHttp();
            return 0;
        }
        char* buffer = new (std::nothrow) char[kReadBuffer];
        if (!buffer) {
            m_p_state->ReportStatus(errNoMemory);
            DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            CloseHttp();
            return 0;
        }
        DownloadLog(L"--->in thread section:%d,startpos:%llu,needGetBytes:%llu\n", m_n_index,
                    (unsigned long long)m_ull_start_pos, (unsigned long long)m_ll_needed);
        m_ll_part_pos = 0;
        if (m_n_resume && IsSupportPartial()) {
            LARGE_INTEGER at;
            at.QuadPart = m_ll_file_start;
            SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN);
            m_ll_part_pos = m_ll_file_start;
        }
        if (IsSupportPartial())
            RunRanges(file.Get(), buffer);
        else
            RunWhole(file.Get(), buffer);
        delete[] buffer;
        CloseHttp();
    } catch (...) {
        DownloadLog(L"CVdHttpDownload::Execute UNexpected excepiton....\n");
        CloseHttp();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// CMtHttpDownload

CMtHttpDownload::CMtHttpDownload() { InitializeCriticalSection(&m_cs_control); }

CMtHttpDownload::~CMtHttpDownload() {
    StopDownload();
    CleanupTempCacheFolder(false);
    DeleteCriticalSection(&m_cs_control);
}

void CMtHttpDownload::SetSectionCount(int n) {
    CControlLock lock(*this);
    m_n_section_count = n < 1 ? 1 : n;
}

int CMtHttpDownload::GetSectionCount() const {
    CControlLock lock(*this);
    return m_n_section_count;
}

void CMtHttpDownload::SetSupportBreakpoint(int flag) {
    CControlLock lock(*this);
    m_n_support_breakpoint = flag ? 1 : 0;
}

void CMtHttpDownload::SetProgressCallback(ProgressCallback cb, void* ctx) {
    CControlLock lock(*this);
    m_pfn_callback = cb;
    m_p_context = ctx;
    if (m_p_state) m_p_state->SetCallback(cb, ctx);
}

void CMtHttpDownload::SetProgressRange(float start, float end) {
    CControlLock lock(*this);
    m_f_range_start = start;
    m_f_range_end = end;
}

void CMtHttpDownload::SetTempSubFolder(const wchar_t* name) {
    CControlLock lock(*this);
    if (name && *name) m_temp_sub_folder = name;
}

std::wstring CMtHttpDownload::GetTempFolder() const {
    CControlLock lock(*this);
    return m_temp_folder;
}

bool CMtHttpDownload::IsDownloadSuccess() const {
    CControlLock lock(*this);
    return m_p_state ? m_p_state->IsSuccess() : m_b_last_success;
}

int CMtHttpDownload::StartDownload(const wchar_t* url, const wchar_t* output) {
    CControlLock lock(*this);
    // two attempts on the same part files would corrupt them
    StopLocked(kStopWaitMs);
    std::shared_ptr<MtDownloadState> state;
    try {
        state = std::make_shared<MtDownloadState>();
    } catch (...) {
        return 0;  // nothing to report through: no attempt exists
    }
    state->SetCallback(m_pfn_callback, m_p_context);
    state->SetRange(m_f_range_start, m_f_range_end);
    // a text cut to fit would name another file or another URL: too long counts as missing
    if (url && wcsnlen(url, 1024) < 1024) state->m_s_url = url;
    if (output && wcsnlen(output, 1024) < 1024) state->m_s_output = output;
    state->m_n_requested_sections = m_n_section_count;
    state->m_n_support_breakpoint = m_n_support_breakpoint;
    // made here rather than by the helper, so that the folder is known to CleanupTempCacheFolder
    // without asking a thread
    DownloadLog(L"m_temp_sub_folder:%s\n", m_temp_sub_folder.c_str());
    std::wstring folder;
    if (GetTempCacheFolder(folder, m_temp_sub_folder)) m_temp_folder = folder;
    state->m_s_temp_folder = folder;
    m_p_state = state;

    auto* share = new (std::nothrow) std::shared_ptr<MtDownloadState>(state);
    HANDLE helper = share ? (HANDLE)_beginthreadex(nullptr, 0, HelperThread, share, CREATE_SUSPENDED, nullptr) : nullptr;
    if (!helper) {
        delete share;
        DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
        state->ReportStatus(errNoMemory);
        return 0;
    }
    // the handle is stored before the helper can run: a stop always finds it
    state->m_h_helper.Reset(helper);
    ResumeThread(helper);
    return 0;
}

unsigned __stdcall CMtHttpDownload::HelperThread(void* p) {
    std::unique_ptr<std::shared_ptr<MtDownloadState>> share(static_cast<std::shared_ptr<MtDownloadState>*>(p));
    try {
        HelperThreadImp(*share);
    } catch (...) {
        DownloadLog(L"HelperThreadImp UNexpected excepiton....\n");
    }
    return 0;
}

void CMtHttpDownload::HelperThreadImp(const std::shared_ptr<MtDownloadState>& state) {
    if (state->m_s_url.empty() || state->m_s_output.empty()) {
        DownloadLog(L"url null or filename null,line:%d\n", __LINE__);
        state->ReportStatus(errNoMemory);
        return;
    }
    DownloadLog(L"HelperThreadImp url:%s,filename:%s\n", state->m_s_url.c_str(), state->m_s_output.c_str());

    uint64_t total = 0;
    int partial = 0;
    {
        // cannot be woken early: a stop stops waiting for it and this attempt starts nothing after
        CVdHttpDownloadTester probe;
        probe.SetRequest(state->m_s_url.c_str(), state->m_s_output.c_str());
        probe.Execute();
        total = probe.GetWebFileSize();
        partial = probe.IsSupportPartial();
    }
    if (state->IsStopping()) return;
    if (total == 0 || total > (uint64_t)INT64_MAX) {
        DownloadLog(L"websiteTestRequest.GetWebFileSize is 0,line:%d\n", __LINE__);
        state->ReportStatus(errFileSize);
        return;
    }

    DownloadLog(L"is support breakpoint:%d\n", state->m_n_support_breakpoint);
    if (state->m_s_temp_folder.empty()) {
        state->ReportStatus(errFileWrite);
        DownloadLog(L"CreateFile failure,err:%d,line:%d\n", (int)ERROR_PATH_NOT_FOUND, __LINE__);
        return;
    }
    if (!state->m_n_support_breakpoint) ClearFolder(state->m_s_temp_folder, false);
    DownloadLog(L"temp cache folder:%s\n", state->m_s_temp_folder.c_str());
    if (!PlanAndStart(state, total, partial == 1)) state->ReleaseSections(true);
}

bool CMtHttpDownload::PlanAndStart(const std::shared_ptr<MtDownloadState>& shared, uint64_t total, bool partial) {
    MtDownloadState& state = *shared;
    std::wstring base, ext;
    SplitOutputName(state.m_s_output, base, ext);
    const int resume = partial ? state.m_n_support_breakpoint : 0;
    state.ResetForStart((int64_t)total, resume);

    std::vector<VdSectionPlan> plan = PlanSections(total, partial ? state.m_n_requested_sections : 1);
    state.m_n_planned_sections = partial ? state.m_n_requested_sections : 1;
    if (partial)
        for (size_t i = 0; i < plan.size(); ++i)
            DownloadLog(L"first,calcuate thread section:%d,starts:%llu,bytes:%llu\n", (int)i,
                        (unsigned long long)plan[i].m_ull_start, (unsigned long long)plan[i].m_ull_length);

    // Every row exists before any section runs: the last one to finish knows the count.
    for (size_t i = 0; i < plan.size(); ++i) {
        if (state.IsStopping()) return false;
        std::unique_ptr<CVdHttpDownload> worker(new (std::nothrow) CVdHttpDownload());
        if (!worker || !worker->CreateExitEvent()) {
            state.ReportStatus(errNoMemory);
            DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            return false;
        }
        worker->SetSupportPartial(partial ? 1 : 0);
        worker->AttachState(&state);
        const std::wstring part = PartFilePath(state.m_s_temp_folder, base, ext, (int)i);
        DownloadLog(L"dest temp part file:%s\n", part.c_str());
        worker->SetRequest(state.m_s_url.c_str(), part.c_str());

        VdResumePoint from = ResumePoint(plan[i], -1);
        int workerResume = 0;
        if (partial && resume) {
            int64_t s = FileSize64(part);
            if (s >= 0) {
                from = ResumePoint(plan[i], s);
                workerResume = 1;
                DownloadLog(L"breakpoint temp part file:%s\n", part.c_str());
                DownloadLog(L"breakpoint thread section:%d,file start:%llu,start:%llu,bytes:%llu\n", (int)i,
                            (unsigned long long)s, (unsigned long long)from.m_ull_start_pos,
                            (unsigned long long)from.m_ll_needed);
                state.AddPresent(from.m_ll_present);
            } else {
                DownloadLog(L"breakpoint not exist temp part file:%s,error:%d\n", part.c_str(), (int)GetLastError());
            }
        } else if (partial) {
            DownloadLog(L"not breakpoint, temp part file:%s\n", part.c_str());
        }
        worker->SetSection(plan[i], (int)i, (int64_t)total, from, workerResume);

        std::unique_ptr<SectionStart> start(new (std::nothrow) SectionStart{shared, worker.get()});
        SectionSlot row;
        row.m_p_worker = worker.get();
        row.m_n_index = (int)i;
        row.m_h_thread = start ? (HANDLE)_beginthreadex(nullptr, 0, SectionThread, start.get(), CREATE_SUSPENDED,
                                                        &row.m_n_thread_id)
                               : nullptr;
        if (!row.m_h_thread) {
            state.ReportStatus(errNoMemory);
            DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            return false;
        }
        start.release();   // the thread's now
        worker.release();  // the row's
        if (!state.AddSection(row)) return false;
    }
    state.MarkStartTick(partial);
    state.ReleaseSections(false);
    return true;
}

bool CMtHttpDownload::StopLocked(DWORD waitMs) {
    std::shared_ptr<MtDownloadState> state = m_p_state;
    if (!state) return true;
    const DWORD deadline = GetTickCount() + waitMs;
    state->BeginStop();
    bool ended = true;
    HANDLE helper = state->m_h_helper.Get();
    // The helper may still be probing or planning; once it sees the stop it starts nothing.
    if (helper) {
        DWORD left = waitMs;
        ended = WaitForSingleObject(helper, left) == WAIT_OBJECT_0;
    }
    std::vector<HANDLE> threads = state->WakeSections();
    if (!WaitAllUntil(threads, deadline)) ended = false;
    for (HANDLE h : threads) CloseHandle(h);
    if (!ended) DownloadLog(L"stop download:threads still busy after %d ms,left to end on their own\n", (int)waitMs);
    m_b_last_success = state->IsSuccess();
    // a server without ranges got one section, and the count says so until the owner sets it again
    if (state->m_n_planned_sections > 0) m_n_section_count = state->m_n_planned_sections;
    m_p_state.reset();  // the threads keep their shares
    return ended;
}

bool CMtHttpDownload::StopDownload(DWORD waitMs) {
    CControlLock lock(*this);
    return StopLocked(waitMs);
}

void CMtHttpDownload::CleanupTempCacheFolder(bool bForceDel) {
    CControlLock lock(*this);
    if (m_temp_folder.empty()) return;
    std::wstring folder = m_temp_folder;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    if (!PathExists(folder)) {
        DownloadLog(L"not exist temp cache folder:%s\n", folder.c_str());
        return;
    }
    bool success = m_p_state ? m_p_state->IsSuccess() : m_b_last_success;
    if (bForceDel) {
        DownloadLog(L"bForceDel true,delete folder:%s\n", folder.c_str());
        DeleteFileOrFolder(folder);
    } else if (success) {
        DownloadLog(L"bForceDel false,but download success,delete folder:%s\n", folder.c_str());
        DeleteFileOrFolder(folder);
    }
}

}  // namespace VdFouncationHttpDownload
