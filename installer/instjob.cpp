#include "installer/instjob.h"

#include <vector>

#include "base/threads.h"
#include "installer/messages.h"
#include "local/cleanup.h"
#include "local/inifile.h"
#include "base/vdlog.h"
#include "probes/base64.h"
#include "probes/fileversion.h"
#include "base/md5.h"
#include "probes/pesign.h"
#include "probes/userlaunch.h"
#include "base/strconv.h"
#include "probes/vdutils.h"
#include "vd_endpoints.h"

using namespace vdworkflow;

namespace {

long long FileSizeBySearch(const std::wstring& path) {
    WIN32_FIND_DATAW fd;
    CScopedFindHandle h(FindFirstFileW(path.c_str(), &fd));
    if (!h.Valid()) return 0;
    return ((long long)fd.nFileSizeHigh << 32) | fd.nFileSizeLow;
}

}  // namespace

std::wstring GetDefaultInstallDir(DefaultDirMode mode, const InstServerInfo& info, wchar_t userDrive) {
    bool pf64 = UseProgramFiles64(!info.m_s_url.empty(), info.m_n_x64 != 0, IsNativeOs64());
    return DefaultInstallDir(mode == DefaultDirMode::FixedDrive, userDrive, pf64, SystemProgramFilesFolder(pf64));
}

std::wstring InitialInstallDirText(bool editBoxExists, const InstServerInfo& info) {
    std::wstring folder;
    wchar_t old[260] = {0};
    if (ReadInstallDirFromRegistry(old, 260, L"Vardo3") && old[0]) {
        folder = old;
        WriteLogW(L"find old installed vardo folder:%s\n", folder.c_str());
    } else {
        folder = GetDefaultInstallDir(DefaultDirMode::FixedDrive, info, 0);
    }
    if (editBoxExists) {
        std::wstring configured = CInstConfig::Inst().ReadPmConfig(VD_PRODUCT_NAME, L"InstallDir");
        if (!configured.empty()) folder = configured;
    }
    return folder;
}

std::wstring SettleInstallFolder(const InstallFolderInputs& in, const InstServerInfo& info) {
    std::wstring def = in.userDir.empty() ? GetDefaultInstallDir(DefaultDirMode::RememberedDrive, info, in.userDrive)
                                          : std::wstring();
    FolderChoice c = ChooseInstallFolder(in.userDir, def, in.editText, in.configInstallDir);
    if (c.source == FolderSource::UserDir) {
        WriteLogW(L"copy user selected dir:%s to m_s_inst_folder\n", c.folder.c_str());
    } else {
        WriteLogW(L"get default install dir:%s to m_s_inst_folder\n", def.c_str());
        if (c.source != FolderSource::Default)
            WriteLogW(L"sEditDir is different from m_s_inst_folder,use edit vaule:%s to m_s_inst_folder\n",
                      c.folder.c_str());
    }
    WriteLogW(L"Setting to install path:%s\n", in.cmdDir.c_str());
    std::wstring folder = c.folder;
    if (!ApplyCmdInstallDir(in.cmdDir, folder) && !in.cmdDir.empty())
        WriteLogW(L"install path without a drive ignored:%s\n", in.cmdDir.c_str());
    return folder;
}

