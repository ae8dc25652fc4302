// The telemetry workers against the local collectors: what arrives, in which order, how often,
// and what survives a stop.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "local/inifile.h"
#include "base/vdlog.h"
#include "net/generichttp.h"
#include "probes/fileversion.h"
#include "probes/hostinfo.h"
#include "telemetry/telemetry.h"
#include "telemetry/telemetryutil.h"
#include "tests/unit/support/testservers.h"

using VdFoundationBehaviorGather::CBehaviorQueue;
using VdFoundationBehaviorGather::CVdBehaviorGather;
using vdStaticsFoundation::CStatics;
using vdStaticsFoundation::CStaticsQueue;
using vdtest::ServerControl;
using vdtest::ServerRequests;

namespace {

const wchar_t kProduct[] = L"VardoTelemetryTest";

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(50);
    }
    return true;
}

void SetMode(const char* role, const char* mode, int status = 200, int hold = 10) {
    char body[128];
    snprintf(body, sizeof(body), "{\"mode\":\"%s\",\"status\":%d,\"hold\":%d}", mode, status, hold);
    ASSERT_EQ(200, ServerControl(role, "mode", body));
}

Json::Value Answered(const char* role) {
    Json::Value out(Json::arrayValue);
    for (const auto& r : ServerRequests(role))
        if (r["answered"].asBool()) out.append(r);
    return out;
}

int Attempts(const char* role) { return (int)ServerRequests(role).size(); }

std::string ReadWhole(const std::wstring& path) {
    std::string data;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return data;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(h, buf, sizeof(buf), &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return data;
}

void WriteWhole(const std::wstring& path, const std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD put = 0;
    ::WriteFile(h, data.data(), (DWORD)data.size(), &put, nullptr);
    CloseHandle(h);
}

CVdBehaviorGather Record(const char* model, const char* succeed = "1", const char* error = nullptr) {
    CVdBehaviorGather r;
    r.SetModel(model);
    r.SetSucceed(succeed);
    r.SetErrorMessage(error);
    return r;
}

class TelemetryWire : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(0, vdtest::ServerPort("behavior")) << "run through scripts/wine-run.sh with VD_TEST_SERVERS=1";
        for (const char* role : {"proxy", "stats", "behavior", "iplookup"}) vdtest::ServerReset(role);
        VdFoundationBehaviorGather::SetBehaviorProductName(kProduct);
        m_store = VdFoundationBehaviorGather::GetBehaviorStorePath();
        DeleteFileW(m_store.c_str());
        DeleteFileW(TestIni().c_str());
    }
    void TearDown() override {
        DeleteFileW(m_store.c_str());
        DeleteFileW(TestIni().c_str());
    }
    static std::wstring TestIni() { return GetDataFolderOrTemp(kProduct) + L"test.ini"; }

    std::wstring m_store;
};

}  // namespace

TEST_F(TelemetryWire, StatisticsPostIsDecryptedByTheCollector) {
    const std::string text = "{\"channel\":\"\",\"exename\":\"a+b.exe\",\"installername\":\"pamo30\",\"wifimac\":\"\"}";
    ASSERT_TRUE(PostStaticsDatas(text, GetStaticsUrl()));
    Json::Value posts = Answered("stats");
    ASSERT_EQ(1u, posts.size());
    EXPECT_EQ(text, posts[0]["text"].asString());
    EXPECT_EQ(0u, posts[0]["problems"].size()) << Json::StyledWriter().write(posts[0]["problems"]);
    EXPECT_EQ("POST /vip/v.html?t=121 HTTP/1.0", posts[0]["request_line"].asString());
    EXPECT_EQ("multipart/form-data", vdtest::HeaderValue(posts[0], "Content-Type"));
    EXPECT_EQ(std::string::npos, vdtest::RecordBody(posts[0]).find('+'));

    EXPECT_FALSE(PostStaticsDatas("", GetStaticsUrl()));  // nothing goes out
    EXPECT_EQ(1, Attempts("stats"));
}

