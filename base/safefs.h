// File work of an elevated process in folders that other processes can change: nothing is
// written, run or deleted through a link someone else planted.
#pragma once
#include <windows.h>

#include <string>

// True when `path` is `root` or lies below it; case-insensitive, "\\?\" prefixes and one trailing
// backslash ignored. No system calls.
bool PathLiesUnder(const std::wstring& path, const std::wstring& root);
// Where an open handle really is ("\\?\" dropped); empty when the system cannot say.
std::wstring FinalPathOfHandle(HANDLE h);

// Deletes what `folder` holds (dot-files too) and, with `removeItself`, the folder. Links are
// removed as links, never followed; an entry whose final path is not under the folder's own is
// left alone. Returns how many entries could not be deleted (0: all gone). A missing folder is
// not an error when only its contents were asked for.
int DeleteTreeNoFollow(const std::wstring& folder, bool removeItself);
// Makes `folder` a real folder of ours: a link found in its place is removed as a link (logged)
// and a folder is created. False when no real folder could be had there.
bool EnsureRealFolder(const std::wstring& folder);
// `folder` when it is or can be made a real folder; else (a link the system will not remove) a new
// folder beside it with a name of this run's own (logged). Empty when neither could be had.
std::wstring RealFolderOrFresh(const std::wstring& folder);

// Scanners hold freshly written files for a moment: these retry a sharing violation with a
// short back-off (under two seconds in all) before giving up.
HANDLE CreateFileRetryingSharing(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
bool MoveFileRetryingSharing(const wchar_t* from, const wchar_t* to, DWORD flags);

// A new folder with a name of its own, writable only by SYSTEM and Administrators (protected,
// nothing inherited), under a machine location whose every parent is owned by SYSTEM,
// Administrators or TrustedInstaller and is no link. Empty (logged) when none could be made.
std::wstring CreateProtectedRunFolder();
// The security descriptor such a folder gets, in SDDL.
const wchar_t* ProtectedFolderSddl();
