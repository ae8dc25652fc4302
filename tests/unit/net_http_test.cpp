// HTTP primitives against the local recording servers: what goes on the wire and what callers see.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "net/generichttp.h"
#include "net/httprules.h"
#include "net/vdhttp.h"
#include "tests/unit/support/testservers.h"

using namespace VdFoundationHttpDownload;
using vdtest::HasRawHeader;
using vdtest::HeaderCount;
using vdtest::HeaderValue;
using vdtest::ServerControl;
using vdtest::ServerRequests;

namespace {

const char kUserAgent[] = VD_HTTP_USER_AGENT;

std::vector<std::wstring> g_logs;
void CaptureLog(const wchar_t* text) { g_logs.push_back(text); }

bool Logged(const wchar_t* fragment) {
    for (const auto& l : g_logs)
        if (l.find(fragment) != std::wstring::npos) return true;
    return false;
}

std::string Base64(const std::string& in) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        unsigned v = ((unsigned char)in[i] << 16) | ((unsigned char)in[i + 1] << 8) | (unsigned char)in[i + 2];
        out += a[v >> 18];
        out += a[(v >> 12) & 63];
        out += a[(v >> 6) & 63];
        out += a[v & 63];
    }
    if (i < in.size()) {
        unsigned v = (unsigned char)in[i] << 16;
        if (i + 1 < in.size()) v |= (unsigned char)in[i + 1] << 8;
        out += a[v >> 18];
        out += a[(v >> 12) & 63];
        out += i + 1 < in.size() ? a[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Bytes that catch text handling: zeros, high bytes, more than one read buffer.
std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = (char)((i * 7 + 3) % 256);
    return s;
}

class NetWire : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(0, vdtest::ServerPort("proxy")) << "run through scripts/wine-run.sh with VD_TEST_SERVERS=1";
        for (const char* role : {"proxy", "config", "iplookup", "package", "package_tls"}) vdtest::ServerReset(role);
        g_logs.clear();
        DownloadLogHook = CaptureLog;
    }
    void TearDown() override { DownloadLogHook = nullptr; }

    static void PutFile(const std::string& path, const std::string& data) {
        ASSERT_EQ(200, ServerControl("package", "file?path=" + path, data));
    }
};

}  // namespace

TEST(HttpRules, RangeBlockTargetsAndNumbers) {
    EXPECT_EQ("Accept: */*\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection:Keep-Alive\r\nRange: bytes=2-10",
              HttpRangeHeaderBlock(2, 10));
    EXPECT_EQ("Accept: */*\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nConnection:Keep-Alive\r\n"
              "Range: bytes=4294967296-6000000000",
              HttpRangeHeaderBlock(4294967296ULL, 6000000000ULL));

    EXPECT_EQ(L"/", HttpRequestTarget(L"", L"", false));
    EXPECT_EQ(L"/", HttpRequestTarget(L"", L"", true));
    EXPECT_EQ(L"/a", HttpRequestTarget(L"/a", L"?q=1", false));
    EXPECT_EQ(L"/a?q=1", HttpRequestTarget(L"/a", L"?q=1", true));
    EXPECT_EQ(L"?q=1", HttpRequestTarget(L"", L"?q=1", true));
    EXPECT_EQ(L"/", HttpRequestTarget(L"", L"?q=1", false));

    EXPECT_TRUE(IsSecureScheme(L"https"));
    EXPECT_FALSE(IsSecureScheme(L"HTTPS"));
    EXPECT_FALSE(IsSecureScheme(L"http"));

    unsigned long long v = 1;
    EXPECT_TRUE(ParseHttpUInt64("5000000000", v));
    EXPECT_EQ(5000000000ULL, v);
    EXPECT_TRUE(ParseHttpUInt64(" 18446744073709551615 ", v));
    EXPECT_EQ(18446744073709551615ULL, v);
    v = 7;
    EXPECT_FALSE(ParseHttpUInt64("18446744073709551616", v));
    EXPECT_FALSE(ParseHttpUInt64("", v));
    EXPECT_FALSE(ParseHttpUInt64("12a", v));
    EXPECT_FALSE(ParseHttpUInt64("-1", v));
    EXPECT_EQ(7u, v);
}

