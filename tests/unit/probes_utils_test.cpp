// Process, shell, file and registry utilities against the real system under Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <string>

#include "base/md5.h"
#include "probes/pesign.h"
#include "base/safefs.h"
#include "probes/vdutils.h"
#include "test_signer_pin.h"
#include "tests/unit/support/pefiles.h"
#include "tests/unit/support/testfiles.h"

namespace {

std::wstring TempDir() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    return tmp;
}

std::wstring ThisDir() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring s = self;
    return s.substr(0, s.rfind(L'\\'));
}

// The sleeper test driver is built beside the test programs.
std::wstring Sleeper() { return CombinePath(ThisDir(), L"vdsleep.exe"); }

int CountProcesses(const wchar_t* name) {
    CScopedHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    int n = 0;
    for (BOOL more = Process32FirstW(snap.Get(), &pe); more; more = Process32NextW(snap.Get(), &pe))
        if (_wcsicmp(pe.szExeFile, name) == 0) ++n;
    return n;
}

HANDLE StartProcess(const std::wstring& exe, const std::wstring& args) {
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

void WriteFileText(const std::wstring& path, const char* text) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_TRUE(f);
    fputs(text, f);
    fclose(f);
}

}  // namespace

TEST(PathHelpers, CombinePathJoinsWithExactlyOneBackslash) {
    EXPECT_EQ(CombinePath(L"C:\\a", L"b.exe"), L"C:\\a\\b.exe");
    EXPECT_EQ(CombinePath(L"C:\\a\\", L"b.exe"), L"C:\\a\\b.exe");
    EXPECT_EQ(CombinePath(L"C:\\a/", L"b.exe"), L"C:\\a\\b.exe");
    EXPECT_EQ(CombinePath(L"", L"b.exe"), L"");
    EXPECT_EQ(CombinePath(L"C:\\a", L""), L"");
}

