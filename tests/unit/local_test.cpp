// The daily log, the data folder, INI files and the clean-up rules.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <share.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "local/cleanup.h"
#include "local/inifile.h"
#include "base/vdlog.h"
#include "probes/vdutils.h"
#include "tests/unit/support/testfiles.h"

namespace {

std::string ReadAll(const std::wstring& path) { return vdtest::ReadFileBytes(path); }

// A fresh log file of its own for each test: other processes of the prefix may append to the
// day's log at any time.
class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLog();
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        m_path = std::wstring(tmp) + L"vd_log_test.log";
        DeleteFileW(m_path.c_str());
        OpenLogFile(m_path);
    }
    void TearDown() override { CloseLog(); }
    std::string Contents() {
        CloseLog();
        std::string s = ReadAll(m_path);
        OpenLogFile(m_path);
        return s;
    }
    std::wstring m_path;
};

bool IsSeparator(const std::string& line) {
    // ------------Time:2026/12/08 03:32:58---------------
    if (line.size() != 51) return false;
    return line.compare(0, 17, "------------Time:") == 0 && line[21] == '/' && line[24] == '/' && line[27] == ' ' &&
           line[30] == ':' && line[33] == ':' && line.compare(36, 15, "---------------") == 0;
}

std::vector<std::string> SplitCrLf(const std::string& s) {
    std::vector<std::string> lines;
    size_t pos = 0;
    for (;;) {
        size_t hit = s.find("\r\n", pos);
        if (hit == std::string::npos) break;
        lines.push_back(s.substr(pos, hit - pos));
        pos = hit + 2;
    }
    if (pos < s.size()) lines.push_back(s.substr(pos));
    return lines;
}

}  // namespace

TEST_F(LogFile, RecordIsSeparatorThenMessageInCp936WithCrLf) {
    WriteLogW(L"中文 path:%s\n", L"C:\\用户");
    WriteLogA("narrow %d\n", 42);
    std::string s = Contents();
    // no bare line feeds: text mode writes every "\n" as CR LF
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n') ASSERT_TRUE(i > 0 && s[i - 1] == '\r') << "bare LF at " << i;
    }
    std::vector<std::string> lines = SplitCrLf(s);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(IsSeparator(lines[0])) << lines[0];
    // "中文 path:C:\用户" in code page 936
    EXPECT_EQ(lines[1], "\xD6\xD0\xCE\xC4 path:C:\\\xD3\xC3\xBB\xA7");
    EXPECT_TRUE(IsSeparator(lines[2]));
    EXPECT_EQ(lines[3], "narrow 42");
}

TEST_F(LogFile, LongMessagesAreCutAt511Characters) {
    std::wstring longW(700, L'w');
    WriteLogW(L"%s", longW.c_str());
    std::string longA(700, 'a');
    WriteLogA("%s", longA.c_str());
    std::vector<std::string> lines = SplitCrLf(Contents());
    // a message without a trailing "\n" lets the next separator continue on its line
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::string(511, 'w') + "------------Time:" + lines[1].substr(511 + 17));
    EXPECT_TRUE(IsSeparator(lines[1].substr(511)));
    EXPECT_EQ(lines[2], std::string(511, 'a'));
}

TEST_F(LogFile, RecordsHeldUntilTheOpenComeFirstAndACloseWithoutOpenStillWritesThem) {
    CloseLog();
    HoldLogUntilOpen();
    WriteLogW(L"held %d\n", 1);
    WriteLogA("held %d\n", 2);
    EXPECT_FALSE(IsLogOpen());
    EXPECT_EQ(ReadAll(m_path), "") << "held records were written before the open";
    OpenLogFile(m_path);
    WriteLogW(L"after\n");
    std::vector<std::string> lines = SplitCrLf(Contents());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(IsSeparator(lines[0]) && IsSeparator(lines[2]) && IsSeparator(lines[4]));
    EXPECT_EQ(lines[1], "held 1");
    EXPECT_EQ(lines[3], "held 2");
    EXPECT_EQ(lines[5], "after");

    // a run that ends before anything opened the log: CloseLog opens the daily log for them
    CloseLog();
    HoldLogUntilOpen();
    char marker[64];
    _snprintf(marker, sizeof(marker), "held until close %lu", (unsigned long)GetTickCount());
    marker[63] = 0;
    WriteLogA("%s\n", marker);
    CloseLog();
    EXPECT_NE(ReadAll(GetLogFilePath()).find(marker), std::string::npos);
    EXPECT_FALSE(IsLogOpen());
    OpenLogFile(m_path);
}

