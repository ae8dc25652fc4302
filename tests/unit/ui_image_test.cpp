// Image strings, numbers and colours of the skin language, inline text tags, and drawing an
// image part into a real 32-bit DIB.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/UIlib.h"

using namespace DuiLib;

namespace {

TEST(UiImageString, PairsBlanksAndStops) {
    TImageAttrUI a, b;
    ASSERT_TRUE(ParseImageString(L"file='close_btn_56x26.png' source='28,0,56,26' dest='1,2,3,4'", a));
    ASSERT_TRUE(ParseImageString(L"file='close_btn_56x26.png'  source='28,0,56,26'   dest='1,2,3,4'", b));
    for (const TImageAttrUI* p : {&a, &b}) {
        EXPECT_EQ(p->sFile, L"close_btn_56x26.png");
        EXPECT_EQ(p->rcSource.left, 28);
        EXPECT_EQ(p->rcSource.right, 56);
        EXPECT_EQ(p->rcSource.bottom, 26);
        EXPECT_TRUE(p->bDest);
        EXPECT_EQ(p->rcDest.top, 2);
        EXPECT_EQ(p->rcDest.right, 3);
    }
    // a pair glued to the previous one is not read, nor anything after it
    TImageAttrUI c;
    ASSERT_TRUE(ParseImageString(L"file='a.png'source='0,0,28,26' fade='10'", c));
    EXPECT_EQ(c.sFile, L"a.png");
    EXPECT_TRUE(c.rcSource.IsZero());
    EXPECT_EQ(c.uFade, 255);
    // the last pair needs no blank after it
    TImageAttrUI d;
    ASSERT_TRUE(ParseImageString(L"file='a.png' fade='128'", d));
    EXPECT_EQ(d.uFade, 128);
    // an unterminated value ends parsing without taking the broken pair
    TImageAttrUI e;
    ASSERT_TRUE(ParseImageString(L"file='a.png' source='0,0,28", e));
    EXPECT_EQ(e.sFile, L"a.png");
    EXPECT_TRUE(e.rcSource.IsZero());
}

TEST(UiImageString, BareNamesBlanksKeysAndValues) {
    TImageAttrUI a;
    ASSERT_TRUE(ParseImageString(L"red_close_12x12.png", a));
    EXPECT_EQ(a.sFile, L"red_close_12x12.png");
    EXPECT_TRUE(a.rcSource.IsZero());  // the whole image
    EXPECT_FALSE(a.bDest);
    EXPECT_FALSE(ParseImageString(L" ", a));
    EXPECT_FALSE(ParseImageString(L"   \t", a));
    EXPECT_FALSE(ParseImageString(L"", a));
    // pairs that name no file name nothing
    EXPECT_FALSE(ParseImageString(L"dest='0,0,16,16' source='0,0,16,16'", a));

    TImageAttrUI k;
    ASSERT_TRUE(ParseImageString(L"file='x.png' restype='PNG' corner='2,3,4,5' mask='#FF00FF' fade='300' "
                                 L"hole='true' xtiled='true' ytiled='false' unknown='whatever' scale9='1,1,1,1'", k));
    EXPECT_EQ(k.sResType, L"PNG");
    EXPECT_EQ(k.rcCorner.left, 1);  // scale9 is the same key as corner, and it came last
    EXPECT_TRUE(k.bMask);
    EXPECT_EQ(k.dwMask & 0xFFFFFF, 0xFF00FFu);
    EXPECT_EQ(k.uFade, 255);  // clamped
    EXPECT_TRUE(k.bHole);
    EXPECT_TRUE(k.bTiledX);
    EXPECT_FALSE(k.bTiledY);

    TImageAttrUI r;
    ASSERT_TRUE(ParseImageString(L"res='201' restype='PNG'", r));
    EXPECT_TRUE(r.bRes);
    EXPECT_EQ(r.sFile, L"201");

    TImageAttrUI col;
    ASSERT_TRUE(ParseImageString(L"color='#80FF0000' dest='0,0,5,5'", col));
    EXPECT_TRUE(col.bColor);
    EXPECT_TRUE(col.sFile.empty());
    EXPECT_EQ(col.dwColor, 0x80FF0000u);
}

TEST(UiSkinValues, RectsColoursAndAttributeLists) {
    TRectI r = ParseRect(L"1,254,0,0");
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 254);
    r = ParseRect(L"-3,4");  // missing values stay zero
    EXPECT_EQ(r.left, -3);
    EXPECT_EQ(r.top, 4);
    EXPECT_EQ(r.right, 0);
    r = ParseRect(L"99999999999999,1,2,3");  // no overflow
    EXPECT_GT(r.left, 0);
    EXPECT_EQ(ParseColor(L"#FFFAFBFC"), 0xFFFAFBFCu);
    EXPECT_EQ(ParseColor(L"FF2B96D5"), 0xFF2B96D5u);
    EXPECT_EQ(ParseColor(L"#2B96D5"), 0xFF2B96D5u);  // six digits: opaque
    EXPECT_EQ(ParseColor(L"#"), 0u);
    EXPECT_EQ(ParseColor(nullptr), 0u);

    auto list = ParseAttributeList(L"font=\"12\"  inset=\"1,1,1,1\" bkcolor='#FFF7F7F7' broken=\"x");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].first, L"font");
    EXPECT_EQ(list[1].second, L"1,1,1,1");
    EXPECT_EQ(list[2].second, L"#FFF7F7F7");
    EXPECT_TRUE(ParseAttributeList(L"novalue").empty());
}

