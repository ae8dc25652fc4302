#include "local/cleanup.h"

#include <windows.h>
#include <shellapi.h>
#include <cstdlib>
#include <vector>

#include "base/files.h"
#include "base/safefs.h"
#include "base/scoped.h"
#include "base/vdlog.h"
#include "base/vdversion.h"
#include "vd_endpoints.h"

namespace {

// a log file lives three days
constexpr double kLogKeepSeconds = 3 * 24 * 60 * 60;

std::vector<std::wstring> SplitAll(const std::wstring& text, const std::wstring& delimiter) {
    return SplitByDelimiter(text + delimiter, delimiter);
}

// Names (not folders, not dot-names) in `folder` whose extension contains `extPart`.
std::vector<std::wstring> ListFilesWithExt(const std::wstring& folder, const wchar_t* extPart) {
    std::vector<std::wstring> names;
    wchar_t pattern[MAX_PATH * 2];
    _snwprintf(pattern, MAX_PATH * 2, L"%s\\*.*", folder.c_str());
    pattern[MAX_PATH * 2 - 1] = 0;
    WIN32_FIND_DATAW fd;
    CScopedFindHandle h(FindFirstFileW(pattern, &fd));
    if (!h.Valid()) return names;
    do {
        if (fd.cFileName[0] == L'.' || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        wchar_t ext[_MAX_EXT] = {0};
        _wsplitpath(fd.cFileName, nullptr, nullptr, nullptr, ext);
        if (wcsstr(ext, extPart)) names.push_back(fd.cFileName);
    } while (FindNextFileW(h.Get(), &fd));
    return names;
}

std::wstring CutAtDot(const std::wstring& s) {
    size_t dot = s.find(L'.');
    return dot == std::wstring::npos ? s : s.substr(0, dot);
}

}  // namespace

std::wstring CachedSetupFileName(bool x64, const std::wstring& sub, const std::wstring& version) {
    const wchar_t* arch = x64 ? L"x64" : L"x86";
    if (sub == VD_PRODUCT_NAME) return L"vardo_pamo_" + version + L"_" + arch + L".exe";
    return sub + L"_Setup_" + version + L"_" + arch + L".exe";
}

std::wstring GetCachedSetupPath(bool x64, const wchar_t* sub, const wchar_t* version) {
    return GetDataFolderOrTemp(sub) + CachedSetupFileName(x64, sub ? sub : L"", version ? version : L"");
}

bool CopySetupToCache(const wchar_t* source, bool x64, const wchar_t* sub, const wchar_t* version,
                      std::wstring& cachePath) {
    cachePath = GetCachedSetupPath(x64, sub, version);
    WriteLogW(L"copy cache exe path:%s\n", cachePath.c_str());
    if (!source) return false;
    if (_wcsicmp(source, cachePath.c_str()) == 0) {
        WriteLogW(L"source and target exe is the same,not need to copy:%s\n", cachePath.c_str());
        return true;
    }
    // A half-written package must never sit under the cache name: copy beside it, then rename.
    std::wstring tmp = cachePath + L".tmp";
    bool copied = CopyFileW(source, tmp.c_str(), FALSE) != FALSE;
    if (!copied) copied = VdCopyFileW(tmp.c_str(), source);
    if (!copied) {
        DeleteFileW(tmp.c_str());  // a part of a copy is no package
        return false;
    }
    if (MoveFileRetryingSharing(tmp.c_str(), cachePath.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (RenameWithFallback(cachePath.c_str(), tmp.c_str())) return true;
    DeleteFileW(tmp.c_str());
    return false;
}

bool IsExpiredLogName(const std::wstring& name, const std::tm& now) {
    std::vector<std::wstring> pieces = SplitAll(name, L"_");
    if (pieces.size() < 6) return false;
    std::tm then = now;
    then.tm_year = _wtoi(pieces[3].c_str()) - 1900;
    then.tm_mon = _wtoi(pieces[4].c_str()) - 1;
    then.tm_mday = _wtoi(CutAtDot(pieces[5]).c_str());
    then.tm_isdst = -1;
    std::tm nowCopy = now;
    nowCopy.tm_isdst = -1;
    time_t a = mktime(&then), b = mktime(&nowCopy);
    if (a == (time_t)-1 || b == (time_t)-1) return false;
    return difftime(b, a) >= kLogKeepSeconds;
}

void CheckOldLogFile() {
    std::wstring folder = GetInstallerDataFolder(VD_PRODUCT_NAME);
    if (folder.empty()) return;
    std::vector<std::wstring> names = ListFilesWithExt(folder, L"log");
    time_t t = time(nullptr);
    std::tm now = *localtime(&t);
    std::vector<std::wstring> doomed;
    for (const std::wstring& n : names)
        if (IsExpiredLogName(n, now)) doomed.push_back(folder + L"\\" + n);
    for (const std::wstring& p : doomed) {
        WriteLogW(L"delete log file:%s\n", p.c_str());
        DeletePath(p);
    }
}

bool IsOutdatedCachedExe(const std::wstring& name, bool x64, const std::wstring& sub, const std::wstring& version) {
    std::vector<std::wstring> pieces = SplitAll(name, L"_");
    if (pieces.size() < 4) return false;
    if (sub == VD_PRODUCT_NAME && pieces[1].find(L"pamo") == std::wstring::npos) return false;
    std::wstring tag = CutAtDot(pieces[3]);
    bool sameArch = (tag.find(L"x64") != std::wstring::npos && x64) || (tag.find(L"x86") != std::wstring::npos && !x64);
    if (!sameArch) return false;
    return CVersion(pieces[2]).Compare(CVersion(version)) < 0;
}

bool CheckOldExeFile(bool x64, const wchar_t* sub, const wchar_t* version) {
    WriteLogW(L"CheckOldExeFile 111\n");
    if (!version || !*version || !sub) return false;
    WriteLogW(L"CheckOldExeFile 222\n");
    std::wstring folder = GetInstallerDataFolder(sub);
    WriteLogW(L"CheckOldExeFile sFolder:%s\n", folder.c_str());
    std::vector<std::wstring> names = folder.empty() ? std::vector<std::wstring>() : ListFilesWithExt(folder, L"exe");
    WriteLogW(L"CheckOldExeFile 333,count:%d\n", (int)names.size());
    std::vector<std::wstring> doomed;
    for (const std::wstring& n : names) {
        WriteLogW(L"CheckOldExeFile 444,pNode->sLogName:%s\n", n.c_str());
        if (IsOutdatedCachedExe(n, x64, sub, version)) doomed.push_back(folder + L"\\" + n);
    }
    for (const std::wstring& p : doomed) {
        WriteLogW(L"delete exe file:%s\n", p.c_str());
        DeletePath(p);
    }
    WriteLogW(L"CheckOldExeFile end....55555\n");
    return true;
}
