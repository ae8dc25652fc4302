// The multi-section downloader against the local package server, well-behaved and hostile: the
// output is byte-identical or a failure is reported, and part files stay sound for a resume.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "net/dlplan.h"
#include "net/mtdownload.h"
#include "tests/unit/support/testservers.h"

using namespace VdFoundationHttpDownload;
using vdtest::HeaderCount;
using vdtest::HeaderValue;
using vdtest::ServerControl;
using vdtest::ServerRequests;

namespace {

const wchar_t kUrlBase[] = L"http://dl.vardo.example";

CRITICAL_SECTION g_log_cs;
std::vector<std::wstring> g_logs;
void CaptureLog(const wchar_t* text) {
    EnterCriticalSection(&g_log_cs);
    g_logs.push_back(text);
    LeaveCriticalSection(&g_log_cs);
}
bool Logged(const std::wstring& fragment) {
    EnterCriticalSection(&g_log_cs);
    bool found = false;
    for (const auto& l : g_logs)
        if (l.find(fragment) != std::wstring::npos) found = true;
    LeaveCriticalSection(&g_log_cs);
    return found;
}

std::string Pattern(size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    unsigned v = seed * 2654435761u;
    for (size_t i = 0; i < n; ++i) {
        v = v * 1103515245u + 12345u;
        s[i] = (char)(v >> 16);
    }
    return s;
}

std::wstring TempPath() {
    wchar_t buf[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, buf);
    return buf;
}

bool ReadAll(const std::wstring& path, std::string& out) {
    out.clear();
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    fclose(f);
    return true;
}

void WriteAll(const std::wstring& path, const std::string& data) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_TRUE(f != nullptr);
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

int64_t SizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fad)) return -1;
    return (int64_t)(((uint64_t)fad.nFileSizeHigh << 32) | fad.nFileSizeLow);
}