TEST_F(LogFile, RecordsOfEightThreadsNeverInterleaveEvenAcrossCloseAndReopen) {
    constexpr int kThreads = 8, kRecords = 150;
    std::atomic<bool> writing{true};
    std::thread reopener([&] {
        while (writing) {
            CloseLog();
            OpenLogFile(m_path);
            Sleep(1);
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kRecords; ++i)
                WriteLogW(L"writer %d record %d %s\n", t, i, L"0123456789abcdefghijklmnopqrstuvwxyz");
        });
    }
    for (auto& w : writers) w.join();
    writing = false;
    reopener.join();

    std::vector<std::string> lines = SplitCrLf(Contents());
    ASSERT_EQ(lines.size() % 2, 0u);
    ASSERT_GT(lines.size(), 0u);
    for (size_t i = 0; i < lines.size(); i += 2) {
        ASSERT_TRUE(IsSeparator(lines[i])) << "line " << i << ": " << lines[i];
        int t = -1, r = -1;
        char tail[64] = {0};
        ASSERT_EQ(sscanf(lines[i + 1].c_str(), "writer %d record %d %63s", &t, &r, tail), 3) << lines[i + 1];
        EXPECT_STREQ(tail, "0123456789abcdefghijklmnopqrstuvwxyz");
        EXPECT_TRUE(t >= 0 && t < kThreads && r >= 0 && r < kRecords);
    }
}

TEST(DataFolder, IsMyDocumentsVardoVdInstallerAndIsCreated) {
    std::wstring f = GetInstallerDataFolder(L"Vardo");
    ASSERT_FALSE(f.empty());
    EXPECT_NE(f.find(L"\\Vardo\\vdInstaller"), std::wstring::npos);
    EXPECT_EQ(f.substr(f.size() - 18), L"\\Vardo\\vdInstaller");
    DWORD a = GetFileAttributesW(f.c_str());
    ASSERT_NE(a, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(a & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetDataFolderOrTemp(L"Vardo"), f + L"\\");
}

TEST(DataFolder, FallsBackToTheTemporaryFolderWhenTheDataFolderCannotBeMade) {
    // A file where the "Vardo2" folder should be keeps the data folder from existing.
    std::wstring docsVardo = GetInstallerDataFolder(L"VdFallbackProbe");
    std::wstring parent = docsVardo.substr(0, docsVardo.rfind(L'\\'));
    DeletePath(parent);
    std::wstring blocker = parent;  // My Documents\VdFallbackProbe as a file
    FILE* f = _wfopen(blocker.c_str(), L"wb");
    ASSERT_TRUE(f);
    fclose(f);
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    EXPECT_EQ(GetDataFolderOrTemp(L"VdFallbackProbe"), std::wstring(tmp));
    DeleteFileW(blocker.c_str());
}

TEST(IniFile, RoundTripsThroughTheProfileFunctions) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring path = std::wstring(tmp) + L"vd_ini_roundtrip.ini";
    DeleteFileW(path.c_str());
    _tIniReaderWriter ini(path);
    EXPECT_EQ(ini.ReadString(L"PmConfig", L"InstallDir", L""), L"");
    ini.WriteString(L"PmConfig", L"InstallDir", L"C:\\Program Files (x86)\\Vardo 中文");
    ini.WriteInteger(L"PmConfig", L"Id", -17);
    ini.WriteBoolean(L"PmConfig", L"X64", true);
    _tIniReaderWriter again(path);  // nothing is cached: a second reader sees the file
    EXPECT_EQ(again.ReadString(L"PmConfig", L"InstallDir", L"x"), L"C:\\Program Files (x86)\\Vardo 中文");
    EXPECT_EQ(again.ReadInteger(L"PmConfig", L"Id", 0), -17);
    EXPECT_EQ(again.ReadString(L"PmConfig", L"X64", L""), L"true");
    // section and key names are matched without regard to case
    ini.WriteString(L"pmconfig", L"Url", L"http://b/");
    ini.WriteString(L"PmConfig", L"URL", L"http://a/");
    EXPECT_EQ(again.ReadString(L"PMCONFIG", L"url", L""), L"http://a/");
    DeleteFileW(path.c_str());
}

