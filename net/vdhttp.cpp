#include "net/vdhttp.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "net/httprules.h"

namespace VdFoundationHttpDownload {

PFN_DOWNLOAD_LOG_HOOK DownloadLogHook = nullptr;

void DownloadLog(const wchar_t* format, ...) {
    wchar_t text[1024];
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(text, 1024, format, args);
    va_end(args);
    // msvcrt leaves the buffer unterminated when the text is cut
    if (n < 0 || n >= 1024) text[1023] = 0;
    PFN_DOWNLOAD_LOG_HOOK hook = DownloadLogHook;
    if (hook) hook(text);
}

namespace {

const wchar_t kUserAgent[] = L"" VD_HTTP_USER_AGENT;
const size_t kMaxTextResponse = 4 * 1024 * 1024;

wchar_t* DupText(const wchar_t* s) {
    size_t n = wcslen(s) + 1;
    wchar_t* p = (wchar_t*)malloc(n * sizeof(wchar_t));
    if (p) memcpy(p, s, n * sizeof(wchar_t));
    return p;
}

}  // namespace

int SetWinInetConnectionLimits(DWORD conns) {
    static const DWORD kOptions[] = {INTERNET_OPTION_MAX_CONNS_PER_SERVER, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER,
                                     INTERNET_OPTION_MAX_CONNS_PER_PROXY};
    int taken = 0;
    for (int i = 0; i < 3; ++i)
        if (InternetSetOptionW(nullptr, kOptions[i], &conns, sizeof(conns))) taken |= 1 << i;
    return taken;
}

void VdUrlParser::Clear() {
    scheme[0] = host[0] = user[0] = password[0] = path[0] = extra[0] = url[0] = 0;
    port = 0;
}

bool VdUrlParser::Parse(const wchar_t* text) {
    Clear();
    if (!text || !*text || wcslen(text) >= kPartChars) return false;
    URL_COMPONENTSW uc = {};
    uc.dwStructSize = sizeof(uc);
    uc.lpszScheme = scheme;
    uc.dwSchemeLength = kPartChars;
    uc.lpszHostName = host;
    uc.dwHostNameLength = kPartChars;
    uc.lpszUserName = user;
    uc.dwUserNameLength = kPartChars;
    uc.lpszPassword = password;
    uc.dwPasswordLength = kPartChars;
    uc.lpszUrlPath = path;
    uc.dwUrlPathLength = kPartChars;
    uc.lpszExtraInfo = extra;
    uc.dwExtraInfoLength = kPartChars;
    if (!InternetCrackUrlW(text, 0, ICU_DECODE, &uc)) {
        Clear();
        return false;
    }
    port = uc.nPort;
    wcscpy(url, text);
    return true;
}

IVdHttpDownload::IVdHttpDownload() : _request_url(nullptr), m_sz_file_name(nullptr), m_n_support_partial(0) {
    _urlParser.Clear();
}

IVdHttpDownload::~IVdHttpDownload() {
    CloseHttp();
    free(_request_url);
    free(m_sz_file_name);
}

int IVdHttpDownload::SetRequest(const wchar_t* url, const wchar_t* fileName) {
    if (!url || !*url) return -1;
    free(_request_url);
    _request_url = DupText(url);
    if (!_request_url) return -1;
    free(m_sz_file_name);
    m_sz_file_name = (fileName && *fileName) ? DupText(fileName) : nullptr;
    return 0;
}

int IVdHttpDownload::IsSupportPartial() { return m_n_support_partial; }
void IVdHttpDownload::SetSupportPartial(int flag) { m_n_support_partial = flag; }
const wchar_t* IVdHttpDownload::GetRequestUrl() { return _request_url; }
const wchar_t* IVdHttpDownload::GetFileName() { return m_sz_file_name; }

int IVdHttpDownload::StartHttpGet() {
    if (!_request_url) {
        DownloadLog(L"StartHttpGet _request_url null,line:%d\n", __LINE__);
        return -1;
    }
    if (!_urlParser.Parse(_request_url)) {
        DownloadLog(L"StartHttpGet _urlParser failure:%s,line:%d\n", _request_url, __LINE__);
        return -1;
    }
    m_h_session.Reset(InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!m_h_session) {
        DownloadLog(L"StartHttpGet InternetOpen failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
        return -1;
    }
    // empty credentials go as none, so no authorisation is offered to the server
    m_h_connection.Reset(InternetConnectW(m_h_session.Get(), _urlParser.host, _urlParser.port,
                                          _urlParser.user[0] ? _urlParser.user : nullptr,
                                          _urlParser.password[0] ? _urlParser.password : nullptr,
                                          INTERNET_SERVICE_HTTP,
                                          INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION, 0));
    if (!m_h_connection) {
        DownloadLog(L"StartHttpGet InternetConnect failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
        return -1;
    }
    return 0;
}

void IVdHttpDownload::CloseHttp() {
    m_h_request.Reset();
    m_h_connection.Reset();
    m_h_session.Reset();
}

int IVdHttpDownload::ExHttpSendRequest(HINTERNET request, int tryCount) {
    while (tryCount > 0) {
        --tryCount;
        if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
            DownloadLog(L"HttpSendRequest failure,err:%d,line:%d,try count:%d\n", (int)GetLastError(), __LINE__,
                        tryCount);
            continue;
        }
        DWORD status = 0, size = sizeof(status);
        if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
            if (status == HTTP_STATUS_OK) return 1;
            DownloadLog(L"HttpQueryInfo failure code:%d,err:%d,line:%d\n", (int)status, (int)GetLastError(), __LINE__);
        }
    }
    return 0;
}

bool IVdHttpDownload::IsSecure() const { return IsSecureScheme(_urlParser.scheme); }

std::wstring IVdHttpDownload::TargetPathOnly() const {
    return HttpRequestTarget(_urlParser.path, _urlParser.extra, false);
}

std::wstring IVdHttpDownload::TargetWithQuery() const {
    return HttpRequestTarget(_urlParser.path, _urlParser.extra, true);
}

HINTERNET IVdHttpDownload::OpenRequest(const wchar_t* verb, const std::wstring& target, DWORD flags) {
    // Certificate errors stop the request: an elevated installer must not take a package from
    // whoever answers in the server's name.
    if (IsSecure()) flags |= INTERNET_FLAG_SECURE;
    return HttpOpenRequestW(m_h_connection.Get(), verb, target.c_str(), L"HTTP/1.1", L"", nullptr, flags, 0);
}

void IVdHttpDownload::ApplyTimeouts(HINTERNET request, DWORD ms) {
    if (!request) return;  // a null handle would change the process-wide defaults instead
    InternetSetOptionW(request, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof(ms));
    InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof(ms));
    InternetSetOptionW(request, INTERNET_OPTION_DATA_SEND_TIMEOUT, &ms, sizeof(ms));
    InternetSetOptionW(request, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &ms, sizeof(ms));
    DWORD conns = 6;
    InternetSetOptionW(request, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof(conns));
    InternetSetOptionW(request, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof(conns));
}