// Collects every record the downloader reports; the first final status wakes the test.
class CRecorder {
public:
    CRecorder() {
        InitializeCriticalSection(&m_cs);
        m_h_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~CRecorder() {
        CloseHandle(m_h_done);
        DeleteCriticalSection(&m_cs);
    }
    static void Callback(const DownloadProgressInfo* info, void* ctx) {
        CRecorder* self = static_cast<CRecorder*>(ctx);
        EnterCriticalSection(&self->m_cs);
        self->m_v_records.push_back(*info);
        LeaveCriticalSection(&self->m_cs);
        if (info->m_n_status != errDownloading) SetEvent(self->m_h_done);
    }
    // The first final status, or 0 when none came in time.
    int Wait(DWORD ms = 60000) {
        if (WaitForSingleObject(m_h_done, ms) != WAIT_OBJECT_0) return 0;
        for (const auto& r : Records())
            if (r.m_n_status != errDownloading) return r.m_n_status;
        return 0;
    }
    std::vector<DownloadProgressInfo> Records() {
        EnterCriticalSection(&m_cs);
        std::vector<DownloadProgressInfo> copy = m_v_records;
        LeaveCriticalSection(&m_cs);
        return copy;
    }
    int CountStatus(int status) {
        int n = 0;
        for (const auto& r : Records()) n += r.m_n_status == status;
        return n;
    }
    void Clear() {
        EnterCriticalSection(&m_cs);
        m_v_records.clear();
        LeaveCriticalSection(&m_cs);
        ResetEvent(m_h_done);
    }

private:
    CRITICAL_SECTION m_cs;
    HANDLE m_h_done;
    std::vector<DownloadProgressInfo> m_v_records;
};

class NetDownload : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitializeCriticalSection(&g_log_cs); }

    void SetUp() override {
        ASSERT_NE(0, vdtest::ServerPort("proxy")) << "run through scripts/wine-run.sh with VD_TEST_SERVERS=1";
        vdtest::ServerReset("package");
        vdtest::ServerReset("proxy");
        g_logs.clear();
        DownloadLogHook = CaptureLog;
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_sub = L"t_" + std::wstring(name.begin(), name.end());
        m_folder = TempPath() + L"vdhttpTempCache\\" + m_sub + L"\\";
        DeleteFileOrFolder(m_folder.substr(0, m_folder.size() - 1));
        CreateDirectoryW((TempPath() + L"dltest").c_str(), nullptr);
        m_output = TempPath() + L"dltest\\out.bin";
        DeleteFileW(m_output.c_str());
    }
    void TearDown() override {
        m_dl.StopDownload();
        DeleteFileOrFolder(m_folder.substr(0, m_folder.size() - 1));
        DownloadLogHook = nullptr;
    }

    void Put(const std::string& data) {
        m_data = data;
        ASSERT_EQ(200, ServerControl("package", "file?path=/pkg/p.bin", data));
    }
    static void Control(const std::string& action) { ASSERT_EQ(200, ServerControl("package", action)); }

    void Start(int sections, int resume, const wchar_t* query = L"") {
        m_rec.Clear();
        m_dl.StopDownload();
        m_dl.SetSectionCount(sections);
        m_dl.SetSupportBreakpoint(resume);
        m_dl.SetTempSubFolder(m_sub.c_str());
        m_dl.SetProgressCallback(CRecorder::Callback, &m_rec);
        EXPECT_TRUE(m_dl.StartDownload((std::wstring(kUrlBase) + L"/pkg/p.bin" + query).c_str(), m_output.c_str()));
    }

    std::wstring Part(int i) const { return PartFilePath(m_folder, L"out", L".bin", i); }

    // A part file may hold any prefix of its section (plus the one byte that follows it), never
    // other bytes.
    void ExpectPartFilesSound(int sections) {
        auto plan = PlanSections(m_data.size(), sections);
        for (int i = 0; i < sections; ++i) {
            std::string got;
            if (!ReadAll(Part(i), got)) continue;
            std::string allowed = m_data.substr(plan[i].m_ull_start, plan[i].m_ull_length + 1);
            ASSERT_LE(got.size(), allowed.size()) << "section " << i;
            EXPECT_TRUE(got == allowed.substr(0, got.size())) << "section " << i << " holds foreign bytes";
        }
    }

    // The promise to the owner: status 2 with the exact bytes, or a failure and no output.
    void ExpectIdenticalOrFailed(int status) {
        std::string out;
        if (status == errDownloadSuccess) {
            ASSERT_TRUE(ReadAll(m_output, out));
            EXPECT_TRUE(out == m_data) << "output differs from the source";
        } else {
            EXPECT_LT(status, 0);
            EXPECT_FALSE(ReadAll(m_output, out)) << "a failed download left an output file";
        }
    }

    std::vector<std::string> SectionRanges() {
        std::vector<std::string> out;
        for (const auto& r : ServerRequests("package"))
            if (r["method"].asString() == "GET") out.push_back(HeaderValue(r, "Range"));
        return out;
    }

    CMtHttpDownload m_dl;
    CRecorder m_rec;
    std::wstring m_sub, m_folder, m_output;
    std::string m_data;
};

}  // namespace

TEST_F(NetDownload, SixSectionsGiveTheExactFileAndSoundProgress) {
    Put(Pattern(1000003));
    Start(6, 1, L"?v=1");
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);

    auto recs = m_rec.Records();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(1, m_rec.CountStatus(errDownloadSuccess));
    EXPECT_EQ(errDownloadSuccess, recs.back().m_n_status);
    int64_t prev = 0;
    for (const auto& r : recs) {
        EXPECT_LE(r.m_ll_now_size, r.m_ll_total_size);
        EXPECT_GE(r.m_ll_now_size, prev);
        EXPECT_LE(r.m_d_fraction, 1.0);
        prev = r.m_ll_now_size;
    }
    EXPECT_EQ(1000003, recs.back().m_ll_now_size);
    EXPECT_EQ(1000003, recs.back().m_ll_session_bytes);
    EXPECT_DOUBLE_EQ(1.0, recs.back().m_d_fraction);

    // the probe asks for the path alone, every section GET for path and query
    for (const auto& r : ServerRequests("package")) {
        bool section = r["method"].asString() == "GET" && HeaderValue(r, "Range") != "bytes=2-10";
        EXPECT_EQ(section ? "/pkg/p.bin?v=1" : "/pkg/p.bin", r["target"].asString());
        // each handle is sent again per range: one Range, and the fixed lines once, every time
        if (r["method"].asString() == "GET") {
            for (const char* name : {"Range", "Accept", "Pragma", "Cache-Control", "Connection"})
                EXPECT_EQ(1, HeaderCount(r, name)) << name;
        }
    }
    // probe range test, then the ranges cover the file with no gap; neighbouring sections share
    // only the one byte that a section's last range reaches into the next
    auto ranges = SectionRanges();
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ("bytes=2-10", ranges[0]);
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (size_t i = 1; i < ranges.size(); ++i) {
        unsigned long long a = 0, b = 0;
        ASSERT_EQ(2, sscanf(ranges[i].c_str(), "bytes=%llu-%llu", &a, &b)) << ranges[i];
        EXPECT_LE(b - a + 1, 131073u);
        spans.push_back({a, b});
    }
    std::sort(spans.begin(), spans.end());
    uint64_t next = 0;
    for (const auto& s : spans) {
        EXPECT_LE(s.first, next);
        EXPECT_GE(s.first + 1, next);
        next = s.second + 1;
    }
    EXPECT_GE(next, 1000003u);
    // cleanup after success deletes the folder even without force
    m_dl.CleanupTempCacheFolder(false);
    EXPECT_EQ(-1, SizeOf(m_folder.substr(0, m_folder.size() - 1)));
}