TEST(IniFile, PackageDescriptionAndFlagsChangedWhileRunning) {
    CInstConfig& cfg = CInstConfig::Inst();
    std::wstring folder = GetDataFolderOrTemp(L"Vardo");
    cfg.WritePackageInfo(L"Vardo", 3, 5000000000LL, false, L"Vardo", L"ch1", L"http://x/p.exe", L"3.1.2.88");
    _tIniReaderWriter ini(folder + L"pmConfig.ini");
    EXPECT_EQ(ini.ReadString(L"PmConfig", L"Size", L""), L"5000000000");
    EXPECT_EQ(ini.ReadString(L"PmConfig", L"X64", L""), L"false");
    EXPECT_EQ(cfg.ReadPmConfig(L"Vardo", L"URL"), L"http://x/p.exe");

    std::wstring testIni = folder + L"test.ini";
    DeleteFileW(testIni.c_str());
    EXPECT_FALSE(cfg.IsTestIni_installing_failure());
    WritePrivateProfileStringW(L"test", L"installing_failure", L"1", testIni.c_str());
    EXPECT_TRUE(cfg.IsTestIni_installing_failure());
    WritePrivateProfileStringW(L"test", L"installing_failure", L"2", testIni.c_str());
    EXPECT_FALSE(cfg.IsTestIni_installing_failure());
    WritePrivateProfileStringW(L"test", L"installing_failure", L"yes", testIni.c_str());
    EXPECT_FALSE(cfg.IsTestIni_installing_failure());
    DeleteFileW(testIni.c_str());
}

TEST(CleanupRules, LogsThreeDaysOldAreExpiredTwoDaysOldStay) {
    time_t t = time(nullptr);
    std::tm now = *localtime(&t);
    auto nameFor = [&](int daysBack) {
        std::tm d = now;
        d.tm_mday -= daysBack;
        d.tm_isdst = -1;
        mktime(&d);
        wchar_t name[64];
        swprintf(name, 64, L"vd_online_installer_%04d_%02d_%02d.log", d.tm_year + 1900, d.tm_mon + 1, d.tm_mday);
        return std::wstring(name);
    };
    EXPECT_FALSE(IsExpiredLogName(nameFor(0), now));
    EXPECT_FALSE(IsExpiredLogName(nameFor(2), now));
    EXPECT_TRUE(IsExpiredLogName(nameFor(3), now));
    EXPECT_TRUE(IsExpiredLogName(nameFor(40), now));
    EXPECT_FALSE(IsExpiredLogName(L"vd_online_2020_01.log", now));  // fewer than six pieces
}

TEST(CleanupRules, OnlyOlderPackagesOfTheSameArchitectureAreOutdated) {
    EXPECT_TRUE(IsOutdatedCachedExe(L"vardo_pamo_1.2.3.4_x64.exe", true, L"Vardo", L"1.2.3.5"));
    EXPECT_FALSE(IsOutdatedCachedExe(L"vardo_pamo_1.2.3.4_x64.exe", true, L"Vardo", L"1.2.3.4"));
    EXPECT_FALSE(IsOutdatedCachedExe(L"vardo_pamo_1.2.3.4_x64.exe", false, L"Vardo", L"1.2.3.5"));
    EXPECT_TRUE(IsOutdatedCachedExe(L"vardo_pamo_1.2.3.4_x86.exe", false, L"Vardo", L"10.0"));
    EXPECT_FALSE(IsOutdatedCachedExe(L"vardo_other_1.0.0.0_x86.exe", false, L"Vardo", L"9.0.0.0"));
    EXPECT_FALSE(IsOutdatedCachedExe(L"vardo_pamo_1.0.exe", false, L"Vardo", L"9.0.0.0"));
    EXPECT_TRUE(IsOutdatedCachedExe(L"Other_Setup_1.0.0.0_x86.exe", false, L"Other", L"2.0.0.0"));
    EXPECT_EQ(CachedSetupFileName(true, L"Vardo", L"3.1.2.88"), L"vardo_pamo_3.1.2.88_x64.exe");
    EXPECT_EQ(CachedSetupFileName(false, L"Other", L"1.0"), L"Other_Setup_1.0_x86.exe");
}

