// Cached setup packages and the clean-up of old logs and packages in the data folder.
#pragma once
#include <ctime>
#include <string>

std::wstring GetCachedSetupPath(bool x64, const wchar_t* sub, const wchar_t* version);
// Copies `source` under the cache name of its version and architecture (through a ".tmp" file),
// `cachePath` receiving that name. True when the cache now holds it (already the same file
// included); false when there was nothing to copy or the copy or its rename failed.
bool CopySetupToCache(const wchar_t* source, bool x64, const wchar_t* sub, const wchar_t* version,
                      std::wstring& cachePath);
void CheckOldLogFile();
bool CheckOldExeFile(bool x64, const wchar_t* sub, const wchar_t* version);

// Pure rules, tested directly.
std::wstring CachedSetupFileName(bool x64, const std::wstring& sub, const std::wstring& version);
// A log name with a date in pieces 4 to 6 that lies three days or more before `now`.
bool IsExpiredLogName(const std::wstring& name, const std::tm& now);
// A cached package of the same architecture whose version is lower than `version`.
bool IsOutdatedCachedExe(const std::wstring& name, bool x64, const std::wstring& sub, const std::wstring& version);
