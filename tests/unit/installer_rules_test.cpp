// Workflow rules without a window: display texts, the low-speed offer, the restart rule, quitting,
// folder choice and the checks on server and command-line values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "installer/workflow_rules.h"

using namespace vdworkflow;

TEST(InstallerRules, ProgressTextsAtTheirBoundaries) {
    EXPECT_EQ(L"速度:1.00MB/s", FormatSpeedText(1024.0));
    EXPECT_EQ(L"速度:1023.99KB/s", FormatSpeedText(1023.99));
    EXPECT_EQ(L"速度:0.00KB/s", FormatSpeedText(0.0));
    EXPECT_EQ(L"速度:5.50MB/s", FormatSpeedText(5632.0));
    EXPECT_EQ("50.01", FormatSpeedRecord(50.01));
    EXPECT_EQ("0.00", FormatSpeedRecord(0.0));

    EXPECT_EQ(L"0%", FormatPercentText(0));
    EXPECT_EQ(L"100%", FormatPercentText(100));
    EXPECT_EQ(52, ProgressPercent(0.52));
    EXPECT_EQ(51, ProgressPercent(0.5199));
    EXPECT_EQ(0, ProgressPercent(-0.2));
    EXPECT_EQ(0, ProgressPercent(std::nan("")));
    EXPECT_EQ(100, ProgressPercent(1.0));
    EXPECT_EQ(100, ProgressPercent(1.7));

    EXPECT_STREQ(L"#FF333333", ProgressTextColor(51));
    EXPECT_STREQ(L"#FFFAFBFC", ProgressTextColor(52));
    EXPECT_STREQ(L"#FF333333", ProgressTextColor(0));
}

TEST(InstallerRules, LowSpeedOfferNeedsRealProgressAndAtMost50KBps) {
    EXPECT_FALSE(IsInLowSpeedWindow(5, 0)) << "exactly 5 % never offers";
    EXPECT_TRUE(IsInLowSpeedWindow(9, 0));
    EXPECT_FALSE(IsInLowSpeedWindow(8, 0));
    EXPECT_TRUE(IsInLowSpeedWindow(29, 20)) << "9 points beyond the resumed share";
    EXPECT_FALSE(IsInLowSpeedWindow(28, 20)) << "8 points are not enough";
    EXPECT_FALSE(IsInLowSpeedWindow(95, 90));
    EXPECT_TRUE(IsLowSpeed(50.00));
    EXPECT_FALSE(IsLowSpeed(50.01));
    EXPECT_TRUE(IsLowSpeed(0.0));
}

namespace {
// The window's three restart fields, driven through the functions its handlers call.
struct RestartFields {
    bool pending = false;
    uint32_t tick = 0;
    int count = 0;
    RestartAction OnError(uint32_t now) { return RestartRuleOnError(pending, tick, count, now); }
    RestartAction OnTimer(uint32_t now) { return RestartRuleOnTimer(pending, tick, count, now); }
};
}  // namespace

TEST(InstallerRules, RestartWaitsFortySecondsAndGivesUpAtTheFifteenthError) {
    RestartFields p;
    EXPECT_EQ(RestartAction::None, p.OnTimer(1000)) << "no error, nothing to do";

    uint32_t t = 100000;
    EXPECT_EQ(RestartAction::None, p.OnError(t));
    EXPECT_TRUE(p.pending);
    EXPECT_EQ(RestartAction::Wait, p.OnTimer(t + 39900));
    EXPECT_EQ(RestartAction::Restart, p.OnTimer(t + 40000));
    EXPECT_FALSE(p.pending);
    EXPECT_EQ(RestartAction::None, p.OnTimer(t + 45000)) << "one restart per error";
    EXPECT_EQ(1, p.count);

    for (int i = 2; i <= 14; ++i) {
        t += 60000;
        p.OnError(t);
        ASSERT_EQ(RestartAction::Restart, p.OnTimer(t + 40000)) << "restart " << i;
    }
    EXPECT_EQ(14, p.count);
    t += 60000;
    p.OnError(t);
    EXPECT_EQ(RestartAction::Wait, p.OnTimer(t + 5000));
    EXPECT_EQ(RestartAction::Fail, p.OnTimer(t + 40000)) << "the 15th error ends on the failure page";
    EXPECT_EQ(15, p.count);

    // a manual retry that fails again must not leave the progress page waiting for ever
    EXPECT_EQ(RestartAction::Fail, p.OnError(t + 100000));
    EXPECT_FALSE(p.pending);
    EXPECT_EQ(RestartAction::None, p.OnTimer(t + 200000));
}

