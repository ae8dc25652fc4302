// Apple software detection against real registry keys, files and a shortcut made by the test.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "probes/appleenv.h"
#include "probes/vdutils.h"
#include "tests/unit/support/pefiles.h"

namespace {

const wchar_t kITunesKey[] = L"SOFTWARE\\Apple Computer, Inc.\\iTunes";
const wchar_t kRegisteredApp[] = L"Software\\Wow6432Node\\Apple Computer, Inc.\\iPod\\RegisteredApps\\4";
const wchar_t kAppSupportKey[] = L"SOFTWARE\\Apple Inc.\\Apple Application Support";
const wchar_t kMobileKey[] = L"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vdtest-iTunes";

void SetHklm(const wchar_t* key, REGSAM view, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | view, nullptr, &h, nullptr));
    RegSetValueExW(h, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

void DeleteTree(REGSAM view, const wchar_t* parent, const wchar_t* child) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS | view, &h) != ERROR_SUCCESS) return;
    RegDeleteTreeW(h, child);
    RegCloseKey(h);
}

std::wstring ShellFolder(int csidl) {
    wchar_t buf[MAX_PATH] = {0};
    SHGetSpecialFolderPathW(nullptr, buf, csidl, TRUE);
    return buf;
}

bool MakeShortcut(const std::wstring& lnk, const std::wstring& target) {
    CoInitialize(nullptr);
    bool ok = false;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void**)&link))) {
        link->SetPath(target.c_str());
        link->SetDescription(L"iTunes");
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
            ok = SUCCEEDED(file->Save(lnk.c_str(), TRUE));
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return ok;
}

std::wstring GetPath() {
    DWORD need = GetEnvironmentVariableW(L"path", nullptr, 0);
    std::vector<wchar_t> buf(need + 1, 0);
    GetEnvironmentVariableW(L"path", buf.data(), need + 1);
    return buf.data();
}

class AppleDetect : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(IsNativeOs64()) << "the project's Wine prefix is a 64-bit one";
        CleanRegistry();
        m_dir = vdtest::MakeTempDir(L"apple");
        m_shortcutDir = CombinePath(ShellFolder(CSIDL_COMMON_PROGRAMS), L"iTunes");
        DeleteFolderTree(m_shortcutDir);
        m_path = GetPath();
    }
    void TearDown() override {
        CleanRegistry();
        DeleteFolderTree(m_shortcutDir);
        DeleteFolderTree(m_dir);
        SetEnvironmentVariableW(L"path", m_path.c_str());
    }
    static void CleanRegistry() {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            DeleteTree(view, L"SOFTWARE", L"Apple Computer, Inc.");
            DeleteTree(view, L"SOFTWARE", L"Apple Inc.");
            DeleteTree(view, L"SOFTWARE\\Wow6432Node", L"Apple Computer, Inc.");
            DeleteTree(view, L"SOFTWARE\\Wow6432Node", L"Apple Inc.");
        }
        DeleteTree(0, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", L"vdtest-iTunes");
    }
    // An iTunes folder whose iTunes.exe is a real 64- or 32-bit image with version 12.10.11.2.
    std::wstring MakeITunes(const wchar_t* name, bool x64) {
        std::wstring folder = CombinePath(m_dir, name);
        CreateFolderChain(folder);
        std::wstring exe = CombinePath(folder, L"iTunes.exe");
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring source = x64 ? vdtest::BinDir() + L"\\tiny64.exe" : std::wstring(self);
        EXPECT_TRUE(CopyFileW(source.c_str(), exe.c_str(), FALSE));
        EXPECT_TRUE(vdtest::StampFileVersion(exe, 12, 10, 11, 2));
        vdtest::WriteFileBytes(CombinePath(folder, L"iTunes.dll"), "x");
        return folder;
    }

    std::wstring m_dir, m_shortcutDir, m_path;
};

}  // namespace

TEST(AppleRules, ParentFolderAndPath) {
    EXPECT_EQ(L"C:\\a\\b\\", AppleParentFolder(L"C:\\a\\b\\iTunes.exe"));
    EXPECT_EQ(L"C:\\a\\", AppleParentFolder(L"C:\\a\\b\\"));
    EXPECT_EQ(L"", AppleParentFolder(L"iTunes.exe"));
    std::wstring out;
    EXPECT_TRUE(PrependFolderToPath(L"C:\\windows;C:\\bin", L"C:\\Apps\\iTunes", out));
    EXPECT_EQ(L"C:\\Apps\\iTunes;C:\\windows;C:\\bin", out);
    EXPECT_FALSE(PrependFolderToPath(L"C:\\windows;c:\\apps\\ITUNES;C:\\bin", L"C:\\Apps\\iTunes", out));
    EXPECT_FALSE(PrependFolderToPath(L"C:\\windows", L"", out));
}

