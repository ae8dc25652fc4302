#include "telemetry/staticsqueue.h"

#include <process.h>

#include "local/vdlog.h"
#include "net/generichttp.h"
#include "payload/vdbizhandler.h"
#include "probes/base64.h"
#include "probes/hostinfo.h"
#include "telemetry/encryptor.h"
#include "telemetry/telemetryutil.h"
#include "vd_endpoints.h"

namespace vdStaticsFoundation {

CStaticsQueue::CStaticsQueue()
    : m_u_next_id(1),
      m_h_mutex(CreateMutexW(nullptr, FALSE, nullptr)),
      m_u_thread_id(0),
      m_p_url(nullptr),
      m_l_stop(0) {
    m_vec_records.reserve(60);
}

CStaticsQueue::~CStaticsQueue() {
    // The worker uses this object: it has to end first (the process-wide queue is never
    // destroyed while its worker runs).
    StopWorker(INFINITE);
    for (auto& r : m_vec_records) delete r.second;
}

CStaticsQueue& CStaticsQueue::Inst() {
    static CStaticsQueue* s_queue = new CStaticsQueue();
    static CLeakWhileBusy<CStaticsQueue> s_reaper(s_queue);
    return *s_queue;
}

bool CStaticsQueue::Lock() const {
    DWORD rc = m_h_mutex.Valid() ? WaitForSingleObject(m_h_mutex.Get(), INFINITE) : WAIT_FAILED;
    return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}

void CStaticsQueue::Unlock() const { ReleaseMutex(m_h_mutex.Get()); }

void CStaticsQueue::Push(const IStatics& record) {
    CStatics* copy = new CStatics();
    copy->CopyFrom(record);
    if (!Lock()) {
        delete copy;
        return;
    }
    m_vec_records.emplace_back(m_u_next_id++, copy);
    Unlock();
}

int CStaticsQueue::GetCount() const {
    if (!Lock()) return 0;
    int n = (int)m_vec_records.size();
    Unlock();
    return n;
}

bool CStaticsQueue::IsWorkerRunning() const {
    return m_h_thread.Valid() && WaitForSingleObject(m_h_thread.Get(), 0) == WAIT_TIMEOUT;
}

bool CStaticsQueue::StartWorker(const char* url) {
    if (IsWorkerRunning()) return true;
    m_h_thread.Reset();
    m_h_exit_event.Reset(CreateEventW(nullptr, FALSE, FALSE, L"StaticsEvent"));
    // The name can be taken by another kind of object: without an event the loop would not pause.
    if (!m_h_exit_event.Valid()) m_h_exit_event.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_h_exit_event.Valid()) return false;
    m_p_url = url;
    InterlockedExchange(&m_l_stop, 0);
    m_h_thread.Reset((HANDLE)_beginthreadex(nullptr, 0, WorkerProc, this, 0, &m_u_thread_id));
    if (!m_h_thread.Valid()) {
        m_h_exit_event.Reset();
        return false;
    }
    return true;
}

bool CStaticsQueue::StopWorker(DWORD waitMs) {
    if (m_h_thread.Valid()) {
        InterlockedExchange(&m_l_stop, 1);
        SetEvent(m_h_exit_event.Get());
        if (!JoinCancelling(m_h_thread.Get(), waitMs)) return false;
        m_h_thread.Reset();
    }
    m_h_exit_event.Reset();
    return true;
}

unsigned __stdcall CStaticsQueue::WorkerProc(void* param) {
    CStaticsQueue* self = static_cast<CStaticsQueue*>(param);
    if (!self || !self->m_p_url) return 0;
    try {
        self->Run();
    } catch (...) {
        WriteLogW(L"StaticsWorker UNexpected excepiton....\n");
    }
    return 0;
}

void CStaticsQueue::Run() {
    for (;;) {
        if (WaitForSingleObject(m_h_exit_event.Get(), 100) == WAIT_OBJECT_0 || m_l_stop) {
            WriteLogW(L"receive exit event signal\n");
            return;
        }
        std::string text;
        uint64_t id = 0;
        if (Lock()) {
            if (!m_vec_records.empty()) {
                id = m_vec_records.back().first;
                text = m_vec_records.back().second->Serialize();
            }
            Unlock();
        }
        if (text.empty() || !PostStaticsDatas(text, m_p_url)) continue;
        if (Lock()) {
            // the posted record, not whichever is newest now
            for (auto it = m_vec_records.begin(); it != m_vec_records.end(); ++it) {
                if (it->first == id) {
                    delete it->second;
                    m_vec_records.erase(it);
                    break;
                }
            }
            Unlock();
        }
        WriteLogA("PostStaticsDatas success url=%s\n", m_p_url);
        return;
    }
}

}  // namespace vdStaticsFoundation

bool PostStaticsDatas(const std::string& text, const char* url) {
    if (text.empty() || !url) return false;
    std::string cipher;
    // An empty body would be taken for a post: skip it, the worker tries again.
    if (!EncryptStaticsText(text, cipher)) return false;
    std::string body = EncodeStaticsTransport(Base64Encode((const unsigned char*)cipher.data(), cipher.size()));
    Utilities::CGenericHttp& http = Utilities::GetGenericHttp();
    bool sent = http.Post(url, body.data(), (DWORD)body.size()) != 0;
    if (!sent) WriteLogA("PostStaticsDatas failure, error=%d, url=%s\n", (int)http.GetLastErrorCode(), url);
    http.Close();
    return sent;
}

const char* GetStaticsUrl() {
    static const std::string* s_url =
        new std::string("http://" + WideToCodePage(VD_STATS_HOST, CP_ACP) + "/vip/v.html?t=121");
    return s_url->c_str();
}

void SendInstallStatics() {
    try {
        vdStaticsFoundation::CStatics record;
        // The wide name: an ANSI one would be cut at 260 characters and is not valid JSON text.
        std::wstring path(32768, L'\0');
        DWORD n = GetModuleFileNameW(nullptr, &path[0], (DWORD)path.size());
        path.resize(n < path.size() ? n : 0);
        size_t slash = path.find_last_of(L'\\');
        std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
        record.SetExeName(WideToCodePage(name.c_str(), CP_UTF8).c_str());

        char installer[20] = {0};
        WideCharToMultiByte(CP_THREAD_ACP, 0, L"pamo30", -1, installer, sizeof(installer) - 1, nullptr, nullptr);
        record.SetInstallerName(installer);
        record.SetWifiMac(GetHostNetInfo().GetMac().c_str());
        record.SetChannel(BizContentToUtf8(CVdBizHandler::Inst().GetBizContent()).c_str());

        vdStaticsFoundation::CStaticsQueue& queue = vdStaticsFoundation::CStaticsQueue::Inst();
        queue.Push(record);
        queue.StartWorker(GetStaticsUrl());
    } catch (...) {
        WriteLogW(L"SendInstallStatics UNexpected excepiton....\n");
    }
}