TEST_F(NetDownload, SectionOf300000BytesTakesThreeRangesAndKeepsTheExtraByte) {
    Put(Pattern(600000, 2));
    Start(2, 0);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    std::vector<std::string> s0;
    for (const auto& r : SectionRanges())
        if (r != "bytes=2-10" && r.compare(0, 8, "bytes=30") != 0 && r.compare(0, 8, "bytes=43") != 0 &&
            r.compare(0, 8, "bytes=56") != 0)
            s0.push_back(r);
    std::sort(s0.begin(), s0.end());
    EXPECT_EQ((std::vector<std::string>{"bytes=0-131072", "bytes=131073-262145", "bytes=262146-300000"}), s0);
    EXPECT_EQ(300001, SizeOf(Part(0)));
    EXPECT_EQ(300000, SizeOf(Part(1)));  // the last range ends at the end of the file
    ExpectPartFilesSound(2);
}

TEST_F(NetDownload, ResumeFetchesOnlyWhatThePartFilesLack) {
    Put(Pattern(30000, 3));
    CreateDirectoryW((TempPath() + L"vdhttpTempCache").c_str(), nullptr);
    CreateDirectoryW(m_folder.c_str(), nullptr);
    WriteAll(Part(0), m_data.substr(0, 5000));       // complete
    WriteAll(Part(1), m_data.substr(5000, 1000));    // 1000 of 5000
    WriteAll(Part(2), m_data.substr(10000, 5001));   // complete with the extra byte
    // parts 3..5 missing
    Start(6, 1);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);

    auto ranges = SectionRanges();
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ((std::vector<std::string>{"bytes=15000-20000", "bytes=2-10", "bytes=20000-25000", "bytes=25000-30000",
                                        "bytes=6000-10000"}),
              ranges);
    EXPECT_TRUE(Logged(L"breakpoint thread section:1,file start:1000,start:6000,bytes:4000\n"));
    EXPECT_TRUE(Logged(L"breakpoint not exist temp part file:" + Part(3) + L",error:2\n"));
    EXPECT_TRUE(Logged(L"nNeedGetGytes <= 0,do not need download,line:"));
    auto recs = m_rec.Records();
    ASSERT_FALSE(recs.empty());
    EXPECT_NEAR(11000.0 / 30000.0, recs.back().m_d_resume_fraction, 1e-9);
    for (const auto& r : recs) EXPECT_LE(r.m_ll_now_size, 30000);
    EXPECT_EQ(19000, recs.back().m_ll_now_size - 11000);
}

TEST_F(NetDownload, StartWithoutResumeEmptiesTheFolder) {
    Put(Pattern(20000, 4));
    CreateDirectoryW((TempPath() + L"vdhttpTempCache").c_str(), nullptr);
    CreateDirectoryW(m_folder.c_str(), nullptr);
    WriteAll(Part(0), std::string(4000, 'x'));  // would be kept by a resume
    WriteAll(m_folder + L"stale.txt", "old");
    Start(3, 0);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    EXPECT_EQ(-1, SizeOf(m_folder + L"stale.txt"));
    EXPECT_TRUE(Logged(L"not breakpoint, temp part file:" + Part(0) + L"\n"));
}

TEST_F(NetDownload, ServerWithoutRangesGivesOneWholeSection) {
    Put(Pattern(250000, 5));
    Control("ranges?on=0");
    Start(6, 1);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    EXPECT_EQ(1, m_dl.GetSectionCount());
    EXPECT_EQ(250000, SizeOf(Part(0)));
    EXPECT_EQ(-1, SizeOf(Part(1)));
    auto ranges = SectionRanges();
    ASSERT_EQ(2u, ranges.size());
    EXPECT_EQ("bytes=2-10", ranges[0]);  // the probe's test
    EXPECT_EQ("", ranges[1]);
}

