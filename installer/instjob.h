// What the main window does with a setup package once one is at hand: the cached-package and
// digest checks, the install folder, the silent installation on its own thread with retries, the
// check of the installed product and the start of the product.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/md5.h"
#include "net/serverinfo.h"
#include "installer/workflow_rules.h"

// At most this many runs of the setup per installation, one right after the other.
constexpr int kMaxSetupRuns = 11;

// ---- folders ---------------------------------------------------------------------------------
enum class DefaultDirMode { FixedDrive, RememberedDrive };
// The program folder follows the package kind once the server named a package, else the OS.
std::wstring GetDefaultInstallDir(DefaultDirMode mode, const InstServerInfo& info, wchar_t userDrive);
// The folder edit box's starting text: the configured "InstallDir" when the box exists and one is
// set, else an earlier installation's folder, else the fixed-drive default.
std::wstring InitialInstallDirText(bool editBoxExists, const InstServerInfo& info);

struct InstallFolderInputs {
    std::wstring userDir;    // chosen by browsing or typing; empty until then
    wchar_t userDrive = 0;   // drive of the last browsed folder
    std::wstring editText;   // text of the folder edit box (empty when there is none)
    std::wstring configInstallDir;
    std::wstring cmdDir;     // "/d" (or "/D") value
};
// The folder precedence of a new installation, with its log lines.
std::wstring SettleInstallFolder(const InstallFolderInputs& in, const InstServerInfo& info);

// ---- package checks --------------------------------------------------------------------------
enum class PackageCheck { Valid, Missing, Mismatch, BadSignature };
// Compares the package's digest with the server's, then checks its signature. A mismatching or
// refused file is deleted; after a download (keepCache false) `cleanupTempCache` also discards the
// downloader's part files.
PackageCheck CheckPackageDigest(const std::wstring& path, long long serverSize, bool keepCache,
                                const std::string& serverMd5, const std::function<void()>& cleanupTempCache);
inline bool ValidInstExe(const std::wstring& path, long long serverSize, bool keepCache, const std::string& serverMd5,
                         const std::function<void()>& cleanupTempCache) {
    return CheckPackageDigest(path, serverSize, keepCache, serverMd5, cleanupTempCache) == PackageCheck::Valid;
}

// True when a download is needed; false when the cached package at `cachePath` is valid. Works on
// the caller's copy of the server-info record: without a version it asks the server itself
// (`request` stands in for SendInstServerInfoRequest) and sets `fetched` when the record was
// replaced by the answer, which the caller then keeps.
bool CheckLocalInstExe(InstServerInfo& info, std::wstring& cachePath, bool& fetched,
                       const std::function<std::unique_ptr<InstServerInfo>()>& request);

// ---- installation ----------------------------------------------------------------------------
// What the product check needs, taken when the job is made: the install thread reads no window
// field while the UI thread may change them.
struct InstallCheckInput {
    std::wstring installFolder;
    std::wstring serverVersion;
    bool x64 = false;
    bool fromVidiraUrl = false;  // package from a template: nothing but presence is checked
    bool vdpmInside = false;     // the embedded setup: nothing but presence is checked
    std::string expectedMd5;     // the server's digest of the package, checked again on the copy that runs
};
// What a product file was before a setup run. A file the run did not write (same change time,
// or there before and still there untouched) is an earlier installation, not this one.
struct ProductFileStamp {
    std::wstring path;
    bool exists = false;
    unsigned long long changeTime = 0;  // written or renamed: any change moves it
    unsigned long long size = 0;
};
ProductFileStamp StampProductFile(const std::wstring& path);
// The places the product check may find "Vardo.exe" in: the install folder and the registered one.
std::vector<ProductFileStamp> StampProductCandidates(const std::wstring& installFolder);
// With `before` (stamps taken before the run), a file found unchanged fails the check.
bool CheckInstalledVardoExe(const InstallCheckInput& in, const std::vector<ProductFileStamp>* before = nullptr);

struct InstallJob {
    HWND m_h_window = nullptr;  // receiver of the feedback and owner of the installing timer
    std::wstring m_s_setup_path;
    std::wstring m_s_cmd_line;
    std::wstring m_s_inst_folder;
    InstallCheckInput m_check;
};

// The job built by PrepareExecvdInstExe, logged.
std::unique_ptr<InstallJob> MakeInstallJob(HWND window, const std::wstring& setupPath, const std::wstring& folder,
                                           const InstallCheckInput& check);
// The runs of the setup with their checks; `runs` receives how many were made.
bool RunInstallJob(const InstallJob& job, int* runs = nullptr);
// The install thread's work. Posts WM_USER_EXEC_INST_FEEDBACK (1 or 0) as its final answer.
void ThreadFuncExecvdInstExe(std::unique_ptr<InstallJob> job);
// On the window's thread: starts the installing timer and the install thread (handle closed at
// once). False when the thread cannot be created: the window is then told of the failure by the
// same feedback message. The feedback handling stops the timer.
bool StartInstallThread(std::unique_ptr<InstallJob> job);

// ---- after the installation ------------------------------------------------------------------
// "Biz.dll" of the install folder carries the distributor's channel marker.
bool HasChannelMarker(const std::wstring& installFolder);
// Opens the post-install page unless the channel marker says the distributor shows its own.
void OpenSuccessPageIfNeeded(const std::wstring& installFolder);
// Starts Launcher.exe, except with the install switch. Returns whether it was started.
bool ExecuteDefaultActions(bool installMode, const std::wstring& installFolder);
// "Helper.exe /m" from the install folder, or from the registered one.
void DoHelperMRegister(const std::wstring& installFolder);

// The page opened after a successful installation, on the product's web site.
std::wstring SuccessPageUrl();
std::wstring AgreementPageUrl();
// Opens a URL taken from outside (a server answer) only when it is a plain web address; anything
// else is logged and `fallback` is opened instead. Returns the URL opened.
std::wstring OpenTargetUrlSafely(const std::wstring& url, const std::wstring& fallback);