TEST_F(TelemetryWire, StatisticsWorkerRetriesUntilTheCollectorReturnsThenPostsOnce) {
    SetMode("stats", "drop");
    CStaticsQueue queue;
    CStatics record;
    record.SetExeName("vdInstaller.exe");
    record.SetInstallerName("pamo30");
    queue.Push(record);
    ASSERT_TRUE(queue.StartWorker(GetStaticsUrl()));
    EXPECT_TRUE(WaitFor([] { return Attempts("stats") >= 3; }, 20000));
    EXPECT_EQ(0u, Answered("stats").size());
    EXPECT_TRUE(queue.IsWorkerRunning());
    EXPECT_EQ(1, queue.GetCount());

    SetMode("stats", "ok");
    EXPECT_TRUE(WaitFor([&] { return !queue.IsWorkerRunning(); }, 20000));
    Sleep(400);  // a worker that went on would post again within this
    Json::Value posts = Answered("stats");
    ASSERT_EQ(1u, posts.size());
    EXPECT_EQ(record.Serialize(), posts[0]["text"].asString());
    EXPECT_EQ(0, queue.GetCount());
}

TEST_F(TelemetryWire, StatisticsErrorAnswerCountsAsSent) {
    SetMode("stats", "ok", 500);
    CStaticsQueue queue;
    CStatics record;
    record.SetExeName("x.exe");
    queue.Push(record);
    ASSERT_TRUE(queue.StartWorker(GetStaticsUrl()));
    EXPECT_TRUE(WaitFor([&] { return !queue.IsWorkerRunning(); }, 20000));
    EXPECT_EQ(1, Attempts("stats"));
}

TEST_F(TelemetryWire, SendInstallStaticsReportsThisExecutable) {
    SendInstallStatics();
    ASSERT_TRUE(WaitFor([] { return Answered("stats").size() == 1; }, 20000));
    EXPECT_TRUE(WaitFor([] { return !CStaticsQueue::Inst().IsWorkerRunning(); }, 5000));
    Json::Value rec = Answered("stats")[0];
    EXPECT_EQ(0u, rec["problems"].size()) << Json::StyledWriter().write(rec["problems"]);
    EXPECT_EQ("telemetry_wire_test.exe", rec["json"]["exename"].asString());
    EXPECT_EQ("pamo30", rec["json"]["installername"].asString());
    EXPECT_EQ("", rec["json"]["channel"].asString());
    EXPECT_EQ(GetHostNetInfo().GetMac(), rec["json"]["wifimac"].asString());
    EXPECT_FALSE(rec["json"].isMember("software"));
}

TEST_F(TelemetryWire, RecordsHeldBackArriveNewestFirst) {
    SetMode("behavior", "drop");
    CBehaviorQueue queue;
    ASSERT_TRUE(queue.StartWorker());
    queue.Push(Record("4010102"));
    queue.Push(Record("4010104", "2", "0.00"));
    queue.Push(Record("4010105", "2", "Installing failure"));
    EXPECT_TRUE(WaitFor([] { return Attempts("behavior") >= 3; }, 20000));
    EXPECT_EQ(3, queue.GetCount());
    // every failed attempt was for the newest
    for (const auto& r : ServerRequests("behavior"))
        EXPECT_NE(std::string::npos, vdtest::RecordBody(r).find("\"model\":\"4010105\""));

    SetMode("behavior", "ok");
    ASSERT_TRUE(WaitFor([] { return Answered("behavior").size() >= 3; }, 20000));
    Sleep(300);
    Json::Value posts = Answered("behavior");
    ASSERT_EQ(3u, posts.size());
    const char* order[] = {"4010105", "4010104", "4010102"};
    for (int i = 0; i < 3; ++i) {
        const Json::Value& body = posts[i]["json"];
        EXPECT_EQ(0u, posts[i]["problems"].size()) << Json::StyledWriter().write(posts[i]["problems"]);
        EXPECT_EQ(order[i], body["list"][0]["model"].asString());
        EXPECT_EQ("203.0.113.7", body["ip"].asString());
        EXPECT_EQ(GetHostNetInfo().GetMac(), body["mac"].asString());
        EXPECT_EQ(WideToCodePage(GetOwnVersionText(nullptr).c_str(), CP_UTF8), body["list"][0]["version"].asString());
    }
    EXPECT_EQ("Installing failure", posts[0]["json"]["list"][0]["errormessage"].asString());
    EXPECT_EQ(0, queue.GetCount());
    queue.StopAndStore();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_store.c_str()));  // nothing left to store
}