TEST(PathHelpers, ExistsCreatesAndDeletesFoldersAndFiles) {
    std::wstring root = TempDir() + L"vd_paths_test";
    DeleteFolderTree(root);
    std::wstring deep = root + L"\\one\\two three\\四";
    EXPECT_TRUE(CreateFolderChain(deep));
    EXPECT_TRUE(PathExists(deep));
    EXPECT_TRUE(PathExists(deep + L"\\"));  // trailing backslash still finds the folder
    EXPECT_TRUE(PathExists(deep + L"/"));
    WriteFileText(deep + L"\\f.txt", "x");
    WriteFileText(root + L"\\one\\g.txt", "y");
    EXPECT_FALSE(PathExists(root + L"\\missing"));
    EXPECT_FALSE(DeletePath(root + L"\\missing"));

    // A folder with attributes beside the folder flag (read-only on Windows; Wine keeps only hidden
    // and system on folders) is still a folder: deleted with what it holds, not handed to DeleteFileW.
    std::wstring ro = root + L"\\ro";
    ASSERT_TRUE(CreateDirectoryW(ro.c_str(), nullptr));
    WriteFileText(ro + L"\\inside.txt", "z");
    SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    if (GetFileAttributesW(ro.c_str()) == FILE_ATTRIBUTE_DIRECTORY)
        ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY));
    ASSERT_NE(GetFileAttributesW(ro.c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(DeletePath(ro));
    EXPECT_FALSE(PathExists(ro));

    WriteFileText(root + L"\\one\\.keep", "a dot-file keeps no folder alive");
    EXPECT_TRUE(DeletePath(root + L"\\"));
    EXPECT_FALSE(PathExists(root));

    EXPECT_TRUE(PathLiesUnder(L"\\\\?\\C:\\Temp\\vdhttpTempCache\\a\\part0", L"c:\\temp\\VDHTTPTEMPCACHE\\"));
    EXPECT_TRUE(PathLiesUnder(L"C:\\Temp\\x", L"C:\\Temp\\x"));
    EXPECT_FALSE(PathLiesUnder(L"C:\\Temp\\xy\\f", L"C:\\Temp\\x"));
    EXPECT_FALSE(PathLiesUnder(L"C:\\Temp", L"C:\\Temp\\x"));
    EXPECT_FALSE(PathLiesUnder(L"C:\\Temp\\x", L""));
}

TEST(PathHelpers, CopyAndRenameWithFallbacks) {
    std::wstring dir = TempDir() + L"vd_copy_test";
    DeleteFolderTree(dir);
    ASSERT_TRUE(CreateFolderChain(dir));
    std::wstring a = dir + L"\\a.bin", b = dir + L"\\b.bin", c = dir + L"\\c.bin";
    WriteFileText(a, "payload");
    std::string bytes;
    EXPECT_EQ(ReadWholeResult::Ok, ReadWholeFile(a, 7, bytes));
    EXPECT_EQ("payload", bytes);
    EXPECT_EQ(ReadWholeResult::TooLarge, ReadWholeFile(a, 6, bytes));
    EXPECT_EQ("", bytes);
    EXPECT_EQ(ReadWholeResult::NotFound, ReadWholeFile(dir + L"\\missing.bin", 7, bytes));
    EXPECT_FALSE(VdCopyFileW(nullptr, a.c_str()));
    EXPECT_TRUE(VdCopyFileW(b.c_str(), a.c_str()));
    EXPECT_TRUE(PathExists(b));
    EXPECT_TRUE(RenameWithFallback(c.c_str(), b.c_str()));
    EXPECT_FALSE(PathExists(b));
    EXPECT_TRUE(PathExists(c));
    EXPECT_FALSE(RenameWithFallback(c.c_str(), (dir + L"\\nothing.bin").c_str()));
    DeleteFolderTree(dir);
}

// A handle the owner closed is no handle any more.
static bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

TEST(ScopedOwner, MovesReleasesAndResetsExactlyOnce) {
    HANDLE a = CreateEventW(nullptr, TRUE, FALSE, nullptr), b = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(a && b);
    {
        CScopedHandle first(a);
        CScopedHandle second(std::move(first));
        EXPECT_FALSE(first.Valid());
        EXPECT_EQ(a, second.Get());
        CScopedHandle third(b);
        third = std::move(second);  // b goes, a moves on
        EXPECT_FALSE(IsOpen(b));
        EXPECT_TRUE(IsOpen(a));
        EXPECT_EQ(a, third.Get());
        third.Reset(a);  // the same handle again: kept, not closed
        EXPECT_TRUE(IsOpen(a));
        EXPECT_EQ(a, third.Release());
        EXPECT_FALSE(third.Valid());
    }
    EXPECT_TRUE(IsOpen(a)) << "released, so the scope's end left it open";
    {
        CScopedHandle owner(a);
        HANDLE* slot = owner.Receive();  // closes what was held
        EXPECT_FALSE(IsOpen(a));
        *slot = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        b = owner.Get();
        EXPECT_TRUE(IsOpen(b));
    }
    EXPECT_FALSE(IsOpen(b));
    // INVALID_HANDLE_VALUE is no handle: nothing is closed for it
    CScopedFindHandle none;
    EXPECT_FALSE(none.Valid());
    WIN32_FIND_DATAW fd;
    CScopedFindHandle found(FindFirstFileW(L"C:\\*", &fd));
    EXPECT_TRUE(found.Valid());
    // a DC goes back to the window it came from, after moving too
    CScopedWindowDC dc = GetScopedDC(nullptr);
    CScopedWindowDC moved(std::move(dc));
    EXPECT_TRUE(moved.Valid());
    EXPECT_FALSE(dc.Valid());
    EXPECT_NE(0, GetDeviceCaps(moved.Get(), LOGPIXELSX));
}

TEST(Registry, InstallDirFromPlainAndQuotedUninstallStrings) {
    EXPECT_EQ(InstallDirFromUninstallString(L"C:\\Program Files\\Vardo\\uninst.exe"), L"C:\\Program Files\\Vardo");
    for (const wchar_t* quoted : {L"\"C:\\Program Files\\Vardo\\uninst.exe\"",
                                  L"\"C:\\Program Files\\Vardo\\uninst.exe\" /S", L"\"C:\\Program Files\\Vardo\\uninst.exe"})
        EXPECT_EQ(InstallDirFromUninstallString(quoted), L"C:\\Program Files\\Vardo") << quoted;
    EXPECT_EQ(InstallDirFromUninstallString(L"uninst.exe"), L"");

    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VdUtilsTestKey";
    HKEY h;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr), ERROR_SUCCESS);
    const wchar_t value[] = L"\"C:\\Program Files\\Vardo\\uninst.exe\"";
    RegSetValueExW(h, L"UninstallString", 0, REG_SZ, (const BYTE*)value, sizeof(value));
    RegCloseKey(h);
    wchar_t buf[260] = {0};
    EXPECT_TRUE(ReadInstallDirFromRegistry(buf, 260, L"VdUtilsTestKey"));
    EXPECT_STREQ(buf, L"C:\\Program Files\\Vardo");
    wchar_t tiny[8] = {0};
    EXPECT_FALSE(ReadInstallDirFromRegistry(tiny, 8, L"VdUtilsTestKey"));  // does not fit: refused
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    EXPECT_FALSE(ReadInstallDirFromRegistry(buf, 260, L"VdUtilsTestKey"));
}

