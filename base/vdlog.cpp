#include "base/vdlog.h"

#include <windows.h>
#include <shlobj.h>
#include <share.h>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "vd_endpoints.h"

namespace {

constexpr size_t kLogChars = 512;

// One lock for the whole process life. Records, CloseLog and OpenLog all take it, so a record
// lands wholly in the old file, wholly in the new one, or on standard output, and never in a
// stream that another thread is closing.
struct LogState {
    std::mutex lock;
    FILE* file = nullptr;
    // Records written before the first OpenLog, when HoldLogUntilOpen asked for it.
    bool holding = false;
    std::string held;
};

constexpr size_t kHeldBytes = 64 * 1024;

LogState& State() {
    static LogState* s = new LogState();  // never destroyed: workers may log during exit
    return *s;
}

struct LogLock : std::lock_guard<std::mutex> {
    LogLock() : std::lock_guard<std::mutex>(State().lock) {}
};

void EmitNarrow(const char* text) {
    LogState& s = State();
    if (s.file) fputs(text, s.file);
    else if (s.holding && s.held.size() + strlen(text) <= kHeldBytes) s.held += text;
    else fputs(text, stdout);
}

void EmitWide(const wchar_t* text) {
    // The file holds code page 936 whatever the user's ANSI code page is.
    char buf[kLogChars * 2 + 4];
    int n = WideCharToMultiByte(936, 0, text, -1, buf, sizeof(buf), nullptr, nullptr);
    if (n <= 0) return;
    buf[sizeof(buf) - 1] = 0;
    EmitNarrow(buf);
}

// VD_LOG_MS=1 in the environment adds milliseconds to every time line: a trace for finding where
// a run waits. The log's usual form is left alone otherwise.
bool TraceMilliseconds() {
    static const bool on = [] {
        wchar_t v[8] = {0};
        return GetEnvironmentVariableW(L"VD_LOG_MS", v, 8) > 0 && v[0] == L'1';
    }();
    return on;
}

void FormatSeparator(char* buf, size_t size) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    if (TraceMilliseconds())
        _snprintf(buf, size, "------------Time:%4u/%02u/%02u %02u:%02u:%02u.%03u---------------\n", st.wYear,
                  st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    else
        _snprintf(buf, size, "------------Time:%4u/%02u/%02u %02u:%02u:%02u---------------\n", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
    buf[size - 1] = 0;
}

void Finish() {
    if (State().file) fflush(State().file);
    else fflush(stdout);
}

// One record: the separator line, then the message, narrow or wide, under the log's lock.
void WriteRecord(const char* narrow, const wchar_t* wide) {
    LogLock lock;
    char sep[kLogChars];
    FormatSeparator(sep, sizeof(sep));
    EmitNarrow(sep);
    if (wide) EmitWide(wide);
    else EmitNarrow(narrow);
    Finish();
}

}  // namespace

std::wstring GetInstallerDataFolder(const wchar_t* sub) {
    wchar_t docs[MAX_PATH] = {0};
    bool ok = false;
    LPITEMIDLIST pidl = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &pidl)) && pidl) {
        ok = SHGetPathFromIDListW(pidl, docs) != FALSE;
        CoTaskMemFree(pidl);
    }
    if (!ok || !docs[0]) ok = SHGetSpecialFolderPathW(nullptr, docs, CSIDL_PERSONAL, FALSE) != FALSE;
    if (!ok || !docs[0]) return std::wstring();

    wchar_t longPath[MAX_PATH] = {0};
    DWORD n = GetLongPathNameW(docs, longPath, MAX_PATH);
    std::wstring path = (n > 0 && n < MAX_PATH) ? longPath : docs;
    if (path.back() != L'\\') path += L'\\';
    path += sub ? sub : L"";
    CreateDirectoryW(path.c_str(), nullptr);
    path += L"\\vdInstaller";
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

std::wstring GetDataFolderOrTemp(const wchar_t* sub) {
    std::wstring folder = GetInstallerDataFolder(sub);
    DWORD attrs = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        wchar_t tmp[MAX_PATH + 1] = {0};
        DWORD n = GetTempPathW(MAX_PATH, tmp);
        folder = (n > 0 && n <= MAX_PATH) ? tmp : L"";
    }
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

std::wstring GetLogFilePath() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t name[64];
    _snwprintf(name, 64, L"vd_online_installer_%04d_%02d_%02d.log", st.wYear, st.wMonth, st.wDay);
    name[63] = 0;
    return GetDataFolderOrTemp(VD_PRODUCT_NAME) + name;
}

void OpenLog() { OpenLogFile(GetLogFilePath()); }

void OpenLogFile(const std::wstring& path) {
    LogLock lock;
    setlocale(LC_ALL, "chs");
    LogState& s = State();
    if (s.file) return;
    s.file = _wfsopen(path.c_str(), L"a+t", _SH_DENYNO);
    if (!s.holding) return;
    // held records first, in their order; with no file they go where records without one go
    fputs(s.held.c_str(), s.file ? s.file : stdout);
    fflush(s.file ? s.file : stdout);
    s.held = std::string();
    s.holding = false;
}

void HoldLogUntilOpen() {
    LogLock lock;
    if (!State().file) State().holding = true;
}

void CloseLog() {
    bool heldOnly = false;
    {
        LogLock lock;
        heldOnly = !State().file && State().holding;
    }
    if (heldOnly) OpenLog();  // a run that ends before its log opened still leaves its records
    LogLock lock;
    if (State().file) {
        fclose(State().file);
        State().file = nullptr;
    }
}

bool IsLogOpen() {
    LogLock lock;
    return State().file != nullptr;
}

void WriteLogW(const wchar_t* format, ...) {
    if (!format) return;
    wchar_t msg[kLogChars];
    va_list args;
    va_start(args, format);
    _vsnwprintf(msg, kLogChars - 1, format, args);
    va_end(args);
    msg[kLogChars - 1] = 0;  // cut at 511 characters
    WriteRecord(nullptr, msg);
}

void WriteLogA(const char* format, ...) {
    if (!format) return;
    char msg[kLogChars];
    va_list args;
    va_start(args, format);
    _vsnprintf(msg, kLogChars - 1, format, args);
    va_end(args);
    msg[kLogChars - 1] = 0;  // cut at 511 bytes
    WriteRecord(msg, nullptr);
}
