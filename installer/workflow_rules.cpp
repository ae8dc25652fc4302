#include "installer/workflow_rules.h"

#include "base/vdversion.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>

namespace vdworkflow {

int ProgressPercent(double fraction) {
    if (!(fraction > 0.0)) return 0;  // also catches NaN
    double p = fraction * 100.0;
    if (p >= 100.0) return 100;
    return static_cast<int>(p);
}

std::wstring FormatSpeedText(double speedKBps) {
    wchar_t buf[64];
    if (speedKBps >= 1024.0)
        swprintf(buf, 64, L"速度:%.2fMB/s", speedKBps / 1024.0);
    else
        swprintf(buf, 64, L"速度:%.2fKB/s", speedKBps);
    buf[63] = 0;
    return buf;
}

std::wstring FormatPercentText(int percent) {
    wchar_t buf[16];
    swprintf(buf, 16, L"%d%%", percent);
    buf[15] = 0;
    return buf;
}

const wchar_t* ProgressTextColor(int percent) { return percent < 52 ? L"#FF333333" : L"#FFFAFBFC"; }

std::string FormatSpeedRecord(double speedKBps) {
    char buf[64];
    snprintf(buf, sizeof(buf), "%.2f", speedKBps);
    return buf;
}

bool IsInLowSpeedWindow(int percent, int resumePercent) { return percent != 5 && percent - resumePercent > 8; }

bool IsLowSpeed(double speedKBps) { return speedKBps <= 50.0; }

RestartAction RestartRuleOnError(bool& errorPending, uint32_t& errorTick, int restartCount, uint32_t now) {
    if (restartCount >= kRestartLimit) {
        errorPending = false;
        return RestartAction::Fail;
    }
    errorPending = true;
    errorTick = now;
    return RestartAction::None;
}

RestartAction RestartRuleOnTimer(bool& errorPending, uint32_t errorTick, int& restartCount, uint32_t now) {
    if (!errorPending || restartCount >= kRestartLimit) return RestartAction::None;
    // unsigned difference: right across the 49.7-day wrap of the tick count
    if (static_cast<uint32_t>(now - errorTick) < kRestartQuietMs) return RestartAction::Wait;
    errorPending = false;
    ++restartCount;
    return restartCount >= kRestartLimit ? RestartAction::Fail : RestartAction::Restart;
}


bool ShouldKeepPartFiles(DownloadStatus lastDownloadStatus) { return lastDownloadStatus != DownloadStatus::Success; }

bool IsSafePathComponent(const std::wstring& text) {
    if (text.empty() || text.size() > 100 || text == L"." || text == L"..") return false;
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F) return false;
        if (wcschr(L"\\/:*?\"<>|", c)) return false;
    }
    // Windows drops trailing dots and spaces: "a." and "a" would be the same folder
    wchar_t last = text.back();
    return last != L'.' && last != L' ';
}

std::wstring MakeTempSubFolderName(const std::wstring& version, const std::wstring& channel, bool x64) {
    if (version.empty() || channel.empty()) return std::wstring();
    std::wstring name = version + L"_" + channel + L"_" + (x64 ? L"x64" : L"x86");
    return IsSafePathComponent(name) ? name : std::wstring();
}

std::wstring SubFolderForUrl(const std::wstring& url) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (wchar_t c : url) {
        h ^= (uint64_t)(uint16_t)c;
        h *= 1099511628211ull;
    }
    wchar_t name[24];
    swprintf(name, 24, L"url_%08x%08x", (unsigned)(h >> 32), (unsigned)h);
    return name;
}

namespace {
bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
    size_t n = wcslen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (towlower(text[i]) != prefix[i]) return false;
    return true;
}
}  // namespace

bool IsSafeBrowserUrl(const std::wstring& url) {
    size_t rest;
    if (StartsWithNoCase(url, L"http://")) rest = 7;
    else if (StartsWithNoCase(url, L"https://")) rest = 8;
    else return false;
    if (url.size() <= rest || url[rest] == L'/') return false;  // a host must follow
    for (wchar_t c : url) {
        if (c <= 0x20 || c == 0x7F || c == L'"' || c == L'\'' || c == L'<' || c == L'>' || c == L'`') return false;
    }
    return true;
}