BOOL IVdHttpDownload::AddRequestHeaders(HINTERNET request, const std::string& lines, bool replace) {
    if (!request) return FALSE;
    if (!replace) return HttpAddRequestHeadersA(request, lines.c_str(), (DWORD)lines.size(), HTTP_ADDREQ_FLAG_ADD);
    size_t at = 0;
    while (at < lines.size()) {
        size_t end = lines.find("\r\n", at);
        if (end == std::string::npos) end = lines.size();
        if (end > at && !HttpAddRequestHeadersA(request, lines.c_str() + at, (DWORD)(end - at),
                                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
            return FALSE;
        at = end + 2;
    }
    return TRUE;
}

BOOL IVdHttpDownload::AddRangeHeaders(HINTERNET request, unsigned long long first, unsigned long long last,
                                      bool withFixed) {
    if (withFixed && !AddRequestHeaders(request, HttpFixedHeaderLines(), false)) return FALSE;
    return AddRequestHeaders(request, HttpRangeHeaderLine(first, last), true);
}

int CVdHttpDownloadTester::Execute() {
    m_ull_web_file_size = 0;
    m_n_support_partial = 0;
    int result = StartHttpGet();
    if (result != 0) {
        DownloadLog(L"StartHttpGet failure nResult:%d,err:%d,line:%d\n", result, (int)GetLastError(), __LINE__);
        return result;
    }
    m_h_request.Reset(OpenRequest(L"HEAD", TargetPathOnly(), INTERNET_FLAG_RELOAD));
    ApplyTimeouts(m_h_request.Get(), 40000);
    if (!ExHttpSendRequest(m_h_request.Get(), 1)) {
        DownloadLog(L"ExHttpSendRequest failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
        CloseHttp();
        return 0;
    }
    // Read as text: the numeric query is 32 bits wide and would wrap above 4 GiB - 1.
    char length[64] = {0};
    DWORD size = sizeof(length) - 1;
    unsigned long long value = 0;
    if (HttpQueryInfoA(m_h_request.Get(), HTTP_QUERY_CONTENT_LENGTH, length, &size, nullptr) &&
        ParseHttpUInt64(std::string(length, size), value))
        m_ull_web_file_size = value;
    CloseHttp();

    result = StartHttpGet();
    if (result != 0) {
        DownloadLog(L"StartHttpGet failure nResult:%d,err:%d,line:%d\n", result, (int)GetLastError(), __LINE__);
        return result;
    }
    m_h_request.Reset(OpenRequest(L"GET", TargetPathOnly(), INTERNET_FLAG_RELOAD));
    AddRangeHeaders(m_h_request.Get(), 2, 10, true);
    if (HttpSendRequestW(m_h_request.Get(), nullptr, 0, nullptr, 0)) {
        DWORD status = 0, len = sizeof(status);
        if (HttpQueryInfoW(m_h_request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len,
                           nullptr) &&
            status == HTTP_STATUS_PARTIAL_CONTENT)
            m_n_support_partial = 1;
    } else {
        DownloadLog(L"test partial,ExHttpHttpSendRequest SendRequest failure,err:%d,line:%d\n", (int)GetLastError(),
                    __LINE__);
    }
    CloseHttp();
    return 0;
}

int CVdHttpGetRequest::Execute() {
    StartHttpGet();  // a failed start makes the steps below fail and log
    m_h_request.Reset(OpenRequest(L"GET", TargetWithQuery(),
                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION));
    ApplyTimeouts(m_h_request.Get(), 30000);
    int result = 0;
    if (!ExHttpSendRequest(m_h_request.Get(), 1)) {
        DownloadLog(L"ExHttpSendRequest failure,err:%d,ine:%d\n", (int)GetLastError(), __LINE__);
        result = -1;
    } else {
        std::vector<char> buffer;
        try {
            buffer.resize(10240);
        } catch (...) {
            DownloadLog(L"malloc memory failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
            result = -1;
        }
        if (result == 0) {
            m_s_response.clear();
            for (;;) {
                DWORD got = 0;
                if (!InternetReadFile(m_h_request.Get(), buffer.data(), (DWORD)buffer.size(), &got)) {
                    // a broken transfer does not heal by asking again: keep what came
                    DownloadLog(L"InternetReadFile failure,err:%d,line:%d\n", (int)GetLastError(), __LINE__);
                    break;
                }
                if (got == 0) break;
                // text answers are small; a server that never stops must not exhaust memory
                if (m_s_response.size() + got > kMaxTextResponse) {
                    DownloadLog(L"response too large:%u,line:%d\n", (unsigned)(m_s_response.size() + got), __LINE__);
                    m_s_response.clear();
                    result = -1;
                    break;
                }
                m_s_response.append(buffer.data(), got);
            }
        }
    }
    CloseHttp();
    return result;
}

}  // namespace VdFoundationHttpDownload
