#define _CRT_RAND_S
#include "base/safefs.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdlib>
#include <cwchar>
#include <map>
#include <mutex>
#include <vector>

#include "base/files.h"
#include "base/scoped.h"
#include "base/vdlog.h"

namespace {

const DWORD kSharingWaitsMs[] = {50, 100, 200, 400, 800};

std::wstring Canonical(const std::wstring& p) {
    std::wstring s = p;
    if (s.compare(0, 8, L"\\\\?\\UNC\\") == 0) s = L"\\\\" + s.substr(8);
    else if (s.compare(0, 4, L"\\\\?\\") == 0) s = s.substr(4);
    for (wchar_t& c : s)
        if (c == L'/') c = L'\\';
    while (s.size() > 3 && s.back() == L'\\') s.pop_back();
    return s;
}

std::wstring NoTrailingSlash(const std::wstring& p) {
    std::wstring s = p;
    while (s.size() > 3 && (s.back() == L'\\' || s.back() == L'/')) s.pop_back();
    return s;
}

bool IsSharingError(DWORD err) { return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION; }

// Opened as itself, not as what a link points at.
HANDLE OpenNoFollow(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool HandleIsLink(HANDLE h) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    return GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof(tag)) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool DeleteByHandle(HANDLE h) {
    FILE_DISPOSITION_INFO del = {TRUE};
    return SetFileInformationByHandle(h, FileDispositionInfo, &del, sizeof(del)) != FALSE;
}

// Windows removes a junction or symbolic link by path as the link itself.
bool RemoveLink(const std::wstring& path, DWORD attr) {
    bool ok = (attr & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    WriteLogW(L"delete link:%s,%s\n", path.c_str(), ok ? L"ok" : L"failed");
    return ok;
}

int DeleteTreeUnder(const std::wstring& folder, const std::wstring& root, bool removeItself);

// One entry of a folder being emptied: 0 when it is gone.
int DeleteEntry(const std::wstring& path, DWORD attr, const std::wstring& root) {
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(path, attr) ? 0 : 1;
    if (attr & FILE_ATTRIBUTE_DIRECTORY) return DeleteTreeUnder(path, root, true);
    CScopedHandle h(OpenNoFollow(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
    if (!h.Valid()) return 1;
    std::wstring real = FinalPathOfHandle(h.Get());
    if (HandleIsLink(h.Get()) || real.empty() || !PathLiesUnder(real, root)) {
        // swapped for a link since the listing: what it points at is not ours to delete
        h.Reset();
        WriteLogW(L"not deleted, lies outside %s:%s\n", root.c_str(), real.c_str());
        return RemoveLink(path, attr | FILE_ATTRIBUTE_REPARSE_POINT) ? 0 : 1;
    }
    if (attr & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic = {};
        if (GetFileInformationByHandleEx(h.Get(), FileBasicInfo, &basic, sizeof(basic))) {
            basic.FileAttributes = (basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(h.Get(), FileBasicInfo, &basic, sizeof(basic));
        }
    }
    return DeleteByHandle(h.Get()) ? 0 : 1;
}

int DeleteTreeUnder(const std::wstring& folder, const std::wstring& root, bool removeItself) {
    DWORD attr = GetFileAttributesW(folder.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return removeItself ? 0 : 1;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(folder, attr) ? 0 : 1;
    // no DELETE access yet: a listing opens the folder without sharing delete
    CScopedHandle dir(OpenNoFollow(folder, FILE_READ_ATTRIBUTES | SYNCHRONIZE));
    if (!dir.Valid()) return 1;
    std::wstring real = FinalPathOfHandle(dir.Get());
    if (HandleIsLink(dir.Get()) || (!root.empty() && (real.empty() || !PathLiesUnder(real, root)))) {
        dir.Reset();
        WriteLogW(L"not deleted, lies outside %s:%s\n", root.c_str(), real.c_str());
        return RemoveLink(folder, attr | FILE_ATTRIBUTE_REPARSE_POINT) ? 0 : 1;
    }
    const std::wstring& base = root.empty() ? real : root;
    if (base.empty()) return 1;
    std::vector<std::pair<std::wstring, DWORD>> entries;
    {
        WIN32_FIND_DATAW fd;
        CScopedFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &fd));
        if (find.Valid()) {
            do {
                // only the folder itself and its parent: ".profile" is an entry like any other
                if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L"..")) continue;
                entries.emplace_back(folder + L"\\" + fd.cFileName, fd.dwFileAttributes);
            } while (FindNextFileW(find.Get(), &fd));
        }
    }
    int failed = 0;
    for (const auto& e : entries) failed += DeleteEntry(e.first, e.second, base);
    if (!removeItself || failed) return failed;
    dir.Reset(OpenNoFollow(folder, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE));
    if (dir.Valid() && !HandleIsLink(dir.Get()) && FinalPathOfHandle(dir.Get()) == real && DeleteByHandle(dir.Get()))
        return 0;
    dir.Reset();
    if (attr & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(folder.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);
    return RemoveDirectoryW(folder.c_str()) ? 0 : 1;
}

// ---- the protected run folder ----------------------------------------------------------------

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool IsTrustedOwner(PSID owner) {
    if (!owner || !IsValidSid(owner)) return false;
    if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
    PSID installer = nullptr;
    bool trusted = false;
    if (ConvertStringSidToSidW(L"S-1-5-80-956008885-3425912105-3427244370-1990290470-2236470420", &installer)) {
        CScopedLocalMem owned(installer);
        trusted = EqualSid(owner, installer) != FALSE;
    }
    if (!trusted && RunningUnderWine()) {
        // Wine reads every owner back as the user's own: the check cannot hold there
        static bool logged = false;
        if (!logged) WriteLogW(L"folder owners are not checked under Wine\n");
        logged = true;
        return true;
    }
    return trusted;
}

// A folder an ordinary user cannot have planted or changed: no link, owned by the machine.
bool IsMachineFolder(const std::wstring& path) {
    DWORD attr = GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY) || (attr & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    CScopedHandle h(OpenNoFollow(path, READ_CONTROL | FILE_READ_ATTRIBUTES));
    if (!h.Valid() || HandleIsLink(h.Get())) return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(h.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &sd) !=
        ERROR_SUCCESS)
        return false;
    CScopedLocalMem owned(sd);
    return IsTrustedOwner(owner);
}

// Every folder from the drive's root down to `path`.
bool IsMachineChain(const std::wstring& path) {
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
    std::wstring part = path.substr(0, 3);
    for (size_t pos = 3;; ) {
        if (!IsMachineFolder(part)) {
            WriteLogW(L"not a machine folder:%s\n", part.c_str());
            return false;
        }
        if (pos >= path.size()) return true;
        size_t end = path.find(L'\\', pos);
        if (end == std::wstring::npos) end = path.size();
        part = path.substr(0, end);
        pos = end + 1;
    }
}

class CProtectedSa {
public:
    CProtectedSa() {
        m_sa.nLength = sizeof(m_sa);
        m_sa.bInheritHandle = FALSE;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(ProtectedFolderSddl(), SDDL_REVISION_1, &m_sa.lpSecurityDescriptor,
                                                             nullptr);
        m_sd.Reset(m_sa.lpSecurityDescriptor);
    }
    CProtectedSa(const CProtectedSa&) = delete;
    CProtectedSa& operator=(const CProtectedSa&) = delete;
    SECURITY_ATTRIBUTES* Get() { return m_sa.lpSecurityDescriptor ? &m_sa : nullptr; }
private:
    SECURITY_ATTRIBUTES m_sa = {};
    CScopedLocalMem m_sd;  // the descriptor in m_sa
};

// A level of ours below a machine folder: made protected when missing, else it must be the machine's.
bool EnsureMachineLevel(const std::wstring& path, CProtectedSa& sa) {
    if (CreateDirectoryW(path.c_str(), sa.Get())) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsMachineFolder(path);
}

std::wstring MakeRunFolderUnder(const std::wstring& base, CProtectedSa& sa) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        unsigned int r = 0;
        rand_s(&r);
        wchar_t name[48];
        swprintf(name, 48, L"run_%lu_%08x", (unsigned long)GetCurrentProcessId(), r);
        std::wstring folder = base + L"\\" + name;
        // an existing folder of that name is someone else's: never used
        if (!CreateDirectoryW(folder.c_str(), sa.Get())) continue;
        CScopedHandle h(OpenNoFollow(folder, FILE_READ_ATTRIBUTES));
        std::wstring real = h.Valid() ? FinalPathOfHandle(h.Get()) : std::wstring();
        if (!real.empty() && !HandleIsLink(h.Get()) && _wcsicmp(Canonical(real).c_str(), Canonical(folder).c_str()) == 0)
            return folder;
        WriteLogW(L"run folder is not where it was made:%s,%s\n", folder.c_str(), real.c_str());
    }
    return std::wstring();
}

}  // namespace

