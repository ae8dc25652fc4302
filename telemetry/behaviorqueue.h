// Behaviour records: a process-wide list posted newest first by a worker of raised priority;
// what is unsent at the end goes to "behavior.json" and is posted by the next run.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "probes/vdutils.h"
#include "telemetry/behaviorrecord.h"
#include "telemetry/recordlist.h"

namespace VdFoundationBehaviorGather {

// The product folder name (narrow, thread code page) that places "behavior.json" and finds
// "test.ini"; "Vardo" until the main window sets it.
void SetBehaviorProductName(const wchar_t* name);
std::string GetBehaviorProductName();
// "behavior.json" in the data folder of that product, or in the temporary folder.
std::wstring GetBehaviorStorePath();

// The installer's own version text in UTF-8, cached once known.
std::string GetBehaviorVersionText();

class CBehaviorQueue {
public:
    // url: where records go; null for the behaviour collector's "/pm_simulator".
    explicit CBehaviorQueue(const char* url = nullptr);
    ~CBehaviorQueue();
    CBehaviorQueue(const CBehaviorQueue&) = delete;
    CBehaviorQueue& operator=(const CBehaviorQueue&) = delete;

    // The one queue of the process.
    static CBehaviorQueue& Inst();

    // Stores a copy; the caller's record can go.
    void Push(const CVdBehaviorGather& record);
    // Loads what the last run stored, then posts one record per pass, newest first.
    bool StartWorker();
    // Stops the worker without terminating it (a post in flight is cancelled: its record is then
    // stored, or it was sent) and writes unsent records to "behavior.json".
    void StopAndStore();
    std::string GetVersionText() { return GetBehaviorVersionText(); }

    int GetCount() const;
    bool IsWorkerRunning() const;

    // How long StopAndStore waits for the worker before storing without it.
    DWORD m_dw_stop_wait_ms;

private:
    static unsigned __stdcall WorkerProc(void* param);
    void Run();
    void LoadFromLocal();
    void StoreToLocal();

    std::atomic<bool> m_b_stop;
    CScopedHandle m_h_thread;
    unsigned m_u_thread_id;
    CRecordList<CVdBehaviorGather> m_records;
    CScopedHandle m_h_exit_event;
    std::string m_s_url;
};

}  // namespace VdFoundationBehaviorGather
