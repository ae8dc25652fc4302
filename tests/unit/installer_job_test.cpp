// Package checks, the install folder and the silent installation with the real NSIS product
// packages of tests/product (built by scripts/build.sh into build/product).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "installer/instjob.h"
#include "installer/mainframe.h"
#include "local/cleanup.h"
#include "local/inifile.h"
#include "base/vdlog.h"
#include "base/md5.h"
#include "probes/vdutils.h"
#include "tests/unit/support/pefiles.h"
#include "tests/unit/support/testfiles.h"

namespace {

std::wstring ProductDir() {
    wchar_t full[MAX_PATH] = {0};
    GetFullPathNameW((vdtest::BinDir() + L"\\..\\..\\product").c_str(), MAX_PATH, full, nullptr);
    return full;
}

std::string ReadAll(const std::wstring& path) { return vdtest::ReadFileBytes(path); }

std::string LogText() {
    CloseLog();
    std::string s = ReadAll(GetLogFilePath());
    OpenLog();
    return s;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

void ForgetProduct() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vardo3");
}

class InstallerJob : public ::testing::Test {
protected:
    void SetUp() override {
        CloseLog();
        DeleteFileW(GetLogFilePath().c_str());
        OpenLog();
        m_dir = vdtest::MakeTempDir(L"instjob");
        ForgetProduct();
    }
    void TearDown() override {
        DeleteFolderTree(m_dir);
        ForgetProduct();
    }
    std::wstring m_dir;
};

}  // namespace

TEST_F(InstallerJob, DigestIsReadByTheWidePath) {
    // Thai is outside code page 936: a narrow path could never name this folder
    std::wstring folder = CombinePath(m_dir, L"\x0E17\x0E14\x0E2A\x0E2D\x0E1A");
    BOOL lossy = FALSE;
    WideCharToMultiByte(936, 0, folder.c_str(), -1, nullptr, 0, nullptr, &lossy);
    ASSERT_TRUE(lossy) << "the test folder must not be representable in code page 936";
    ASSERT_TRUE(CreateFolderChain(folder));
    std::wstring file = CombinePath(folder, L"vdinst.exe");
    const std::string bytes(300000, 'v');
    ASSERT_TRUE(vdtest::WriteFileBytes(file, bytes));

    EXPECT_EQ(vdtest::Md5Hex(bytes), GetFileMd5W(file));
    bool cleaned = false;
    EXPECT_EQ(PackageCheck::Valid, CheckPackageDigest(file, 300000, false, vdtest::Md5Hex(bytes), [&] { cleaned = true; }));
    EXPECT_TRUE(PathExists(file));
    EXPECT_FALSE(cleaned);
    EXPECT_NE(std::string::npos, LogText().find("md5 value is the same:" + vdtest::Md5Hex(bytes)));
}

TEST_F(InstallerJob, DigestMismatchDeletesThePackageAndOnlyAfterADownloadThePartFiles) {
    std::wstring file = CombinePath(m_dir, L"vdinst.exe");
    const std::string good = vdtest::Md5Hex("the real package");

    ASSERT_TRUE(vdtest::WriteFileBytes(file, "a tampered package"));
    int cleaned = 0;
    EXPECT_EQ(PackageCheck::Mismatch, CheckPackageDigest(file, 16, false, good, [&] { ++cleaned; }));
    EXPECT_FALSE(PathExists(file));
    EXPECT_EQ(1, cleaned) << "after a download the section cache goes too";

    ASSERT_TRUE(vdtest::WriteFileBytes(file, "a stale cached package"));
    EXPECT_EQ(PackageCheck::Mismatch, CheckPackageDigest(file, 16, true, good, [&] { ++cleaned; }));
    EXPECT_FALSE(PathExists(file));
    EXPECT_EQ(1, cleaned) << "a cached package leaves the section cache alone";

    // a missing file is not a mismatch and deletes nothing
    EXPECT_EQ(PackageCheck::Missing, CheckPackageDigest(file, 16, false, good, [&] { ++cleaned; }));
    EXPECT_EQ(1, cleaned);

    std::string log = LogText();
    EXPECT_EQ(2u, Count(log, "md5 value is not the same,delete old exe:"));
    EXPECT_EQ(1u, Count(log, "md5 value is not the same,delete CleanupTempCacheFolder"));
    EXPECT_NE(std::string::npos, log.find(" not exist"));
}