TEST(InstallerRules, RestartQuietPeriodSurvivesTheTickWrap) {
    RestartFields p;
    uint32_t t = 0xFFFFF000u;
    p.OnError(t);
    EXPECT_EQ(RestartAction::Wait, p.OnTimer(t + 30000u));  // wrapped past zero, 30 s later
    EXPECT_EQ(RestartAction::Restart, p.OnTimer(t + 40000u));
}

TEST(InstallerRules, QuitKeepsPartFilesUnlessTheDownloadSucceeded) {
    EXPECT_TRUE(ShouldKeepPartFiles(kStatusDownloading));
    EXPECT_TRUE(ShouldKeepPartFiles(-4)) << "waiting for its restart: the quit box promised a resume";
    EXPECT_TRUE(ShouldKeepPartFiles(-6));
    EXPECT_FALSE(ShouldKeepPartFiles(kStatusSuccess));
}

TEST(InstallerRules, TempSubFolderIsOneSafeFolderName) {
    EXPECT_EQ(L"3.2.1.0_pmgw_x64", MakeTempSubFolderName(L"3.2.1.0", L"pmgw", true));
    EXPECT_EQ(L"3.2.1.0_vaz_x86", MakeTempSubFolderName(L"3.2.1.0", L"vaz", false));
    EXPECT_EQ(L"", MakeTempSubFolderName(L"", L"pmgw", true));
    EXPECT_EQ(L"", MakeTempSubFolderName(L"3.2.1.0", L"", true));
    // a tampered answer must not point the cache (which is deleted recursively) elsewhere
    EXPECT_EQ(L"", MakeTempSubFolderName(L"1", L"..\\..\\..\\Windows", true));
    EXPECT_EQ(L"", MakeTempSubFolderName(L"1", L"a/b", false));
    EXPECT_EQ(L"", MakeTempSubFolderName(L"C:", L"x", false));
    EXPECT_EQ(L"", MakeTempSubFolderName(L"1", std::wstring(L"a\x01") + L"b", false));
    EXPECT_FALSE(IsSafePathComponent(L".."));
    EXPECT_FALSE(IsSafePathComponent(L"name."));
    EXPECT_TRUE(IsSafePathComponent(L"3.2.1.0"));
    // an address without version and channel keeps one folder across attempts and runs, so its
    // part files resume; another address gets another folder
    const std::wstring a = SubFolderForUrl(L"http://dl.vardo.example/qd/vdpmqd/3.2/VardoSetup.exe");
    EXPECT_EQ(a, SubFolderForUrl(L"http://dl.vardo.example/qd/vdpmqd/3.2/VardoSetup.exe"));
    EXPECT_NE(a, SubFolderForUrl(L"http://dl.vardo.example/qd/vdpmqd/3.3/VardoSetup.exe"));
    EXPECT_TRUE(IsSafePathComponent(SubFolderForUrl(L"..\\..\\x\"/\x01")));
}

TEST(InstallerRules, OnlyPlainWebAddressesGoToTheBrowser) {
    EXPECT_TRUE(IsSafeBrowserUrl(L"http://dl.vardo.example/pkg/VardoSetup.exe"));
    EXPECT_TRUE(IsSafeBrowserUrl(L"https://www.vardo.example/?from=azqfail&bit=64"));
    EXPECT_TRUE(IsSafeBrowserUrl(L"HTTP://WWW.VARDO.EXAMPLE/"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"C:\\Windows\\System32\\calc.exe"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"file:///C:/Windows/System32/calc.exe"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"\\\\host\\share\\run.exe"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"javascript:alert(1)"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"httpx://a"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"http://"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"http:///etc"));
    EXPECT_FALSE(IsSafeBrowserUrl(L" http://a"));
    // the browser is started with the address on its command line: nothing may split it
    EXPECT_FALSE(IsSafeBrowserUrl(L"http://a\" --load-extension=C:\\x"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"http://a b"));
    EXPECT_FALSE(IsSafeBrowserUrl(L"http://a\r\nb"));
    EXPECT_FALSE(IsSafeBrowserUrl(L""));
    // each refused character alone in an address that passes without it: no rule hides another
    EXPECT_TRUE(IsSafeBrowserUrl(L"http://a/x-y"));
    for (wchar_t c : {L'"', L'\'', L'<', L'>', L'`', L' ', L'\t', L'\r', L'\n', L'\x01', L'\x7F'})
        EXPECT_FALSE(IsSafeBrowserUrl(std::wstring(L"http://a/x") + c + L"y")) << "character " << (int)c;

    EXPECT_EQ(L"http://www.vardo.example/?from=azqfail&bit=64", ManualDownloadWebPage(L"http://www.vardo.example/", true));
    EXPECT_EQ(L"http://www.vardo.example/?from=azqfail&bit=32", ManualDownloadWebPage(L"http://www.vardo.example", false));
}

