// Pure rules of the distributor resources and the stamping tool's command line.
#include <gtest/gtest.h>

#include "payload/bizrules.h"

TEST(PayloadRules, TrimSpacesTouchesOnlySpaces) {
    EXPECT_EQ(TrimSpaces(std::string("  vardox  ")), "vardox");
    EXPECT_EQ(TrimSpaces(std::string("\tx \r\n")), "\tx \r\n");
    EXPECT_EQ(TrimSpaces(std::string("    ")), "");
    EXPECT_EQ(TrimSpaces(std::string("")), "");
    EXPECT_EQ(TrimSpaces(std::wstring(L" a b ")), L"a b");
}

TEST(PayloadRules, ResourceIdFromNameReadsLeadingDigits) {
    EXPECT_EQ(ResourceIdFromName(L"523"), 523u);
    EXPECT_EQ(ResourceIdFromName(L"528abc"), 528u);
    EXPECT_EQ(ResourceIdFromName(L"BIZ"), 0u);
    EXPECT_EQ(ResourceIdFromName(L""), 0u);
    EXPECT_EQ(ResourceIdFromName(L"99999999999999999999"), 0u);
}

TEST(PayloadRules, Flag528) {
    bool flag = true;
    EXPECT_TRUE(ApplyBizFlagText("0", flag));
    EXPECT_FALSE(flag);
    EXPECT_TRUE(ApplyBizFlagText("  1  ", flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(ApplyBizFlagText("   0abc", flag));
    EXPECT_FALSE(flag);
    // a blank text decides nothing, whatever the flag was
    flag = true;
    EXPECT_FALSE(ApplyBizFlagText("     ", flag));
    EXPECT_TRUE(flag);
    flag = false;
    EXPECT_FALSE(ApplyBizFlagText(" ", flag));
    EXPECT_FALSE(flag);
}

TEST(PayloadRules, EmbeddedSetupNamesCarryTheirRun) {
    unsigned long pid = 0;
    EXPECT_EQ(VdpmRunFileName(4242, L"1a2b3c4d"), L"vdpm_4242_1a2b3c4d.exe");
    EXPECT_TRUE(VdpmRunFileOwner(VdpmRunFileName(4294967295ul, L"x"), pid));
    EXPECT_EQ(pid, 4294967295ul);
    EXPECT_TRUE(VdpmRunFileOwner(L"vdpm_17_ab.exe.tmp", pid));
    EXPECT_EQ(pid, 17ul);
    // anything else is not a run's file and is never swept
    for (const wchar_t* other : {L"vdpm.exe", L"vdpm_.exe", L"vdpm__ab.exe", L"vdpm_12_.exe", L"vdpm_1x_ab.exe",
                                 L"vdpm_4294967296_ab.exe", L"vdpm_12_ab.exe.bak", L"vdpm_12_ab.dll", L"setup_12_ab.exe"})
        EXPECT_FALSE(VdpmRunFileOwner(other, pid)) << other;
}

TEST(StampArgs, AcceptsEveryResourceKind) {
    StampRequest r;
    std::wstring error;
    ASSERT_TRUE(ParseStampArgs({L"--biz523", L"a.dll", L"in.exe", L"--biz524", L"b.ini", L"--biz525", L"c",
                                L"--biz528", L"d", L"--channel", L"ch.txt", L"--vdpm", L"setup.exe", L"out.exe"},
                               r, error))
        << std::string(error.begin(), error.end());
    EXPECT_EQ(r.input, L"in.exe");
    EXPECT_EQ(r.output, L"out.exe");
    ASSERT_EQ(r.items.size(), 6u);
    EXPECT_EQ(r.items[0].type, L"BIZ");
    EXPECT_EQ(r.items[0].id, 523u);
    EXPECT_EQ(r.items[0].file, L"a.dll");
    EXPECT_EQ(r.items[4].type, L"CHANNEL");
    EXPECT_EQ(r.items[4].id, 527u);
    EXPECT_EQ(r.items[5].type, L"VDPM");
    EXPECT_EQ(r.items[5].id, 526u);

    ASSERT_TRUE(ParseStampArgs({L"in.exe", L"out.exe", L"--remove", L"vdpm"}, r, error));
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_TRUE(r.items[0].file.empty());
    EXPECT_EQ(r.items[0].id, 526u);

    ASSERT_TRUE(ParseStampArgs({L"--help"}, r, error));
    EXPECT_TRUE(r.help);
}

TEST(StampArgs, RejectsBadCommandLines) {
    const std::vector<std::vector<std::wstring>> bad = {
        {},                                                     // nothing at all
        {L"--vdpm", L"s.exe", L"in.exe"},                       // no output
        {L"--vdpm", L"s.exe", L"in.exe", L"out.exe", L"x"},     // a third file name
        {L"in.exe", L"out.exe"},                                // nothing to stamp
        {L"in.exe", L"out.exe", L"--vdpm"},                     // option without its file
        {L"in.exe", L"out.exe", L"--biz999", L"f"},             // unknown resource
        {L"in.exe", L"out.exe", L"--remove", L"icon"},          // unknown resource to remove
        {L"in.exe", L"out.exe", L"--vdpm", L"a", L"--remove", L"vdpm"},  // same resource twice
        {L"in.exe", L"out.exe", L"--channel", L""},             // empty file name
    };
    for (const auto& args : bad) {
        StampRequest r;
        std::wstring error;
        EXPECT_FALSE(ParseStampArgs(args, r, error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
}
