#include "probes/appleenv.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <vector>

#include "base/scoped.h"
#include "probes/vdutils.h"

namespace {

const REGSAM kView64 = KEY_QUERY_VALUE | KEY_WOW64_64KEY;
const REGSAM kView32 = KEY_QUERY_VALUE | KEY_WOW64_32KEY;

// A string value read by asking its size first; any type is read as text as it is.
bool ReadRegText(HKEY key, const wchar_t* value, std::wstring& out) {
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> buf(size / sizeof(wchar_t) + 2, 0);
    if (RegQueryValueExW(key, value, nullptr, &type, (BYTE*)buf.data(), &size) != ERROR_SUCCESS) return false;
    out = buf.data();
    return true;
}

bool ReadHklmText(const wchar_t* subkey, REGSAM access, const wchar_t* value, std::wstring& out) {
    CScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, access, key.Receive()) != ERROR_SUCCESS) return false;
    return ReadRegText(key.Get(), value, out);
}

bool HasITunesExe(const std::wstring& folder) { return PathExists(CombinePath(folder, L"iTunes.exe")); }

std::wstring ShellFolder(int csidl) {
    wchar_t buf[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE)) return std::wstring();
    return buf;
}

std::wstring FileIn(const std::wstring& folder, const wchar_t* name) {
    std::wstring path = CombinePath(folder, name);
    return PathExists(path) ? path : std::wstring();
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t pos = text.find(from); pos != std::wstring::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

std::wstring Lower(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return (wchar_t)towlower(c); });
    return s;
}

}  // namespace

std::wstring AppleParentFolder(const std::wstring& path) {
    std::wstring p = path;
    if (!p.empty() && p.back() == L'\\') p.pop_back();
    size_t last = p.rfind(L'\\');
    return last == std::wstring::npos ? std::wstring() : p.substr(0, last + 1);
}

bool PrependFolderToPath(const std::wstring& path, const std::wstring& folder, std::wstring& result) {
    if (folder.empty() || Lower(path).find(Lower(folder)) != std::wstring::npos) return false;
    result = folder + L";" + path;
    return true;
}

namespace {

// The whole value, however long; false when it cannot be had whole (then nothing may be written
// back: a cut PATH would reach every child process).
bool ReadProcessPath(std::wstring& out) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        DWORD need = GetEnvironmentVariableW(L"path", nullptr, 0);
        if (need == 0) {
            out.clear();
            return GetLastError() == ERROR_ENVVAR_NOT_FOUND || GetLastError() == ERROR_SUCCESS;
        }
        std::vector<wchar_t> buf(need + 1, 0);
        SetLastError(ERROR_SUCCESS);
        DWORD got = GetEnvironmentVariableW(L"path", buf.data(), (DWORD)buf.size());
        if (got < buf.size()) {
            if (got == 0 && GetLastError() != ERROR_SUCCESS && GetLastError() != ERROR_ENVVAR_NOT_FOUND) return false;
            out.assign(buf.data(), got);
            return true;
        }
        // it grew between the two calls: ask again
    }
    return false;
}

}  // namespace

bool PutFolderOnProcessPath(const std::wstring& folder) {
    // probes on two threads must not each write back what the other has not seen
    static std::mutex s_lock;
    std::lock_guard<std::mutex> guard(s_lock);
    std::wstring old, updated;
    if (!ReadProcessPath(old)) return false;
    if (!PrependFolderToPath(old, folder, updated)) return false;
    return SetEnvironmentVariableW(L"path", updated.c_str()) != FALSE;
}

bool ResolveShortcut(const wchar_t* shortcut, wchar_t* target, wchar_t* description) {
    if (!shortcut || !target || !description) return false;
    target[0] = description[0] = 0;
    HRESULT init = CoInitialize(nullptr);
    bool ok = false;
    {
        CComPtrLite<IShellLinkW> link;
        CComPtrLite<IPersistFile> file;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       (void**)link.Receive())) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)file.Receive())) &&
            SUCCEEDED(file->Load(shortcut, 0)) && link->GetPath(target, MAX_PATH, nullptr, 0) == S_OK &&
            SUCCEEDED(link->GetDescription(description, MAX_PATH)))
            ok = true;
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return ok;
}

