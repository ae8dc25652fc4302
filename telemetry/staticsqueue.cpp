#include "telemetry/staticsqueue.h"

#include <process.h>

#include "base/vdlog.h"
#include "net/generichttp.h"
#include "payload/vdbizhandler.h"
#include "probes/base64.h"
#include "probes/hostinfo.h"
#include "telemetry/encryptor.h"
#include "telemetry/telemetryutil.h"
#include "vd_endpoints.h"

namespace vdStaticsFoundation {

CStaticsQueue::CStaticsQueue() : m_u_thread_id(0), m_p_url(nullptr), m_b_stop(false) {}

CStaticsQueue::~CStaticsQueue() {
    // The worker uses this object: it has to end first (the process-wide queue is never
    // destroyed while its worker runs).
    StopWorker(INFINITE);
}

CStaticsQueue& CStaticsQueue::Inst() {
    static CStaticsQueue* s_queue = new CStaticsQueue();
    static CLeakWhileBusy<CStaticsQueue> s_reaper(s_queue);
    return *s_queue;
}

void CStaticsQueue::Push(const IStatics& record) {
    std::unique_ptr<CStatics> copy(new CStatics());
    copy->CopyFrom(record);
    m_records.Push(std::move(copy));
}

int CStaticsQueue::GetCount() const { return m_records.Count(); }

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
    m_b_stop = false;
    m_h_thread.Reset((HANDLE)_beginthreadex(nullptr, 0, WorkerProc, this, 0, &m_u_thread_id));
    if (!m_h_thread.Valid()) {
        m_h_exit_event.Reset();
        return false;
    }
    return true;
}

bool CStaticsQueue::StopWorker(DWORD waitMs) {
    if (m_h_thread.Valid()) {
        m_b_stop = true;
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
        if (WaitForSingleObject(m_h_exit_event.Get(), 100) == WAIT_OBJECT_0 || m_b_stop) {
            WriteLogW(L"receive exit event signal\n");
            return;
        }
        std::string text;
        uint64_t id = 0;
        m_records.ReadNewest([&](const CStatics& r) { text = r.Serialize(); }, id);
        if (text.empty() || !PostStaticsDatas(text, m_p_url)) continue;
        m_records.Remove(id);
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

        record.SetInstallerName(WideToCodePage(L"pamo30", CP_THREAD_ACP).c_str());
        record.SetWifiMac(GetHostNetInfo().GetMac().c_str());
        record.SetChannel(BizContentToUtf8(CVdBizHandler::Inst().GetBizContent()).c_str());

        vdStaticsFoundation::CStaticsQueue& queue = vdStaticsFoundation::CStaticsQueue::Inst();
        queue.Push(record);
        queue.StartWorker(GetStaticsUrl());
    } catch (...) {
        WriteLogW(L"SendInstallStatics UNexpected excepiton....\n");
    }
}
