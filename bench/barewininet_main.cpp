// The floor of the downloader benchmark: the least a WinINet program does to make the requests our
// downloader makes. Six threads, each one connection and one request handle sent again for every
// range of 131,073 bytes of its section, 64 KiB reads, positioned writes into one output file.
// No progress, no part files, no combine.
// usage: barewininet URL OUTPUT [--sections N]     exit 0 when every byte arrived
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const unsigned long long kRange = 131073;
const DWORD kRead = 64 * 1024;

struct CJob {
    HINTERNET m_h_session = nullptr;
    URL_COMPONENTSW m_url = {};
    HANDLE m_h_file = INVALID_HANDLE_VALUE;
    unsigned long long m_ull_first = 0, m_ull_end = 0;
    bool m_b_ok = false;
};

DWORD WINAPI Section(void* arg) {
    CJob& job = *static_cast<CJob*>(arg);
    std::wstring host(job.m_url.lpszHostName, job.m_url.dwHostNameLength);
    HINTERNET conn = InternetConnectW(job.m_h_session, host.c_str(), job.m_url.nPort, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET req = conn ? HttpOpenRequestW(conn, L"GET", job.m_url.lpszUrlPath, nullptr, nullptr, nullptr,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                         : nullptr;
    char* buffer = new char[kRead];
    unsigned long long at = job.m_ull_first;
    bool ok = req != nullptr;
    while (ok && at < job.m_ull_end) {
        unsigned long long last = at + kRange - 1 < job.m_ull_end - 1 ? at + kRange - 1 : job.m_ull_end - 1;
        wchar_t header[96];
        swprintf(header, 96, L"Range: bytes=%I64u-%I64u\r\n", at, last);
        DWORD status = 0, size = sizeof(status);
        ok = HttpAddRequestHeadersW(req, header, (DWORD)-1, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) &&
             HttpSendRequestW(req, nullptr, 0, nullptr, 0) &&
             HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
             status == 206;
        DWORD n = 0;
        while (ok && at <= last && InternetReadFile(req, buffer, kRead, &n) && n) {
            OVERLAPPED where = {};
            where.Offset = (DWORD)at;
            where.OffsetHigh = (DWORD)(at >> 32);
            DWORD written = 0;
            ok = WriteFile(job.m_h_file, buffer, n, &written, &where) && written == n;
            at += n;
        }
        ok = ok && at == last + 1;
    }
    delete[] buffer;
    if (req) InternetCloseHandle(req);
    if (conn) InternetCloseHandle(conn);
    job.m_b_ok = ok;
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: barewininet URL OUTPUT [--sections N]\n");
        return 1;
    }
    int sections = argc >= 5 && !wcscmp(argv[3], L"--sections") ? _wtoi(argv[4]) : 6;
    if (sections < 1 || sections > 64) return 1;
    URL_COMPONENTSW url = {};
    url.dwStructSize = sizeof(url);
    url.dwHostNameLength = url.dwUrlPathLength = (DWORD)-1;
    if (!InternetCrackUrlW(argv[1], 0, 0, &url)) return 1;
    HINTERNET session = InternetOpenW(L"barewininet", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    // the size, from a HEAD request as our downloader's probe learns it
    std::wstring host(url.lpszHostName, url.dwHostNameLength);
    HINTERNET conn = session ? InternetConnectW(session, host.c_str(), url.nPort, nullptr, nullptr,
                                                INTERNET_SERVICE_HTTP, 0, 0)
                             : nullptr;
    HINTERNET head = conn ? HttpOpenRequestW(conn, L"HEAD", url.lpszUrlPath, nullptr, nullptr, nullptr,
                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                          : nullptr;
    wchar_t length[32] = {0};
    DWORD len = sizeof(length) - sizeof(wchar_t);
    if (!head || !HttpSendRequestW(head, nullptr, 0, nullptr, 0) ||
        !HttpQueryInfoW(head, HTTP_QUERY_CONTENT_LENGTH, length, &len, nullptr))
        return 1;
    const unsigned long long total = _wcstoui64(length, nullptr, 10);
    InternetCloseHandle(head);
    InternetCloseHandle(conn);
    if (!total) return 1;
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    CJob jobs[64];
    HANDLE threads[64];
    for (int i = 0; i < sections; ++i) {
        jobs[i].m_h_session = session;
        jobs[i].m_url = url;
        jobs[i].m_h_file = file;
        jobs[i].m_ull_first = total / sections * i;
        jobs[i].m_ull_end = i + 1 == sections ? total : total / sections * (i + 1);
        threads[i] = CreateThread(nullptr, 0, Section, &jobs[i], 0, nullptr);
    }
    WaitForMultipleObjects(sections, threads, TRUE, INFINITE);
    bool ok = true;
    for (int i = 0; i < sections; ++i) {
        CloseHandle(threads[i]);
        ok = ok && jobs[i].m_b_ok;
    }
    CloseHandle(file);
    InternetCloseHandle(session);
    printf("%s %I64u bytes\n", ok ? "ok" : "failed", total);
    return ok ? 0 : 1;
}