TEST(Browser, CommandTakesTheAddressInPlaceOfThePlaceholder) {
    EXPECT_EQ(BrowserCommandForUrl(L"\"C:\\b\\browser.exe\" -url \"%1\"", L"http://x/"),
              L"\"C:\\b\\browser.exe\" -url \"http://x/\"");
    EXPECT_EQ(BrowserCommandForUrl(L"C:\\b\\browser.exe \"%1\"", L"http://x/\" --evil"), L"C:\\b\\browser.exe \"http://x/ --evil\"");
    EXPECT_EQ(BrowserCommandForUrl(L"C:\\b\\browser.exe", L"http://x/"), L"C:\\b\\browser.exe \"http://x/\"");
    EXPECT_FALSE(OpenUrlInBrowser(L""));
    EXPECT_FALSE(OpenUrlInBrowser(nullptr));
}

TEST(Processes, ExecuteWaitsForTheChildAndReportsStartFailures) {
    std::wstring marker = TempDir() + L"vd_exec_marker.txt";
    DeleteFileW(marker.c_str());
    std::wstring args = L" 300 \"" + marker + L"\"";
    ASSERT_TRUE(vd_execute_process(Sleeper().c_str(), args.c_str(), true));
    EXPECT_TRUE(PathExists(marker));  // written by the child just before it ended
    DeleteFileW(marker.c_str());
    EXPECT_FALSE(vd_execute_process((TempDir() + L"no_such_program.exe").c_str(), L" /S", true));
}

TEST(Processes, KillByNameEndsOnlyTheFirstOfTwoAndWaitsForIt) {
    std::wstring copy = TempDir() + L"vdkilltest.exe";
    ASSERT_TRUE(CopyFileW(Sleeper().c_str(), copy.c_str(), FALSE));
    HANDLE p1 = StartProcess(copy, L"20000");
    HANDLE p2 = StartProcess(copy, L"20000");
    ASSERT_TRUE(p1 && p2);
    for (int i = 0; i < 50 && CountProcesses(L"vdkilltest.exe") < 2; ++i) Sleep(100);
    ASSERT_EQ(CountProcesses(L"vdkilltest.exe"), 2);
    EXPECT_TRUE(KillProcessByName(L"VDKILLTEST.EXE"));  // names compare without regard to case
    HANDLE both[2] = {p1, p2};
    // already gone when the call returns, not merely told to end
    DWORD w = WaitForMultipleObjects(2, both, FALSE, 0);
    ASSERT_TRUE(w == WAIT_OBJECT_0 || w == WAIT_OBJECT_0 + 1);
    HANDLE survivor = (w == WAIT_OBJECT_0) ? p2 : p1;
    EXPECT_EQ(WaitForSingleObject(survivor, 500), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(CountProcesses(L"vdkilltest.exe"), 1);
    TerminateProcess(survivor, 0);
    WaitForSingleObject(survivor, 5000);
    CloseHandle(p1);
    CloseHandle(p2);
    DeleteFileW(copy.c_str());
    EXPECT_TRUE(KillProcessByName(L"no_such_process.exe"));
}

TEST(Bitness, PeFilesAndOperatingSystem) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(GetPeBitness(self), 32);
    EXPECT_FALSE(IsCurrentModule64());
    std::wstring notPe = TempDir() + L"vd_not_pe.exe";
    WriteFileText(notPe, "MZ but nothing more");
    EXPECT_EQ(GetPeBitness(notPe.c_str()), -1);
    DeleteFileW(notPe.c_str());
    EXPECT_EQ(GetPeBitness(L"C:\\no\\such\\file.exe"), -1);
    // the test prefix is a 64-bit Wine prefix
    EXPECT_TRUE(IsNativeOs64());
}

