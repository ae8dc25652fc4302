// The server-info request: channel order, URL, answer parsing and log lines, against the local
// configuration server.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "local/inifile.h"
#include "base/vdlog.h"
#include "net/serverinfo.h"
#include "payload/vdbizhandler.h"
#include "probes/fileversion.h"
#include "probes/vdutils.h"
#include "tests/unit/support/pefiles.h"
#include "tests/unit/support/testservers.h"

using vdtest::ServerControl;
using vdtest::ServerRequests;

namespace {

Json::Value ParseJson(const std::string& text) {
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    Json::Value v;
    std::string errs;
    EXPECT_TRUE(r->parse(text.data(), text.data() + text.size(), &v, &errs)) << text;
    return v;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Messages of today's log (separator lines dropped), as wide text.
std::vector<std::wstring> LogMessages() {
    std::ifstream in(GetLogFilePath().c_str(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string bytes = ss.str();
    int n = MultiByteToWideChar(936, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    std::wstring text(n, L'\0');
    if (n) MultiByteToWideChar(936, 0, bytes.data(), (int)bytes.size(), &text[0], n);
    std::vector<std::wstring> out;
    std::wstringstream ws(text);
    std::wstring line;
    while (std::getline(ws, line)) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.empty() || line.compare(0, 17, L"------------Time:") == 0) continue;
        out.push_back(line);
    }
    return out;
}

// Index of the first message starting with `prefix` at or after `from`, -1 when none.
int FindLog(const std::vector<std::wstring>& logs, const std::wstring& prefix, int from = 0) {
    for (size_t i = from; i < logs.size(); ++i)
        if (logs[i].compare(0, prefix.size(), prefix) == 0) return (int)i;
    return -1;
}

class ServerInfo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(0, vdtest::ServerPort("config")) << "run through scripts/wine-run.sh with VD_TEST_SERVERS=1";
        vdtest::ServerReset("config");
        m_dir = vdtest::MakeTempDir(L"srvinfo");
        SetSoldOut(false);
        CloseLog();
        DeleteFileW(GetLogFilePath().c_str());
        OpenLog();
    }
    void TearDown() override {
        CloseLog();
        SetSoldOut(false);
        for (HMODULE m : m_modules) FreeLibrary(m);
        DeleteFolderTree(m_dir);
    }
    static void SetSoldOut(bool on) {
        _tIniReaderWriter ini(GetDataFolderOrTemp(L"Vardo") + L"test.ini");
        ini.WriteInteger(L"test", L"puxpc_sold_out", on ? 1 : 0);
    }
    static void Answer(const std::string& channel, int status, const std::string& body) {
        ASSERT_EQ(200, ServerControl("config", "answer",
                                     "{\"channel\":" + Quote(channel) + ",\"status\":" + std::to_string(status) +
                                         ",\"body\":" + Quote(body) + "}"));
    }
    // A distributor's copy: a real image stamped with the given resources, opened as data.
    HMODULE Distributor(const std::string& channel, int bizCount) {
        std::wstring exe = m_dir + L"\\copy" + std::to_wstring(m_modules.size()) + L".exe";
        EXPECT_TRUE(CopyFileW((vdtest::BinDir() + L"\\tiny64.exe").c_str(), exe.c_str(), FALSE));
        HANDLE u = BeginUpdateResourceW(exe.c_str(), FALSE);
        EXPECT_NE(nullptr, u);
        if (!channel.empty())
            UpdateResourceW(u, L"CHANNEL", MAKEINTRESOURCEW(527), 2052, (void*)channel.data(), (DWORD)channel.size());
        for (int i = 0; i < bizCount; ++i)
            UpdateResourceW(u, L"BIZ", MAKEINTRESOURCEW(523 + i), 2052, (void*)"token", 5);
        EXPECT_TRUE(EndUpdateResourceW(u, FALSE));
        HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_NE(nullptr, m);
        m_modules.push_back(m);
        return m;
    }
    static std::vector<std::string> Channels() {
        std::vector<std::string> out;
        for (const auto& r : ServerRequests("config")) {
            std::string t = r["target"].asString();
            size_t a = t.find("&channel="), b = t.find("&x64=");
            out.push_back(a == std::string::npos || b == std::string::npos ? t : t.substr(a + 9, b - a - 9));
        }
        return out;
    }

    std::wstring m_dir;
    std::vector<HMODULE> m_modules;
};

}  // namespace

