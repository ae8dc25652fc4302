#include "installer/logarchive.h"

#include <windows.h>

#include <cstdio>

#include "base/strconv.h"
#include "base/vdlog.h"
#include "probes/vdutils.h"

extern "C" {
#include "zip.h"
#include "iowin32.h"
}

namespace {

// Only sub-folders whose own names match the pattern are searched, and a bare name already taken
// is skipped: entries are stored without their folders, and a ZIP with two entries of one name
// shows only one of them.
void CollectLogFiles(const std::wstring& folder, std::vector<std::wstring>& out, std::vector<std::wstring>& names) {
    WIN32_FIND_DATAW fd;
    CScopedFindHandle h(FindFirstFileW((folder + L"\\*.log").c_str(), &fd));
    if (!h.Valid()) return;
    std::vector<std::wstring> subs;
    do {
        const std::wstring path = folder + L"\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // a link could lead back up the tree
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) subs.push_back(path);
            continue;
        }
        bool taken = false;
        for (const std::wstring& n : names) taken = taken || _wcsicmp(n.c_str(), fd.cFileName) == 0;
        if (taken) {
            WriteLogW(L"skip log of a name already packed:%s\n", path.c_str());
            continue;
        }
        names.push_back(fd.cFileName);
        out.push_back(path);
    } while (FindNextFileW(h.Get(), &fd));
    for (const std::wstring& sub : subs) CollectLogFiles(sub, out, names);
}

bool AddFile(zipFile zf, const std::wstring& path) {
    FILE* in = _wfopen(path.c_str(), L"rb");
    if (!in) return false;
    std::wstring bare = path.substr(path.rfind(L'\\') + 1);
    zip_fileinfo info = {};
    SYSTEMTIME st;
    GetLocalTime(&st);
    info.tmz_date.tm_year = st.wYear;
    info.tmz_date.tm_mon = st.wMonth - 1;
    info.tmz_date.tm_mday = st.wDay;
    info.tmz_date.tm_hour = st.wHour;
    info.tmz_date.tm_min = st.wMinute;
    info.tmz_date.tm_sec = st.wSecond;
    bool ok = zipOpenNewFileInZip64(zf, WideToCodePage(bare, 936).c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                    Z_DEFAULT_COMPRESSION, 1) == ZIP_OK;
    char buf[16384];
    size_t n;
    while (ok && (n = fread(buf, 1, sizeof(buf), in)) > 0) ok = zipWriteInFileInZip(zf, buf, (unsigned)n) == ZIP_OK;
    fclose(in);
    if (zipCloseFileInZip(zf) != ZIP_OK) ok = false;
    return ok;
}

}  // namespace

std::wstring LogArchiveName() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t name[64];
    _snwprintf(name, 64, L"vdinstLog%04d%02d%02d.zip", st.wYear, st.wMonth, st.wDay);
    name[63] = 0;
    return name;
}

std::vector<std::wstring> ListLogFiles(const std::wstring& folder) {
    std::vector<std::wstring> out;
    std::vector<std::wstring> names;
    if (!folder.empty()) CollectLogFiles(folder, out, names);
    return out;
}

bool BuildLogArchive(const std::wstring& dataFolder, const std::wstring& tmpZip, const std::wstring& desktopZip) {
    DeleteFileW(tmpZip.c_str());
    // Opened by its wide path: a profile outside code page 936 must not lose the archive.
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    zipFile zf = zipOpen2_64(tmpZip.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
    WriteLogW(L"tmp zip path:%s,desktop zip path:%s\n", tmpZip.c_str(), desktopZip.c_str());
    if (!zf) {
        WriteLogW(L"create zip failure...\n");
        return false;
    }
    std::vector<std::wstring> logs = ListLogFiles(dataFolder);
    CloseLog();
    for (const std::wstring& f : logs) AddFile(zf, f);
    zipClose(zf, nullptr);
    OpenLog();

    bool placed = false;
    if (PathExists(tmpZip)) {
        placed = CopyFileW(tmpZip.c_str(), desktopZip.c_str(), FALSE) || VdCopyFileW(desktopZip.c_str(), tmpZip.c_str());
    } else {
        WriteLogW(L"not exist zip file\n");
    }
    DeleteFileW(tmpZip.c_str());
    return placed;
}
