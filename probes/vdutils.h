// Process, shell and registry utilities shared by every room (the file helpers come with them).
#pragma once
#include <windows.h>
#include <string>

#include "base/files.h"
#include "base/scoped.h"

// With `wait`, `exitCode` (when given) receives the process's exit code; false when the program
// could not be started or its end could not be waited for.
bool vd_execute_process(const wchar_t* app, const wchar_t* cmdLine, bool wait, DWORD* exitCode = nullptr);
// Takes over a started process's handles: closes them, after waiting for its end with `wait`
// (then `exitCode`, when given, receives its exit code). False when the end or the code could
// not be had.
bool FinishStartedProcess(PROCESS_INFORMATION& pi, bool wait, DWORD* exitCode);
bool KillProcessByName(const wchar_t* exeName);
// Through the desktop user's shell, else the registered browser with the shell's token (never
// with ours); false when neither took the address.
bool OpenUrlInBrowser(const wchar_t* url);
void OpenWebOrFolder(const wchar_t* target);
bool IsNativeOs64();
bool IsCurrentModule64();
// On a 64-bit Windows the uninstall key is read from the 64-bit view first, then the 32-bit one.
bool ReadInstallDirFromRegistry(wchar_t* buffer, size_t capacity, const wchar_t* keyName);
// The system's Program Files folder for 64-bit (`want64`) or 32-bit programs; a 32-bit Windows has
// only one. Empty when the system does not say.
std::wstring SystemProgramFilesFolder(bool want64);
std::wstring LocateProductFile(const std::wstring& folder, const std::wstring& name);
// 32, 64 or -1 (not a PE file).
int GetPeBitness(const wchar_t* path);

// Pure rules behind the helpers above (no system calls).
// Folder part of an uninstall string: the quoted path when it starts with a quote, one trailing
// backslash dropped, then up to the last one.
std::wstring InstallDirFromUninstallString(const std::wstring& value);
// The registered browser command with the address in the place of "%1", its quoting kept (quotes
// inside the address dropped); without a placeholder the address is appended, quoted.
std::wstring BrowserCommandForUrl(const std::wstring& command, const std::wstring& url);
