#include "base/files.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <algorithm>
#include <new>
#include <vector>

#include "base/safefs.h"
#include "base/scoped.h"

namespace {

// SHFileOperation wants double-zero-terminated lists.
std::vector<wchar_t> DoubleZero(const wchar_t* path) {
    std::vector<wchar_t> buf(path, path + wcslen(path));
    buf.push_back(0);
    buf.push_back(0);
    return buf;
}

bool ShellFileOp(UINT func, const wchar_t* from, const wchar_t* to, FILEOP_FLAGS flags) {
    std::vector<wchar_t> f = DoubleZero(from), t = DoubleZero(to);
    SHFILEOPSTRUCTW op = {};
    op.wFunc = func;
    op.pFrom = f.data();
    op.pTo = t.data();
    op.fFlags = flags;
    return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

}  // namespace

std::wstring DropOneTrailingSlash(const std::wstring& path) {
    if (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) return path.substr(0, path.size() - 1);
    return path;
}

long long FileSize64(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &fad)) return -1;
    if (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (long long)(((unsigned long long)fad.nFileSizeHigh << 32) | fad.nFileSizeLow);
}

bool PathExists(const std::wstring& path) {
    if (path.empty()) return false;
    WIN32_FIND_DATAW fd;
    CScopedFindHandle h(FindFirstFileW(DropOneTrailingSlash(path).c_str(), &fd));
    return h.Valid();
}

bool DeletePath(const std::wstring& path) {
    if (path.empty()) return false;
    WIN32_FIND_DATAW fd;
    {
        CScopedFindHandle h(FindFirstFileW(DropOneTrailingSlash(path).c_str(), &fd));
        if (!h.Valid()) return false;
    }
    std::wstring bare = DropOneTrailingSlash(path);
    // a link is removed as itself: an elevated delete must never reach what a planted junction points at
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(bare.c_str()) != FALSE;
        return DeleteFileW(bare.c_str()) != FALSE;
    }
    // read-only, hidden or system folders are folders too
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return DeleteFolderTree(bare);
    return DeleteFileW(path.c_str()) != FALSE;
}

bool DeleteFolderTree(const std::wstring& folder) {
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    return DeleteTreeNoFollow(folder, true) == 0;
}

bool VdCopyFileW(const wchar_t* target, const wchar_t* source) {
    if (!target || !source || !*target || !*source) return false;
    if (CopyFileW(source, target, FALSE)) return true;
    return ShellFileOp(FO_COPY, source, target, FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR);
}

bool RenameWithFallback(const wchar_t* newPath, const wchar_t* oldPath) {
    if (!newPath || !oldPath || !*newPath || !*oldPath) return false;
    if (_wrename(oldPath, newPath) == 0) return true;
    return ShellFileOp(FO_RENAME, oldPath, newPath, FOF_NOCONFIRMATION);
}

std::wstring CombinePath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || name.empty()) return std::wstring();
    std::wstring out = folder;
    if (out.back() == L'/') out.back() = L'\\';
    if (out.back() != L'\\') out += L'\\';
    return out + name;
}

bool CreateFolderChain(const std::wstring& path) {
    if (path.empty()) return false;
    for (size_t pos = path.find(L'\\'); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1)) {
        if (pos == 0) continue;
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
    return _waccess(path.c_str(), 0) == 0;
}

ReadWholeResult ReadWholeFile(const std::wstring& path, unsigned long long maxBytes, std::string& out) {
    out.clear();
    CScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        DWORD err = GetLastError();
        return (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) ? ReadWholeResult::NotFound
                                                                           : ReadWholeResult::NotOpened;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size)) return ReadWholeResult::Failed;
    if ((unsigned long long)size.QuadPart > maxBytes) return ReadWholeResult::TooLarge;
    // a 32-bit process may not find room for a large file: say so instead of aborting
    if ((unsigned long long)size.QuadPart > out.max_size()) return ReadWholeResult::NoMemory;
    try {
        out.resize((size_t)size.QuadPart);
    } catch (const std::bad_alloc&) {
        return ReadWholeResult::NoMemory;
    }
    size_t done = 0;
    while (done < out.size()) {
        DWORD got = 0;
        DWORD chunk = (DWORD)std::min<size_t>(out.size() - done, 1 << 24);
        if (!ReadFile(file.Get(), &out[done], chunk, &got, nullptr) || got == 0) {
            out.clear();
            return ReadWholeResult::Failed;
        }
        done += got;
    }
    return ReadWholeResult::Ok;
}
