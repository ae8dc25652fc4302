// The daily log and the installer's data folder.
#pragma once
#include <string>

void OpenLog();
// OpenLog on a chosen file (tests keep their records apart from other processes' logs).
void OpenLogFile(const std::wstring& path);
// Records written from now until the first OpenLog wait in memory and are written when it opens
// (CloseLog opens the log for them when nothing else did): finding the log's folder loads the
// shell, which the first window need not wait for.
void HoldLogUntilOpen();
void CloseLog();
void WriteLogW(const wchar_t* format, ...);
void WriteLogA(const char* format, ...);

// My Documents\<sub>\vdInstaller, created; empty when My Documents cannot be had.
std::wstring GetInstallerDataFolder(const wchar_t* sub);
// The data folder when it exists, else the user's temporary folder; always ends with a backslash.
std::wstring GetDataFolderOrTemp(const wchar_t* sub);
std::wstring GetLogFilePath();
// Whether records currently go to a file (false: standard output).
bool IsLogOpen();