TEST_F(InstallerJob, AnUnreadablePackageNeverMatchesAnEmptyServerDigest) {
    std::wstring file = CombinePath(m_dir, L"locked.exe");
    ASSERT_TRUE(vdtest::WriteFileBytes(file, "package bytes"));
    // held open without sharing: the digest cannot be computed
    CScopedHandle lock(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock.Valid());
    EXPECT_EQ("", GetFileMd5W(file));
    EXPECT_FALSE(ValidInstExe(file, 13, true, "", nullptr));
}

TEST_F(InstallerJob, CachedPackageIsUsedOnlyWhenItsDigestMatches) {
    const std::wstring version = L"9.8.7.6";
    std::wstring cached = GetCachedSetupPath(true, L"Vardo", version.c_str());
    const std::string bytes = "cached package bytes";
    ASSERT_TRUE(vdtest::WriteFileBytes(cached, bytes));

    InstServerInfo info;
    info.m_s_version = version;
    info.m_n_x64 = 1;
    info.m_ll_size = (long long)bytes.size();
    info.m_s_md5 = vdtest::Md5Hex(bytes);
    int asked = 0;
    auto request = [&] { ++asked; return std::unique_ptr<InstServerInfo>(); };

    std::wstring path;
    bool fetched = true;
    EXPECT_FALSE(CheckLocalInstExe(info, path, fetched, request)) << "valid cache: no download";
    EXPECT_EQ(cached, path);
    EXPECT_EQ(0, asked);
    EXPECT_FALSE(fetched);

    info.m_s_md5 = vdtest::Md5Hex("another build");
    EXPECT_TRUE(CheckLocalInstExe(info, path, fetched, request));
    EXPECT_FALSE(PathExists(cached)) << "a stale cached package is deleted";

    // a tampered version must not become a path outside the data folder, nor another name
    for (const wchar_t* hostile : {L"..\\..\\evil", L"..", L"a/b", L"C:\\x", L"1\" /m", L"1\r\n2", L"1\x01", L"1."}) {
        info.m_s_version = hostile;
        EXPECT_TRUE(CheckLocalInstExe(info, path, fetched, request));
        EXPECT_EQ(L"", path);
    }

    // digest right, signature broken: deleted like a stale package, whatever the server said
    std::string signedBytes = vdtest::ReadFileBytes(CombinePath(ProductDir(), L"VardoSetup_signed.exe"));
    ASSERT_GT(signedBytes.size(), 5000u) << "build/product is made by scripts/build.sh";
    signedBytes[4096] ^= 1;
    ASSERT_TRUE(vdtest::WriteFileBytes(cached, signedBytes));
    int cleaned = 0;
    EXPECT_EQ(PackageCheck::BadSignature,
              CheckPackageDigest(cached, (long long)signedBytes.size(), false, vdtest::Md5Hex(signedBytes), [&] { ++cleaned; }));
    EXPECT_FALSE(PathExists(cached));
    EXPECT_EQ(1, cleaned);
    EXPECT_NE(std::string::npos, LogText().find("package signature:bad signature,code:0x80096010"));
}

TEST_F(InstallerJob, WithoutAVersionTheWorkerAsksTheServerAndKeepsTheAnswer) {
    InstServerInfo info;
    std::wstring path;
    bool fetched = true;
    int asked = 0;
    EXPECT_TRUE(CheckLocalInstExe(info, path, fetched, [&] { ++asked; return std::unique_ptr<InstServerInfo>(); }));
    EXPECT_EQ(1, asked);
    EXPECT_FALSE(fetched);

    auto answer = [&] {
        ++asked;
        std::unique_ptr<InstServerInfo> r(new InstServerInfo);
        r->m_s_version = L"5.4.3.2";
        r->m_s_url = L"http://dl.vardo.example/pkg/x.exe";
        r->m_n_x64 = 0;
        return r;
    };
    EXPECT_TRUE(CheckLocalInstExe(info, path, fetched, answer)) << "nothing cached for that version";
    EXPECT_EQ(2, asked);
    EXPECT_TRUE(fetched);
    EXPECT_EQ(L"5.4.3.2", info.m_s_version);
    EXPECT_EQ(GetCachedSetupPath(false, L"Vardo", L"5.4.3.2"), path);
    EXPECT_NE(std::string::npos, LogText().find("not server info,request now"));
}

