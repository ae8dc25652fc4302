// Arithmetic of the downloader: section plans, resume points, range steps, names, Content-Range.
#include <gtest/gtest.h>

#include "net/dlplan.h"

using namespace VdFoundationHttpDownload;

TEST(DownloadPlan, SectionsCoverTheFileAndTheLastTakesTheRemainder) {
    auto p = PlanSections(100, 6);
    ASSERT_EQ(6u, p.size());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(16u * i, p[i].m_ull_start);
        EXPECT_EQ(16u, p[i].m_ull_length);
    }
    EXPECT_EQ(80u, p[5].m_ull_start);
    EXPECT_EQ(20u, p[5].m_ull_length);

    // fewer bytes than sections: empty sections, the last carries everything
    p = PlanSections(4, 6);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(0u, p[i].m_ull_length);
    EXPECT_EQ(0u, p[5].m_ull_start);
    EXPECT_EQ(4u, p[5].m_ull_length);

    EXPECT_EQ(1u, PlanSections(10, 0).size());

    // above 4 GiB nothing wraps: the sections still tile the file exactly
    const uint64_t big = 5ULL * 1024 * 1024 * 1024 + 7;
    p = PlanSections(big, 6);
    uint64_t next = 0;
    for (const auto& s : p) {
        EXPECT_EQ(next, s.m_ull_start);
        next += s.m_ull_length;
    }
    EXPECT_EQ(big, next);
    EXPECT_GT(p[5].m_ull_start, 0xFFFFFFFFULL);
}

TEST(DownloadPlan, RangesStepBy131073AndEndOneBytePastTheSection) {
    std::vector<std::pair<uint64_t, uint64_t>> got;
    uint64_t cur = 0, first = 0, last = 0;
    while (NextRange(cur, 300000, first, last)) {
        got.push_back({first, last});
        cur = last + 1;
    }
    std::vector<std::pair<uint64_t, uint64_t>> want = {{0, 131072}, {131073, 262145}, {262146, 300000}};
    EXPECT_EQ(want, got);

    // a short answer continues right after the bytes received
    ASSERT_TRUE(NextRange(131073 + 5000, 300000, first, last));
    EXPECT_EQ(136073u, first);
    EXPECT_EQ(136073u + 131072, last);

    EXPECT_FALSE(NextRange(300000, 300000, first, last));
    EXPECT_FALSE(NextRange(300001, 300000, first, last));
    ASSERT_TRUE(NextRange(5000000000ULL, 5000000010ULL, first, last));
    EXPECT_EQ(5000000010ULL, last);
}

TEST(DownloadPlan, ResumePointsAndProgressInsideTheSection) {
    VdSectionPlan s = {5000, 5000};
    VdResumePoint r = ResumePoint(s, 1000);
    EXPECT_EQ(6000u, r.m_ull_start_pos);
    EXPECT_EQ(4000, r.m_ll_needed);
    EXPECT_EQ(1000, r.m_ll_file_start);
    EXPECT_EQ(1000, r.m_ll_present);

    // complete, or with the extra byte of the last range: nothing to fetch, no double count
    EXPECT_EQ(0, ResumePoint(s, 5000).m_ll_needed);
    r = ResumePoint(s, 5001);
    EXPECT_EQ(-1, r.m_ll_needed);
    EXPECT_EQ(5000, r.m_ll_present);

    r = ResumePoint(s, -1);
    EXPECT_EQ(5000u, r.m_ull_start_pos);
    EXPECT_EQ(5000, r.m_ll_needed);
    EXPECT_EQ(0, r.m_ll_file_start);

    EXPECT_EQ(10, BytesInSection(0, 10, 100));
    EXPECT_EQ(5, BytesInSection(95, 10, 100));
    EXPECT_EQ(0, BytesInSection(100, 1, 100));
    EXPECT_EQ(0, BytesInSection(5, 0, 100));
}

TEST(DownloadPlan, PartFileNamesAndContentRange) {
    std::wstring base, ext;
    SplitOutputName(L"C:\\t\\vdhttpTempOutput\\vdinst.exe", base, ext);
    EXPECT_EQ(L"vdinst", base);
    EXPECT_EQ(L".exe", ext);
    EXPECT_EQ(L"C:\\c\\vdinst_tmp_3.exe", PartFilePath(L"C:\\c\\", base, ext, 3));
    SplitOutputName(L"C:\\a.dir\\noext", base, ext);
    EXPECT_EQ(L"noext", base);
    EXPECT_EQ(L"", ext);
    SplitOutputName(L"C:\\x\\pkg.tar.gz", base, ext);
    EXPECT_EQ(L"pkg.tar", base);
    EXPECT_EQ(L".gz", ext);

    uint64_t first = 9;
    EXPECT_TRUE(ParseContentRangeFirst("bytes 6000-137072/30000", first));
    EXPECT_EQ(6000u, first);
    EXPECT_TRUE(ParseContentRangeFirst(" bytes 5000000000-5000000001/*", first));
    EXPECT_EQ(5000000000ULL, first);
    first = 9;
    EXPECT_FALSE(ParseContentRangeFirst("bytes */30000", first));
    EXPECT_FALSE(ParseContentRangeFirst("items 1-2/3", first));
    EXPECT_FALSE(ParseContentRangeFirst("bytes 99999999999999999999-1/2", first));
    EXPECT_EQ(9u, first);
}