TEST(HttpRules, DownloadLogCutsLongTextAndDropsWithoutHook) {
    g_logs.clear();
    DownloadLogHook = nullptr;
    DownloadLog(L"dropped %d\n", 1);
    EXPECT_TRUE(g_logs.empty());
    DownloadLogHook = CaptureLog;
    std::wstring longText(3000, L'x');
    DownloadLog(L"StartHttpGet _urlParser failure:%s,line:%d\n", longText.c_str(), 7);
    DownloadLog(L"HttpQueryInfo failure code:%d,err:%d,line:%d\n", 404, 0, 12);
    DownloadLogHook = nullptr;
    ASSERT_EQ(2u, g_logs.size());
    EXPECT_EQ(1023u, g_logs[0].size());
    EXPECT_EQ(L"StartHttpGet _urlParser failure:xxx", g_logs[0].substr(0, 35));
    EXPECT_EQ(L"HttpQueryInfo failure code:404,err:0,line:12\n", g_logs[1]);
}

TEST_F(NetWire, ProbeSendsHeadThenRangeTestWithPathOnly) {
    PutFile("/pkg/fA.bin", Pattern(1000));
    CVdHttpDownloadTester probe;
    // the escape is decoded and the query stays off both probe requests
    ASSERT_EQ(0, probe.SetRequest(L"http://dl.vardo.example/pkg/f%41.bin?x=1&y=2", nullptr));
    EXPECT_EQ(0, probe.Execute());
    EXPECT_EQ(1000u, probe.GetWebFileSize());
    EXPECT_EQ(1, probe.IsSupportPartial());

    Json::Value reqs = ServerRequests("package");
    ASSERT_EQ(2u, reqs.size());
    const Json::Value& head = reqs[0];
    EXPECT_EQ("HEAD", head["method"].asString());
    EXPECT_EQ("/pkg/fA.bin", head["target"].asString());
    EXPECT_EQ("HTTP/1.1", head["version"].asString());
    EXPECT_EQ(kUserAgent, HeaderValue(head, "User-Agent"));
    EXPECT_EQ("", HeaderValue(head, "Range"));

    const Json::Value& range = reqs[1];
    EXPECT_EQ("GET", range["method"].asString());
    EXPECT_EQ("/pkg/fA.bin", range["target"].asString());
    EXPECT_EQ(kUserAgent, HeaderValue(range, "User-Agent"));
    // WinINet re-serialises added headers as "Name: value"
    for (const char* line : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache", "Connection: Keep-Alive",
                             "Range: bytes=2-10"})
        EXPECT_TRUE(HasRawHeader(range, line)) << line;
    EXPECT_TRUE(g_logs.empty());
}