PackageCheck CheckPackageDigest(const std::wstring& path, long long serverSize, bool keepCache,
                                const std::string& serverMd5, const std::function<void()>& cleanupTempCache) {
    if (!PathExists(path)) {
        WriteLogW(L"file:%s not exist\n", path.c_str());
        return PackageCheck::Missing;
    }
    long long local = FileSizeBySearch(path);
    std::wstring md5w = CodePageToWide(serverMd5, CP_ACP);
    WriteLogW(L"ValidInstExe file:%s \nsize:%ld \nserver size:%ld \nmd5:%s\n", path.c_str(), (long)local,
              (long)serverSize, md5w.c_str());
    WriteLogW(L"local file size:%ld,server size:%ld\n", (long)local, (long)serverSize);
    // The log keeps showing the code-page text; the file itself is read by its wide path, so a
    // folder outside that code page still validates.
    WriteLogA("convert path to utf8:%s\n", WideToCodePage(path, 936).c_str());
    std::string localMd5 = GetFileMd5W(path);
    if (DigestsMatch(serverMd5, localMd5)) {
        WriteLogA("md5 value is the same:%s\n", localMd5.c_str());
        // a signature that does not hold fails like a digest that does not match
        PackageSignature sig = CheckPackageFileSignature(path);
        if (!IsPackageRefused(sig.m_e_trust)) return PackageCheck::Valid;
        // refused for the machine's chain check alone: another download would be refused the same way
        if (!ShouldDeleteRefusedPackage(sig)) return PackageCheck::BadSignature;
        DeletePath(path);
        WriteLogW(L"package signature refused,delete old exe:%s\n", path.c_str());
        if (!keepCache && cleanupTempCache) cleanupTempCache();
        return PackageCheck::BadSignature;
    }
    WriteLogA("md5 value is not the same, download server md5:%s===>base64:%s, local file md5:%s\n===>base64:%s",
              serverMd5.c_str(), Md5HexToBase64(serverMd5).c_str(), localMd5.c_str(),
              Md5HexToBase64(localMd5).c_str());
    DeletePath(path);
    WriteLogW(L"md5 value is not the same,delete old exe:%s\n", path.c_str());
    if (!keepCache) {
        if (cleanupTempCache) cleanupTempCache();
        WriteLogW(L"md5 value is not the same,delete CleanupTempCacheFolder\n");
    }
    return PackageCheck::Mismatch;
}

bool CheckLocalInstExe(InstServerInfo& info, std::wstring& cachePath, bool& fetched,
                       const std::function<std::unique_ptr<InstServerInfo>()>& request) {
    cachePath.clear();
    fetched = false;
    if (info.m_s_version.empty()) {
        WriteLogW(L"not server info,request now\n");
        std::unique_ptr<InstServerInfo> fresh = request ? request() : nullptr;
        if (!fresh || fresh->m_s_version.empty()) return true;
        info = *fresh;
        fetched = true;
    }
    // the version becomes part of a file name: a value that is not a plain name is not cached
    if (!IsSafePathComponent(info.m_s_version)) {
        WriteLogW(L"server version is not a file name,download:%s\n", info.m_s_version.c_str());
        return true;
    }
    cachePath = GetCachedSetupPath(info.m_n_x64 != 0, VD_PRODUCT_NAME, info.m_s_version.c_str());
    if (!PathExists(cachePath)) return true;
    return !ValidInstExe(cachePath, info.m_ll_size, true, info.m_s_md5, nullptr);
}

ProductFileStamp StampProductFile(const std::wstring& path) {
    ProductFileStamp stamp;
    stamp.path = path;
    CScopedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return stamp;
    FILE_BASIC_INFO basic = {};
    LARGE_INTEGER size = {};
    stamp.exists = true;
    if (GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof(basic)))
        stamp.changeTime = (unsigned long long)basic.ChangeTime.QuadPart;
    if (GetFileSizeEx(file.Get(), &size)) stamp.size = (unsigned long long)size.QuadPart;
    return stamp;
}

std::vector<ProductFileStamp> StampProductCandidates(const std::wstring& installFolder) {
    std::vector<ProductFileStamp> stamps;
    stamps.push_back(StampProductFile(CombinePath(installFolder, L"Vardo.exe")));
    wchar_t registered[1024] = {0};
    if (ReadInstallDirFromRegistry(registered, 1024, L"Vardo3") && registered[0])
        stamps.push_back(StampProductFile(CombinePath(registered, L"Vardo.exe")));
    return stamps;
}

namespace {
// A file that was there before the run and that the run did not touch.
bool UnchangedSince(const std::wstring& path, const std::vector<ProductFileStamp>& before) {
    for (const ProductFileStamp& old : before) {
        if (!old.exists || _wcsicmp(old.path.c_str(), path.c_str()) != 0) continue;
        ProductFileStamp now = StampProductFile(path);
        return now.exists && now.changeTime == old.changeTime && now.size == old.size;
    }
    return false;
}
}  // namespace