TEST(InstallerRules, DefaultFolderFollowsPackageThenOs) {
    EXPECT_TRUE(UseProgramFiles64(true, true, false));
    EXPECT_FALSE(UseProgramFiles64(true, false, true));
    EXPECT_TRUE(UseProgramFiles64(false, false, true));
    EXPECT_FALSE(UseProgramFiles64(false, true, false));

    EXPECT_EQ(L"C:\\Program Files\\Vardo", DefaultInstallDir(true, L'D', true));
    EXPECT_EQ(L"C:\\Program Files (x86)\\Vardo", DefaultInstallDir(true, 0, false));
    EXPECT_EQ(L"D:\\Program Files (x86)\\Vardo", DefaultInstallDir(false, L'd', false));
    EXPECT_EQ(L"E:\\Program Files\\Vardo", DefaultInstallDir(false, L'E', true));
    EXPECT_EQ(L"C:\\Program Files\\Vardo", DefaultInstallDir(false, 0, true)) << "no drive remembered";
    // the system's folder wins: a 32-bit Windows has no "Program Files (x86)", nor need C be the drive
    EXPECT_EQ(L"C:\\Program Files\\Vardo", DefaultInstallDir(true, 0, false, L"C:\\Program Files"));
    EXPECT_EQ(L"E:\\Programme\\Vardo", DefaultInstallDir(true, L'D', true, L"E:\\Programme\\"));
    EXPECT_EQ(L"D:\\Programme\\Vardo", DefaultInstallDir(false, L'd', true, L"E:\\Programme"));
    EXPECT_EQ(L"C:\\Program Files (x86)\\Vardo", DefaultInstallDir(true, 0, false, L"Programme")) << "no drive";
}

TEST(InstallerRules, FolderPrecedenceAndTheDriveFixUp) {
    const std::wstring def = L"C:\\Program Files (x86)\\Vardo";
    FolderChoice c = ChooseInstallFolder(L"E:\\Tools\\Vardo", def, L"F:\\Other", L"G:\\Cfg");
    EXPECT_EQ(L"E:\\Tools\\Vardo", c.folder);
    EXPECT_EQ(FolderSource::UserDir, c.source);
    c = ChooseInstallFolder(L"", def, L"F:\\Typed", L"G:\\Cfg");
    EXPECT_EQ(L"F:\\Typed", c.folder);
    EXPECT_EQ(FolderSource::EditBox, c.source);
    c = ChooseInstallFolder(L"", def, def, L"G:\\Cfg");
    EXPECT_EQ(L"G:\\Cfg", c.folder) << "an edit box showing the default does not hide the configured folder";
    c = ChooseInstallFolder(L"", def, L"", L"");
    EXPECT_EQ(def, c.folder);
    EXPECT_EQ(FolderSource::Default, c.source);

    std::wstring f = L"F:\\Typed";
    EXPECT_TRUE(ApplyCmdInstallDir(L"D:Games\\Vardo", f));
    EXPECT_EQ(L"D:\\Games\\Vardo", f);
    EXPECT_TRUE(ApplyCmdInstallDir(L"D:\\Games", f));
    EXPECT_EQ(L"D:\\Games", f);
    EXPECT_TRUE(ApplyCmdInstallDir(L"E:", f));
    EXPECT_EQ(L"E:\\", f);
    EXPECT_TRUE(ApplyCmdInstallDir(L"E:/Games", f));
    EXPECT_EQ(L"E:/Games", f);
    f = L"F:\\Typed";
    EXPECT_FALSE(ApplyCmdInstallDir(L"Games\\Vardo", f));
    EXPECT_FALSE(ApplyCmdInstallDir(L"", f));
    EXPECT_FALSE(ApplyCmdInstallDir(L"ab:cd", f)) << "no drive in front";
    EXPECT_FALSE(ApplyCmdInstallDir(L"\\\\?\\C:\\x", f));
    EXPECT_EQ(L"F:\\Typed", f);

    EXPECT_EQ(L" /S /D=C:\\Program Files\\Vardo", MakeSetupCommandLine(L"C:\\Program Files\\Vardo"));
    std::wstring longFolder = L"C:\\" + std::wstring(400, L'a');
    EXPECT_EQ(L" /S /D=" + longFolder, MakeSetupCommandLine(longFolder)) << "never cut off";
}