TEST_F(NetDownload, FileSmallerThanTheSectionCount) {
    Put("abcd");
    Start(6, 0);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(0, SizeOf(Part(i))) << i;
    EXPECT_EQ(4, SizeOf(Part(5)));
    EXPECT_TRUE(Logged(L"nNeedGetGytes <= 0,do not need download,line:"));
}

TEST_F(NetDownload, WholeFileCutShortIsAFailureNotAFile) {
    Put(Pattern(300000, 9));
    Control("ranges?on=0");
    // a body without Content-Length that runs on past the probed size is cut at that size
    Control("fault?kind=endless&extra=200000&after=1&count=1");
    Start(6, 1);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    EXPECT_EQ(300000, SizeOf(Part(0)));
    m_dl.CleanupTempCacheFolder(true);
    DeleteFileW(m_output.c_str());

    Control("fault?kind=drop&bytes=100000&after=1&count=1");
    Start(6, 1);
    int status = m_rec.Wait();
    m_dl.StopDownload();
    EXPECT_LT(status, 0);
    ExpectIdenticalOrFailed(status);

    Start(6, 1);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    EXPECT_EQ(300000, SizeOf(Part(0)));
}

TEST_F(NetDownload, PartFileOrOutputThatCannotBeWritten) {
    Put(Pattern(50000, 11));
    CreateDirectoryW((TempPath() + L"vdhttpTempCache").c_str(), nullptr);
    CreateDirectoryW(m_folder.c_str(), nullptr);
    CreateDirectoryW(Part(1).c_str(), nullptr);  // a folder where a part file must go
    Start(3, 1);
    EXPECT_EQ(errFileWrite, m_rec.Wait());
    m_dl.StopDownload();
    EXPECT_TRUE(Logged(L"CreateFile failure,err:"));
    EXPECT_EQ(0, m_rec.CountStatus(errDownloadSuccess));
    RemoveDirectoryW(Part(1).c_str());

    // an output path taken by a folder (kept: without the resume flag nothing deletes it first):
    // the join fails and nothing is claimed
    CreateDirectoryW(m_output.c_str(), nullptr);
    Start(3, 0);
    EXPECT_EQ(errCombine, m_rec.Wait());
    m_dl.StopDownload();
    EXPECT_TRUE(Logged(L"CombineFiles failure,line:"));
    RemoveDirectoryW(m_output.c_str());
    EXPECT_EQ(-1, SizeOf(m_output + L".tmp"));
}

// Every misbehaviour either ends in the exact file or in a failure that leaves sound part files;
// a second attempt against a healed server then completes from those part files.
TEST_F(NetDownload, HostileServersNeverYieldACorruptedFile) {
    struct Case {
        const char* fault;
        bool mustFail;
    } cases[] = {
        {"fault?kind=status&status=404&after=3&count=1", true},
        {"fault?kind=status&status=416&after=3&count=1", true},
        {"fault?kind=status&status=500&after=3&count=1", true},
        {"fault?kind=whole200&after=3&count=1", true},
        {"fault?kind=norange206&after=3&count=1", true},
        {"fault?kind=shift&by=1000&after=2&count=1", true},
        {"fault?kind=short&bytes=7000&after=1&count=0", false},
        {"fault?kind=long&bytes=50000&after=1&count=0", false},
        {"fault?kind=drop&bytes=20000&after=2&count=2", false},
        {"fault?kind=delay&ms=1500&after=1&count=2", false},
        {"budget?max=6", true},
    };
    const int kSections = 4;
    int caseNo = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        vdtest::ServerReset("package");
        Put(Pattern(700001, 10 + caseNo++));
        DeleteFileW(m_output.c_str());
        Control(c.fault);
        Start(kSections, 1);
        int status = m_rec.Wait();
        ASSERT_NE(0, status) << "no final status";
        m_dl.StopDownload();
        if (c.mustFail) {
            EXPECT_EQ(errNetwork, status);
        }
        ExpectIdenticalOrFailed(status);
        ExpectPartFilesSound(kSections);
        // nothing reported after the failure was taken: one final record at most per worker
        EXPECT_LE(m_rec.CountStatus(errDownloadSuccess), 1);

        vdtest::ServerReset("package");
        Put(m_data);
        Start(kSections, 1);
        EXPECT_EQ(errDownloadSuccess, m_rec.Wait());
        m_dl.StopDownload();
        ExpectIdenticalOrFailed(errDownloadSuccess);
        m_dl.CleanupTempCacheFolder(true);
    }
}

