// Request classes over WinINet: every object opens its own session and connection, serves one
// request sequence on one thread, and closes what it opened.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <string>

#include "base/scoped.h"

namespace VdFoundationHttpDownload {

// Receives every text of the download module; unset means the text is dropped.
typedef void (*PFN_DOWNLOAD_LOG_HOOK)(const wchar_t* text);
extern PFN_DOWNLOAD_LOG_HOOK DownloadLogHook;

// printf-style into a 1024-character buffer on the caller's stack (longer output is cut).
void DownloadLog(const wchar_t* format, ...);

// WinINet's connection limits are process-wide and, on Windows, taken only on the NULL handle and
// only before the first connection to a server; the old defaults (2 per HTTP/1.1 server, 4 per
// proxy) would hold most sections back inside HttpSendRequest. Call at start-up, before any
// WinINet handle exists. Bit 0, 1, 2: per server, per HTTP/1.0 server, per proxy was taken.
int SetWinInetConnectionLimits(DWORD conns);

// Fixed buffers so that a request needs no allocation for its URL parts.
struct VdUrlParser {
    enum { kPartChars = 1024 };
    wchar_t scheme[kPartChars];
    wchar_t host[kPartChars];
    wchar_t user[kPartChars];
    wchar_t password[kPartChars];
    wchar_t path[kPartChars];
    wchar_t extra[kPartChars];  // the query with its leading "?"
    INTERNET_PORT port;
    wchar_t url[kPartChars];

    void Clear();
    // Splits and percent-decodes the parts; false when the URL cannot be split or is too long.
    bool Parse(const wchar_t* text);
};

class IVdHttpDownload {
public:
    IVdHttpDownload();
    virtual ~IVdHttpDownload();
    IVdHttpDownload(const IVdHttpDownload&) = delete;
    IVdHttpDownload& operator=(const IVdHttpDownload&) = delete;

    // -1 when the URL is missing or empty, else 0.
    virtual int SetRequest(const wchar_t* url, const wchar_t* fileName);
    virtual int Execute() = 0;
    virtual int IsSupportPartial();
    virtual void SetSupportPartial(int flag);
    virtual const wchar_t* GetRequestUrl();
    virtual const wchar_t* GetFileName();
    // Opens session and connection for _request_url: 0 on success, -1 on failure.
    virtual int StartHttpGet();
    virtual void CloseHttp();
    // Nonzero only when a send succeeded with status 200.
    virtual int ExHttpSendRequest(HINTERNET request, int tryCount);

protected:
    // Opens a request on the current connection, with TLS for an https URL; the certificate is
    // checked, and an invalid one fails the request.
    HINTERNET OpenRequest(const wchar_t* verb, const std::wstring& target, DWORD flags);
    // Send, receive, data-send and data-receive timeouts, and the per-server connection limits.
    static void ApplyTimeouts(HINTERNET request, DWORD ms);
    // Every header of the request classes goes through here. Windows documents one header per
    // replacing call: several lines go in one adding call, a replacing line in a call of its own.
    static BOOL AddRequestHeaders(HINTERNET request, const std::string& lines, bool replace);
    // The Range line replaces the one before it on a reused handle; the fixed lines are added once,
    // with the handle's first range (`withFixed`).
    static BOOL AddRangeHeaders(HINTERNET request, unsigned long long first, unsigned long long last, bool withFixed);
    bool IsSecure() const;
    std::wstring TargetPathOnly() const;
    std::wstring TargetWithQuery() const;

    VdUrlParser _urlParser;
    wchar_t* _request_url;
    wchar_t* m_sz_file_name;
    CScopedInternetHandle m_h_session;
    CScopedInternetHandle m_h_connection;
    CScopedInternetHandle m_h_request;
    int m_n_support_partial;
};

// Probes a file's size (HEAD) and whether the server honours byte ranges (GET of bytes 2 to 10).
class CVdHttpDownloadTester : public IVdHttpDownload {
public:
    int Execute() override;
    // 0 when the server gave no usable size. 64 bits: packages may exceed 4 GiB - 1.
    unsigned long long GetWebFileSize() const { return m_ull_web_file_size; }

private:
    unsigned long long m_ull_web_file_size = 0;
};

// One GET whose body is kept as received: 0 on status 200, -1 otherwise or when the body passes 4 MiB.
class CVdHttpGetRequest : public IVdHttpDownload {
public:
    int Execute() override;
    std::string GetResponse() const { return m_s_response; }

private:
    std::string m_s_response;
};

}  // namespace VdFoundationHttpDownload
