#include "telemetry/telemetryutil.h"

#include <vector>

#include "net/generichttp.h"

std::string WideToCodePage(const wchar_t* text, UINT codePage) {
    if (!text || !*text) return std::string();
    int n = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::vector<char> out(n, 0);
    WideCharToMultiByte(codePage, 0, text, -1, out.data(), n, nullptr, nullptr);
    return std::string(out.data());
}

std::wstring CodePageToWide(const std::string& text, UINT codePage) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text.data(), (int)text.size(), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(n, L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), (int)text.size(), &out[0], n);
    return out;
}

std::string BizContentToUtf8(const std::string& content) {
    std::wstring wide = CodePageToWide(content.substr(0, content.find('\0')), 936);
    return WideToCodePage(wide.c_str(), CP_UTF8);
}

bool JoinCancelling(HANDLE thread, DWORD waitMs) {
    // A post about to finish gets a moment: cancelled, its record would go out again next run.
    if (!thread || WaitForSingleObject(thread, waitMs < 150 ? waitMs : 150) != WAIT_TIMEOUT) return true;
    DWORD start = GetTickCount();
    for (;;) {
        Utilities::GetGenericHttp().CancelInFlight();
        if (WaitForSingleObject(thread, 20) != WAIT_TIMEOUT) return true;
        if (GetTickCount() - start >= waitMs) return false;
    }
}