// Windows applies one header per replacing call: a reused handle must carry exactly one Range, the
// latest, and the fixed lines once; and the connection limits are process-wide, on the NULL handle.
TEST_F(NetWire, ReusedRequestCarriesOneRangeAndLimitsAreProcessWide) {
    EXPECT_EQ(3, SetWinInetConnectionLimits(8) & 3) << "per-server limits refused";
    for (DWORD option : {(DWORD)INTERNET_OPTION_MAX_CONNS_PER_SERVER, (DWORD)INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER}) {
        DWORD value = 0, size = sizeof(value);
        ASSERT_TRUE(InternetQueryOptionW(nullptr, option, &value, &size)) << option;
        EXPECT_EQ(8u, value) << option;
    }

    struct CHeaders : CVdHttpDownloadTester {
        using IVdHttpDownload::AddRangeHeaders;
    };
    PutFile("/pkg/h.bin", Pattern(100));
    CScopedInternetHandle session(InternetOpenW(L"t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    CScopedInternetHandle conn(InternetConnectW(session.Get(), L"dl.vardo.example", 80, nullptr, nullptr,
                                                INTERNET_SERVICE_HTTP, 0, 0));
    CScopedInternetHandle req(HttpOpenRequestW(conn.Get(), L"GET", L"/pkg/h.bin", L"HTTP/1.1", L"", nullptr,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    ASSERT_TRUE(req);
    const char* ranges[] = {"bytes=0-9", "bytes=10-19", "bytes=20-29"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(CHeaders::AddRangeHeaders(req.Get(), 10 * i, 10 * i + 9, i == 0));
        char raw[2048] = {0};
        DWORD len = sizeof(raw) - 1;
        ASSERT_TRUE(HttpQueryInfoA(req.Get(), HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS, raw, &len,
                                   nullptr));
        std::string text(raw, len);
        EXPECT_EQ(text.find("Range:"), text.rfind("Range:")) << text;
        EXPECT_NE(std::string::npos, text.find(std::string("Range: ") + ranges[i])) << text;
        EXPECT_EQ(text.find("Pragma:"), text.rfind("Pragma:")) << text;
        ASSERT_TRUE(HttpSendRequestW(req.Get(), nullptr, 0, nullptr, 0));
        char body[64];
        DWORD got = 0;
        while (InternetReadFile(req.Get(), body, sizeof(body), &got) && got) {
        }
    }
    Json::Value reqs = ServerRequests("package");
    ASSERT_EQ(3u, reqs.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ranges[i], HeaderValue(reqs[i], "Range"));
        for (const char* name : {"Range", "Accept", "Pragma", "Cache-Control", "Connection"})
            EXPECT_EQ(1, HeaderCount(reqs[i], name)) << i << " " << name;
    }
}

TEST_F(NetWire, ProbeReportsNoRangesSizeZeroAndLargeSizes) {
    PutFile("/pkg/b.bin", Pattern(300));
    {
        ASSERT_EQ(200, ServerControl("package", "ranges?on=0"));
        CVdHttpDownloadTester probe;
        probe.SetRequest(L"http://dl.vardo.example/pkg/b.bin", nullptr);
        EXPECT_EQ(0, probe.Execute());
        EXPECT_EQ(300u, probe.GetWebFileSize());
        EXPECT_EQ(0, probe.IsSupportPartial()) << "a 200 answer to the range test is no range support";
        ASSERT_EQ(200, ServerControl("package", "ranges?on=1"));
    }
    {
        // a size that does not fit 32 bits must not wrap to a small number
        ASSERT_EQ(200, ServerControl("package", "head_length?length=5000000000"));
        CVdHttpDownloadTester probe;
        probe.SetRequest(L"http://dl.vardo.example/pkg/b.bin", nullptr);
        EXPECT_EQ(0, probe.Execute());
        EXPECT_EQ(5000000000ULL, probe.GetWebFileSize());
        ASSERT_EQ(200, ServerControl("package", "head_length"));
    }
    vdtest::ServerReset("package");
    {
        ASSERT_EQ(200, ServerControl("package", "head_status?status=403"));
        CVdHttpDownloadTester probe;
        probe.SetRequest(L"http://dl.vardo.example/pkg/b.bin", nullptr);
        EXPECT_EQ(0, probe.Execute());
        EXPECT_EQ(0u, probe.GetWebFileSize());
        EXPECT_EQ(0, probe.IsSupportPartial());
        EXPECT_EQ(1u, ServerRequests("package").size()) << "no range test after a failed HEAD";
        EXPECT_TRUE(Logged(L"HttpQueryInfo failure code:403,err:"));
        EXPECT_TRUE(Logged(L"ExHttpSendRequest failure,err:"));
        ASSERT_EQ(200, ServerControl("package", "head_status"));
    }
    vdtest::ServerReset("package");
    {
        CVdHttpDownloadTester probe;
        probe.SetRequest(L"http://dl.vardo.example", nullptr);
        probe.Execute();
        Json::Value reqs = ServerRequests("package");
        ASSERT_GE(reqs.size(), 1u);
        EXPECT_EQ("/", reqs[0]["target"].asString());
    }
}

TEST_F(NetWire, TextGetKeepsEveryByteAndCarriesTheQuery) {
    std::string body = Pattern(35000);  // several 10240-byte reads, zeros and high bytes inside
    ASSERT_EQ(200, ServerControl("iplookup", "push", "{\"body_b64\":\"" + Base64(body) + "\"}"));
    CVdHttpGetRequest get;
    ASSERT_EQ(0, get.SetRequest(L"http://ip.vardo.example/service/getIpInfo2.php?ip=myip", nullptr));
    EXPECT_EQ(0, get.Execute());
    EXPECT_TRUE(body == get.GetResponse()) << "got " << get.GetResponse().size() << " bytes";

    Json::Value reqs = ServerRequests("iplookup");
    ASSERT_EQ(1u, reqs.size());
    EXPECT_EQ("GET", reqs[0]["method"].asString());
    EXPECT_EQ("/service/getIpInfo2.php?ip=myip", reqs[0]["target"].asString());
    EXPECT_EQ("HTTP/1.1", reqs[0]["version"].asString());
    EXPECT_EQ(kUserAgent, HeaderValue(reqs[0], "User-Agent"));
    EXPECT_EQ("", HeaderValue(reqs[0], "Range"));
}

TEST_F(NetWire, TextGetFailsOnStatusAndEndsOnABrokenBody) {
    {
        ASSERT_EQ(200, ServerControl("iplookup", "push", "{\"status\":500,\"body\":\"oops\"}"));
        CVdHttpGetRequest get;
        get.SetRequest(L"http://ip.vardo.example/service/getIpInfo2.php?ip=myip", nullptr);
        EXPECT_EQ(-1, get.Execute());
        EXPECT_EQ("", get.GetResponse());
        EXPECT_TRUE(Logged(L"HttpQueryInfo failure code:500,err:"));
        EXPECT_TRUE(Logged(L"ExHttpSendRequest failure,err:"));
    }
    {
        // the server announces 20000 bytes, sends 5000 and hangs up: the read loop must end
        std::string body(20000, 'x');
        ASSERT_EQ(200, ServerControl("iplookup", "push", "{\"body\":\"" + body + "\",\"cut\":5000}"));
        CVdHttpGetRequest get;
        get.SetRequest(L"http://ip.vardo.example/service/getIpInfo2.php?ip=myip", nullptr);
        DWORD start = GetTickCount();
        get.Execute();
        EXPECT_LT(GetTickCount() - start, 25000u);
        EXPECT_LE(get.GetResponse().size(), 5000u);
        EXPECT_EQ(std::string(get.GetResponse().size(), 'x'), get.GetResponse());
    }
    {
        // an answer far larger than any text answer is refused, not held
        ASSERT_EQ(200, ServerControl("iplookup", "push", "{\"body\":\"" + std::string(5 * 1024 * 1024, 'y') + "\"}"));
        CVdHttpGetRequest get;
        get.SetRequest(L"http://ip.vardo.example/service/getIpInfo2.php?ip=myip", nullptr);
        EXPECT_EQ(-1, get.Execute());
        EXPECT_EQ("", get.GetResponse());
        EXPECT_TRUE(Logged(L"response too large:"));
    }
    {
        vdtest::ServerReset("iplookup");
        CVdHttpGetRequest get;
        get.SetRequest(L"http://ip.vardo.example", nullptr);
        EXPECT_EQ(-1, get.Execute());  // 404 for "/"
        Json::Value reqs = ServerRequests("iplookup");
        ASSERT_EQ(1u, reqs.size());
        EXPECT_EQ("/", reqs[0]["target"].asString());
    }
}

TEST_F(NetWire, RequestWithoutUrl) {
    CVdHttpGetRequest get;
    EXPECT_EQ(-1, get.SetRequest(nullptr, nullptr));
    EXPECT_EQ(-1, get.SetRequest(L"", L"x"));
    EXPECT_EQ(nullptr, get.GetRequestUrl());
    EXPECT_EQ(-1, get.Execute());
    EXPECT_TRUE(Logged(L"StartHttpGet _request_url null,line:"));

    CVdHttpDownloadTester probe;
    ASSERT_EQ(0, probe.SetRequest(L"not a url", L"name.bin"));
    EXPECT_STREQ(L"name.bin", probe.GetFileName());
    EXPECT_EQ(-1, probe.Execute());
    EXPECT_TRUE(Logged(L"StartHttpGet _urlParser failure:not a url,line:"));
    EXPECT_TRUE(Logged(L"StartHttpGet failure nResult:-1,err:"));
}

TEST_F(NetWire, PostSendsTheBodyAsHttp10AndIgnoresTheAnswer) {
    std::string body = Pattern(5000);
    Utilities::CGenericHttp& http = Utilities::GetGenericHttp();
    // the package server answers a POST with 405: still a success for the sender
    EXPECT_EQ(1, http.Post("http://dl.vardo.example/vip/v.html?t=121", body.data(), (DWORD)body.size()));
    EXPECT_EQ(1, http.Close());

    Json::Value reqs = ServerRequests("package");
    ASSERT_EQ(1u, reqs.size());
    const Json::Value& r = reqs[0];
    EXPECT_EQ("POST", r["method"].asString());
    EXPECT_EQ("/vip/v.html?t=121", r["target"].asString());
    EXPECT_EQ("HTTP/1.0", r["version"].asString());
    EXPECT_EQ(kUserAgent, HeaderValue(r, "User-Agent"));
    EXPECT_TRUE(HasRawHeader(r, "Content-Type: multipart/form-data"));
    int accepts = 0;
    for (const auto& h : r["raw_headers"])
        if (_strnicmp(h.asCString(), "Accept:", 7) == 0) ++accepts;
    EXPECT_EQ(1, accepts);
    EXPECT_EQ("*/*", HeaderValue(r, "Accept"));
    EXPECT_TRUE(body == vdtest::RecordBody(r)) << "got " << vdtest::RecordBody(r).size() << " bytes";

    // behind a proxy no host is unreachable (it answers 502); a URL without a host fails to connect
    EXPECT_EQ(0, http.Post("not a url", "{}", 2));
    EXPECT_NE(0u, http.GetLastErrorCode());
    EXPECT_EQ(1, http.Close());
}

namespace {
struct PostRace {
    HANDLE posted;
    DWORD closedAt;
    DWORD secondPostedAt;
};

DWORD WINAPI HoldingPoster(void* p) {
    PostRace* race = (PostRace*)p;
    Utilities::CGenericHttp& http = Utilities::GetGenericHttp();
    http.Post("http://dl.vardo.example/a", "first", 5);
    SetEvent(race->posted);
    Sleep(400);
    race->closedAt = GetTickCount();
    http.Close();
    return 0;
}

DWORD WINAPI SecondPoster(void* p) {
    PostRace* race = (PostRace*)p;
    WaitForSingleObject(race->posted, 10000);
    Utilities::CGenericHttp& http = Utilities::GetGenericHttp();
    // a foreign Close must not tear down the first thread's exchange
    EXPECT_EQ(1, http.Close());
    http.Post("http://dl.vardo.example/b", "second", 6);
    race->secondPostedAt = GetTickCount();
    http.Close();
    return 0;
}
}  // namespace

TEST_F(NetWire, PostAndCloseOfTwoThreadsDoNotOverlap) {
    PostRace race = {CreateEventW(nullptr, TRUE, FALSE, nullptr), 0, 0};
    HANDLE a = CreateThread(nullptr, 0, HoldingPoster, &race, 0, nullptr);
    HANDLE b = CreateThread(nullptr, 0, SecondPoster, &race, 0, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(a, 30000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(b, 30000));
    CloseHandle(a);
    CloseHandle(b);
    CloseHandle(race.posted);
    EXPECT_GE((long)(race.secondPostedAt - race.closedAt), 0L) << "second Post ran inside the first pair";
    Json::Value reqs = ServerRequests("package");
    ASSERT_EQ(2u, reqs.size());
    EXPECT_EQ("/a", reqs[0]["target"].asString());
    EXPECT_EQ("first", vdtest::RecordBody(reqs[0]));
    EXPECT_EQ("/b", reqs[1]["target"].asString());
}

TEST_F(NetWire, HttpsFailsClosedOnCertificateErrors) {
    ASSERT_NE(0, vdtest::ServerPort("package_tls")) << "the servers run with --tls";
    PutFile("/tls/pkg.bin", Pattern(4000));
    // self-signed and issued for another name: nothing is taken from it
    CVdHttpGetRequest get;
    ASSERT_EQ(0, get.SetRequest(L"https://dl.vardo.example/tls/pkg.bin", nullptr));
    EXPECT_EQ(-1, get.Execute());
    EXPECT_TRUE(get.GetResponse().empty());
    CVdHttpDownloadTester probe;
    probe.SetRequest(L"https://dl.vardo.example/tls/pkg.bin?v=2", nullptr);
    probe.Execute();
    EXPECT_EQ(0u, probe.GetWebFileSize());
    EXPECT_EQ(0, probe.IsSupportPartial());
    // the telemetry POST to an https collector asks for TLS (and meets the same refusal)
    Utilities::CGenericHttp& http = Utilities::GetGenericHttp();
    EXPECT_EQ(0, http.Post("https://dl.vardo.example/vip/v.html?t=121", "x", 1));
    http.Close();

    EXPECT_EQ(0u, ServerRequests("package_tls").size()) << "no request passed the handshake";
    EXPECT_EQ(0u, ServerRequests("package").size()) << "nothing went out in plain text";
    Json::Value prox = ServerRequests("proxy");
    ASSERT_GE(prox.size(), 3u);
    for (const Json::Value& r : prox)
        EXPECT_EQ(0u, r["request_line"].asString().rfind("CONNECT dl.vardo.example:443", 0)) << r["request_line"].asString();

    // a scheme in capitals gets the plain flags: the request goes out without TLS, to port 443
    vdtest::ServerReset("proxy");
    CVdHttpGetRequest upper;
    upper.SetRequest(L"HTTPS://dl.vardo.example/tls/pkg.bin", nullptr);
    upper.Execute();
    prox = ServerRequests("proxy");
    ASSERT_EQ(1u, prox.size());
    EXPECT_EQ("GET http://dl.vardo.example:443/tls/pkg.bin HTTP/1.1", prox[0]["request_line"].asString());
}