TEST_F(TelemetryWire, UnsentRecordsSurviveARestart) {
    SetMode("behavior", "drop");
    {
        CBehaviorQueue first;
        ASSERT_TRUE(first.StartWorker());
        first.Push(Record("4010101"));
        first.Push(Record("4010102"));
        EXPECT_TRUE(WaitFor([] { return Attempts("behavior") >= 2; }, 20000));
        first.StopAndStore();
        EXPECT_FALSE(first.IsWorkerRunning());
        EXPECT_EQ(0, first.GetCount());
    }
    std::string file = ReadWhole(m_store);
    Json::Value stored;
    ASSERT_TRUE(VdFoundationBehaviorGather::ParseBehaviorStore(file, stored)) << file;
    ASSERT_EQ(2u, stored.size());
    EXPECT_NE(std::string::npos, file.find("\r\n   {\r\n      \"action\" : \"PostPCOperateData\""));
    const char* models[] = {"4010101", "4010102"};  // oldest first
    for (Json::ArrayIndex i = 0; i < 2; ++i) {
        EXPECT_EQ("", stored[i]["ip"].asString());
        ASSERT_EQ(1u, stored[i]["list"].size());
        EXPECT_EQ(models[i], stored[i]["list"][0]["model"].asString());
    }
    std::string storedTime = stored[0]["list"][0]["operateTime"].asString();
    EXPECT_EQ(19u, storedTime.size());

    ServerControl("behavior", "reset");
    Sleep(1100);  // a fresh time would now differ from the stored one
    CBehaviorQueue next;
    ASSERT_TRUE(next.StartWorker());
    ASSERT_TRUE(WaitFor([] { return Answered("behavior").size() >= 2; }, 20000));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_store.c_str()));
    Json::Value posts = Answered("behavior");
    ASSERT_EQ(2u, posts.size());
    EXPECT_EQ("4010102", posts[0]["json"]["list"][0]["model"].asString());
    EXPECT_EQ("4010101", posts[1]["json"]["list"][0]["model"].asString());
    EXPECT_EQ(storedTime, posts[1]["json"]["list"][0]["operateTime"].asString());
    EXPECT_EQ("203.0.113.7", posts[1]["json"]["ip"].asString());
    next.StopAndStore();
}

TEST_F(TelemetryWire, StoreThatIsNotAnArrayStaysAndIsNotLoaded) {
    const std::string object = "{\"list\":[{\"model\":\"4010103\"}]}";
    WriteWhole(m_store, object);
    CBehaviorQueue queue;
    ASSERT_TRUE(queue.StartWorker());
    Sleep(600);
    EXPECT_EQ(0, queue.GetCount());
    queue.StopAndStore();  // nothing to store: the file stays as it was
    EXPECT_EQ(object, ReadWhole(m_store));
    EXPECT_EQ(0, Attempts("behavior"));

    // the next store replaces it
    SetMode("behavior", "drop");
    CBehaviorQueue again;
    ASSERT_TRUE(again.StartWorker());
    again.Push(Record("4010102"));
    EXPECT_TRUE(WaitFor([] { return Attempts("behavior") >= 1; }, 20000));
    again.StopAndStore();
    Json::Value stored;
    ASSERT_TRUE(VdFoundationBehaviorGather::ParseBehaviorStore(ReadWhole(m_store), stored));
    ASSERT_EQ(1u, stored.size());
}