TEST(CleanupFiles, OldLogsAndOutdatedPackagesAreDeletedFromTheDataFolder) {
    std::wstring folder = GetInstallerDataFolder(L"Vardo");
    time_t t = time(nullptr) - 5 * 86400;
    std::tm old = *localtime(&t);
    wchar_t oldName[64];
    swprintf(oldName, 64, L"vd_online_installer_%04d_%02d_%02d.log", old.tm_year + 1900, old.tm_mon + 1, old.tm_mday);
    t = time(nullptr) - 2 * 86400;
    std::tm recent = *localtime(&t);
    wchar_t recentName[64];
    swprintf(recentName, 64, L"vd_online_installer_%04d_%02d_%02d.log", recent.tm_year + 1900, recent.tm_mon + 1,
             recent.tm_mday);
    std::vector<std::wstring> files = {oldName, recentName, L"vardo_pamo_1.2.3.4_x64.exe",
                                       L"vardo_pamo_1.2.3.6_x64.exe", L"vardo_pamo_1.2.3.4_x86.exe",
                                       L"vardo_other_1.0.0.0_x64.exe"};
    for (auto& n : files) {
        FILE* f = _wfopen((folder + L"\\" + n).c_str(), L"wb");
        ASSERT_TRUE(f);
        fclose(f);
    }
    // today's log: another process of the prefix may be writing it, so it is only appended to
    const std::wstring today = GetLogFilePath();
    ASSERT_EQ(folder + L"\\", today.substr(0, folder.size() + 1));
    {
        FILE* f = _wfsopen(today.c_str(), L"ab", _SH_DENYNO);
        ASSERT_TRUE(f);
        fclose(f);
    }
    CheckOldLogFile();
    EXPECT_FALSE(PathExists(folder + L"\\" + oldName));
    EXPECT_TRUE(PathExists(folder + L"\\" + recentName)) << "a log two days old is kept";
    EXPECT_TRUE(PathExists(today)) << "today's log is kept";
    EXPECT_TRUE(CheckOldExeFile(true, L"Vardo", L"1.2.3.5"));
    EXPECT_FALSE(PathExists(folder + L"\\vardo_pamo_1.2.3.4_x64.exe"));
    EXPECT_TRUE(PathExists(folder + L"\\vardo_pamo_1.2.3.6_x64.exe"));
    EXPECT_TRUE(PathExists(folder + L"\\vardo_pamo_1.2.3.4_x86.exe"));
    EXPECT_TRUE(PathExists(folder + L"\\vardo_other_1.0.0.0_x64.exe"));
    EXPECT_FALSE(CheckOldExeFile(true, L"Vardo", L""));
    for (auto& n : files) DeleteFileW((folder + L"\\" + n).c_str());
}

TEST(CleanupFiles, CopySetupToCacheCopiesOnceAndNeverOntoItself) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring src = std::wstring(tmp) + L"vd_cache_src.exe";
    {
        std::ofstream o(src.c_str(), std::ios::binary);
        o << "MZpackage-bytes";
    }
    std::wstring cache;
    EXPECT_TRUE(CopySetupToCache(src.c_str(), false, L"Vardo", L"9.8.7.6", cache));
    EXPECT_EQ(cache, GetDataFolderOrTemp(L"Vardo") + L"vardo_pamo_9.8.7.6_x86.exe");
    std::ifstream in(cache.c_str(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    in.close();
    EXPECT_EQ(ss.str(), "MZpackage-bytes");
    EXPECT_FALSE(PathExists(cache + L".tmp"));
    // the same file, named in other letter case: not copied, so not replaced (its identity stays)
    auto identity = [](const std::wstring& path) {
        CScopedHandle h(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION info = {};
        EXPECT_TRUE(h.Valid() && GetFileInformationByHandle(h.Get(), &info));
        return ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    };
    const uint64_t before = identity(cache);
    std::wstring upper = cache;
    CharUpperBuffW(&upper[0], (DWORD)upper.size());
    std::wstring again;
    EXPECT_TRUE(CopySetupToCache(upper.c_str(), false, L"Vardo", L"9.8.7.6", again));
    EXPECT_EQ(again, cache);
    EXPECT_EQ(before, identity(cache)) << "the cached package was copied onto itself";
    EXPECT_FALSE(PathExists(cache + L".tmp"));
    EXPECT_EQ(ReadAll(cache), "MZpackage-bytes");
    DeleteFileW(cache.c_str());
    DeleteFileW(src.c_str());
}
