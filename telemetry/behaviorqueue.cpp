#include "telemetry/behaviorqueue.h"

#include <process.h>

#include <mutex>

#include "base/files.h"
#include "base/vdlog.h"
#include "local/inifile.h"
#include "net/generichttp.h"
#include "net/iplookup.h"
#include "probes/fileversion.h"
#include "probes/hostinfo.h"
#include "telemetry/telemetryutil.h"
#include "vd_endpoints.h"

namespace VdFoundationBehaviorGather {

namespace {

// A stored file beyond this is not ours to load; it stays for the next store to replace.
const DWORD kMaxStoreBytes = 16 * 1024 * 1024;
// Any process of the user can write the store: what is loaded stays bounded in count too.
const Json::ArrayIndex kMaxStoreRecords = 2000;

struct CProductName {
    std::mutex mtx;
    std::string name = "Vardo";
    std::string version;
};

CProductName& Product() {
    // never destroyed: the behaviour worker may outlive the exit handlers
    static CProductName* s_product = new CProductName();
    return *s_product;
}

std::wstring ProductNameW() { return CodePageToWide(GetBehaviorProductName(), CP_THREAD_ACP); }

std::string NowText() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return FormatOperateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

BehaviorHostFacts HostFacts(bool includeIp) {
    BehaviorHostFacts facts;
    facts.mac = GetHostNetInfo().GetMac();
    if (includeIp) facts.ip = GetPublicIpLookup().GetPublicIp();
    facts.version = GetBehaviorVersionText();
    facts.now = NowText();
    return facts;
}

// Text mode on disk (CR LF), written under ".tmp" and renamed over the old file.
bool WriteTextFile(const std::wstring& path, const std::string& text) {
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    std::wstring tmp = path + L".tmp";
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = WriteFile(h, crlf.data(), (DWORD)crlf.size(), &put, nullptr) && put == crlf.size();
    ok = CloseHandle(h) && ok;  // raw: its result is the write's last word
    if (!ok || !MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

void SetBehaviorProductName(const wchar_t* name) {
    std::string narrow = WideToCodePage(name, CP_THREAD_ACP);
    if (narrow.empty()) return;
    std::lock_guard<std::mutex> lock(Product().mtx);
    Product().name = narrow;
}

std::string GetBehaviorProductName() {
    std::lock_guard<std::mutex> lock(Product().mtx);
    return Product().name;
}

std::wstring GetBehaviorStorePath() { return GetBehaviorFilePath(ProductNameW().c_str()); }

std::string GetBehaviorVersionText() {
    std::string version;
    {
        std::lock_guard<std::mutex> lock(Product().mtx);
        version = Product().version;
    }
    if (!version.empty()) return version;
    version = WideToCodePage(GetOwnVersionText(nullptr).c_str(), CP_UTF8);
    std::lock_guard<std::mutex> lock(Product().mtx);
    if (!version.empty()) Product().version = version;
    return version;
}

// --- the record's host-dependent forms ---------------------------------------------------------

void CVdBehaviorGather::ToJson(Json::Value& root, bool includeIp) const { FillJson(root, HostFacts(includeIp)); }

std::string CVdBehaviorGather::ToJsonText() const { return ToJsonText(HostFacts(true)); }

std::wstring CVdBehaviorGather::ToJsonTextW() const { return CodePageToWide(ToJsonText(), CP_UTF8); }

// --- the queue ---------------------------------------------------------------------------------

CBehaviorQueue::CBehaviorQueue(const char* url)
    : m_dw_stop_wait_ms(800),
      m_b_stop(false),
      m_h_thread(nullptr),
      m_u_thread_id(0) {
    m_s_url = url ? url : "http://" + WideToCodePage(VD_BEHAVIOR_HOST, CP_ACP) + "/pm_simulator";
}

CBehaviorQueue::~CBehaviorQueue() {
    if (m_h_thread.Valid()) {
        m_b_stop = true;
        SetEvent(m_h_exit_event.Get());
        // The worker uses this object: it has to end first (the process-wide queue is never
        // destroyed while its worker runs).
        JoinCancelling(m_h_thread.Get(), INFINITE);
    }
}

CBehaviorQueue& CBehaviorQueue::Inst() {
    static CBehaviorQueue* s_queue = new CBehaviorQueue();
    static CLeakWhileBusy<CBehaviorQueue> s_reaper(s_queue);
    return *s_queue;
}

void CBehaviorQueue::Push(const CVdBehaviorGather& record) {
    std::unique_ptr<CVdBehaviorGather> copy(new CVdBehaviorGather());
    copy->CopyFrom(record);
    m_records.Push(std::move(copy));
}

int CBehaviorQueue::GetCount() const { return m_records.Count(); }

bool CBehaviorQueue::IsWorkerRunning() const {
    return m_h_thread.Valid() && WaitForSingleObject(m_h_thread.Get(), 0) == WAIT_TIMEOUT;
}

bool CBehaviorQueue::StartWorker() {
    if (IsWorkerRunning()) return true;
    m_h_thread.Reset();
    if (!m_h_exit_event.Valid()) m_h_exit_event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_h_exit_event.Valid()) return false;
    ResetEvent(m_h_exit_event.Get());
    m_b_stop = false;
    m_h_thread.Reset((HANDLE)_beginthreadex(nullptr, 0, WorkerProc, this, CREATE_SUSPENDED, &m_u_thread_id));
    if (!m_h_thread.Valid()) return false;
    SetThreadPriority(m_h_thread.Get(), THREAD_PRIORITY_ABOVE_NORMAL);
    ResumeThread(m_h_thread.Get());
    return true;
}

unsigned __stdcall CBehaviorQueue::WorkerProc(void* param) {
    CBehaviorQueue* self = static_cast<CBehaviorQueue*>(param);
    try {
        self->Run();
    } catch (...) {
        WriteLogW(L"BehaviorWorker UNexpected excepiton....\n");
    }
    return 0;
}

void CBehaviorQueue::Run() {
    LoadFromLocal();
    Utilities::CGenericHttp& http = Utilities::GetGenericHttp();
    while (!m_b_stop) {
        if (WaitForSingleObject(m_h_exit_event.Get(), 100) == WAIT_OBJECT_0) {
            WriteLogW(L"receive exit event signal\n");
            break;
        }
        if (GetCount() == 0) continue;
        // The IP lookup runs outside the lock: Push on the window's thread never waits for it.
        BehaviorHostFacts facts = HostFacts(true);
        std::string text;
        uint64_t id = 0;
        bool fromStore = false;
        m_records.ReadNewest(
            [&](const CVdBehaviorGather& r) {
                text = r.ToJsonText(facts);
                fromStore = r.IsFromLocalStore();
            },
            id);
        if (text.empty()) continue;
        if (m_b_stop) break;
        if (!fromStore && CInstConfig::Inst().IsTestIni_behavior_output(ProductNameW().c_str()))
            WriteLogW(L"%s\n", CodePageToWide(text, CP_UTF8).c_str());

        int sent = http.Post(m_s_url.c_str(), text.data(), (DWORD)text.size());
        DWORD err = sent ? 0 : http.GetLastErrorCode();
        http.Close();
        if (sent) {
            WriteLogW(L"PostBehaviorData success\n");
            int left = m_records.Remove(id);
            WriteLogW(L"behaviorVector pop back,size:%d\n", left);
        } else {
            WriteLogW(L"PostBehaviorData failure,err:%d\n", (int)err);
        }
    }
    WriteLogW(L"exit loop run\n");
    m_b_stop = false;
}

void CBehaviorQueue::StopAndStore() {
    if (m_h_exit_event.Valid()) SetEvent(m_h_exit_event.Get());
    m_b_stop = true;
    WriteLogW(L"wait loop run end\n");
    if (m_h_thread.Valid()) {
        if (JoinCancelling(m_h_thread.Get(), m_dw_stop_wait_ms)) {
            m_h_thread.Reset();
        } else {
            // Stored anyway: a record it still sends may reach the collector twice, none is lost.
            WriteLogW(L"behavior worker still busy, storing without it\n");
        }
    }
    WriteLogW(L"END all wait loop run\n");
    WriteLogW(L"begin StoreToLocal\n");
    StoreToLocal();
    WriteLogW(L"end StoreToLocal\n");
}

void CBehaviorQueue::StoreToLocal() {
    if (GetCount() == 0) return;
    BehaviorHostFacts facts = HostFacts(false);
    std::vector<std::unique_ptr<CVdBehaviorGather>> records = m_records.TakeAll();
    WriteLogW(L"begin store to json,vector size:%d\n", (int)records.size());
    Json::Value roots(Json::arrayValue);
    for (const auto& r : records) {
        Json::Value root(Json::objectValue);
        r->FillJson(root, facts);
        roots.append(root);
    }
    WriteLogW(L"end store to json\n");
    WriteLogW(L"remove m_behaviorVector begin\n");
    records.clear();
    WriteLogW(L"remove m_behaviorVector end\n");

    std::wstring path = GetBehaviorStorePath();
    if (!WriteTextFile(path, BehaviorStoreText(roots)))
        WriteLogW(L"store behavior.json failure,err:%d,path:%s\n", (int)GetLastError(), path.c_str());
}

void CBehaviorQueue::LoadFromLocal() {
    std::wstring path = GetBehaviorStorePath();
    if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    std::string data;
    Json::Value roots;
    if (ReadWholeFile(path, kMaxStoreBytes, data) != ReadWholeResult::Ok || !ParseBehaviorStore(data, roots)) {
        WriteLogW(L"behavior.json not loaded, left in place\n");
        return;
    }
    if (roots.isArray() && roots.size() > kMaxStoreRecords)
        WriteLogW(L"behavior.json holds %u records, the first %u loaded\n", (unsigned)roots.size(),
                  (unsigned)kMaxStoreRecords);
    for (Json::ArrayIndex i = 0; roots.isArray() && i < roots.size() && i < kMaxStoreRecords; ++i) {
        std::unique_ptr<CVdBehaviorGather> record(new CVdBehaviorGather());
        record->FromJson(roots[i]);
        record->SetFromLocalStore(true);
        m_records.Push(std::move(record));
    }
    DeleteFileW(path.c_str());
}

}  // namespace VdFoundationBehaviorGather