TEST(InstallerRules, DigestComparison) {
    const std::string d = "0123456789abcdef0123456789abcdef";
    EXPECT_TRUE(DigestsMatch(d, d));
    EXPECT_FALSE(DigestsMatch(d, "0123456789ABCDEF0123456789ABCDEF")) << "case-sensitive";
    EXPECT_FALSE(DigestsMatch(d, d.substr(0, 31) + "0"));
    EXPECT_TRUE(DigestsMatch("abc", "abc00000000000000000000000000000")) << "short texts are padded with '0'";
    EXPECT_FALSE(DigestsMatch(d + "0", d)) << "longer texts are not cut";
    // an unreadable file must never pass, not even against an empty server digest
    EXPECT_FALSE(DigestsMatch("", ""));
    EXPECT_FALSE(DigestsMatch(d, ""));
    EXPECT_FALSE(DigestsMatch("", d));
}

TEST(InstallerRules, InstalledProductNeedsBitnessAndVersion) {
    EXPECT_TRUE(IsInstalledVersionGood(L"3.2.1.0", L"3.2.1.0"));
    EXPECT_TRUE(IsInstalledVersionGood(L"3.10.0.0", L"3.9.9.9"));
    EXPECT_FALSE(IsInstalledVersionGood(L"3.2.0.9", L"3.2.1.0"));
    EXPECT_FALSE(IsInstalledVersionGood(L"", L""));
    EXPECT_TRUE(IsInstalledVersionGood(L"3.2.1.0", L"")) << "no server version is the lowest";

    EXPECT_TRUE(IsInstalledProductGood(64, true, true));
    EXPECT_TRUE(IsInstalledProductGood(32, false, true));
    EXPECT_FALSE(IsInstalledProductGood(32, true, true));
    EXPECT_FALSE(IsInstalledProductGood(64, false, true));
    EXPECT_FALSE(IsInstalledProductGood(-1, false, true));
    EXPECT_FALSE(IsInstalledProductGood(64, true, false));

    // a setup that installed and then reported any other code still failed
    for (unsigned long code : {0ul, 3010ul, 1641ul}) EXPECT_TRUE(IsSetupSuccessCode(code)) << code;
    for (unsigned long code : {1ul, 2ul, 259ul, 1602ul, 1603ul, 1640ul, 3011ul, 0xFFFFFFFFul})
        EXPECT_FALSE(IsSetupSuccessCode(code)) << code;
}

TEST(InstallerRules, ChannelMarkerNeedsAllItsBytes) {
    std::string marker;
    for (const wchar_t* p = kChannelMarkerToken; *p; ++p) {
        marker.push_back(static_cast<char>(*p & 0xFF));
        marker.push_back(static_cast<char>((*p >> 8) & 0xFF));
    }
    ASSERT_EQ(24u, marker.size());
    auto match = [](const std::string& b) {
        return MatchesChannelMarker(reinterpret_cast<const unsigned char*>(b.data()), b.size());
    };
    EXPECT_TRUE(match(marker));
    EXPECT_TRUE(match(marker + std::string(40, '\x7f')));
    EXPECT_FALSE(match(marker.substr(0, 23))) << "a short file is no marker";
    EXPECT_FALSE(match(std::string()));
    std::string other = marker;
    other[22] = 'x';
    EXPECT_FALSE(match(other));
    EXPECT_FALSE(match(std::string("MZ\x90\x00", 4) + std::string(60, '\0')));
}