TEST_F(TelemetryWire, StoredRecordWithOddMembersIsSentNotFatal) {
    WriteWhole(m_store, "[{\"list\":[{\"model\":4010103,\"succeed\":{},\"operateTime\":[\"x\"]}]}, 5]");
    CBehaviorQueue queue;
    ASSERT_TRUE(queue.StartWorker());
    ASSERT_TRUE(WaitFor([] { return Answered("behavior").size() >= 2; }, 20000));
    Json::Value posts = Answered("behavior");
    EXPECT_EQ("", posts[0]["json"]["list"][0]["model"].asString());  // the bare 5, newest
    EXPECT_EQ("4010103", posts[1]["json"]["list"][0]["model"].asString());
    EXPECT_EQ("", posts[1]["json"]["list"][0]["succeed"].asString());
    EXPECT_EQ(19u, posts[1]["json"]["list"][0]["operateTime"].asString().size());  // time of the send
    queue.StopAndStore();
}

TEST_F(TelemetryWire, BehaviorOutputLogsFreshRecordsOnly) {
    WriteWhole(TestIni(), "[test]\r\nbehavior_output=1\r\n");
    WriteWhole(m_store, "[{\"list\":[{\"model\":\"4010103\",\"errormessage\":\"stored-marker\"}]}]");
    std::wstring log = GetLogFilePath();
    std::string before = ReadWhole(log);
    OpenLog();
    {
        CBehaviorQueue queue;
        ASSERT_TRUE(queue.StartWorker());
        queue.Push(Record("4010104", "1", "fresh-marker"));
        ASSERT_TRUE(WaitFor([] { return Answered("behavior").size() >= 2; }, 20000));
        queue.StopAndStore();
    }
    CloseLog();
    std::string added = ReadWhole(log).substr(before.size());
    EXPECT_NE(std::string::npos, added.find("\"errormessage\":\"fresh-marker\""));
    EXPECT_EQ(std::string::npos, added.find("stored-marker"));
    EXPECT_NE(std::string::npos, added.find("PostBehaviorData success"));
    EXPECT_NE(std::string::npos, added.find("behaviorVector pop back,size:0"));

    // without the flag no record text reaches the log
    DeleteFileW(TestIni().c_str());
    before = ReadWhole(log);
    OpenLog();
    {
        CBehaviorQueue queue;
        ASSERT_TRUE(queue.StartWorker());
        queue.Push(Record("4010104", "1", "quiet-marker"));
        ASSERT_TRUE(WaitFor([] { return Answered("behavior").size() >= 3; }, 20000));
        queue.StopAndStore();
    }
    CloseLog();
    EXPECT_EQ(std::string::npos, ReadWhole(log).substr(before.size()).find("quiet-marker"));
}

TEST_F(TelemetryWire, StopDuringAPostInFlightKeepsTheRecord) {
    SetMode("behavior", "hang", 200, 30);
    CBehaviorQueue queue;
    ASSERT_TRUE(queue.StartWorker());
    queue.Push(Record("4010105", "1"));
    ASSERT_TRUE(WaitFor([] { return Attempts("behavior") >= 1; }, 20000));
    DWORD start = GetTickCount();
    queue.StopAndStore();
    DWORD took = GetTickCount() - start;
    printf("StopAndStore with a post in flight: %lu ms, worker %s\n", (unsigned long)took,
           queue.IsWorkerRunning() ? "still running" : "ended");
    EXPECT_LT(took, 2500u);
    Json::Value stored;
    ASSERT_TRUE(VdFoundationBehaviorGather::ParseBehaviorStore(ReadWhole(m_store), stored));
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ("4010105", stored[0]["list"][0]["model"].asString());
    SetMode("behavior", "ok");  // let the held exchange end
}