TEST(UiSkinValues, HtmlRunsAndUtf8) {
    auto runs = ParseHtmlText(L"{u}\x7528\x6237\x8BB8\x53EF\x534F\x8BAE{/u}");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].bUnderline);
    EXPECT_EQ(runs[0].sText.size(), 6u);
    runs = ParseHtmlText(L"a{b}b{/b}{n}{c #FFFF0000}c{/c} {x} {{");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_FALSE(runs[0].bBold);
    EXPECT_TRUE(runs[1].bBold);
    EXPECT_TRUE(runs[2].bNewLine);
    EXPECT_TRUE(runs[2].bColor);
    EXPECT_EQ(runs[2].dwColor, 0xFFFF0000u);
    EXPECT_EQ(runs[3].sText, L" {x} {");  // unknown tags stay text
    runs = ParseHtmlText(L"{u}never closed");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].bUnderline);

    // UTF-8 both ways, with a character beyond the basic plane
    std::string utf8 = "\xE5\xBE\xAE\xE8\xBD\xAF \xF0\x9F\x98\x80";
    std::wstring w = Utf8ToWide(utf8.data(), utf8.size());
    EXPECT_EQ(w, std::wstring(L"\x5FAE\x8F6F \xD83D\xDE00"));
    EXPECT_EQ(WideToUtf8(w), utf8);
    // overlong and truncated sequences are replaced, never read past the end
    std::string bad = "\xC0\xAF\xE5\xBE";
    EXPECT_EQ(Utf8ToWide(bad.data(), bad.size()), std::wstring(L"\xFFFD\xFFFD\xFFFD"));
}

// A 56x26 strip, left half red and right half blue, drawn through an image string.
class UiDraw : public ::testing::Test {
protected:
    void SetUp() override {
        m_strip = MakeDib(56, 26, &m_stripBits);
        for (int y = 0; y < 26; ++y)
            for (int x = 0; x < 56; ++x) m_stripBits[y * 56 + x] = x < 28 ? 0xFFFF0000u : 0xFF0000FFu;
        m_info.hBitmap = m_strip;
        m_info.nX = 56;
        m_info.nY = 26;
        m_target = MakeDib(56, 26, &m_targetBits);
        m_dc = CreateCompatibleDC(nullptr);
        m_old = SelectObject(m_dc, m_target);
        for (int i = 0; i < 56 * 26; ++i) m_targetBits[i] = 0xFFFFFFFFu;
    }
    void TearDown() override {
        SelectObject(m_dc, m_old);
        DeleteDC(m_dc);
        DeleteObject(m_target);
        DeleteObject(m_strip);
    }
    static HBITMAP MakeDib(int w, int h, DWORD** bits) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(bits), nullptr, 0);
    }
    void Draw(const wchar_t* image, const RECT& dest) {
        TImageAttrUI attr;
        ASSERT_TRUE(ParseImageString(image, attr));
        RECT paint = {0, 0, 56, 26};
        CRenderEngine::DrawImage(m_dc, m_info, dest, paint, CRenderEngine::ToRect(attr.rcSource),
                                 CRenderEngine::ToRect(attr.rcCorner), attr.uFade, attr.bHole, attr.bTiledX, attr.bTiledY);
        GdiFlush();
    }
    DWORD At(int x, int y) const { return m_targetBits[y * 56 + x] & 0x00FFFFFF; }

    HBITMAP m_strip = nullptr, m_target = nullptr;
    DWORD* m_stripBits = nullptr;
    DWORD* m_targetBits = nullptr;
    HDC m_dc = nullptr;
    HGDIOBJ m_old = nullptr;
    TImageInfo m_info;
};

TEST_F(UiDraw, SourceLeftHalfOfAStrip) {
    Draw(L"file='strip.png' source='0,0,28,26'", RECT{0, 0, 28, 26});
    EXPECT_EQ(At(0, 0), 0xFF0000u);
    EXPECT_EQ(At(27, 25), 0xFF0000u);
    EXPECT_EQ(At(28, 0), 0xFFFFFFu);  // nothing outside the destination
}

TEST_F(UiDraw, RightHalfAndWholeImage) {
    Draw(L"file='strip.png' source='28,0,56,26'", RECT{0, 0, 28, 26});
    EXPECT_EQ(At(0, 0), 0x0000FFu);
    EXPECT_EQ(At(27, 13), 0x0000FFu);
    Draw(L"file='strip.png'", RECT{0, 0, 56, 26});
    EXPECT_EQ(At(5, 5), 0xFF0000u);
    EXPECT_EQ(At(50, 5), 0x0000FFu);
}

TEST_F(UiDraw, SourceOutsideTheImageIsCut) {
    // a source reaching past the bitmap draws only what exists, and nothing for a source beyond it
    Draw(L"file='strip.png' source='28,0,999,999'", RECT{0, 0, 28, 26});
    EXPECT_EQ(At(10, 10), 0x0000FFu);
    for (int i = 0; i < 56 * 26; ++i) m_targetBits[i] = 0xFFFFFFFFu;
    Draw(L"file='strip.png' source='100,100,200,200'", RECT{0, 0, 28, 26});
    EXPECT_EQ(At(10, 10), 0xFFFFFFu);
}

TEST_F(UiDraw, HalfTransparentFadeBlends) {
    Draw(L"file='strip.png' source='0,0,28,26' fade='128'", RECT{0, 0, 28, 26});
    DWORD px = At(10, 10);
    // red over white at half strength: red stays full, green and blue are about half
    EXPECT_EQ((px >> 16) & 0xFF, 0xFFu);
    EXPECT_NEAR(static_cast<int>((px >> 8) & 0xFF), 127, 3);
}

}  // namespace