TEST_F(InstallerJob, FolderPrecedenceWithTheCommandLineFolder) {
    InstServerInfo info;
    info.m_s_url = L"http://x/y.exe";
    info.m_n_x64 = 1;
    InstallFolderInputs in;
    in.editText = L"F:\\Typed\\Vardo";
    EXPECT_EQ(L"F:\\Typed\\Vardo", SettleInstallFolder(in, info));
    in.cmdDir = L"D:Games";
    EXPECT_EQ(L"D:\\Games", SettleInstallFolder(in, info));
    in.cmdDir = L"D:\\Games";
    EXPECT_EQ(L"D:\\Games", SettleInstallFolder(in, info));
    in.cmdDir = L"Games";
    EXPECT_EQ(L"F:\\Typed\\Vardo", SettleInstallFolder(in, info)) << "a value without a drive is ignored";
    in = InstallFolderInputs();
    EXPECT_EQ(L"C:\\Program Files\\Vardo", SettleInstallFolder(in, info)) << "the package kind decides";
    in.userDir = L"E:\\Mine\\Vardo";
    in.editText = L"F:\\Typed";
    EXPECT_EQ(L"E:\\Mine\\Vardo", SettleInstallFolder(in, info));
    std::string log = LogText();
    EXPECT_NE(std::string::npos, log.find("sEditDir is different from m_s_inst_folder,use edit vaule:F:\\Typed\\Vardo"));
    EXPECT_NE(std::string::npos, log.find("copy user selected dir:E:\\Mine\\Vardo to m_s_inst_folder"));
    EXPECT_NE(std::string::npos, log.find("Setting to install path:D:Games"));
}

TEST_F(InstallerJob, RealSetupInstallsTheProductAndChecksBitnessAndVersion) {
    std::wstring setup = CombinePath(ProductDir(), L"VardoSetup.exe");
    ASSERT_TRUE(PathExists(setup)) << "build/product is made by scripts/build.sh";
    std::wstring folder = CombinePath(m_dir, L"Vardo Target");
    InstallCheckInput check;
    check.serverVersion = L"3.2.1.0";
    check.x64 = false;
    auto job = MakeInstallJob(nullptr, setup, folder, check);
    EXPECT_EQ(L" /S /D=" + folder, job->m_s_cmd_line);

    int runs = 0;
    EXPECT_TRUE(RunInstallJob(*job, &runs));
    EXPECT_EQ(1, runs);
    EXPECT_TRUE(PathExists(CombinePath(folder, L"Vardo.exe")));
    EXPECT_TRUE(PathExists(CombinePath(folder, L"Launcher.exe")));

    InstallCheckInput c = job->m_check;
    EXPECT_TRUE(CheckInstalledVardoExe(c));
    c.serverVersion = L"3.2.1.1";
    EXPECT_FALSE(CheckInstalledVardoExe(c)) << "installed version below the server's";
    c.serverVersion = L"3.2.1.0";
    c.x64 = true;
    EXPECT_FALSE(CheckInstalledVardoExe(c)) << "a 32-bit Vardo.exe for an X64 package";
    c.fromVidiraUrl = true;
    EXPECT_TRUE(CheckInstalledVardoExe(c)) << "a template package is only checked for presence";

    // Launcher.exe starts from the install folder, except with the install switch
    std::wstring runsFile = CombinePath(folder, L"vardo_runs.txt");
    DeletePath(runsFile);
    EXPECT_FALSE(ExecuteDefaultActions(true, folder));
    Sleep(1500);
    EXPECT_FALSE(PathExists(runsFile));
    EXPECT_TRUE(ExecuteDefaultActions(false, folder));
    for (int i = 0; i < 100 && ReadAll(runsFile).find("Launcher.exe|") == std::string::npos; ++i) Sleep(100);
    EXPECT_NE(std::string::npos, ReadAll(runsFile).find("Launcher.exe|"));
}

TEST_F(InstallerJob, X64PackageOfTheRealSetupNeedsA64BitVardo) {
    std::wstring setup = CombinePath(ProductDir(), L"VardoSetup_x64.exe");
    ASSERT_TRUE(PathExists(setup));
    InstallCheckInput check;
    check.serverVersion = L"3.2.1.0";
    check.x64 = true;
    auto job = MakeInstallJob(nullptr, setup, CombinePath(m_dir, L"V64"), check);
    int runs = 0;
    EXPECT_TRUE(RunInstallJob(*job, &runs));
    EXPECT_EQ(1, runs);
}

