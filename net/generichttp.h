// The process-wide POST client of the telemetry senders: sends a body, never reads the answer.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <mutex>
#include <string>

#include "base/scoped.h"

namespace Utilities {

class CGenericHttp {
public:
    CGenericHttp();
    ~CGenericHttp();
    CGenericHttp(const CGenericHttp&) = delete;
    CGenericHttp& operator=(const CGenericHttp&) = delete;

    // 1 when the body was sent (whatever the server answers), 0 on failure. Takes the instance for
    // the calling thread until Close, so two workers' exchanges never overlap: call Close after
    // every Post, whether it succeeded or not.
    int Post(const char* url, const char* body, DWORD length);
    // Closes request, connection and session and gives the instance up; returns 1.
    int Close();
    // Closes the handles of the exchange in flight, whichever thread holds the instance, so its
    // remaining steps fail; never waits for the holder, whose Close then finds nothing left.
    // For a worker that must stop: call it until the worker has ended.
    void CancelInFlight();

    int Connect(const char* host, INTERNET_PORT port);
    // Outputs stay empty when the URL cannot be split; path runs to the end of the URL (query included).
    static void CrackHttpUrl(const char* url, std::string& scheme, std::string& host, INTERNET_PORT& port,
                             std::string& path);

    DWORD GetLastErrorCode() const { return m_dw_last_error; }

private:
    // Stores a handle the holder just opened, or closes it when CancelInFlight came first.
    bool KeepHandle(CScopedInternetHandle& slot, HINTERNET h);
    HINTERNET PeekHandle(const CScopedInternetHandle& slot);
    void ResetHandles();

    // Held from Post to Close by one thread at a time; taken again by that thread's Close.
    std::recursive_mutex m_mtx_hold;
    std::mutex m_mtx_handles;  // the handle members, between the holder and CancelInFlight
    DWORD m_dw_owner_thread;  // thread between Post and Close, 0 when free
    bool m_b_cancelled;       // the holder's exchange was cancelled; cleared by the next Post
    CScopedInternetHandle m_h_session;
    CScopedInternetHandle m_h_connection;
    CScopedInternetHandle m_h_request;
    DWORD m_dw_last_error;
};

CGenericHttp& GetGenericHttp();

}  // namespace Utilities
