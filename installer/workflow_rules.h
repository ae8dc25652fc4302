// Rules of the download-and-install workflow that need no window and no Windows headers: display
// texts, the low-speed offer, the restart rule, what quitting keeps, folder choice and the checks
// applied to values that come from servers or the command line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vdworkflow {

// ---- progress display ------------------------------------------------------------------------
// Fraction 0..1 as a whole percent, truncated toward zero and kept within 0..100.
int ProgressPercent(double fraction);
// "速度:%.2fMB/s" from 1024 KB/s on, else "速度:%.2fKB/s".
std::wstring FormatSpeedText(double speedKBps);
std::wstring FormatPercentText(int percent);
// Dark text while the bar is still mostly empty, light text once the bar fills behind it.
const wchar_t* ProgressTextColor(int percent);
// The speed as behaviour records carry it: "%.2f".
std::string FormatSpeedRecord(double speedKBps);

// The offer is judged only once a download has made real progress in this session: not at exactly
// 5 % and only more than 8 points beyond what was already present when it (re)started.
bool IsInLowSpeedWindow(int percent, int resumePercent);
bool IsLowSpeed(double speedKBps);

// ---- restart rule ----------------------------------------------------------------------------
constexpr uint32_t kRestartQuietMs = 40000;
constexpr int kRestartLimit = 15;

enum class RestartAction {
    None,     // nothing pending
    Wait,     // an error waits for its quiet period
    Restart,  // start the download again (automatic restart)
    Fail,     // automatic restarts are used up: failure page
};

// Download errors wait 40 s and are restarted at most 14 times; the 15th error ends on the failure
// page. Once restarts are used up, a further error (after a manual retry) fails at once instead of
// waiting for a restart that will never come.
// The window's own handling, on its fields (error pending, error time, restart count):
// An error status arrived at `now`: Fail when restarts are used up (nothing is then pending);
// otherwise the error is pending from `now` and the result is None.
RestartAction RestartRuleOnError(bool& errorPending, uint32_t& errorTick, int restartCount, uint32_t now);
// The 5-second status timer at `now`.
RestartAction RestartRuleOnTimer(bool& errorPending, uint32_t errorTick, int& restartCount, uint32_t now);

// ---- quitting --------------------------------------------------------------------------------
constexpr int kStatusNone = -1;  // no progress record yet
constexpr int kStatusDownloading = 1;
constexpr int kStatusSuccess = 2;

// Part files are worth keeping whenever the last download did not finish: the next start resumes
// from them. After a success they are spent, and a package that failed its digest (which also
// ends a download with success) must never be resumed.
bool ShouldKeepPartFiles(int lastDownloadStatus);

// ---- names, folders and addresses --------------------------------------------------------------
// One path component made of a server value: not empty, not "." or "..", no separator, drive
// colon, wildcard, quote, angle bracket, bar or control character, at most 100 characters.
bool IsSafePathComponent(const std::wstring& text);
// Version + "_" + Channel + "_" + "x64"/"x86"; empty when either is empty or the result is not a
// safe single folder name (the caller then uses a random name).
std::wstring MakeTempSubFolderName(const std::wstring& version, const std::wstring& channel, bool x64);
// The part-file folder of a download whose record names no version and channel (a template or a
// stored address): the same address always gives the same name, so a later run resumes.
std::wstring SubFolderForUrl(const std::wstring& url);

// Only web addresses go to the browser: "http://" or "https://" (any case) followed by a host,
// with no white space, quote or control character that could split the browser's command line.
bool IsSafeBrowserUrl(const std::wstring& url);
// The product web site's page offered when no download address is known.
std::wstring ManualDownloadWebPage(const std::wstring& website, bool x64);

// 64-bit program folder: the package kind when the server named a package, else the OS.
bool UseProgramFiles64(bool serverUrlKnown, bool serverX64, bool os64);
// Fixed-drive mode: "Vardo" in the system's Program Files folder (`systemFolder`, from the system;
// when it gave none, "C:\Program Files" or "C:\Program Files (x86)"). Remembered-drive mode puts
// the remembered drive letter in front; without one the system folder's drive is used.
std::wstring DefaultInstallDir(bool fixedDrive, wchar_t rememberedDrive, bool programFiles64,
                               const std::wstring& systemFolder = std::wstring());

// The "/d" value applied to a settled folder. Returns true when the value replaces the folder.
// A value is used only when it starts with a drive letter and a colon; a missing backslash after
// the colon is added.
bool ApplyCmdInstallDir(const std::wstring& cmdValue, std::wstring& folder);

// Where PrepareExecvdInstExe takes the folder from, before "/d" is applied.
enum class FolderSource { UserDir, Default, EditBox, ConfigInstallDir };
struct FolderChoice {
    std::wstring folder;
    FolderSource source = FolderSource::Default;
};
// The user's folder wins; else the default, overridden by a differing edit-box text, else by a
// differing configured "InstallDir".
FolderChoice ChooseInstallFolder(const std::wstring& userDir, const std::wstring& defaultDir,
                                 const std::wstring& editText, const std::wstring& configInstallDir);

// " /S /D=<folder>": built whole, a cut-off folder would install somewhere else.
std::wstring MakeSetupCommandLine(const std::wstring& folder);

// ---- package and product checks --------------------------------------------------------------
// Both digests padded with '0' to 32 characters and compared exactly. A local digest that could
// not be computed (empty) never matches.
bool DigestsMatch(const std::string& serverMd5, const std::string& localMd5);

// The installed version is good when it is known and not lower than the server's.
bool IsInstalledVersionGood(const std::wstring& installedVersion, const std::wstring& serverVersion);
// Bitness must follow the package kind and the version must be good.
bool IsInstalledProductGood(int peBitness, bool x64Package, bool versionGood);
// A setup's exit code: 0, or 3010 / 1641 (done, a restart is asked for) are success.
bool IsSetupSuccessCode(unsigned long code);

// The distributor's channel marker at the start of "Biz.dll": the 24 bytes of the UTF-16 text of
// the marker token, all of them present.
extern const wchar_t kChannelMarkerToken[];
bool MatchesChannelMarker(const unsigned char* bytes, size_t length);

}  // namespace vdworkflow
