// Where Apple's desktop software lives and whether iTunes is a 64-bit program: this decides which
// package bitness the server is asked for.
#pragma once
#include <string>

#include "probes/fileversion.h"

class CAppleEnvironment {
public:
    CAppleEnvironment() { Clear(); }
    void Clear();
    // Fills every field from the registry, the file system and the Start-menu shortcut, and puts
    // the iTunes folder on this process's PATH.
    void Detect();

    int m_nOs64;
    int m_nResult;  // 2: 64-bit iTunes, 1: other iTunes, -1: no iTunes executable
    std::wstring m_s_app_support_folder;
    std::wstring m_s_mobile_device_folder;
    std::wstring m_s_itunes_exe;
    int m_nItunes64;
    std::wstring m_s_itunes_folder;  // without a trailing separator
    VdFileVersionNumbers m_itunes_version;
    std::wstring m_s_itunes_version;
    // Individual files, kept only when they exist.
    std::wstring m_s_air_traffic_host_dll;
    std::wstring m_s_apple_sync_mapi_dll;
    std::wstring m_s_itunes_mobile_device_dll;
    std::wstring m_s_mobile_device_dll;
    std::wstring m_s_sqlite3_dll;
    std::wstring m_s_core_foundation_dll;
    std::wstring m_s_cfnetwork_dll;
    std::wstring m_s_itunes_dll;
    std::wstring m_s_itunes_core_dll;
    std::wstring m_s_ath_exe;
};

void FindITunes(std::wstring& exePath, std::wstring& folder, int& is64);
void FindAppleApplicationSupport(std::wstring& folder, int itunes64);
void FindAppleMobileDeviceSupport(std::wstring& folder, int itunes64);
// target and description: buffers of 260 characters.
bool ResolveShortcut(const wchar_t* shortcut, wchar_t* target, wchar_t* description);

// Text up to and including the last backslash, after one trailing backslash is dropped.
std::wstring AppleParentFolder(const std::wstring& path);
// PATH with the folder put in front, unless it is already there in any letter case.
bool PrependFolderToPath(const std::wstring& path, const std::wstring& folder, std::wstring& result);
// Puts the folder in front of this process's PATH unless it is there already; the read and the
// write are one step for every caller. False when PATH was left as it was.
bool PutFolderOnProcessPath(const std::wstring& folder);