bool PathLiesUnder(const std::wstring& path, const std::wstring& root) {
    std::wstring p = Canonical(path), r = Canonical(root);
    if (r.empty() || p.size() < r.size() || _wcsnicmp(p.c_str(), r.c_str(), r.size()) != 0) return false;
    return p.size() == r.size() || r.back() == L'\\' || p[r.size()] == L'\\';
}

std::wstring FinalPathOfHandle(HANDLE h) {
    std::vector<wchar_t> buf(MAX_PATH + 1);
    DWORD n = GetFinalPathNameByHandleW(h, buf.data(), (DWORD)buf.size(), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetFinalPathNameByHandleW(h, buf.data(), (DWORD)buf.size(), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (n == 0 || n >= buf.size()) return std::wstring();
    return Canonical(std::wstring(buf.data(), n));
}

int DeleteTreeNoFollow(const std::wstring& folder, bool removeItself) {
    if (folder.empty()) return 1;
    return DeleteTreeUnder(NoTrailingSlash(folder), std::wstring(), removeItself);
}

bool EnsureRealFolder(const std::wstring& folderIn) {
    std::wstring folder = NoTrailingSlash(folderIn);
    DWORD attr = GetFileAttributesW(folder.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WriteLogW(L"a link stands where a folder of ours belongs, removed:%s\n", folder.c_str());
        // never moved: a move through Wine's path lookup takes the link's target along
        if (!RemoveLink(folder, attr)) return false;
        attr = INVALID_FILE_ATTRIBUTES;
    }
    if (attr == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(folder.c_str(), nullptr);
    attr = GetFileAttributesW(folder.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) && !(attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring RealFolderOrFresh(const std::wstring& folderIn) {
    std::wstring folder = NoTrailingSlash(folderIn);
    if (EnsureRealFolder(folder)) return folder;
    // one stand-in per folder for the whole run: the part files of one attempt are found by the next
    static std::mutex s_lock;
    static std::map<std::wstring, std::wstring> s_chosen;
    std::lock_guard<std::mutex> hold(s_lock);
    std::wstring key = Canonical(folder);
    for (wchar_t& c : key) c = towlower(c);
    auto known = s_chosen.find(key);
    if (known != s_chosen.end()) {
        DWORD attr = GetFileAttributesW(known->second.c_str());
        if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) && !(attr & FILE_ATTRIBUTE_REPARSE_POINT))
            return known->second;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        unsigned int r = 0;
        rand_s(&r);
        wchar_t suffix[40];
        swprintf(suffix, 40, L".%lu_%08x", (unsigned long)GetCurrentProcessId(), r);
        // made new here, so nobody can have planted it
        std::wstring fresh = folder + suffix;
        if (CreateDirectoryW(fresh.c_str(), nullptr)) {
            WriteLogW(L"the link cannot be removed, a new folder is used instead:%s\n", fresh.c_str());
            s_chosen[key] = fresh;
            return fresh;
        }
    }
    return std::wstring();
}

HANDLE CreateFileRetryingSharing(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    for (size_t i = 0;; ++i) {
        HANDLE h = CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
        DWORD err = GetLastError();
        if (h != INVALID_HANDLE_VALUE || !IsSharingError(err) || i == sizeof(kSharingWaitsMs) / sizeof(DWORD)) {
            SetLastError(err);
            return h;
        }
        Sleep(kSharingWaitsMs[i]);
    }
}

bool MoveFileRetryingSharing(const wchar_t* from, const wchar_t* to, DWORD flags) {
    for (size_t i = 0;; ++i) {
        if (MoveFileExW(from, to, flags)) return true;
        DWORD err = GetLastError();
        if (!IsSharingError(err) && err != ERROR_ACCESS_DENIED) return false;
        if (i == sizeof(kSharingWaitsMs) / sizeof(DWORD)) return false;
        Sleep(kSharingWaitsMs[i]);
    }
}

const wchar_t* ProtectedFolderSddl() { return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"; }

std::wstring CreateProtectedRunFolder() {
    CProtectedSa sa;
    if (!sa.Get()) {
        WriteLogW(L"protected folder descriptor failed,err:%d\n", (int)GetLastError());
        return std::wstring();
    }
    wchar_t buf[MAX_PATH] = {0};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf)) && buf[0]) {
        std::wstring data = NoTrailingSlash(buf);
        std::wstring vardo = data + L"\\Vardo", ours = vardo + L"\\vdInstaller";
        if (IsMachineChain(data) && EnsureMachineLevel(vardo, sa) && EnsureMachineLevel(ours, sa)) {
            std::wstring run = MakeRunFolderUnder(ours, sa);
            if (!run.empty()) return run;
        }
    }
    UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH - 6) {
        std::wstring temp = NoTrailingSlash(buf) + L"\\Temp";
        if (IsMachineChain(temp)) {
            std::wstring run = MakeRunFolderUnder(temp, sa);
            if (!run.empty()) return run;
        }
    }
    WriteLogW(L"no protected folder could be made for the package\n");
    return std::wstring();
}
