// Version resources of executables.
#pragma once
#include <string>

// The four numbers of a file version, build first (the order the callers keep them in).
struct VdFileVersionNumbers {
    unsigned short build;
    unsigned short major;
    unsigned short minor;
    unsigned short revision;
};

// "major.minor.build.revision" of the file's fixed version information; empty text on any failure.
std::wstring GetFileVersionText(const wchar_t* path, VdFileVersionNumbers* numbers);
// Version text of the running executable; its path goes to ownPath when given.
std::wstring GetOwnVersionText(std::wstring* ownPath);