TEST_F(InstallerJob, ASetupThatNeverProducesVardoRunsElevenTimes) {
    std::wstring setup = CombinePath(ProductDir(), L"VardoSetup_novardo.exe");
    ASSERT_TRUE(PathExists(setup));
    InstallCheckInput check;
    auto job = MakeInstallJob(nullptr, setup, CombinePath(m_dir, L"NoVardo"), check);
    int runs = 0;
    EXPECT_FALSE(RunInstallJob(*job, &runs));
    EXPECT_EQ(11, runs);
    std::string log = LogText();
    EXPECT_EQ(11u, Count(log, "vd_execute_process success"));
    EXPECT_NE(std::string::npos, log.find("CheckInstalledVardoExe failure,retry count:10"));
    EXPECT_EQ(0u, Count(log, "retry count:11"));

    // a setup that cannot be started at all: the same bound
    auto missing = MakeInstallJob(nullptr, CombinePath(m_dir, L"absent.exe"), m_dir, check);
    EXPECT_FALSE(RunInstallJob(*missing, &runs));
    EXPECT_EQ(11, runs);
    EXPECT_NE(std::string::npos, LogText().find("vd_execute_process failure\r\n"));
}

namespace {
// A window of this thread that records the install feedback and the installing timer.
struct FeedbackWindow {
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<FeedbackWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (self && m == WM_USER_EXEC_INST_FEEDBACK) self->feedback = (int)w;
        if (self && m == WM_TIMER && w == VD_TIMER_ID_INSTALLING) ++self->ticks;
        return DefWindowProcW(h, m, w, l);
    }
    FeedbackWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VdFeedbackTestWnd";
        RegisterClassW(&wc);
        hwnd = CreateWindowW(L"VdFeedbackTestWnd", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, (LONG_PTR)this);
    }
    ~FeedbackWindow() { DestroyWindow(hwnd); }
    bool Pump(DWORD ms) {
        return PumpUntil([this] { return feedback >= 0; }, ms);
    }
    template <class Done>
    bool PumpUntil(Done done, DWORD ms) {
        DWORD end = GetTickCount() + ms;
        while (!done() && (int)(end - GetTickCount()) > 0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            Sleep(20);
        }
        return done();
    }
    HWND hwnd = nullptr;
    int feedback = -1;
    int ticks = 0;
};
}  // namespace

TEST_F(InstallerJob, InstallThreadReportsByMessageAndHonoursTheSimulatedFailure) {
    std::wstring setup = CombinePath(ProductDir(), L"VardoSetup.exe");
    InstallCheckInput check;
    check.serverVersion = L"3.2.1.0";
    {
        FeedbackWindow w;
        ASSERT_TRUE(w.hwnd);
        ASSERT_TRUE(StartInstallThread(MakeInstallJob(w.hwnd, setup, CombinePath(m_dir, L"T1"), check)));
        ASSERT_TRUE(w.Pump(60000));
        EXPECT_EQ(1, w.feedback);
        // the installing animation ticks on this (the window's) thread; the window stops it
        EXPECT_TRUE(w.PumpUntil([&w] { return w.ticks > 0; }, 3000)) << "timer 2002 never reached the window";
        KillTimer(w.hwnd, VD_TIMER_ID_INSTALLING);
    }

    std::wstring testIni = GetDataFolderOrTemp(L"Vardo") + L"test.ini";
    ASSERT_TRUE(WritePrivateProfileStringW(L"test", L"installing_failure", L"1", testIni.c_str()));
    {
        FeedbackWindow w;
        ASSERT_TRUE(StartInstallThread(MakeInstallJob(w.hwnd, setup, CombinePath(m_dir, L"T2"), check)));
        ASSERT_TRUE(w.Pump(30000));
        EXPECT_EQ(0, w.feedback);
        KillTimer(w.hwnd, VD_TIMER_ID_INSTALLING);
    }
    DeleteFileW(testIni.c_str());
    EXPECT_FALSE(PathExists(CombinePath(m_dir, L"T2"))) << "a simulated failure runs no setup";
    EXPECT_NE(std::string::npos, LogText().find("simulate installing failure"));
}

TEST_F(InstallerJob, SuccessPageMarkerInBizDll) {
    std::string marker;
    for (const wchar_t* p = vdworkflow::kChannelMarkerToken; *p; ++p) {
        marker.push_back((char)(*p & 0xFF));
        marker.push_back((char)(*p >> 8));
    }
    std::wstring biz = CombinePath(m_dir, L"Biz.dll");
    EXPECT_FALSE(HasChannelMarker(m_dir)) << "no file";
    ASSERT_TRUE(vdtest::WriteFileBytes(biz, marker + std::string(100, '\0')));
    EXPECT_TRUE(HasChannelMarker(m_dir));
    ASSERT_TRUE(vdtest::WriteFileBytes(biz, marker.substr(0, 20)));
    EXPECT_FALSE(HasChannelMarker(m_dir)) << "a file shorter than the marker";
    ASSERT_TRUE(vdtest::WriteFileBytes(biz, std::string("MZ") + std::string(200, '\x01')));
    EXPECT_FALSE(HasChannelMarker(m_dir)) << "a real library";
}
