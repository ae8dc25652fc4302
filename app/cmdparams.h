// The installer's command-line switches.
#pragma once
#include <map>
#include <string>
#include <vector>

struct CmdOption {
    const wchar_t* longName;
    wchar_t shortLetter;
    int mode;  // 0: no value, 2: takes values
};

enum CmdParseResult : signed char {
    kCmdParseOk = 0,
    kCmdParseValueWithoutOption = -1,
    kCmdParseValueForFlag = -2,
    kCmdParseMissingValue = -3,
    kCmdParseTokenError = -4,
    kCmdParseDuplicate = -5,
};

// Splits one token off `text` (advancing it). Returns false when the text is used up; sets
// `error` when it ends inside a quoted section or an escape.
bool NextCmdToken(const wchar_t*& text, std::wstring& token, bool& error);

class CCmdParameters {
public:
    static CCmdParameters& Inst();

    signed char ParseCmdParameters(const wchar_t* cmdLine);
    // The parser alone, without the system splitter's check or the log line.
    signed char Parse(const wchar_t* cmdLine);

    bool IsSilentMode() const;
    bool IsInstallMode() const;
    bool IsHelperMRegister() const;
    std::wstring GetCmdInstallDir() const;

    bool HasKey(const std::wstring& key) const { return m_map_switches.count(key) != 0; }
    void Clear() { m_map_switches.clear(); }

    std::wstring m_s_setup_path;
    std::wstring m_s_inst_folder;

private:
    std::map<std::wstring, std::vector<std::wstring>> m_map_switches;
};