void FindITunes(std::wstring& exePath, std::wstring& folder, int& is64) {
    exePath.clear();
    folder.clear();
    is64 = 0;
    bool anyText = false, found = false;
    std::wstring text;
    const bool os64 = IsNativeOs64();

    auto tryInstallDir = [&](const wchar_t* key, REGSAM access) {
        if (found || !ReadHklmText(key, access, L"InstallDir", text)) return;
        anyText = true;
        folder = text;
        found = !text.empty() && HasITunesExe(text);
    };
    auto tryRegisteredApp = [&](REGSAM access) {
        if (found ||
            !ReadHklmText(L"Software\\Wow6432Node\\Apple Computer, Inc.\\iPod\\RegisteredApps\\4", access, L"path",
                          text))
            return;
        anyText = true;
        folder = AppleParentFolder(text);
        found = text.find(L"iTunes.exe") != std::wstring::npos && PathExists(text);
    };

    if (os64) {
        tryInstallDir(L"SOFTWARE\\Apple Computer, Inc.\\iTunes", kView64);
        tryRegisteredApp(kView64);
        tryRegisteredApp(kView32);
    }
    if (!found) {
        CScopedRegKey key;
        if (RegOpenKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Apple Computer, Inc.\\iTunes", key.Receive()) ==
                ERROR_SUCCESS &&
            ReadRegText(key.Get(), L"InstallDir", text)) {
            anyText = true;
            folder = text;
            found = !text.empty() && HasITunesExe(text);
        }
    }
    if (!found) {
        CScopedRegKey uninstall;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0, KEY_READ,
                          uninstall.Receive()) == ERROR_SUCCESS) {
            DWORD count = 0;
            RegQueryInfoKeyW(uninstall.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
            for (DWORD i = 0; i < count && !found; ++i) {
                wchar_t name[2048] = {0};
                DWORD len = 2048;
                if (RegEnumKeyExW(uninstall.Get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    continue;
                CScopedRegKey sub;
                if (RegOpenKeyExW(uninstall.Get(), name, 0, KEY_READ, sub.Receive()) != ERROR_SUCCESS) continue;
                std::wstring display;
                if (!ReadRegText(sub.Get(), L"DisplayName", display) || display.empty() ||
                    display.find(L"iTunes") == std::wstring::npos)
                    continue;
                if (!ReadRegText(sub.Get(), L"InstallLocation", text)) continue;
                anyText = true;
                folder = text;
                found = !text.empty() && HasITunesExe(text);
            }
        }
    }
    if (!anyText) return;
    if (!found || folder.empty()) {
        std::wstring programs = ShellFolder(CSIDL_COMMON_PROGRAMS);
        std::wstring lnk = CombinePath(programs, L"iTunes\\iTunes.lnk");
        wchar_t target[MAX_PATH], desc[MAX_PATH];
        if (!lnk.empty() && ResolveShortcut(lnk.c_str(), target, desc) && PathExists(target))
            folder = AppleParentFolder(target);
    }
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    exePath = CombinePath(folder, L"iTunes.exe");
    is64 = (!exePath.empty() && GetPeBitness(exePath.c_str()) == 64) ? 1 : 0;
}

namespace {

// The five registry attempts shared by both support folders; the first value read wins.
bool ReadAppleSupportValue(const wchar_t* keyTail, const wchar_t* value, std::wstring& out) {
    const std::wstring key = std::wstring(L"SOFTWARE\\Apple Inc.\\") + keyTail;
    const std::wstring wowKey = std::wstring(L"SOFTWARE\\Wow6432Node\\Apple Inc.\\") + keyTail;
    if (IsNativeOs64()) {
        if (ReadHklmText(key.c_str(), kView64, value, out) || ReadHklmText(wowKey.c_str(), kView64, value, out) ||
            ReadHklmText(wowKey.c_str(), kView32, value, out))
            return true;
    }
    return ReadHklmText(key.c_str(), KEY_QUERY_VALUE, value, out) || ReadHklmText(key.c_str(), kView32, value, out);
}

}  // namespace

void FindAppleApplicationSupport(std::wstring& folder, int itunes64) {
    folder.clear();
    std::wstring text;
    if (ReadAppleSupportValue(L"Apple Application Support", L"InstallDir", text)) {
        folder = text;
        return;
    }
    std::wstring cand = CombinePath(ShellFolder(CSIDL_PROGRAM_FILES_COMMON), L"Apple\\Apple Application Support");
    if (!PathExists(cand) && IsNativeOs64() && !itunes64)
        cand = CombinePath(ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86), L"Apple\\Apple Application Support");
    if (PathExists(cand)) folder = cand;
}

