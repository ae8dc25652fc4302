// Packs the installer's logs into a ZIP archive for support.
#pragma once
#include <string>
#include <vector>

// "vdinstLog%04d%02d%02d.zip" for today's local date.
std::wstring LogArchiveName();

// Every "*.log" under `folder`, sub-folders included.
std::vector<std::wstring> ListLogFiles(const std::wstring& folder);

// Builds the archive at `tmpZip` from the logs of `dataFolder`, closing the daily log meanwhile
// so today's file goes in complete, then copies it to `desktopZip`. Returns whether the copy is
// in place; the temporary archive is always removed.
bool BuildLogArchive(const std::wstring& dataFolder, const std::wstring& tmpZip, const std::wstring& desktopZip);
