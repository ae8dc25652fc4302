// The statistics event: one record per run, posted encrypted by a worker that retries until one
// post has gone out.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "probes/vdutils.h"
#include "telemetry/recordlist.h"
#include "telemetry/staticsrecord.h"

namespace vdStaticsFoundation {

class CStaticsQueue {
public:
    CStaticsQueue();
    ~CStaticsQueue();
    CStaticsQueue(const CStaticsQueue&) = delete;
    CStaticsQueue& operator=(const CStaticsQueue&) = delete;

    // The one queue of the process.
    static CStaticsQueue& Inst();

    void Push(const IStatics& record);
    // Creates "StaticsEvent" and the worker posting to url (which must outlive it); false when
    // the thread cannot start, and then nothing is sent.
    bool StartWorker(const char* url);
    // Signals the worker, cancels its post in flight and waits up to waitMs for it to end;
    // true when it has ended (or never ran).
    bool StopWorker(DWORD waitMs);
    bool IsWorkerRunning() const;
    int GetCount() const;

private:
    static unsigned __stdcall WorkerProc(void* param);
    void Run();
    CRecordList<CStatics> m_records;
    CScopedHandle m_h_exit_event;
    CScopedHandle m_h_thread;
    unsigned m_u_thread_id;
    const char* m_p_url;
    std::atomic<bool> m_b_stop;
};

}  // namespace vdStaticsFoundation

// Encrypts, base64-codes and posts the text; true when the request was sent, whatever the answer.
// Nothing goes out for an empty text or when the encryption fails.
bool PostStaticsDatas(const std::string& text, const char* url);

// "http://<statistics host>/vip/v.html?t=121", with static lifetime.
const char* GetStaticsUrl();

// Builds this run's record (executable name, installer name, adapter address, channel), queues it
// and starts the worker. Called once, when the main window has initialised.
void SendInstallStatics();
