// vdstamp: the distributor's tool that stamps business files, a channel name and a setup
// package into a copy of a finished vdInstaller.exe.
#include <windows.h>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "base/strconv.h"
#include "payload/bizrules.h"
#include "payload/rcstamp.h"

namespace {

// A console gets wide text as such; a pipe or file gets UTF-8, so scripts can read file names.
void Print(FILE* stream, const std::wstring& text) {
    HANDLE h = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
        std::wstring line = text + L"\n";
        DWORD written = 0;
        WriteConsoleW(h, line.c_str(), (DWORD)line.size(), &written, nullptr);
        return;
    }
    std::string out = WideToCodePage(text, CP_UTF8);
    fwrite(out.data(), 1, out.size(), stream);
    fputc('\n', stream);
    fflush(stream);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    StampRequest request;
    std::wstring message;
    if (!ParseStampArgs(args, request, message)) {
        Print(stderr, L"vdstamp: " + message);
        Print(stderr, StampUsageText());
        return kStampBadArgs;
    }
    if (request.help) {
        Print(stdout, StampUsageText());
        return kStampOk;
    }
    try {
        bool dropped = false;
        StampResult result = StampResources(request, message, &dropped);
        Print(result == kStampOk ? stdout : stderr, L"vdstamp: " + message);
        if (dropped)
            Print(stderr, L"vdstamp: warning: " + request.input + L" is signed; " + request.output +
                              L" carries no signature. Sign it again (scripts/sign.sh).");
        return result;
    } catch (const std::bad_alloc&) {
        Print(stderr, L"vdstamp: out of memory");
    } catch (...) {
        Print(stderr, L"vdstamp: unexpected failure");
    }
    return kStampWriteFailed;
}
