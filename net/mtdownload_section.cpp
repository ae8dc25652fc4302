// One section: its ranges on one reused request, written to its part file.
#include "net/mtdownload.h"

#include <algorithm>
#include <cstdio>

namespace VdFoundationHttpDownload {

namespace {

const DWORD kSectionTimeoutMs = 60000;
// Large reads and sparse reports: under Wine every read and every posted message costs several
// trips to the wine server, which once made the downloader's CPU time ten times its peers'.
const DWORD kReadBuffer = 64 * 1024;
const DWORD kProgressIntervalMs = 100;

}  // namespace

CVdHttpDownload::CVdHttpDownload() {}

CVdHttpDownload::~CVdHttpDownload() { CloseHttp(); }

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
    std::lock_guard<std::recursive_mutex> lock(m_mtx_handles);
    return m_b_aborted ? -1 : IVdHttpDownload::StartHttpGet();
}

void CVdHttpDownload::CloseHttp() {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_handles);
    IVdHttpDownload::CloseHttp();
}

void CVdHttpDownload::AbortTransfer() {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_handles);
    m_b_aborted = true;
    IVdHttpDownload::CloseHttp();
}

HINTERNET CVdHttpDownload::Request() {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_handles);
    return m_b_aborted ? nullptr : m_h_request.Get();
}

bool CVdHttpDownload::OpenSectionRequest() {
    std::lock_guard<std::recursive_mutex> lock(m_mtx_handles);
    if (!m_b_aborted && m_h_connection) {
        // a package is read once: nothing of it belongs in the user's browser cache
        m_h_request.Reset(OpenRequest(L"GET", TargetWithQuery(), INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE));
        if (m_h_request) ApplyTimeouts(m_h_request.Get(), kSectionTimeoutMs);
    }
    return m_h_request.Get() != nullptr;
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

}  // namespace VdFoundationHttpDownload
