// Pure rules of the distributor's resources: ids, trimming, the 528 flag and the stamping
// tool's command line. No system calls, so they are tested directly.
#pragma once
#include <string>
#include <vector>

constexpr unsigned kRcBizPm = 523;      // "BIZ": business DLL or short token
constexpr unsigned kRcBizPux = 524;     // "BIZ": second business DLL or INI text
constexpr unsigned kRcBizMark = 525;    // "BIZ": marks the build
constexpr unsigned kRcVdpm = 526;       // "VDPM": the product's complete setup package
constexpr unsigned kRcChannel = 527;    // "CHANNEL": the distributor name
constexpr unsigned kRcBizFlag = 528;    // "BIZ": "0..." clears the flag
constexpr unsigned short kRcLanguage = 2052;

// Only the space character is trimmed; tabs and line ends are content.
std::string TrimSpaces(const std::string& text);
std::wstring TrimSpaces(const std::wstring& text);

// A resource name read as a decimal number, as _wtoi would: leading digits, else 0.
unsigned ResourceIdFromName(const std::wstring& name);

// The 528 flag after reading `bytes`. An empty or blank text leaves `flag` as it was.
// Returns false for a blank text (nothing to decide on).
bool ApplyBizFlagText(const std::string& bytes, bool& flag);

// The embedded setup's file for one run: "vdpm_<pid>_<unique>.exe", so two runs never share it.
std::wstring VdpmRunFileName(unsigned long pid, const std::wstring& unique);
// The process id in such a name (or in its ".tmp" companion); false for any other name.
bool VdpmRunFileOwner(const std::wstring& fileName, unsigned long& pid);

// One resource the stamping tool adds, replaces or removes.
struct StampItem {
    std::wstring kind;   // "biz523", "channel", ...
    std::wstring type;   // "BIZ", "CHANNEL", "VDPM"
    unsigned id = 0;
    std::wstring file;   // empty: remove the resource
};

struct StampRequest {
    std::wstring input;
    std::wstring output;
    std::vector<StampItem> items;
    bool help = false;
    bool drop_signature = false;  // the caller knows a signed input comes out unsigned
};

// Parses the tool's arguments (without the program name). On failure returns false and sets
// `error` to a message for the user.
bool ParseStampArgs(const std::vector<std::wstring>& args, StampRequest& request, std::wstring& error);
// Looks a kind ("biz523", "vdpm", ...) up; false when unknown.
bool StampKindToResource(const std::wstring& kind, std::wstring& type, unsigned& id);
const wchar_t* StampUsageText();
