// Parts of an installation, each timed on its own inside one process:
//   installbench md5 FILE                       the package digest as the workflow computes it
//   installbench setup SETUP FOLDER VERSION     the silent setup runs with the product check
// Prints "ms=<milliseconds> ok=<0|1>" (and "md5=<digest>" for md5).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "installer/instjob.h"

namespace {
double NowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return c.QuadPart * 1000.0 / f.QuadPart;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && !wcscmp(argv[1], L"md5")) {
        double t0 = NowMs();
        std::string md5 = GetFileMd5W(argv[2]);
        double ms = NowMs() - t0;
        printf("ms=%.1f ok=%d md5=%s\n", ms, md5.empty() ? 0 : 1, md5.c_str());
        return md5.empty() ? 1 : 0;
    }
    if (argc >= 5 && !wcscmp(argv[1], L"setup")) {
        InstallCheckInput check;
        check.serverVersion = argv[4];
        auto job = MakeInstallJob(nullptr, argv[2], argv[3], check);
        double t0 = NowMs();
        int runs = 0;
        bool ok = RunInstallJob(*job, &runs);
        double ms = NowMs() - t0;
        printf("ms=%.1f ok=%d runs=%d\n", ms, ok ? 1 : 0, runs);
        return ok ? 0 : 1;
    }
    fwprintf(stderr, L"usage: installbench md5 FILE | setup SETUP FOLDER VERSION\n");
    return 2;
}