// The real product package, unsigned and signed by three certificates (tests/product).
TEST(PackageSignature, VerdictsWithAndWithoutAPin) {
    wchar_t full[MAX_PATH] = {0};
    GetFullPathNameW((ThisDir() + L"\\..\\..\\product\\").c_str(), MAX_PATH, full, nullptr);
    const std::wstring dir = full;
    ASSERT_TRUE(PathExists(dir + L"VardoSetup_signed.exe")) << "build/product is made by scripts/build.sh";
    const SignerPin none;
    const SignerPin byName = {VD_TEST_SIGNER, ""};
    const SignerPin byCert = {VD_TEST_SIGNER, VD_TEST_SIGNER_SHA256};
    auto verify = [&](const std::wstring& path, const SignerPin& pin) {
        CScopedHandle h(OpenPackageLocked(path.c_str()));
        EXPECT_TRUE(h.Valid()) << "open " << std::string(path.begin(), path.end());
        return VerifyPackageSignature(h.Get(), path.c_str(), pin);
    };

    PackageSignature s = verify(dir + L"VardoSetup_signed.exe", none);
    EXPECT_EQ(kPackageVerified, s.m_e_trust);
    EXPECT_EQ(L"Vardo Test Publisher", s.m_s_signer);
    EXPECT_EQ(VD_TEST_SIGNER_SHA256, s.m_s_signer_sha256);
    EXPECT_EQ(kPackageVerified, verify(dir + L"VardoSetup_signed.exe", byCert).m_e_trust);

    s = verify(dir + L"VardoSetup.exe", none);
    EXPECT_EQ(kPackageUnsigned, s.m_e_trust);
    EXPECT_EQ(TRUST_E_NOSIGNATURE, s.m_l_trust_code);
    EXPECT_EQ(L"unsigned,code:0x800b0100", DescribePackageSignature(s));
    EXPECT_EQ(kPackageWrongSigner, verify(dir + L"VardoSetup.exe", byName).m_e_trust);

    // the publisher's name on another key passes no pin: a name alone pins nobody
    EXPECT_EQ(kPackageWrongSigner, verify(dir + L"VardoSetup_twin.exe", byName).m_e_trust);
    EXPECT_EQ(kPackageWrongSigner, verify(dir + L"VardoSetup_signed.exe", byName).m_e_trust);
    EXPECT_EQ(kPackageWrongSigner, verify(dir + L"VardoSetup_twin.exe", byCert).m_e_trust);
    s = verify(dir + L"VardoSetup_other.exe", byName);
    EXPECT_EQ(kPackageWrongSigner, s.m_e_trust);
    EXPECT_EQ(L"Someone Else Ltd", s.m_s_signer);

    // one byte changed inside the signed image (not in the signature): bad, pinned or not
    std::string bytes = vdtest::ReadFileBytes(dir + L"VardoSetup_signed.exe");
    ASSERT_GT(bytes.size(), 5000u);
    bytes[4096] ^= 0x01;
    std::wstring tampered = TempDir() + L"vd_tampered.exe";
    ASSERT_TRUE(vdtest::WriteFileBytes(tampered, bytes));
    s = verify(tampered, none);
    EXPECT_EQ(kPackageBad, s.m_e_trust);
    EXPECT_EQ(TRUST_E_BAD_DIGEST, s.m_l_trust_code);
    EXPECT_EQ(kPackageBad, verify(tampered, byCert).m_e_trust);
    // the handle of one file under the name of another: no verdict on either
    {
        CScopedHandle h(OpenPackageLocked(tampered.c_str()));
        s = VerifyPackageSignature(h.Get(), (dir + L"VardoSetup_signed.exe").c_str(), none);
        EXPECT_EQ(kPackageBad, s.m_e_trust);
        EXPECT_TRUE(s.m_s_signer.empty());
    }
    DeleteFileW(tampered.c_str());
}

