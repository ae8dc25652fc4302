// The settings menu under the title bar's setting button and what its items do.
#pragma once
#include <string>

// Value of the menu's "vdname" attribute in "setting.xml".
constexpr wchar_t kSettingMenuName[] = L"setting_menu";
constexpr wchar_t kMenuItemCollectLogs[] = L"setting_menuitem_collect_logs";
constexpr wchar_t kMenuItemWebSite[] = L"setting_menuitem_pmgw";

// Packs the logs of `dataFolder` into "vdinstLog<yyyymmdd>.zip" built in `tempFolder` (created
// when missing) and copied to `desktopFolder`. Returns the desktop archive's path, or empty text
// when it could not be put there.
std::wstring CollectLogsTo(const std::wstring& dataFolder, const std::wstring& tempFolder,
                           const std::wstring& desktopFolder);