TEST(ServerInfoRules, UrlX64RuleAndTemplates) {
    EXPECT_EQ(L"http://config.vardo.example/vdpm/vdpm.ashx?appname=pamo30&channel=a&b c&x64=1&env=0",
              BuildInstInfoUrl(L"a&b c", 1, false, L"pamo30"));
    EXPECT_EQ(L"http://config.vardo.example/vdpm/vdpm.ashx?appname=x&channel=empty&x64=0&env=1",
              BuildInstInfoUrl(L"empty", 0, true, L"x"));

    EXPECT_EQ(1, InstX64FlagFromEnvironment(2, 0));
    EXPECT_EQ(0, InstX64FlagFromEnvironment(1, 1));
    EXPECT_EQ(1, InstX64FlagFromEnvironment(-1, 1));
    EXPECT_EQ(0, InstX64FlagFromEnvironment(-1, 0));
    EXPECT_EQ(0, InstX64FlagFromEnvironment(0, 0));

    const std::wstring base = L"http://dl.vardo.example/qd/vdpmqd/pamo30_3.1.2.88/Vardo3_Setup_3.1.2.88_";
    EXPECT_EQ(base + L"vaz_64bit.exe", ComposeFallbackUrlFor(true, 1, L"3.1.2.88"));
    EXPECT_EQ(base + L"vaz_32bit.exe", ComposeFallbackUrlFor(true, 0, L"3.1.2.88"));
    EXPECT_EQ(base + L"pmgw_64bit.exe", ComposeFallbackUrlFor(false, 1, L"3.1.2.88"));
    EXPECT_EQ(base + L"pmgw_32bit.exe", ComposeFallbackUrlFor(false, 0, L"3.1.2.88"));

    InstServerInfo r;
    r.m_s_url = L"old";
    bool fromTemplate = false;
    std::wstring url = ComposeFallbackUrl(&r, &fromTemplate);
    EXPECT_TRUE(fromTemplate);
    EXPECT_EQ(url, r.m_s_url);
    EXPECT_EQ(GetOwnVersionText(nullptr), r.m_s_version);
    EXPECT_EQ(ComposeFallbackUrlFor(false, r.m_n_x64, r.m_s_version), url);  // the test program has no BIZ
}

