#include "probes/vdutils.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstring>
#include <io.h>
#include <vector>

#include "base/safefs.h"
#include "base/vdlog.h"
#include "probes/userlaunch.h"

namespace {

const DWORD kKillWaitMs = 5000;

std::wstring ProgramFilesFolder() {
    wchar_t buf[MAX_PATH] = {0};
    if (!SHGetSpecialFolderPathW(nullptr, buf, CSIDL_PROGRAM_FILES, FALSE)) return std::wstring();
    return buf;
}

}  // namespace

bool vd_execute_process(const wchar_t* app, const wchar_t* cmdLine, bool wait, DWORD* exitCode) {
    std::vector<wchar_t> cmd;
    if (cmdLine) {
        cmd.assign(cmdLine, cmdLine + wcslen(cmdLine));
        cmd.push_back(0);
    }
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // our "no crash dialog" error mode is not the child's business
    if (!CreateProcessW(app, cmd.empty() ? nullptr : cmd.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE,
                        nullptr, nullptr, &si, &pi)) {
        WriteLogW(L"CreateProcess failed (%d).\n", GetLastError());
        return false;
    }
    return FinishStartedProcess(pi, wait, exitCode);
}

bool FinishStartedProcess(PROCESS_INFORMATION& pi, bool wait, DWORD* exitCode) {
    CScopedHandle thread(pi.hThread), process(pi.hProcess);
    pi.hThread = pi.hProcess = nullptr;
    if (!wait) return true;
    if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    if (!GetExitCodeProcess(process.Get(), &code)) return false;
    if (exitCode) *exitCode = code;
    return true;
}

bool KillProcessByName(const wchar_t* exeName) {
    CScopedHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.Valid()) {
        WriteLogW(L"CreateToolhelp32Snapshot 调用失败.\n");
        return false;
    }
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    // Elevated, we could end another signed-in user's copy (fast user switching, a terminal
    // server): only processes of our own session are ours to end.
    DWORD mySession = 0;
    const bool knowMine = ProcessIdToSessionId(GetCurrentProcessId(), &mySession) != FALSE;
    for (BOOL more = Process32FirstW(snap.Get(), &pe); more; more = Process32NextW(snap.Get(), &pe)) {
        if (_wcsicmp(pe.szExeFile, exeName) != 0) continue;
        DWORD session = 0;
        if (knowMine && ProcessIdToSessionId(pe.th32ProcessID, &session) && session != mySession) continue;
        CScopedHandle proc(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pe.th32ProcessID));
        // without the right to wait, ending it still matters more than seeing it end
        if (!proc.Valid()) proc.Reset(OpenProcess(PROCESS_TERMINATE, FALSE, pe.th32ProcessID));
        // TerminateProcess only starts the end: the setup that follows must not meet files the
        // dying process still holds.
        if (proc.Valid() && TerminateProcess(proc.Get(), 0) &&
            WaitForSingleObject(proc.Get(), kKillWaitMs) != WAIT_OBJECT_0)
            WriteLogW(L"KillProcessByName %s:%u has not ended after %u ms\n", pe.szExeFile,
                      (unsigned)pe.th32ProcessID, (unsigned)kKillWaitMs);
        break;  // only the first process of that name
    }
    return true;
}

std::wstring BrowserCommandForUrl(const std::wstring& command, const std::wstring& url) {
    // a quote inside the address would end the registered quoting and add arguments
    std::wstring safe;
    for (wchar_t c : url)
        if (c != L'"') safe += c;
    std::wstring line = command;
    size_t at = line.find(L"%1");
    if (at == std::wstring::npos) return line + L" \"" + safe + L"\"";
    return line.replace(at, 2, safe);
}

namespace {
std::wstring RegDefaultValue(HKEY root, const std::wstring& sub) {
    CScopedRegKey key;
    if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return std::wstring();
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > 64 * 1024)
        return std::wstring();
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, 0);
    if (RegQueryValueExW(key.Get(), nullptr, nullptr, &type, (BYTE*)value.data(), &size) != ERROR_SUCCESS)
        return std::wstring();
    return value.data();
}

}  // namespace

bool OpenUrlInBrowser(const wchar_t* url) {
    if (!url || !*url) return false;
    // the browser must not inherit our administrator token: the desktop's shell opens it, else
    // it starts with the shell's token, else not at all
    if (ShellExecuteAsDesktopUser(url, L"")) return true;
    std::wstring u = url;
    size_t colon = u.find(L"://");
    std::wstring command;
    if (colon != std::wstring::npos && colon > 0 && colon < 16)
        command = RegDefaultValue(HKEY_CLASSES_ROOT, u.substr(0, colon) + L"\\shell\\open\\command");
    if (command.empty()) {
        std::wstring cls = RegDefaultValue(HKEY_CLASSES_ROOT, L".htm");
        if (!cls.empty()) command = RegDefaultValue(HKEY_CLASSES_ROOT, cls + L"\\shell\\open\\command");
    }
    if (command.empty()) return false;
    return StartWithShellToken(std::wstring(), BrowserCommandForUrl(command, u));
}