bool CheckInstalledVardoExe(const InstallCheckInput& in, const std::vector<ProductFileStamp>* before) {
    std::wstring path = LocateProductFile(in.installFolder, L"Vardo.exe");
    WriteLogW(L"install path:%s\n", path.c_str());
    if (!PathExists(path)) {
        WriteLogW(L"not exist %s\n", path.c_str());
        return false;
    }
    if (before && UnchangedSince(path, *before)) {
        // an earlier installation's file passes no check for this run
        WriteLogW(L"%s was there before the setup ran and is unchanged\n", path.c_str());
        return false;
    }
    if (in.fromVidiraUrl) {
        WriteLogW(L"IsFromVidiraUrl,not to valid exe and other\n");
        return true;
    }
    if (in.vdpmInside) {
        WriteLogW(L"find vdpm rc inside\n");
        if (PathExists(path)) return true;
        WriteLogW(L"not exist %s\n", path.c_str());
        return false;
    }
    int bits = GetPeBitness(path.c_str());
    WriteLogW(L"%s pe bit:%d\n", L"Vardo.exe", bits);
    std::wstring version = GetFileVersionText(path.c_str(), nullptr);
    bool versionGood = false;
    if (!version.empty()) {
        versionGood = IsInstalledVersionGood(version, in.serverVersion);
        WriteLogW(L"%s version:%s,server version:%s\n", L"Vardo.exe", version.c_str(), in.serverVersion.c_str());
    }
    bool good = IsInstalledProductGood(bits, in.x64, versionGood);
    if (good)
        WriteLogW(in.x64 ? L"%s pe is 64,version:%s,the same as from server\n"
                         : L"%s pe is 32,version:%s,the same as from server\n",
                  L"Vardo.exe", version.c_str());
    return good;
}

std::unique_ptr<InstallJob> MakeInstallJob(HWND window, const std::wstring& setupPath, const std::wstring& folder,
                                           const InstallCheckInput& check) {
    std::unique_ptr<InstallJob> job(new InstallJob);
    job->m_h_window = window;
    job->m_s_setup_path = setupPath;
    job->m_s_inst_folder = folder;
    job->m_s_cmd_line = MakeSetupCommandLine(folder);
    job->m_check = check;
    job->m_check.installFolder = folder;
    WriteLogW(L"PrepareExecvdInstExe Install:%s\n", folder.c_str());
    WriteLogW(L"PrepareExecvdInstExe InstExe:%s,cmd:%s\n", setupPath.c_str(), job->m_s_cmd_line.c_str());
    return job;
}

bool RunInstallJob(const InstallJob& job, int* runs) {
    int counter = 0;
    int made = 0;
    bool ok = false;
    for (;;) {
        KillProcessByName(L"Vardo.exe");
        KillProcessByName(L"doVadoraDaravad.exe");
        ++made;
        // taken before every run: only what this run wrote may pass
        std::vector<ProductFileStamp> before = StampProductCandidates(job.m_check.installFolder);
        DWORD code = 0;
        // checked again before every run, on the handle the run starts from
        EPackageStart started =
            StartVerifiedPackage(job.m_s_setup_path, job.m_s_cmd_line, true, &code, job.m_check.expectedMd5);
        if (started == kPackageRefused) {
            DeletePath(job.m_s_setup_path);
            WriteLogW(L"package signature refused,delete exe:%s\n", job.m_s_setup_path.c_str());
            break;
        }
        if (started == kPackageRefusedKept) break;
        if (started == kPackageStarted) {
            WriteLogW(L"vd_execute_process success\n");
            const bool setupOk = IsSetupSuccessCode(code);
            if (!setupOk) WriteLogW(L"setup exit code:%d,the setup failed\n", (int)code);
            if (setupOk && CheckInstalledVardoExe(job.m_check, &before)) {
                ok = true;
                break;
            }
            if (counter >= kMaxSetupRuns - 1) {
                WriteLogW(L"CheckInstalledVardoExe failure\n");
                break;
            }
            ++counter;
            WriteLogW(L"CheckInstalledVardoExe failure,retry count:%d\n", counter);
        } else {
            DWORD err = GetLastError();
            if (counter >= kMaxSetupRuns - 1) {
                WriteLogW(L"vd_execute_process failure\n");
                break;
            }
            ++counter;
            WriteLogW(L"vd_execute_process failure err:%d,retry count:%d\n", err, counter);
        }
    }
    if (runs) *runs = made;
    return ok;
}

