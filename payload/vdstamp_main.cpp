// vdstamp: the distributor's tool that stamps business files, a channel name and a setup
// package into a copy of a finished vdInstaller.exe.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

#include "payload/bizrules.h"
#include "payload/rcstamp.h"

namespace {

// Wide text on a console or a pipe alike: UTF-8 bytes, so scripts can read file names.
void Print(FILE* stream, const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
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
    StampResult result = StampResources(request, message);
    Print(result == kStampOk ? stdout : stderr, L"vdstamp: " + message);
    return result;
}