TEST_F(NetDownload, ShortRangesContinueRightAfterTheBytesReceived) {
    Put(Pattern(300000, 6));
    Control("fault?kind=short&bytes=100000&after=1&count=1");
    Start(1, 0);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    auto ranges = SectionRanges();
    ASSERT_GE(ranges.size(), 3u);
    EXPECT_EQ("bytes=0-131072", ranges[1]);
    EXPECT_EQ("bytes=100000-231072", ranges[2]);
}

TEST_F(NetDownload, ProbeFailuresAndMissingArguments) {
    Put(Pattern(1000, 7));
    Control("head_status?status=404");
    Start(6, 1);
    EXPECT_EQ(errFileSize, m_rec.Wait());
    m_dl.StopDownload();  // joined: every log line of that start is in
    EXPECT_TRUE(Logged(L"websiteTestRequest.GetWebFileSize is 0,line:"));
    Control("head_status?status=");

    m_rec.Clear();
    m_dl.StopDownload();
    m_dl.SetProgressCallback(CRecorder::Callback, &m_rec);
    m_dl.StartDownload(L"", m_output.c_str());
    EXPECT_EQ(errNoMemory, m_rec.Wait());
    m_dl.StopDownload();
    EXPECT_TRUE(Logged(L"url null or filename null,line:"));

    // too long to keep whole: refused, never cut into another URL
    m_rec.Clear();
    std::wstring longUrl = std::wstring(kUrlBase) + L"/pkg/p.bin?" + std::wstring(1100, L'a');
    m_dl.StartDownload(longUrl.c_str(), m_output.c_str());
    EXPECT_EQ(errNoMemory, m_rec.Wait());
    m_dl.StopDownload();
    for (const auto& r : ServerRequests("package")) EXPECT_EQ(std::string::npos, r["target"].asString().find("aaa"));
}

TEST_F(NetDownload, StopEndsEveryThreadAndTheNextStartResumes) {
    // before any start, and twice in a row: nothing happens
    {
        CMtHttpDownload idle;
        idle.StopDownload();
        idle.StopDownload();
        idle.CleanupTempCacheFolder(true);
    }
    Put(Pattern(1200000, 8));
    Control("rate?bps=262144");
    // every section's body halts in its middle and goes on 2.5 s later, after the stop returned:
    // a blocked read that the stop cannot wake (Wine) then gets bytes again, and a thread that
    // missed the stop would write and report them
    Control("fault?kind=pause&bytes=100000&ms=2500&count=0");
    Start(3, 1);
    // wait until every section has its first 100000 bytes, then stop in the middle of the bodies
    for (int i = 0; i < 200 && !(SizeOf(Part(0)) >= 100000 && SizeOf(Part(1)) >= 100000 && SizeOf(Part(2)) >= 100000);
         ++i)
        Sleep(25);
    const long long sent = vdtest::PackageBodyBytes();
    ASSERT_GT(sent, 0);
    DWORD t0 = GetTickCount();
    m_dl.StopDownload();
    DWORD stopMs = GetTickCount() - t0;
    EXPECT_LT(stopMs, 5000u);
    size_t reports = m_rec.Records().size();
    int64_t sizes[3];
    for (int i = 0; i < 3; ++i) sizes[i] = SizeOf(Part(i));
    Sleep(2600);
    EXPECT_GT(vdtest::PackageBodyBytes(), sent) << "the server sent nothing after the stop: the case proves nothing";
    EXPECT_EQ(reports, m_rec.Records().size()) << "a report came after StopDownload returned";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sizes[i], SizeOf(Part(i))) << "part file " << i << " grew after stop";
    EXPECT_EQ(0, m_rec.CountStatus(errDownloadSuccess));
    ExpectPartFilesSound(3);
    m_dl.StopDownload();

    // after a failed/stopped download, cleanup without force keeps the part files; force removes them
    m_dl.CleanupTempCacheFolder(false);
    EXPECT_GT(SizeOf(Part(0)), 0);
    Control("rate?bps=0");
    Control("fault?kind=none");
    Start(3, 1);
    ASSERT_EQ(errDownloadSuccess, m_rec.Wait());
    m_dl.StopDownload();
    ExpectIdenticalOrFailed(errDownloadSuccess);
    EXPECT_GT(m_rec.Records().back().m_d_resume_fraction, 0.2);

    m_dl.CleanupTempCacheFolder(true);
    EXPECT_EQ(-1, SizeOf(Part(0)));
    EXPECT_TRUE(Logged(L"bForceDel true,delete folder:"));
}