void ThreadFuncExecvdInstExe(std::unique_ptr<InstallJob> job) {
    HWND hwnd = job->m_h_window;
    bool ok = false;
    try {
        WriteLogW(L"ThreadFuncExecvdInstExe hMainWnd:%x,InstExe:%s,cmd:%s\n", (unsigned)(UINT_PTR)hwnd,
                  job->m_s_setup_path.c_str(), job->m_s_cmd_line.c_str());
        if (CInstConfig::Inst().IsTestIni_installing_failure()) {
            WriteLogW(L"simulate installing failure\n");
        } else {
            ok = RunInstallJob(*job);
        }
    } catch (...) {
        WriteLogW(L"ThreadFuncExecvdInstExe UNexpected excepiton....\n");
        ok = false;
    }
    if (!vdthread::PostFinal(hwnd, WM_USER_EXEC_INST_FEEDBACK, ok ? 1 : 0))
        WriteLogW(L"post message:%d failure,err:%d\n", (int)WM_USER_EXEC_INST_FEEDBACK, (int)GetLastError());
}

bool StartInstallThread(std::unique_ptr<InstallJob> job) {
    HWND hwnd = job->m_h_window;
    // A timer belongs to the window's own thread: started here, stopped by the feedback handling.
    SetTimer(hwnd, VD_TIMER_ID_INSTALLING, 1000, nullptr);
    // the job moves into the worker; a worker that never starts frees it unrun
    if (!vdthread::StartDetachedWorker([job = std::move(job)]() mutable { ThreadFuncExecvdInstExe(std::move(job)); })) {
        WriteLogW(L"ThreadFuncExecvdInstExe create failure,err:%d\n", GetLastError());
        // the progress page would otherwise wait for an answer that never comes
        PostMessageW(hwnd, WM_USER_EXEC_INST_FEEDBACK, 0, 0);
        return false;
    }
    return true;
}

bool HasChannelMarker(const std::wstring& installFolder) {
    std::wstring path = CombinePath(installFolder, L"Biz.dll");
    CScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return false;
    unsigned char head[64] = {0};
    DWORD got = 0, total = 0;
    while (total < sizeof(head) && ReadFile(file.Get(), head + total, (DWORD)sizeof(head) - total, &got, nullptr) &&
           got > 0)
        total += got;
    return MatchesChannelMarker(head, total);
}

std::wstring SuccessPageUrl() { return std::wstring(VD_WEBSITE_URL) + L"/install/success.html"; }
std::wstring AgreementPageUrl() { return std::wstring(VD_WEBSITE_URL) + L"/home/agreement.html"; }

void OpenSuccessPageIfNeeded(const std::wstring& installFolder) {
    if (HasChannelMarker(installFolder)) return;
    if (!OpenUrlInBrowser(SuccessPageUrl().c_str())) WriteLogW(L"open url failure:%s\n", SuccessPageUrl().c_str());
}

bool ExecuteDefaultActions(bool installMode, const std::wstring& installFolder) {
    if (installMode) return false;
    std::wstring launcher = LocateProductFile(installFolder, L"Launcher.exe");
    // the product must not inherit our administrator token: unelevated, or not at all
    if (launcher.empty() || !PathExists(launcher)) {
        WriteLogW(L"not exist %s\n", launcher.c_str());
        return false;
    }
    return StartUnelevated(launcher, L"");
}

void DoHelperMRegister(const std::wstring& installFolder) {
    std::wstring helper = LocateProductFile(installFolder, L"Helper.exe");
    if (!PathExists(helper)) {
        WriteLogW(L"helper.exe not exist,path:%s\n", helper.c_str());
        return;
    }
    const wchar_t* cmd = L" /m";
    WriteLogW(L"helper.exe path:%s,cmd:%s\n", helper.c_str(), cmd);
    if (vd_execute_process(helper.c_str(), cmd, true)) WriteLogW(L"helper.exe /m successs\n");
    else WriteLogW(L"helper.exe /m failure,last error:%d\n", GetLastError());
}

std::wstring OpenTargetUrlSafely(const std::wstring& url, const std::wstring& fallback) {
    std::wstring target = url;
    if (!IsSafeBrowserUrl(target)) {
        WriteLogW(L"not a web address,open web page instead:%s\n", url.c_str());
        target = fallback;
    }
    if (!OpenUrlInBrowser(target.c_str())) WriteLogW(L"open url failure:%s\n", target.c_str());
    return target;
}
