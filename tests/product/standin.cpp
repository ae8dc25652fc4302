// Stand-in for the product's programs (Vardo.exe, Launcher.exe, Helper.exe): records that it ran
// and with which command line, then ends. One line per run, UTF-8:
//   <own file name>|<command line exactly as received>
// into "vardo_runs.txt" beside the program and, when set, into the file named by VD_RUN_RECORD.
#include <windows.h>
#include <string>

namespace {

void AppendRecord(const std::wstring& path, const std::string& line) {
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(h);
}

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t self[MAX_PATH] = {0};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    size_t slash = path.rfind(L'\\');
    std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::string line = Utf8(name) + "|" + Utf8(GetCommandLineW()) + "\n";
    AppendRecord(folder + L"\\vardo_runs.txt", line);
    wchar_t extra[MAX_PATH] = {0};
    if (GetEnvironmentVariableW(L"VD_RUN_RECORD", extra, MAX_PATH) > 0) AppendRecord(extra, line);
    return 0;
}