void FindAppleMobileDeviceSupport(std::wstring& folder, int itunes64) {
    folder.clear();
    std::wstring text;
    if (ReadAppleSupportValue(L"Apple Mobile Device Support\\Shared", L"iTunesMobileDeviceDLL", text)) {
        folder = AppleParentFolder(text);
    } else {
        std::wstring cand = CombinePath(ShellFolder(CSIDL_PROGRAM_FILES_COMMON), L"Apple\\Mobile Device Support\\");
        if (PathExists(CombinePath(cand, L"iTunesMobileDevice.dll"))) {
            folder = cand;
        } else if (IsNativeOs64() && !itunes64) {
            cand = CombinePath(ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86), L"Apple\\Mobile Device Support\\");
            if (PathExists(CombinePath(cand, L"iTunesMobileDevice.dll"))) folder = cand;
        }
    }
    // Both support folders normally sit side by side; a stale registry value can point elsewhere.
    std::wstring appSupport;
    FindAppleApplicationSupport(appSupport, itunes64);
    if (PathExists(folder) && PathExists(appSupport) && AppleParentFolder(folder) != AppleParentFolder(appSupport)) {
        std::wstring cand = ReplaceAll(appSupport, L"Apple Application Support", L"Mobile Device Support");
        if (PathExists(CombinePath(cand, L"iTunesMobileDevice.dll"))) folder = cand;
    }
}

void CAppleEnvironment::Clear() {
    m_nOs64 = 0;
    m_nResult = 0;
    m_nItunes64 = 0;
    m_itunes_version = VdFileVersionNumbers{0, 0, 0, 0};
    for (std::wstring* s : {&m_s_app_support_folder, &m_s_mobile_device_folder, &m_s_itunes_exe, &m_s_itunes_folder,
                            &m_s_itunes_version, &m_s_air_traffic_host_dll, &m_s_apple_sync_mapi_dll,
                            &m_s_itunes_mobile_device_dll, &m_s_mobile_device_dll, &m_s_sqlite3_dll,
                            &m_s_core_foundation_dll, &m_s_cfnetwork_dll, &m_s_itunes_dll, &m_s_itunes_core_dll,
                            &m_s_ath_exe})
        s->clear();
}

void CAppleEnvironment::Detect() {
    Clear();
    m_nOs64 = IsNativeOs64() ? 1 : 0;
    FindITunes(m_s_itunes_exe, m_s_itunes_folder, m_nItunes64);

    if (!m_s_itunes_folder.empty()) PutFolderOnProcessPath(m_s_itunes_folder);
    if (!m_s_itunes_folder.empty() && !m_s_itunes_exe.empty()) {
        m_s_itunes_version = GetFileVersionText(m_s_itunes_exe.c_str(), &m_itunes_version);
        m_s_itunes_dll = FileIn(m_s_itunes_folder, L"iTunes.dll");
        m_s_itunes_core_dll = FileIn(m_s_itunes_folder, L"iTunesCore.dll");
    }
    FindAppleApplicationSupport(m_s_app_support_folder, m_nItunes64);
    FindAppleMobileDeviceSupport(m_s_mobile_device_folder, m_nItunes64);

    if (!PathExists(m_s_itunes_exe)) m_nResult = -1;
    else m_nResult = m_nItunes64 ? 2 : 1;

    const std::wstring& mds = m_s_mobile_device_folder;
    const std::wstring& aas = m_s_app_support_folder;
    if (!mds.empty()) {
        m_s_air_traffic_host_dll = FileIn(mds, L"AirTrafficHost.dll");
        m_s_apple_sync_mapi_dll = FileIn(mds, L"AppleSyncMapiInterface.dll");
        m_s_itunes_mobile_device_dll = FileIn(mds, L"iTunesMobileDevice.dll");
        m_s_mobile_device_dll = FileIn(mds, L"MobileDevice.dll");
        m_s_ath_exe = FileIn(mds, L"ATH.exe");
        if (m_s_ath_exe.empty()) m_s_ath_exe = FileIn(aas, L"ATH.exe");
        if (m_s_ath_exe.empty() && m_nItunes64) {
            m_s_ath_exe = FileIn(ReplaceAll(mds, L"Program Files", L"Program Files (x86)"), L"ATH.exe");
            if (m_s_ath_exe.empty())
                m_s_ath_exe = FileIn(ReplaceAll(aas, L"Program Files", L"Program Files (x86)"), L"ATH.exe");
        }
    }
    if (!aas.empty()) {
        struct {
            std::wstring* field;
            const wchar_t* name;
        } libs[] = {{&m_s_sqlite3_dll, L"SQLite3.dll"},
                    {&m_s_core_foundation_dll, L"CoreFoundation.dll"},
                    {&m_s_cfnetwork_dll, L"CFNetwork.dll"}};
        for (auto& l : libs) {
            *l.field = FileIn(aas, l.name);
            if (l.field->empty()) *l.field = FileIn(mds, l.name);
        }
    }
}