TEST_F(AppleDetect, NothingInstalled) {
    CAppleEnvironment env;
    env.Detect();
    EXPECT_EQ(1, env.m_nOs64);
    EXPECT_EQ(-1, env.m_nResult);
    EXPECT_EQ(L"", env.m_s_itunes_version);
    EXPECT_EQ(L"", env.m_s_itunes_folder);
    EXPECT_EQ(0, env.m_nItunes64);
    EXPECT_EQ(m_path, GetPath());
}

TEST_F(AppleDetect, ITunes64FromInstallDirGoesOnPathOnce) {
    std::wstring folder = MakeITunes(L"iTunes64", true);
    SetHklm(kITunesKey, KEY_WOW64_64KEY, L"InstallDir", folder + L"\\");
    CAppleEnvironment env;
    env.Detect();
    EXPECT_EQ(2, env.m_nResult);
    EXPECT_EQ(1, env.m_nItunes64);
    EXPECT_EQ(folder, env.m_s_itunes_folder) << "one trailing separator dropped";
    EXPECT_EQ(folder + L"\\iTunes.exe", env.m_s_itunes_exe);
    EXPECT_EQ(L"12.10.11.2", env.m_s_itunes_version);
    EXPECT_EQ(11, env.m_itunes_version.build);
    EXPECT_EQ(folder + L"\\iTunes.dll", env.m_s_itunes_dll);
    EXPECT_EQ(L"", env.m_s_itunes_core_dll);
    EXPECT_EQ(folder + L";" + m_path, GetPath());

    // a PATH longer than 4096 characters is kept whole behind the folder
    std::wstring longPath = m_path + L";" + std::wstring(5000, L'p');
    SetEnvironmentVariableW(L"path", longPath.c_str());
    env.Detect();
    EXPECT_EQ(folder + L";" + longPath, GetPath());

    // already there, in another letter case: left alone
    std::wstring upper = folder;
    for (auto& c : upper) c = (wchar_t)towupper(c);
    SetEnvironmentVariableW(L"path", (m_path + L";" + upper).c_str());
    env.Detect();
    EXPECT_EQ(m_path + L";" + upper, GetPath());

    // probes on several threads at once: no folder is lost and the old PATH stays whole behind them
    SetEnvironmentVariableW(L"path", m_path.c_str());
    std::vector<std::thread> probes;
    std::atomic<int> ready(0);
    for (int t = 0; t < 4; ++t)
        probes.emplace_back([t, &ready] {
            ++ready;
            while (ready < 4) Sleep(0);  // all at once, not one after the other
            for (int i = 0; i < 200; ++i) PutFolderOnProcessPath(L"C:\\vdp" + std::to_wstring(t * 1000 + i) + L"x");
        });
    for (auto& p : probes) p.join();
    std::wstring now = GetPath();
    int lost = 0;
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 200; ++i)
            if (now.find(L"C:\\vdp" + std::to_wstring(t * 1000 + i) + L"x;") == std::wstring::npos) ++lost;
    EXPECT_EQ(0, lost);
    ASSERT_GE(now.size(), m_path.size());
    EXPECT_EQ(now.substr(now.size() - m_path.size()), m_path);
}

TEST_F(AppleDetect, ITunes32FromRegisteredAppsAndUninstallScan) {
    std::wstring folder = MakeITunes(L"iTunes32", false);
    SetHklm(kRegisteredApp, KEY_WOW64_64KEY, L"path", folder + L"\\iTunes.exe");
    CAppleEnvironment env;
    env.Detect();
    EXPECT_EQ(1, env.m_nResult);
    EXPECT_EQ(0, env.m_nItunes64);
    EXPECT_EQ(folder, env.m_s_itunes_folder);

    CleanRegistry();
    SetHklm(kUninstallKey, 0, L"DisplayName", L"iTunes");
    SetHklm(kUninstallKey, 0, L"InstallLocation", folder);
    env.Detect();
    EXPECT_EQ(1, env.m_nResult);
    EXPECT_EQ(folder, env.m_s_itunes_folder);

    // "itunes" in lower case is not a match
    SetHklm(kUninstallKey, 0, L"DisplayName", L"itunes");
    env.Detect();
    EXPECT_EQ(-1, env.m_nResult);
}

