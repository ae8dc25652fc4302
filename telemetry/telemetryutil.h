// Small helpers shared by the two telemetry workers.
#pragma once
#include <windows.h>

#include <string>

#include "base/strconv.h"

// The distributor's business content as the records carry it: written as code page 936 text,
// sent as UTF-8, and ended by the first NUL of a padded resource.
std::string BizContentToUtf8(const std::string& content);

// Waits for a worker: up to 150 ms as it is, then up to waitMs more while closing the shared POST
// client's handles, so a post in flight fails instead of running into its timeouts. True when the thread has ended. The
// thread is never terminated: one ended by force could die holding the client for good.
bool JoinCancelling(HANDLE thread, DWORD waitMs);

// Owner of a process-wide queue: frees it at exit unless its worker is still inside a request,
// which would then touch freed memory while the runtime tears down.
template <class T>
class CLeakWhileBusy {
public:
    explicit CLeakWhileBusy(T* p) : m_p(p) {}
    ~CLeakWhileBusy() {
        if (m_p && !m_p->IsWorkerRunning()) delete m_p;
    }
    CLeakWhileBusy(const CLeakWhileBusy&) = delete;
    CLeakWhileBusy& operator=(const CLeakWhileBusy&) = delete;

private:
    T* m_p;
};
