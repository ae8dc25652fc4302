#include "net/generichttp.h"

#include <cstring>

#include "net/httprules.h"

namespace Utilities {

CGenericHttp::CGenericHttp() : m_dw_owner_thread(0), m_b_cancelled(false), m_dw_last_error(0) {}

CGenericHttp::~CGenericHttp() { ResetHandles(); }

bool CGenericHttp::KeepHandle(CScopedInternetHandle& slot, HINTERNET h) {
    CScopedInternetHandle opened(h);
    std::lock_guard<std::mutex> lock(m_mtx_handles);
    bool keep = opened && !m_b_cancelled;
    if (keep) {
        slot = std::move(opened);
    } else if (opened) {
        opened.Reset();
        SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    }
    return keep;
}

HINTERNET CGenericHttp::PeekHandle(const CScopedInternetHandle& slot) {
    std::lock_guard<std::mutex> lock(m_mtx_handles);
    return slot.Get();
}

void CGenericHttp::ResetHandles() {
    std::lock_guard<std::mutex> lock(m_mtx_handles);
    m_h_request.Reset();
    m_h_connection.Reset();
    m_h_session.Reset();
}

void CGenericHttp::CancelInFlight() {
    std::lock_guard<std::mutex> lock(m_mtx_handles);
    if (m_dw_owner_thread) {
        m_b_cancelled = true;
        m_h_request.Reset();
        m_h_connection.Reset();
        m_h_session.Reset();
    }
}

CGenericHttp& GetGenericHttp() {
    // never destroyed: a telemetry worker left blocked at quit may still post through it
    static CGenericHttp* s_http = new CGenericHttp();
    return *s_http;
}

void CGenericHttp::CrackHttpUrl(const char* url, std::string& scheme, std::string& host, INTERNET_PORT& port,
                                std::string& path) {
    scheme.clear();
    host.clear();
    path.clear();
    port = 0;
    if (!url || !*url) return;
    char hostName[256] = {0};
    URL_COMPONENTSA uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.lpszHostName = hostName;
    uc.dwHostNameLength = sizeof(hostName);
    uc.dwUrlPathLength = 1;  // ask for a position inside the URL, not a copy
    if (!InternetCrackUrlA(url, 0, 0, &uc)) return;
    scheme = uc.nScheme == INTERNET_SCHEME_HTTPS ? "https" : "http";
    port = uc.nPort;
    host = hostName;
    if (uc.lpszUrlPath) path = uc.lpszUrlPath;
}

int CGenericHttp::Connect(const char* host, INTERNET_PORT port) {
    if (KeepHandle(m_h_session, InternetOpenA(VD_HTTP_USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0))) {
        HINTERNET session = PeekHandle(m_h_session);
        HINTERNET connection = session ? InternetConnectA(session, host, port, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                                          INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION, 0)
                                       : nullptr;
        if (KeepHandle(m_h_connection, connection) && InternetAttemptConnect(0) == ERROR_SUCCESS) return 1;
    }
    m_dw_last_error = GetLastError();
    if (!m_dw_last_error) m_dw_last_error = ERROR_INTERNET_OPERATION_CANCELLED;
    std::lock_guard<std::mutex> lock(m_mtx_handles);
    m_h_connection.Reset();
    m_h_session.Reset();
    return 0;
}

int CGenericHttp::Post(const char* url, const char* body, DWORD length) {
    m_mtx_hold.lock();
    if (m_dw_owner_thread == GetCurrentThreadId()) {
        // a Post without Close before it: keep one hold, drop the stale handles
        m_mtx_hold.unlock();
        ResetHandles();
    }
    {
        std::lock_guard<std::mutex> lock(m_mtx_handles);
        m_dw_owner_thread = GetCurrentThreadId();
        m_b_cancelled = false;
    }

    std::string scheme, host, path;
    INTERNET_PORT port = 0;
    CrackHttpUrl(url, scheme, host, port, path);
    if (!Connect(host.c_str(), port)) return 0;

    const char* accept[] = {"*/*", nullptr};
    HINTERNET connection = PeekHandle(m_h_connection);
    // an https collector gets TLS, with the certificate checked
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
    if (scheme == "https") flags |= INTERNET_FLAG_SECURE;
    HINTERNET opened = connection ? HttpOpenRequestA(connection, "POST", path.c_str(), "HTTP/1.0", "", accept, flags, 0)
                                  : nullptr;
    if (!KeepHandle(m_h_request, opened)) {
        m_dw_last_error = connection ? GetLastError() : ERROR_INTERNET_OPERATION_CANCELLED;
        return 0;
    }
    // From here a cancel closes the request under this thread: the calls below then fail.
    HINTERNET request = PeekHandle(m_h_request);
    DWORD ms = 20000, conns = 6;
    InternetSetOptionA(request, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof(ms));
    InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof(ms));
    InternetSetOptionA(request, INTERNET_OPTION_DATA_SEND_TIMEOUT, &ms, sizeof(ms));
    InternetSetOptionA(request, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &ms, sizeof(ms));
    InternetSetOptionA(request, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof(conns));
    InternetSetOptionA(request, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof(conns));

    static const char kAccept[] = "Accept: */*\r\n";
    if (!request || !HttpAddRequestHeadersA(request, kAccept, 13, HTTP_ADDREQ_FLAG_REPLACE)) {
        m_dw_last_error = request ? GetLastError() : ERROR_INTERNET_OPERATION_CANCELLED;
        return 0;
    }
    static const char kContentType[] = "Content-Type: multipart/form-data\r\n";
    if (!HttpSendRequestA(request, kContentType, 35, (LPVOID)body, length)) {
        m_dw_last_error = GetLastError();
        return 0;
    }
    return 1;
}

int CGenericHttp::Close() {
    // Another thread between its Post and Close owns the handles: leave them alone.
    if (!m_mtx_hold.try_lock()) return 1;
    ResetHandles();
    if (m_dw_owner_thread == GetCurrentThreadId()) {
        {
            std::lock_guard<std::mutex> lock(m_mtx_handles);
            m_dw_owner_thread = 0;
        }
        m_mtx_hold.unlock();  // the hold taken by Post
    }
    m_mtx_hold.unlock();
    return 1;
}

}  // namespace Utilities
