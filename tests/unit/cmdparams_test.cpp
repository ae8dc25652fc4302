// The installer's own command-line tokeniser and option parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cmdparams.h"

namespace {

struct Tokens {
    std::vector<std::wstring> list;
    bool error = false;
};

Tokens Split(const wchar_t* text) {
    Tokens t;
    std::wstring token;
    bool error = false;
    const wchar_t* p = text;
    while (NextCmdToken(p, token, error)) {
        t.list.push_back(token);
        if (error) t.error = true;
    }
    return t;
}

using W = std::vector<std::wstring>;

}  // namespace

TEST(CmdTokeniser, SpacesSeparateAndTabsDoNot) {
    EXPECT_EQ(Split(L"  /s   /d  x  ").list, (W{L"/s", L"/d", L"x"}));
    EXPECT_EQ(Split(L"a\tb c").list, (W{L"a\tb", L"c"}));
    EXPECT_TRUE(Split(L"").list.empty());
    EXPECT_TRUE(Split(L"     ").list.empty());
}

TEST(CmdTokeniser, QuotedSectionsKeepSpacesAndDropTheQuotes) {
    EXPECT_EQ(Split(L"/d \"C:\\My Apps\\Vardo\" /s").list, (W{L"/d", L"C:\\My Apps\\Vardo", L"/s"}));
    EXPECT_EQ(Split(L"a\"b c\"d e").list, (W{L"ab cd", L"e"}));
    EXPECT_EQ(Split(L"\"\" x").list, (W{L"", L"x"}));
}

TEST(CmdTokeniser, BackslashesInsideQuotes) {
    // two give one; one before the closing quote stays and the quote still closes
    EXPECT_EQ(Split(L"\"C:\\\\dir\"").list, (W{L"C:\\dir"}));
    EXPECT_EQ(Split(L"\"C:\\dir\\\" /s").list, (W{L"C:\\dir\\", L"/s"}));
}

TEST(CmdTokeniser, EscapesOutsideQuotes) {
    EXPECT_EQ(Split(L"a\\\\b").list, (W{L"a\\b"}));
    EXPECT_EQ(Split(L"a\\\"b").list, (W{L"a\"b"}));
    EXPECT_EQ(Split(L"a\\ b c").list, (W{L"a b", L"c"}));
}

TEST(CmdTokeniser, BackslashBeforeOrdinaryCharacterIsKeptAndClosesTheEscape) {
    // An unquoted folder must not swallow the switches after it.
    EXPECT_EQ(Split(L"/d C:\\Apps\\Vardo /s").list, (W{L"/d", L"C:\\Apps\\Vardo", L"/s"}));
    EXPECT_EQ(Split(L"\\x\\ y").list, (W{L"\\x y"}));
}

TEST(CmdTokeniser, OpenQuoteOrEscapeAtTheEndIsAnError) {
    Tokens open = Split(L"/d \"C:\\My Apps");
    EXPECT_TRUE(open.error);
    EXPECT_TRUE(Split(L"/d C:\\Apps\\").error);
    EXPECT_FALSE(Split(L"/d \"C:\\My Apps\"").error);
}

TEST(CmdParser, ResultCodes) {
    struct Case {
        const wchar_t* line;
        signed char code;
    } cases[] = {
        {L"/s", kCmdParseOk},
        {L"word /s", kCmdParseValueWithoutOption},
        {L"/s value", kCmdParseValueForFlag},
        {L"/d /D x", kCmdParseMissingValue},
        {L"/d \"open", kCmdParseTokenError},
        {L"/s /s", kCmdParseDuplicate},
        {L"--silent --silent", kCmdParseDuplicate},
        {L"/s /S --silent --SILENT /d a b /D c", kCmdParseOk},
    };
    for (const Case& c : cases) {
        CCmdParameters p;
        EXPECT_EQ(p.Parse(c.line), c.code) << std::string(c.line, c.line + wcslen(c.line));
    }
    // the unsigned view is what a caller that stores the byte sees
    EXPECT_EQ((unsigned char)kCmdParseDuplicate, 251);
    EXPECT_EQ((unsigned char)kCmdParseValueWithoutOption, 255);
}