void OpenWebOrFolder(const wchar_t* target) {
    try {
        if (!target) return;
        std::wstring t = target, program, args;
        if (t.compare(0, 4, L"www.") == 0 || t.compare(0, 7, L"http://") == 0) {
            program = ProgramFilesFolder() + L"\\Internet Explorer\\iexplore.exe";
            args = t;
        } else {
            WIN32_FIND_DATAW fd;
            CScopedFindHandle h(FindFirstFileW(DropOneTrailingSlash(t).c_str(), &fd));
            // by its full path: a bare name is looked for in our own (Downloads) folder first
            wchar_t windows[MAX_PATH] = {0};
            UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
            if (n == 0 || n >= MAX_PATH) return;
            program = std::wstring(windows) + L"\\explorer.exe";
            args = (!h.Valid() || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ? t : L"/e,/select, " + t;
        }
        // neither Explorer nor the browser may inherit our administrator token
        StartUnelevated(program, args);
    } catch (...) {
    }
}

bool IsNativeOs64() {
    typedef void(WINAPI * GetNativeSystemInfoFn)(LPSYSTEM_INFO);
    SYSTEM_INFO si = {};
    CScopedModule k32(LoadLibraryW(L"kernel32.dll"));
    GetNativeSystemInfoFn fn = k32 ? (GetNativeSystemInfoFn)GetProcAddress(k32.Get(), "GetNativeSystemInfo") : nullptr;
    if (fn) fn(&si);
    else GetSystemInfo(&si);
    return si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
           si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

int GetPeBitness(const wchar_t* path) {
    FILE* f = _wfopen(path, L"rb");
    if (!f) return -1;
    unsigned char dos[64] = {0};
    if (fread(dos, 1, 64, f) != 64 || dos[0] != 'M' || dos[1] != 'Z') {
        fclose(f);
        return -1;
    }
    unsigned long off = dos[60] | (dos[61] << 8) | (dos[62] << 16) | ((unsigned long)dos[63] << 24);
    unsigned char nt[248] = {0};
    size_t got = 0;
    if (fseek(f, (long)off, SEEK_SET) == 0) got = fread(nt, 1, sizeof(nt), f);
    fclose(f);
    if (got < 6 || nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) return -1;
    unsigned machine = nt[4] | (nt[5] << 8);
    if (machine == 0x014C) return 32;
    if (machine == 0x0200 || machine == 0x8664) return 64;
    return -1;
}

bool IsCurrentModule64() {
    wchar_t path[MAX_PATH] = {0};
    if (!GetModuleFileNameW(nullptr, path, MAX_PATH)) {
        printf("GetModuleFileName failed (%d)\n", (int)GetLastError());
        return false;
    }
    return GetPeBitness(path) == 64;
}

std::wstring InstallDirFromUninstallString(const std::wstring& value) {
    std::wstring v = value;
    // Uninstall strings are often quoted (and may carry arguments after the closing quote):
    // the folder is that of the quoted path.
    if (!v.empty() && v.front() == L'"') {
        size_t close = v.find(L'"', 1);
        v = v.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    if (!v.empty() && v.back() == L'\\') v.pop_back();
    size_t last = v.rfind(L'\\');
    return last == std::wstring::npos ? std::wstring() : v.substr(0, last);
}

namespace {

bool ReadRegistryText(HKEY root, const std::wstring& sub, const wchar_t* valueName, REGSAM view, std::wstring& out) {
    CScopedRegKey key;
    if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) return false;
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 2, 0);
    if (RegQueryValueExW(key.Get(), valueName, nullptr, &type, (BYTE*)value.data(), &size) != ERROR_SUCCESS)
        return false;
    out = value.data();
    return true;
}

}  // namespace

bool ReadInstallDirFromRegistry(wchar_t* buffer, size_t capacity, const wchar_t* keyName) {
    if (!buffer || !keyName) return false;
    std::wstring value;
    if (wcscmp(keyName, L"Marigold") == 0) {
        if (!ReadRegistryText(HKEY_CURRENT_USER, L"Software\\Marigold\\", nullptr, 0, value)) return false;
    } else {
        std::wstring sub = std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + keyName;
        // A 64-bit product's setup registers in the 64-bit view, which a 32-bit process does not
        // see by default: that view first on a 64-bit Windows, then the 32-bit one.
        bool found = IsNativeOs64()
                         ? ReadRegistryText(HKEY_LOCAL_MACHINE, sub, L"UninstallString", KEY_WOW64_64KEY, value) ||
                               ReadRegistryText(HKEY_LOCAL_MACHINE, sub, L"UninstallString", KEY_WOW64_32KEY, value)
                         : ReadRegistryText(HKEY_LOCAL_MACHINE, sub, L"UninstallString", 0, value);
        if (!found) return false;
    }
    std::wstring folder = InstallDirFromUninstallString(value);
    if (folder.size() >= capacity) return false;
    folder = DropOneTrailingSlash(folder);
    wcscpy(buffer, folder.c_str());
    return true;
}

std::wstring SystemProgramFilesFolder(bool want64) {
    if (!IsNativeOs64()) return ProgramFilesFolder();  // one Program Files folder, whatever the package
    if (!want64) {
        wchar_t buf[MAX_PATH] = {0};
        if (SHGetSpecialFolderPathW(nullptr, buf, CSIDL_PROGRAM_FILESX86, FALSE)) return buf;
        return std::wstring();
    }
    // a 32-bit process gets no known folder for the 64-bit one: the system's own setting, else the
    // variable Windows sets from it
    std::wstring folder;
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramW6432Dir",
                         KEY_WOW64_64KEY, folder) &&
        !folder.empty())
        return folder;
    wchar_t buf[MAX_PATH] = {0};
    DWORD n = GetEnvironmentVariableW(L"ProgramW6432", buf, MAX_PATH);
    return (n > 0 && n < MAX_PATH) ? std::wstring(buf) : std::wstring();
}

std::wstring LocateProductFile(const std::wstring& folder, const std::wstring& name) {
    std::wstring path = CombinePath(folder, name);
    if (PathExists(path)) return path;
    WriteLogW(L"not exist target:%s,read from regedit\n", path.c_str());
    wchar_t dir[1024] = {0};
    ReadInstallDirFromRegistry(dir, 1024, L"Vardo3");
    std::wstring found = CombinePath(dir, name);
    WriteLogW(L"read from regedit:%s\n", found.c_str());
    return found;
}