TEST_F(NetDownload, StopWhileTheHelperStillProbes) {
    Put(Pattern(100000, 12));
    Control("fault?kind=delay&ms=2500&method=HEAD&count=1");
    Start(3, 0);
    Sleep(300);
    // the probe cannot be woken: the stop stops waiting for it at its bound, not the server's
    DWORD t0 = GetTickCount();
    EXPECT_FALSE(m_dl.StopDownload());
    EXPECT_LT(GetTickCount() - t0, CMtHttpDownload::kStopWaitMs + 400);
    // the helper neither planned nor started anything, and never reported, even once the probe
    // came back
    EXPECT_TRUE(m_rec.Records().empty());
    Sleep(2600);
    EXPECT_TRUE(m_rec.Records().empty());
    EXPECT_EQ(-1, SizeOf(Part(0)));
    // the probe's own two requests, no section GET
    for (const auto& r : ServerRequests("package"))
        if (r["method"].asString() == "GET") {
            EXPECT_EQ("bytes=2-10", HeaderValue(r, "Range"));
        }
}

struct StopRace {
    CMtHttpDownload* dl;
    volatile LONG done;
    static DWORD WINAPI Stopper(LPVOID p) {
        StopRace* r = static_cast<StopRace*>(p);
        while (!r->done) r->dl->StopDownload();
        return 0;
    }
};

// Starts and stops racing from two threads: no double free, no hang, no report after the end.
TEST_F(NetDownload, StartAndStopFromTwoThreads) {
    Put(Pattern(4000, 13));
    StopRace race{&m_dl, 0};
    m_dl.SetTempSubFolder(m_sub.c_str());
    m_dl.SetProgressCallback(CRecorder::Callback, &m_rec);
    HANDLE h = CreateThread(nullptr, 0, StopRace::Stopper, &race, 0, nullptr);
    ASSERT_TRUE(h != nullptr);
    DWORD t0 = GetTickCount();
    for (int i = 0; i < 1000; ++i) {
        // mostly starts that fail at once; every 100th reaches the server
        const std::wstring url = i % 100 == 0 ? std::wstring(kUrlBase) + L"/pkg/p.bin" : std::wstring();
        m_dl.StartDownload(url.c_str(), m_output.c_str());
        if (i % 7 == 0) m_dl.CleanupTempCacheFolder(false);
    }
    InterlockedExchange(&race.done, 1);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 20000));
    CloseHandle(h);
    m_dl.StopDownload(10000);
    EXPECT_LT(GetTickCount() - t0, 60000u);
    size_t reports = m_rec.Records().size();
    Sleep(300);
    EXPECT_EQ(reports, m_rec.Records().size());
    EXPECT_LE(ServerRequests("package").size(), 40u);
}

TEST(NetDownloadFolders, OutputPathAndFolderHelpers) {
    std::wstring out;
    ASSERT_EQ(1, GetTempOutputPath(out));
    EXPECT_EQ(TempPath() + L"vdhttpTempOutput\\vdinst.exe", out);
    WriteAll(out, "stale");
    ASSERT_EQ(1, GetTempOutputPath(out));
    EXPECT_EQ(-1, SizeOf(out)) << "an old output must be removed";

    std::wstring folder;
    ASSERT_TRUE(GetTempCacheFolder(folder, L"helpers"));
    EXPECT_EQ(TempPath() + L"vdhttpTempCache\\helpers\\", folder);
    CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    WriteAll(folder + L"sub\\a.bin", "a");
    WriteAll(folder + L"b.bin", "b");
    EXPECT_EQ(1, ClearFolder(folder, false));
    EXPECT_EQ(-1, SizeOf(folder + L"b.bin"));
    EXPECT_EQ(-1, SizeOf(folder + L"sub"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
    EXPECT_EQ(1, DeleteFileOrFolder(folder.substr(0, folder.size() - 1)));
    EXPECT_EQ(0, DeleteFileOrFolder(folder));
    EXPECT_EQ(0, ClearFolder(folder, true));
}