// Every answer WinVerifyTrust can give against every kind of pin. Chain faults come from the
// machine (roots, clock, network): the pin decides, without one the package is unsigned, and the
// file is never deleted for them.
TEST(PackageSignature, DecisionTableOverEveryCode) {
    const std::wstring name = L"Vardo Test Publisher";
    const std::string sha = VD_TEST_SIGNER_SHA256;
    const SignerPin none, good = {name, sha}, other = {name, std::string(64, 'a')}, nameOnly = {name, ""},
                    notHex = {name, "no"};
    SignerPin upper = good;
    for (char& c : upper.m_s_sha256) c = (char)toupper((unsigned char)c);
    struct Row {
        LONG code;
        bool table;
        EPackageTrust unpinned, pinned;
        bool deleted;
    };
    const Row rows[] = {
        {ERROR_SUCCESS, false, kPackageVerified, kPackageVerified, false},
        {TRUST_E_NOSIGNATURE, false, kPackageUnsigned, kPackageWrongSigner, true},
        {TRUST_E_SUBJECT_FORM_UNKNOWN, false, kPackageUnsigned, kPackageWrongSigner, true},
        {TRUST_E_NOSIGNATURE, true, kPackageBad, kPackageBad, true},  // a table nobody can read
        {TRUST_E_BAD_DIGEST, false, kPackageBad, kPackageBad, true},
        {TRUST_E_NO_SIGNER_CERT, false, kPackageBad, kPackageBad, true},
        {(LONG)CRYPT_E_ASN1_BADTAG, false, kPackageBad, kPackageBad, true},
        {CERT_E_REVOKED, false, kPackageBad, kPackageBad, true},
        {TRUST_E_EXPLICIT_DISTRUST, false, kPackageBad, kPackageBad, true},
        {CERT_E_WRONG_USAGE, false, kPackageBad, kPackageBad, true},
        {CERT_E_UNTRUSTEDROOT, false, kPackageUnsigned, kPackageVerified, false},
        {CERT_E_UNTRUSTEDTESTROOT, false, kPackageUnsigned, kPackageVerified, false},
        {CERT_E_CHAINING, false, kPackageUnsigned, kPackageVerified, false},
        {CERT_E_EXPIRED, false, kPackageUnsigned, kPackageVerified, false},
        {CERT_E_REVOCATION_FAILURE, false, kPackageUnsigned, kPackageVerified, false},
        {(LONG)CRYPT_E_REVOCATION_OFFLINE, false, kPackageUnsigned, kPackageVerified, false},
        {(LONG)CRYPT_E_NO_REVOCATION_CHECK, false, kPackageUnsigned, kPackageVerified, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << (unsigned long)r.code << " table " << r.table);
        EXPECT_EQ(r.unpinned, DecidePackageTrust(r.code, name, sha, none, r.table));
        EXPECT_EQ(r.pinned, DecidePackageTrust(r.code, name, sha, good, r.table));
        EXPECT_EQ(r.pinned, DecidePackageTrust(r.code, name, sha, upper, r.table));
        EXPECT_EQ(IsChainFault(r.code), !r.deleted && r.code != ERROR_SUCCESS);
        // another key, a name alone, a setting that is no thumbprint, a name cut at a NUL: never verified
        const std::wstring cut(L"Vardo Test Publisher\0Evil", 25);
        for (const SignerPin* pin : {&other, &nameOnly, &notHex})
            EXPECT_NE(kPackageVerified, DecidePackageTrust(r.code, name, sha, *pin, r.table));
        EXPECT_NE(kPackageVerified, DecidePackageTrust(r.code, cut, sha, good, r.table));
        EXPECT_NE(kPackageVerified, DecidePackageTrust(r.code, name, "", good, r.table));
        PackageSignature sig;
        sig.m_l_trust_code = r.code;
        for (EPackageTrust t : {kPackageBad, kPackageWrongSigner}) {
            sig.m_e_trust = t;
            EXPECT_EQ(r.deleted || r.code == ERROR_SUCCESS, ShouldDeleteRefusedPackage(sig));
        }
        sig.m_e_trust = kPackageUnsigned;
        EXPECT_FALSE(ShouldDeleteRefusedPackage(sig));
    }
    EXPECT_TRUE(PinIsWellFormed(good));
    EXPECT_TRUE(PinIsWellFormed(upper));
    EXPECT_FALSE(PinIsWellFormed(nameOnly));
    EXPECT_FALSE(PinIsWellFormed(notHex));
    EXPECT_FALSE(PinIsWellFormed(none));
    EXPECT_FALSE(PinIsWellFormed(SignerPin{L"", sha}));
}