TEST_F(AppleDetect, StaleInstallDirFallsBackToTheStartMenuShortcut) {
    std::wstring real = MakeITunes(L"Real iTunes", true);
    std::wstring stale = CombinePath(m_dir, L"Stale");
    CreateFolderChain(stale);
    SetHklm(kITunesKey, KEY_WOW64_64KEY, L"InstallDir", stale);
    ASSERT_TRUE(CreateFolderChain(m_shortcutDir));
    ASSERT_TRUE(MakeShortcut(CombinePath(m_shortcutDir, L"iTunes.lnk"), real + L"\\iTunes.exe"));

    wchar_t target[MAX_PATH], desc[MAX_PATH];
    ASSERT_TRUE(ResolveShortcut(CombinePath(m_shortcutDir, L"iTunes.lnk").c_str(), target, desc));
    EXPECT_EQ(real + L"\\iTunes.exe", std::wstring(target));
    EXPECT_STREQ(L"iTunes", desc);

    CAppleEnvironment env;
    env.Detect();
    EXPECT_EQ(real, env.m_s_itunes_folder);
    EXPECT_EQ(2, env.m_nResult);

    // without any registry text the shortcut is not consulted
    CleanRegistry();
    env.Detect();
    EXPECT_EQ(-1, env.m_nResult);
    EXPECT_EQ(L"", env.m_s_itunes_folder);
}

TEST_F(AppleDetect, SupportFoldersAndTheirFiles) {
    std::wstring itunes = MakeITunes(L"iTunes", true);
    SetHklm(kITunesKey, KEY_WOW64_64KEY, L"InstallDir", itunes);
    // Application Support named in the registry but missing on disk: the text is used as it is
    std::wstring missing = CombinePath(m_dir, L"Gone\\Apple Application Support");
    SetHklm(kAppSupportKey, KEY_WOW64_64KEY, L"InstallDir", missing);
    std::wstring mds = CombinePath(m_dir, L"Common Files\\Apple\\Mobile Device Support");
    CreateFolderChain(mds);
    for (const wchar_t* f : {L"iTunesMobileDevice.dll", L"MobileDevice.dll", L"AirTrafficHost.dll", L"SQLite3.dll",
                             L"ATH.exe"})
        vdtest::WriteFileBytes(CombinePath(mds, f), "x");
    SetHklm(kMobileKey, KEY_WOW64_64KEY, L"iTunesMobileDeviceDLL", mds + L"\\iTunesMobileDevice.dll");

    CAppleEnvironment env;
    env.Detect();
    EXPECT_EQ(missing, env.m_s_app_support_folder);
    EXPECT_EQ(mds + L"\\", env.m_s_mobile_device_folder);
    EXPECT_EQ(mds + L"\\MobileDevice.dll", env.m_s_mobile_device_dll);
    EXPECT_EQ(mds + L"\\AirTrafficHost.dll", env.m_s_air_traffic_host_dll);
    EXPECT_EQ(L"", env.m_s_apple_sync_mapi_dll);
    EXPECT_EQ(mds + L"\\ATH.exe", env.m_s_ath_exe);
    EXPECT_EQ(mds + L"\\SQLite3.dll", env.m_s_sqlite3_dll) << "falls back to Mobile Device Support";
    EXPECT_EQ(L"", env.m_s_core_foundation_dll);

    // a Mobile Device Support value elsewhere than Application Support: the sibling folder wins
    std::wstring aas = CombinePath(m_dir, L"Common Files\\Apple\\Apple Application Support");
    CreateFolderChain(aas);
    vdtest::WriteFileBytes(CombinePath(aas, L"CoreFoundation.dll"), "x");
    SetHklm(kAppSupportKey, KEY_WOW64_64KEY, L"InstallDir", aas);
    std::wstring other = CombinePath(m_dir, L"Elsewhere\\Mobile Device Support");
    CreateFolderChain(other);
    vdtest::WriteFileBytes(CombinePath(other, L"iTunesMobileDevice.dll"), "x");
    SetHklm(kMobileKey, KEY_WOW64_64KEY, L"iTunesMobileDeviceDLL", other + L"\\iTunesMobileDevice.dll");
    env.Detect();
    EXPECT_EQ(mds, env.m_s_mobile_device_folder);
    EXPECT_EQ(aas + L"\\CoreFoundation.dll", env.m_s_core_foundation_dll);
}