std::wstring ManualDownloadWebPage(const std::wstring& website, bool x64) {
    std::wstring base = website;
    while (!base.empty() && base.back() == L'/') base.pop_back();
    return base + (x64 ? L"/?from=azqfail&bit=64" : L"/?from=azqfail&bit=32");
}

bool UseProgramFiles64(bool serverUrlKnown, bool serverX64, bool os64) { return serverUrlKnown ? serverX64 : os64; }

std::wstring DefaultInstallDir(bool fixedDrive, wchar_t rememberedDrive, bool programFiles64,
                               const std::wstring& systemFolder) {
    std::wstring folder = systemFolder;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    // only a folder on a drive can take a remembered drive letter
    if (folder.size() < 3 || folder[1] != L':' || !iswalpha(folder[0]) || folder[2] != L'\\')
        folder = programFiles64 ? L"C:\\Program Files" : L"C:\\Program Files (x86)";
    // without a remembered drive ":\Program Files\Vardo" would be a folder on no drive at all
    if (!fixedDrive && iswalpha(rememberedDrive)) folder[0] = towupper(rememberedDrive);
    return folder + L"\\Vardo";
}

bool ApplyCmdInstallDir(const std::wstring& cmdValue, std::wstring& folder) {
    if (cmdValue.empty()) return false;
    size_t colon = cmdValue.find(L':');
    if (colon == std::wstring::npos) return false;
    // anything but "<letter>:" in front is not a folder on a drive
    if (colon != 1 || !iswalpha(cmdValue[0])) return false;
    std::wstring value = cmdValue;
    if (value.size() == 2 || (value[2] != L'\\' && value[2] != L'/')) value.insert(2, 1, L'\\');
    folder = value;
    return true;
}

FolderChoice ChooseInstallFolder(const std::wstring& userDir, const std::wstring& defaultDir,
                                 const std::wstring& editText, const std::wstring& configInstallDir) {
    FolderChoice c;
    if (!userDir.empty()) {
        c.folder = userDir;
        c.source = FolderSource::UserDir;
        return c;
    }
    c.folder = defaultDir;
    c.source = FolderSource::Default;
    if (!editText.empty() && editText != defaultDir) {
        c.folder = editText;
        c.source = FolderSource::EditBox;
    } else if (!configInstallDir.empty() && configInstallDir != defaultDir) {
        c.folder = configInstallDir;
        c.source = FolderSource::ConfigInstallDir;
    }
    return c;
}

std::wstring MakeSetupCommandLine(const std::wstring& folder) { return L" /S /D=" + folder; }

bool DigestsMatch(const std::string& serverMd5, const std::string& localMd5) {
    if (localMd5.empty()) return false;
    std::string a = serverMd5, b = localMd5;
    if (a.size() < 32) a.append(32 - a.size(), '0');
    if (b.size() < 32) b.append(32 - b.size(), '0');
    return a == b;
}

bool IsInstalledVersionGood(const std::wstring& installedVersion, const std::wstring& serverVersion) {
    if (installedVersion.empty()) return false;
    return CVersion(installedVersion).Compare(CVersion(serverVersion)) >= 0;
}

bool IsInstalledProductGood(int peBitness, bool x64Package, bool versionGood) {
    return versionGood && peBitness == (x64Package ? 64 : 32);
}

// Opaque: compared, never decoded.
const wchar_t kChannelMarkerToken[] = L"Hq4WbT9xLpE=";

bool MatchesChannelMarker(const unsigned char* bytes, size_t length) {
    const size_t chars = wcslen(kChannelMarkerToken);
    if (!bytes || length < chars * 2) return false;
    for (size_t i = 0; i < chars; ++i) {
        unsigned v = static_cast<unsigned>(kChannelMarkerToken[i]);
        if (bytes[2 * i] != (v & 0xFF) || bytes[2 * i + 1] != ((v >> 8) & 0xFF)) return false;
    }
    return true;
}

bool IsSetupSuccessCode(unsigned long code) { return code == 0 || code == 3010 || code == 1641; }

}  // namespace vdworkflow
