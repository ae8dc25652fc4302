#include "telemetry/telemetryutil.h"

#include <vector>

#include "net/generichttp.h"

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
