// Paths and files: existence, copy, rename, delete, folder chains and whole-file reads.
#pragma once
#include <string>

bool PathExists(const std::wstring& path);
// A file's size; -1 for a folder or a file that cannot be read.
long long FileSize64(const std::wstring& path);
// A file, or a folder with everything in it; a link is removed as itself, never followed.
bool DeletePath(const std::wstring& path);
bool DeleteFolderTree(const std::wstring& folder);
bool VdCopyFileW(const wchar_t* target, const wchar_t* source);
bool RenameWithFallback(const wchar_t* newPath, const wchar_t* oldPath);
// Empty when either part is empty; one backslash between them.
std::wstring CombinePath(const std::wstring& folder, const std::wstring& name);
bool CreateFolderChain(const std::wstring& path);
std::wstring DropOneTrailingSlash(const std::wstring& path);

enum class ReadWholeResult { Ok, NotFound, NotOpened, TooLarge, NoMemory, Failed };
// The file's bytes, refused before reading when it is larger than `maxBytes`; `out` is empty
// unless the result is Ok.
ReadWholeResult ReadWholeFile(const std::wstring& path, unsigned long long maxBytes, std::string& out);
