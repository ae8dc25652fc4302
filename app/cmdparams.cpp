#include "app/cmdparams.h"

#include <windows.h>
#include <shellapi.h>

#include "base/scoped.h"
#include "base/vdlog.h"

namespace {

const CmdOption kOptions[] = {
    {L"silent", L's', 0}, {L"SILENT", L'S', 0}, {L"install", L'i', 0},   {L"INSTALL", L'I', 0},
    {L"dir", L'd', 2},    {L"DIR", L'D', 2},    {L"mobilesvc", L'm', 0}, {L"MOBILESVC", L'M', 0},
};

const CmdOption* FindOption(const std::wstring& token, std::wstring& key) {
    for (const CmdOption& o : kOptions) {
        if (token.size() == 2 && token[0] == L'/' && token[1] == o.shortLetter) {
            key = token;
            return &o;
        }
        if (token.size() > 2 && token.compare(0, 2, L"--") == 0 && token.compare(2, std::wstring::npos, o.longName) == 0) {
            key = token.substr(2);
            return &o;
        }
    }
    return nullptr;
}

}  // namespace

CCmdParameters& CCmdParameters::Inst() {
    // never destroyed: workers left running at quit may still read it
    static CCmdParameters* s_params = new CCmdParameters();
    return *s_params;
}

signed char CCmdParameters::Parse(const wchar_t* cmdLine) {
    if (!cmdLine) return kCmdParseOk;
    const wchar_t* p = cmdLine;
    std::wstring token;
    bool error = false;
    const CmdOption* last = nullptr;
    std::wstring lastKey;
    bool lastGotValue = false;
    while (NextCmdToken(p, token, error)) {
        if (error) return kCmdParseTokenError;
        std::wstring key;
        const CmdOption* opt = FindOption(token, key);
        if (opt) {
            if (m_map_switches.count(key)) return kCmdParseDuplicate;
            if (opt->mode == 2 && last && last->mode == 2 && !lastGotValue) return kCmdParseMissingValue;
            m_map_switches[key];
            last = opt;
            lastKey = key;
            lastGotValue = false;
            continue;
        }
        if (!last) return kCmdParseValueWithoutOption;
        if (last->mode == 0) return kCmdParseValueForFlag;
        auto it = m_map_switches.find(lastKey);
        if (it == m_map_switches.end()) return kCmdParseValueWithoutOption;
        it->second.push_back(token);
        lastGotValue = true;
    }
    return kCmdParseOk;
}

signed char CCmdParameters::ParseCmdParameters(const wchar_t* cmdLine) {
    WriteLogW(L"ParseCmdParameters:%s\n", cmdLine ? cmdLine : L"");
    // an empty text records nothing whatever the splitter says: the shell is not loaded for it
    if (!cmdLine || !*cmdLine) return kCmdParseOk;
    int argc = 0;
    CScopedLocalMem argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    if (!argv.Valid()) return kCmdParseOk;
    return Parse(cmdLine);
}

bool CCmdParameters::IsSilentMode() const {
    return HasKey(L"/s") || HasKey(L"silent") || HasKey(L"/S") || HasKey(L"SILENT");
}

bool CCmdParameters::IsInstallMode() const { return HasKey(L"/i") || HasKey(L"/I"); }

bool CCmdParameters::IsHelperMRegister() const {
    return HasKey(L"/m") || HasKey(L"mobilesvc") || HasKey(L"/M") || HasKey(L"MOBILESVC");
}

std::wstring CCmdParameters::GetCmdInstallDir() const {
    // A "/d" without a folder counts as no folder: the fallbacks choose one.
    for (const wchar_t* key : {L"/d", L"/D"}) {
        auto it = m_map_switches.find(key);
        if (it != m_map_switches.end() && !it->second.empty()) return it->second.front();
    }
    return std::wstring();
}