TEST_F(TelemetryWire, RecordPushedDuringAPostIsNotTakenForTheSentOne) {
    SetMode("behavior", "slow", 200, 20);
    CBehaviorQueue queue;
    ASSERT_TRUE(queue.StartWorker());
    queue.Push(Record("4010102"));
    ASSERT_TRUE(WaitFor([] { return Attempts("behavior") >= 1; }, 20000));
    queue.Push(Record("4010104", "1", "3.25"));  // while "4010102" is on the wire
    SetMode("behavior", "ok");
    ASSERT_TRUE(WaitFor([] { return Answered("behavior").size() >= 2; }, 20000));
    Sleep(300);
    Json::Value posts = Answered("behavior");
    ASSERT_EQ(2u, posts.size());
    EXPECT_EQ("4010102", posts[0]["json"]["list"][0]["model"].asString());
    EXPECT_EQ("4010104", posts[1]["json"]["list"][0]["model"].asString());
    EXPECT_EQ(0, queue.GetCount());
    queue.StopAndStore();
}

TEST_F(TelemetryWire, StoreFollowsAProductFolderOutsideAscii) {
    const wchar_t* product = L"VardoTelemetryT\u00e9st";
    std::string narrow = WideToCodePage(product, CP_THREAD_ACP);
    if (CodePageToWide(narrow, CP_THREAD_ACP) != product) GTEST_SKIP() << "the code page has no \u00e9";
    VdFoundationBehaviorGather::SetBehaviorProductName(product);
    std::wstring store = GetDataFolderOrTemp(product) + L"behavior.json";
    EXPECT_EQ(store, VdFoundationBehaviorGather::GetBehaviorStorePath());
    SetMode("behavior", "refuse");
    {
        CBehaviorQueue queue;
        ASSERT_TRUE(queue.StartWorker());
        queue.Push(Record("4010103"));
        EXPECT_TRUE(WaitFor([] { return ServerRequests("proxy").size() >= 1; }, 20000));
        queue.StopAndStore();
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(store.c_str()));
    SetMode("behavior", "ok");
    {
        CBehaviorQueue queue;
        ASSERT_TRUE(queue.StartWorker());
        EXPECT_TRUE(WaitFor([] { return Answered("behavior").size() >= 1; }, 20000));
        queue.StopAndStore();
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(store.c_str()));
    VdFoundationBehaviorGather::SetBehaviorProductName(kProduct);
}

TEST_F(TelemetryWire, TheTwoWorkersNeverPostAtOnce) {
    // each answer takes 300 ms: posts that overlapped would arrive closer together than that
    ASSERT_EQ(200, ServerControl("stats", "mode", "{\"mode\":\"slow\",\"status\":500,\"hold\":0.3}"));
    ASSERT_EQ(200, ServerControl("behavior", "mode", "{\"mode\":\"slow\",\"status\":500,\"hold\":0.3}"));
    CBehaviorQueue behavior;
    CStaticsQueue statistics;
    CStatics record;
    record.SetExeName("x.exe");
    for (int i = 0; i < 3; ++i) behavior.Push(Record("4010102"));
    statistics.Push(record);
    ASSERT_TRUE(behavior.StartWorker());
    ASSERT_TRUE(statistics.StartWorker(GetStaticsUrl()));
    ASSERT_TRUE(WaitFor([&] { return behavior.GetCount() == 0 && !statistics.IsWorkerRunning(); }, 20000));
    std::vector<double> arrivals;
    for (const char* role : {"stats", "behavior"})
        for (const auto& r : Answered(role)) arrivals.push_back(r["time"].asDouble());
    ASSERT_EQ(4u, arrivals.size());
    std::sort(arrivals.begin(), arrivals.end());
    for (size_t i = 1; i < arrivals.size(); ++i) EXPECT_GE(arrivals[i] - arrivals[i - 1], 0.28) << i;
    behavior.StopAndStore();
}