// The package runs from a copy in a new folder only administrators can write (its working folder
// too), never from where it lay; that folder goes when the run is over. A copy whose digest is not
// the server's never runs.
TEST(PackageSignature, RunsFromAProtectedCopyThatGoesAfterwards) {
    std::wstring pkg = TempDir() + L"vd_run_copy.exe", marker = TempDir() + L"vd_run_copy_marker.txt";
    ASSERT_TRUE(CopyFileW(Sleeper().c_str(), pkg.c_str(), FALSE));
    DeleteFileW(marker.c_str());
    std::string bytes = vdtest::ReadFileBytes(pkg);
    CMd5 md5;
    md5.Update(bytes.data(), bytes.size());
    unsigned char digest[16];
    md5.Final(digest);
    const std::wstring args = L" 0 \"" + marker + L"\"";
    DWORD code = 0;
    ASSERT_EQ(kPackageStarted, StartVerifiedPackage(pkg, args, true, &code, Md5DigestToHex(digest)));
    EXPECT_EQ(7u, code);
    std::string seen = vdtest::ReadFileBytes(marker);
    size_t bar = seen.find('|');
    ASSERT_NE(std::string::npos, bar) << seen;
    std::string image = seen.substr(0, bar), cwd = seen.substr(bar + 1);
    wchar_t data[MAX_PATH] = {0};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, data)));
    std::wstring w(data);
    std::string ours = std::string(w.begin(), w.end()) + "\\Vardo\\vdInstaller\\run_";
    EXPECT_EQ(0, _strnicmp(image.c_str(), ours.c_str(), ours.size())) << image;
    EXPECT_EQ(0, _stricmp(image.c_str(), (cwd + "\\vd_run_copy.exe").c_str())) << seen;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(cwd.c_str())) << "the run folder stays behind";
    EXPECT_TRUE(PathExists(pkg));

    DeleteFileW(marker.c_str());
    EXPECT_EQ(kPackageRefused, StartVerifiedPackage(pkg, args, true, &code, std::string(32, 'f')));
    Sleep(300);
    EXPECT_FALSE(PathExists(marker));
    DeleteFileW(pkg.c_str());
}

// The handle held from the check to the start: nobody writes, renames or deletes the file meanwhile,
// and the process still starts from it.
TEST(PackageSignature, LockedPackageStillStarts) {
    std::wstring copy = TempDir() + L"vd_locked_sleep.exe";
    ASSERT_TRUE(CopyFileW(Sleeper().c_str(), copy.c_str(), FALSE));
    {
        CScopedHandle locked(OpenPackageLocked(copy.c_str()));
        ASSERT_TRUE(locked.Valid());
        CScopedHandle writer(CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(writer.Valid());
        EXPECT_FALSE(DeleteFileW(copy.c_str()));
        EXPECT_FALSE(MoveFileW(copy.c_str(), (copy + L".moved").c_str()));
        EXPECT_TRUE(vd_execute_process(copy.c_str(), L" 0", true));
    }
    EXPECT_TRUE(DeleteFileW(copy.c_str()));
}