TEST(ServerInfoRules, AnswerShapes) {
    InstServerInfo r;
    // digest of "abc" in Base64 becomes lower-case hex
    ASSERT_TRUE(ParseInstServerInfo(&r, ParseJson(R"([{"AppName":"pamo30","Channel":"pmgw","Id":7,
        "Size":5000000000,"Url":"http://dl/x.exe","Version":"3.1.2.88","X64":true,
        "HashValue":"kAFQmDzST7DWlj99KOF/cg=="}, {"Url":"second"}])")));
    EXPECT_EQ(L"pamo30", r.m_s_app_name);
    EXPECT_EQ(7, r.m_n_id);
    EXPECT_EQ(5000000000LL, r.m_ll_size);
    EXPECT_EQ(L"http://dl/x.exe", r.m_s_url);
    EXPECT_EQ(1, r.m_n_x64);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", r.m_s_md5);
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", r.m_ws_md5);

    InstServerInfo u;
    ASSERT_TRUE(ParseInstServerInfo(&u, ParseJson(u8R"([{"AppName":"维达","Url":"u","X64":0,"HashValue":""}])")));
    EXPECT_EQ(L"\u7ef4\u8fbe", u.m_s_app_name);  // UTF-8 in, wide out
    EXPECT_EQ(0, u.m_n_x64);
    EXPECT_EQ("", u.m_s_md5);
    EXPECT_EQ(L"", u.m_ws_md5);
    // decoding stops at a non-ASCII character and keeps what came before ("YWJj" is "abc"), even
    // one whose low byte is a letter of the alphabet (U+0141)
    for (const char* hash : {u8R"([{"HashValue":"YWJj维kAFQ"}])", u8R"([{"HashValue":"YWJjŁŁŁŁ"}])"}) {
        InstServerInfo t;
        ASSERT_TRUE(ParseInstServerInfo(&t, ParseJson(hash))) << hash;
        EXPECT_EQ("616263", t.m_s_md5) << hash;
    }
    for (const char* x64 : {R"([{"X64":1}])", R"([{"X64":"no"}])", R"([{"X64":2.5}])"}) {
        InstServerInfo t;
        ASSERT_TRUE(ParseInstServerInfo(&t, ParseJson(x64))) << x64;
        EXPECT_EQ(1, t.m_n_x64) << x64;
    }

    // "Data" as an object is not read: the record keeps what it had
    InstServerInfo keep;
    keep.m_s_url = L"kept";
    EXPECT_TRUE(ParseInstServerInfo(&keep, ParseJson(R"({"Url":"x"})")));
    EXPECT_EQ(L"kept", keep.m_s_url);
    InstServerInfo none;
    EXPECT_TRUE(ParseInstServerInfo(&none, ParseJson("[]")));
    EXPECT_EQ(L"", none.m_s_url);

    for (const char* bad : {R"([{"Url":5}])", R"([{"Url":"u","Id":"12"}])", R"([{"Url":"u","Id":4294967296}])",
                            R"([{"Url":"u","Id":18446744073709551615}])", R"([{"Url":"u","Id":1e30}])",
                            R"([{"Url":"u","Size":"big"}])", R"([{"Url":"u","Size":1.5}])", R"([{"Url":"u","X64":{}}])",
                            R"([{"Url":"u","HashValue":[1]}])", R"(["http://dl/x.exe"])", R"([[{"Url":"u"}]])"}) {
        InstServerInfo t;
        EXPECT_FALSE(ParseInstServerInfo(&t, ParseJson(bad))) << bad;
        EXPECT_EQ(L"", t.m_s_url) << bad;
    }
}

TEST_F(ServerInfo, AnswersThatCountAsNone) {
    struct {
        const char* body;
        int status;
        const wchar_t* log;
    } cases[] = {
        {"<html>busy</html>", 200, L"CVdHttpGetRequest_2_Inst_Server_Info parse json failure:"},
        {"[1,2]", 200, L"CVdHttpGetRequest_2_Inst_Server_Info parse root is not object"},
        {R"({"Data":{"Url":"http://x"}})", 200, nullptr},
        {R"({"Data":[]})", 200, nullptr},
        {R"({"Data":[{"Version":"1.0.0.1"}]})", 200, nullptr},
        {"null", 200, nullptr},
        {R"({"Data":[{"Url":"http://x","Size":"12"}]})", 200,
         L"CVdHttpGetRequest_2_Inst_Server_Info parse member type failure"},
        {R"({"Data":[{"Url":"http://x"}]})", 503, L"CVdHttpGetRequest_2_Inst_Server_Info execute return error:-1"},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string channel = "shape" + std::to_string(n++);
        Answer(channel, c.status, c.body);
        EXPECT_EQ(nullptr, CVdHttpGetRequest_2_Inst_Server_Info(
                               BuildInstInfoUrl(std::wstring(channel.begin(), channel.end()), 1, false, L"pamo30")))
            << c.body;
        if (c.log) EXPECT_NE(-1, FindLog(LogMessages(), c.log)) << c.body;
    }
    // deep nesting must end as a failure, not a crash
    Answer("deep", 200, std::string(20000, '[') + std::string(20000, ']'));
    EXPECT_EQ(nullptr, CVdHttpGetRequest_2_Inst_Server_Info(BuildInstInfoUrl(L"deep", 1, false, L"pamo30")));

    // an answer with Url alone is accepted
    Answer("bare", 200, R"({"Data":[{"Url":"http://dl.vardo.example/p.exe"}]})");
    auto r = CVdHttpGetRequest_2_Inst_Server_Info(BuildInstInfoUrl(L"bare", 0, false, L"pamo30"));
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(L"", r->m_s_version);
    EXPECT_EQ(L"", r->m_s_channel);
    std::vector<std::wstring> logs = LogMessages();
    int at = FindLog(logs, L"CVdHttpGetRequest_2_Inst_Server_Info request inst url:http://config.vardo.example/"
                           L"vdpm/vdpm.ashx?appname=pamo30&channel=bare&x64=0&env=0");
    ASSERT_NE(-1, at);
    EXPECT_EQ(L"CVdHttpGetRequest_2_Inst_Server_Info receive from server json:"
              L"{\"Data\":[{\"Url\":\"http://dl.vardo.example/p.exe\"}]}",
              logs[at + 1]);
}

TEST_F(ServerInfo, ChannelResourceAnsweredSendsExactlyOneRequest) {
    CVdBizHandler biz(Distributor("a&b c", 0));
    biz.CheckBizToMyDocumentBegin();
    ASSERT_EQ(L"a&b c", biz.GetChannel());
    auto r = SendInstServerInfoRequest(biz);
    ASSERT_NE(nullptr, r);
    Json::Value reqs = ServerRequests("config");
    ASSERT_EQ(1u, reqs.size());
    // unescaped: only the space is escaped, by WinINet itself
    EXPECT_EQ("/vdpm/vdpm.ashx?appname=pamo30&channel=a&b%20c&x64=1&env=0", reqs[0]["target"].asString());
    EXPECT_EQ("config.vardo.example", vdtest::HeaderValue(reqs[0], "Host"));

    std::vector<std::wstring> logs = LogMessages();
    int x = FindLog(logs, L"SendInstPmgwInfoRequest itunes version:,environ result:-1,is 64 os:1");
    int start = FindLog(logs, L"======SendInstServerInfoRequest======");
    int found = FindLog(logs, L"find Channel resource,request wsRCChannel channel:a&b c");
    EXPECT_NE(-1, x);
    EXPECT_LT(x, start);
    EXPECT_LT(start, found);
    EXPECT_EQ(-1, FindLog(logs, L"Parse json,")) << "a CHANNEL answer is returned without the answer logs";
}

TEST_F(ServerInfo, SoldOutDropsTheChannelAnswerForVaz) {
    SetSoldOut(true);
    CVdBizHandler biz(Distributor("dist01", 0));
    biz.CheckBizToMyDocumentBegin();
    ASSERT_EQ(200, ServerControl("config", "package", R"({"Version":"3.1.2.88","Size":123456,"Id":42})"));
    auto r = SendInstServerInfoRequest(biz);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(L"vaz", r->m_s_channel);
    EXPECT_EQ(std::vector<std::string>({"dist01", "vaz"}), Channels());
    std::vector<std::wstring> logs = LogMessages();
    int a = FindLog(logs, L"bPuxpcSoldOut:1");
    ASSERT_NE(-1, a);
    EXPECT_EQ(L"find BIZ resource,request vaz channel now,biz count:0...", logs[a + 1]);
    EXPECT_NE(-1, FindLog(logs, L"Parse json,response from server,AppName:pamo30,Channel:vaz,Id:42,Size:123456", a));
}

TEST_F(ServerInfo, WithoutChannelOrBizEmptyThenPmgw) {
    CVdBizHandler biz(Distributor("", 0));
    biz.CheckBizToMyDocumentBegin();
    Answer("empty", 500, "down");
    Answer("pmgw", 404, "gone");
    EXPECT_EQ(nullptr, SendInstServerInfoRequest(biz));
    EXPECT_EQ(std::vector<std::string>({"empty", "pmgw"}), Channels());
    std::vector<std::wstring> logs = LogMessages();
    int a = FindLog(logs, L"not find BIZ resource,request empty channel now");
    int b = FindLog(logs, L"empty channel null,request pmgw channel now", a);
    ASSERT_NE(-1, a);
    ASSERT_NE(-1, b);
    EXPECT_EQ(-1, FindLog(logs, L"bPuxpcSoldOut:"));
    EXPECT_EQ(-1, FindLog(logs, L"Parse json,"));

    // "empty" answers: one request, the record and its five logs
    vdtest::ServerReset("config");
    CloseLog();
    DeleteFileW(GetLogFilePath().c_str());
    OpenLog();
    ASSERT_EQ(200, ServerControl("config", "package",
                                 R"({"Version":"3.1.2.88","Size":5000000000,"Id":9,"HashValue":"kAFQmDzST7DWlj99KOF/cg==",
                                    "Url":"http://dl.vardo.example/pkg/VardoSetup.exe"})"));
    auto r = SendInstServerInfoRequest(biz);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(std::vector<std::string>({"empty"}), Channels());
    EXPECT_EQ(5000000000LL, r->m_ll_size);
    logs = LogMessages();
    int p = FindLog(logs, L"Parse json,response from server,");
    ASSERT_NE(-1, p);
    ASSERT_LT(p + 4, (int)logs.size());
    EXPECT_EQ(L"Parse json,response from server,AppName:pamo30,Channel:empty,Id:9,Size:5000000000", logs[p]);
    EXPECT_EQ(L"Parse json,Inst download 64:1", logs[p + 1]);
    EXPECT_EQ(L"Parse json,Inst download version:3.1.2.88", logs[p + 2]);
    EXPECT_EQ(L"Parse json,Inst download url:http://dl.vardo.example/pkg/VardoSetup.exe", logs[p + 3]);
    EXPECT_EQ(L"Parse json,Inst MD5 value:900150983cd24fb0d6963f7d28e17f72", logs[p + 4]);
}

TEST_F(ServerInfo, BizCopyAsksVazAndSdxzAsksEmpty) {
    CVdBizHandler biz(Distributor("", 2));
    biz.CheckBizToMyDocumentBegin();
    auto r = SendInstServerInfoRequest(biz);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(std::vector<std::string>({"vaz"}), Channels());
    EXPECT_NE(-1, FindLog(LogMessages(), L"find BIZ resource,request vaz channel now,biz count:2..."));
    EXPECT_NE(-1, FindLog(LogMessages(), L"bPuxpcSoldOut:0"));

    vdtest::ServerReset("config");
    auto s = SendInstSDXZInfoRequest();
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(L"empty", s->m_s_channel);
    EXPECT_EQ(std::vector<std::string>({"empty"}), Channels());
    Answer("empty", 500, "down");
    EXPECT_EQ(nullptr, SendInstSDXZInfoRequest());
}

TEST_F(ServerInfo, DebugDllBesideTheProgramSetsEnv) {
    const std::wstring dll = vdtest::BinDir() + L"\\debug.dll";
    ASSERT_FALSE(IsDebugEnv());
    ASSERT_TRUE(vdtest::WriteFileBytes(dll, "x"));
    EXPECT_TRUE(IsDebugEnv());
    auto r = SendInstSDXZInfoRequest();
    DeleteFileW(dll.c_str());
    ASSERT_NE(nullptr, r);
    Json::Value reqs = ServerRequests("config");
    ASSERT_EQ(1u, reqs.size());
    EXPECT_EQ("/vdpm/vdpm.ashx?appname=pamo30&channel=empty&x64=1&env=1", reqs[0]["target"].asString());
}
