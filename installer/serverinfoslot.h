// The window's server-info record, shared by the UI thread (late server answers) and the download
// worker (the record it fetched itself, or the fallback): every access copies under one lock, so
// no reader ever sees a half-copied record.
#pragma once
#include <windows.h>

#include <functional>

#include "net/serverinfo.h"

class CInstServerInfoSlot {
public:
    CInstServerInfoSlot() { InitializeCriticalSection(&m_cs); }
    ~CInstServerInfoSlot() { DeleteCriticalSection(&m_cs); }
    CInstServerInfoSlot(const CInstServerInfoSlot&) = delete;
    CInstServerInfoSlot& operator=(const CInstServerInfoSlot&) = delete;

    InstServerInfo Get() const {
        CLock lock(m_cs);
        return m_info;
    }
    void Set(const InstServerInfo& info) {
        CLock lock(m_cs);
        m_info = info;
    }
    // Read-modify-write in one step (the edit runs under the lock: keep it short, no I/O).
    void Update(const std::function<void(InstServerInfo&)>& edit) {
        CLock lock(m_cs);
        edit(m_info);
    }

private:
    class CLock {
    public:
        explicit CLock(CRITICAL_SECTION& cs) : m_r(cs) { EnterCriticalSection(&m_r); }
        ~CLock() { LeaveCriticalSection(&m_r); }
        CLock(const CLock&) = delete;
        CLock& operator=(const CLock&) = delete;

    private:
        CRITICAL_SECTION& m_r;
    };

    mutable CRITICAL_SECTION m_cs;
    InstServerInfo m_info;
};