TEST(CmdParser, FirstErrorStopsButKeepsWhatCameBefore) {
    CCmdParameters twice;
    EXPECT_EQ(twice.Parse(L"/s /m /s /i"), kCmdParseDuplicate);
    EXPECT_TRUE(twice.IsSilentMode());
    EXPECT_TRUE(twice.IsHelperMRegister());
    EXPECT_FALSE(twice.IsInstallMode());

    CCmdParameters wordFirst;
    EXPECT_EQ(wordFirst.Parse(L"hello /s"), kCmdParseValueWithoutOption);
    EXPECT_FALSE(wordFirst.IsSilentMode());
}

TEST(CmdParser, SwitchSpellingsAndQueries) {
    for (const wchar_t* line : {L"/s", L"/S", L"--silent", L"--SILENT"}) {
        CCmdParameters p;
        p.Parse(line);
        EXPECT_TRUE(p.IsSilentMode());
    }
    for (const wchar_t* line : {L"/m", L"/M", L"--mobilesvc", L"--MOBILESVC"}) {
        CCmdParameters p;
        p.Parse(line);
        EXPECT_TRUE(p.IsHelperMRegister());
    }
    CCmdParameters longInstall;
    EXPECT_EQ(longInstall.Parse(L"--install"), kCmdParseOk);
    EXPECT_FALSE(longInstall.IsInstallMode());
    CCmdParameters shortInstall;
    shortInstall.Parse(L"/I");
    EXPECT_TRUE(shortInstall.IsInstallMode());
    // options are matched exactly: other prefixes and cases are plain values
    CCmdParameters dash;
    EXPECT_EQ(dash.Parse(L"-s"), kCmdParseValueWithoutOption);
    CCmdParameters mixed;
    EXPECT_EQ(mixed.Parse(L"--Silent"), kCmdParseValueWithoutOption);
}

TEST(CmdParser, InstallDirFromTheSwitches) {
    CCmdParameters quoted;
    EXPECT_EQ(quoted.Parse(L"/d \"C:\\My Apps\\Vardo\" /s"), kCmdParseOk);
    EXPECT_EQ(quoted.GetCmdInstallDir(), L"C:\\My Apps\\Vardo");
    EXPECT_TRUE(quoted.IsSilentMode());

    CCmdParameters unquoted;
    EXPECT_EQ(unquoted.Parse(L"/d C:\\Apps\\Vardo /s"), kCmdParseOk);
    EXPECT_EQ(unquoted.GetCmdInstallDir(), L"C:\\Apps\\Vardo");
    EXPECT_TRUE(unquoted.IsSilentMode());

    CCmdParameters several;
    several.Parse(L"/D second /d first more");
    EXPECT_EQ(several.GetCmdInstallDir(), L"first");

    CCmdParameters upper;
    upper.Parse(L"/D C:\\Upper");
    EXPECT_EQ(upper.GetCmdInstallDir(), L"C:\\Upper");

    CCmdParameters longDir;
    longDir.Parse(L"--dir C:\\Long");
    EXPECT_EQ(longDir.GetCmdInstallDir(), L"");
}

TEST(CmdParser, DirSwitchWithoutValueYieldsNoFolder) {
    CCmdParameters alone;
    EXPECT_EQ(alone.Parse(L"/d /s"), kCmdParseOk);
    EXPECT_TRUE(alone.IsSilentMode());
    EXPECT_EQ(alone.GetCmdInstallDir(), L"");

    CCmdParameters atEnd;
    EXPECT_EQ(atEnd.Parse(L"/s /D"), kCmdParseOk);
    EXPECT_EQ(atEnd.GetCmdInstallDir(), L"");

    // an empty "/d" gives way to a "/D" that has one
    CCmdParameters both;
    both.Parse(L"/d /s /D C:\\Other");
    EXPECT_EQ(both.GetCmdInstallDir(), L"C:\\Other");
}

TEST(CmdParser, ParseCmdParametersRecordsNothingForAnEmptyLine) {
    CCmdParameters p;
    EXPECT_EQ(p.ParseCmdParameters(L""), kCmdParseOk);
    EXPECT_EQ(p.ParseCmdParameters(nullptr), kCmdParseOk);
    EXPECT_FALSE(p.IsSilentMode());
    EXPECT_EQ(p.ParseCmdParameters(L"/s /d \"C:\\A B\""), kCmdParseOk);
    EXPECT_TRUE(p.IsSilentMode());
    EXPECT_EQ(p.GetCmdInstallDir(), L"C:\\A B");
}
