// The markup reader on broken and odd input, the skin archive reader, and the real skin
// package as the installer carries it (resource ZIPRES 122 of vdInstaller.exe).
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "ui/UIlib.h"

using namespace DuiLib;

namespace {

std::wstring ErrorOf(const std::string& text) {
    CMarkup m;
    EXPECT_FALSE(m.Load(text)) << text;
    EXPECT_FALSE(m.IsValid());
    return m.GetLastErrorMessage();
}

TEST(UiMarkup, EachBrokenFileGivesItsErrorText) {
    EXPECT_EQ(ErrorOf(""), L"File is empty");
    EXPECT_EQ(ErrorOf("\xEF\xBB\xBF"), L"File is empty");
    EXPECT_EQ(ErrorOf(std::string(CMarkup::kMaxFileSize + 1, ' ')), L"File too large");
    EXPECT_EQ(ErrorOf("just text"), L"Expected start tag");
    EXPECT_EQ(ErrorOf("   "), L"Expected start tag");
    EXPECT_EQ(ErrorOf("< Window/>"), L"Error parsing element name");
    EXPECT_EQ(ErrorOf("<Window size='1,2'"), L"Expected start-tag closing");
    EXPECT_EQ(ErrorOf("<Window/ >"), L"Expected start-tag closing");
    EXPECT_EQ(ErrorOf("<Window><Label/>"), L"Expected end-tag start");
    EXPECT_EQ(ErrorOf("<Window><!-- never closed"), L"Expected end-tag start");
    EXPECT_EQ(ErrorOf("<Window></Windows>"), L"Unmatched closing tag");
    EXPECT_EQ(ErrorOf("<Window><A></B></Window>"), L"Unmatched closing tag");
    EXPECT_EQ(ErrorOf("</Window>"), L"Unmatched closing tag");
    EXPECT_EQ(ErrorOf("<Window size></Window>"), L"Error while parsing attributes");
    EXPECT_EQ(ErrorOf("<Window a='1'b='2'/>"), L"Error while parsing attributes");
    EXPECT_EQ(ErrorOf("<Window size=580></Window>"), L"Expected attribute value");
    EXPECT_EQ(ErrorOf("<Window size='580,380></Window>"), L"Error while parsing attribute string");
}

TEST(UiMarkup, ReadsEntitiesCommentsAndTheByteOrderMark) {
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<!-- head -->\n<Window t=\"&lt;u&gt; &amp; &quot;q&quot; &apos;a&apos; &#20320;&#x597D; &bogus; & x\">\n"
        "  <Label name='one' text='\xE5\xAE\x89\xE8\xA3\x85'/>\n"
        "  <!-- <Label name='commented'/> -->\n"
        "  <Box><Label name='two'/></Box>\n"
        "</Window>\n";
    for (const std::string& text : {body, std::string("\xEF\xBB\xBF") + body}) {
        CMarkup m;
        ASSERT_TRUE(m.Load(text)) << std::string(m.GetLastErrorMessage().begin(), m.GetLastErrorMessage().end());
        CMarkupNode root = m.GetRoot();
        EXPECT_STREQ(root.GetName(), L"Window");
        EXPECT_STREQ(root.GetAttributeValue(L"t"), L"<u> & \"q\" 'a' \x4F60\x597D &bogus; & x");
        CMarkupNode one = root.GetChild();
        EXPECT_STREQ(one.GetAttributeValue(L"name"), L"one");
        EXPECT_STREQ(one.GetAttributeValue(L"text"), L"\x5B89\x88C5");
        EXPECT_EQ(one.GetAttributeValue(L"missing"), nullptr);
        // the commented element is no sibling
        CMarkupNode box = one.GetSibling();
        EXPECT_STREQ(box.GetName(), L"Box");
        EXPECT_STREQ(box.GetChild().GetAttributeValue(L"name"), L"two");
        EXPECT_FALSE(box.GetSibling().IsValid());
        EXPECT_STREQ(box.GetChild().GetParent().GetName(), L"Box");
    }
}

TEST(UiMarkup, DeepNestingAndBadBytesDoNotCrash) {
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    for (int i = 0; i < 200000; ++i) deep += "</a>";
    CMarkup m;
    ASSERT_TRUE(m.Load(deep));
    int depth = 0;
    for (CMarkupNode n = m.GetRoot(); n.IsValid(); n = n.GetChild()) ++depth;
    EXPECT_EQ(depth, 200000);
    // a failed load after a good one leaves no stale tree
    EXPECT_FALSE(m.Load(std::string("<a>")));
    EXPECT_FALSE(m.GetRoot().IsValid());
    // invalid UTF-8 becomes replacement characters, not a failure
    CMarkup bad;
    ASSERT_TRUE(bad.Load(std::string("<a t='\xFF\xC3'/>")));
    EXPECT_STREQ(bad.GetRoot().GetAttributeValue(L"t"), L"\xFFFD\xFFFD");
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR p) {
    reinterpret_cast<std::vector<WORD>*>(p)->push_back(lang);
    return TRUE;
}

// The installer's own package, read from the program file as the windows read it.
class UiSkinPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring exe = path;
        exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"vdInstaller.exe";
        s_hModule = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!s_hModule) return;
        CPaintManagerUI::SetResourceInstance(s_hModule);
        HRSRC r = FindResourceW(s_hModule, MAKEINTRESOURCEW(122), L"ZIPRES");
        HGLOBAL g = r ? LoadResource(s_hModule, r) : nullptr;
        if (g) s_zip.assign(static_cast<const char*>(LockResource(g)), SizeofResource(s_hModule, r));
    }
    void SetUp() override {
        ASSERT_NE(s_hModule, nullptr) << "vdInstaller.exe must be built beside the test";
        ASSERT_FALSE(s_zip.empty()) << "no ZIPRES 122 in vdInstaller.exe";
        ASSERT_TRUE(CPaintManagerUI::SetResourceZip(s_zip.data(), s_zip.size(), L"membuffer"));
    }
    // Builds a markup file and lays its root out in a window-less manager.
    CControlUI* Build(const wchar_t* file, CPaintManagerUI& pm, int cx, int cy) {
        CDialogBuilder builder;
        CControlUI* root = builder.Create(file, nullptr, nullptr, &pm);
        EXPECT_NE(root, nullptr) << std::string(builder.GetLastErrorMessage().begin(), builder.GetLastErrorMessage().end());
        if (root) {
            pm.AttachDialog(root);
            root->SetPos(RECT{0, 0, cx, cy});
        }
        return root;
    }
    static HMODULE s_hModule;
    static std::string s_zip;
};
HMODULE UiSkinPackage::s_hModule = nullptr;
std::string UiSkinPackage::s_zip;

// One stored member in a ZIP built by hand, so that its name can be longer than any path buffer.
std::string StoredZip(const std::string& name, const std::string& data) {
    auto u16 = [](std::string& s, unsigned v) { s += (char)(v & 0xff); s += (char)((v >> 8) & 0xff); };
    auto u32 = [&](std::string& s, unsigned long v) { u16(s, v & 0xffff); u16(s, (v >> 16) & 0xffff); };
    const unsigned long crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), (uInt)data.size());
    std::string zip = "PK\x03\x04";
    u16(zip, 20); u16(zip, 0); u16(zip, 0); u16(zip, 0); u16(zip, 0);
    u32(zip, crc); u32(zip, data.size()); u32(zip, data.size()); u16(zip, name.size()); u16(zip, 0);
    zip += name + data;
    const size_t central = zip.size();
    zip += "PK\x01\x02";
    u16(zip, 20); u16(zip, 20); u16(zip, 0); u16(zip, 0); u16(zip, 0); u16(zip, 0);
    u32(zip, crc); u32(zip, data.size()); u32(zip, data.size()); u16(zip, name.size());
    u16(zip, 0); u16(zip, 0); u16(zip, 0); u16(zip, 0); u32(zip, 0); u32(zip, 0);
    zip += name;
    const size_t centralSize = zip.size() - central;
    zip += "PK\x05\x06";
    u16(zip, 0); u16(zip, 0); u16(zip, 1); u16(zip, 1); u32(zip, centralSize); u32(zip, central); u16(zip, 0);
    return zip;
}

TEST_F(UiSkinPackage, AMemberNameLongerThanAPathIsListedWhole) {
    // minizip leaves a name that fills the caller's buffer unterminated: a fixed 512-byte buffer
    // read on past its end
    static std::string zip;
    const std::string name = std::string(600, 'n') + ".xml";
    zip = StoredZip(name, "<Window/>");
    ASSERT_TRUE(CPaintManagerUI::SetResourceZip(zip.data(), zip.size(), L"longname"));
    std::wstring names;
    ASSERT_TRUE(CResourceArchive::ListMembers(names));
    EXPECT_EQ(std::wstring(name.begin(), name.end()), names);
}

TEST_F(UiSkinPackage, HoldsTheStatedMembersAllDeflated) {
    std::wstring names;
    ASSERT_TRUE(CResourceArchive::ListMembers(names));
    int count = 1, twice = 0;
    for (wchar_t c : names) count += (c == L'\n');
    for (size_t at = names.find(L"@2x.png"); at != std::wstring::npos; at = names.find(L"@2x.png", at + 1)) ++twice;
    // the stated members, and each of the 19 pictures drawn again at twice its size
    EXPECT_EQ(count - twice, 23) << std::string(names.begin(), names.end());
    EXPECT_EQ(twice, 19);
    for (const wchar_t* m : {L"MainFrameWnd.xml", L"messagebox.xml", L"setting.xml", L"UIZIP.bat",
                             L"welcome_page_bg_580x254.png", L"success_page_bg_580x254.png", L"progress_page_bg_580x300_3.png",
                             L"btn_162x132.png", L"checkbox_48x16.png", L"msgbox_icon_34x34.png"}) {
        std::string bytes;
        const wchar_t* err = nullptr;
        EXPECT_TRUE(CResourceArchive::ReadMember(m, bytes, &err)) << std::string(m, m + wcslen(m));
        EXPECT_FALSE(bytes.empty());
    }
    // central directory: compression method 8 on every entry
    size_t pos = 0, entries = 0;
    while ((pos = s_zip.find("PK\x01\x02", pos)) != std::string::npos) {
        EXPECT_EQ(static_cast<unsigned char>(s_zip[pos + 10]), 8u) << "entry " << entries;
        ++entries;
        pos += 4;
    }
    EXPECT_EQ(entries, static_cast<size_t>(count));
    // the second window finds the archive already current
    EXPECT_EQ(CPaintManagerUI::GetResourceZip(), L"membuffer");
    // a Simplified Chinese resource
    std::vector<WORD> langs;
    EnumResourceLanguagesW(s_hModule, L"ZIPRES", MAKEINTRESOURCEW(122), CollectLanguage, reinterpret_cast<LONG_PTR>(&langs));
    EXPECT_EQ(langs, std::vector<WORD>{2052});
}

TEST_F(UiSkinPackage, MissingAndDamagedMembersGiveTheirErrors) {
    std::string bytes;
    const wchar_t* err = nullptr;
    EXPECT_FALSE(CResourceArchive::ReadMember(L"nosuch.xml", bytes, &err));
    EXPECT_STREQ(err, L"Could not find ziped file");
    CDialogBuilder builder;
    CPaintManagerUI pm;
    EXPECT_EQ(builder.Create(L"nosuch.xml", nullptr, nullptr, &pm), nullptr);
    EXPECT_EQ(builder.GetLastErrorMessage(), L"Could not find ziped file");

    // flip bytes inside the deflated data of setting.xml: the CRC or inflate check must catch it
    std::string damaged = s_zip;
    size_t hdr = damaged.find(std::string("PK\x03\x04", 4));
    while (hdr != std::string::npos && damaged.compare(hdr + 30, 11, "setting.xml") != 0)
        hdr = damaged.find(std::string("PK\x03\x04", 4), hdr + 4);
    ASSERT_NE(hdr, std::string::npos);
    unsigned nameLen = static_cast<unsigned char>(damaged[hdr + 26]) | static_cast<unsigned char>(damaged[hdr + 27]) << 8;
    unsigned extraLen = static_cast<unsigned char>(damaged[hdr + 28]) | static_cast<unsigned char>(damaged[hdr + 29]) << 8;
    size_t data = hdr + 30 + nameLen + extraLen;
    for (size_t i = data + 8; i < data + 40; ++i) damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    ASSERT_TRUE(CPaintManagerUI::SetResourceZip(damaged.data(), damaged.size(), L"membuffer"));
    EXPECT_FALSE(CResourceArchive::ReadMember(L"setting.xml", bytes, &err));
    EXPECT_STREQ(err, L"Could not unzip file");
    EXPECT_TRUE(bytes.empty());

    // not a ZIP at all
    std::string junk(4096, 'x');
    EXPECT_FALSE(CPaintManagerUI::SetResourceZip(junk.data(), junk.size(), L"membuffer"));
    EXPECT_FALSE(CResourceArchive::ReadMember(L"setting.xml", bytes, &err));
    EXPECT_STREQ(err, L"Error opening zip file");
}

TEST_F(UiSkinPackage, MainWindowMarkupNamesAndPlacesItsControls) {
    CPaintManagerUI pm;
    CControlUI* root = Build(L"MainFrameWnd.xml", pm, 580, 380);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(pm.GetInitSize().cx, 580);
    EXPECT_EQ(pm.GetInitSize().cy, 380);
    EXPECT_EQ(pm.GetCaptionRect().bottom, 32);
    EXPECT_EQ(pm.GetMinInfo().cy, 380);
    EXPECT_EQ(pm.GetMaxInfo().cy, 478);
    EXPECT_EQ(pm.FindControl(L"customui_pmsec_monitor_checkbox"), nullptr);

    auto rectOf = [&](const wchar_t* name) {
        CControlUI* c = pm.FindControl(name);
        EXPECT_NE(c, nullptr) << std::string(name, name + wcslen(name));
        return c ? c->GetPos() : RECT{-1, -1, -1, -1};
    };
    auto expectRect = [&](const wchar_t* name, LONG l, LONG t, LONG r, LONG b) {
        RECT rc = rectOf(name);
        EXPECT_EQ(rc.left, l) << std::string(name, name + wcslen(name));
        EXPECT_EQ(rc.top, t) << std::string(name, name + wcslen(name));
        EXPECT_EQ(rc.right, r) << std::string(name, name + wcslen(name));
        EXPECT_EQ(rc.bottom, b) << std::string(name, name + wcslen(name));
    };
    expectRect(L"title_h_layout", 1, 1, 579, 255);
    expectRect(L"easyui_h_layout", 1, 254, 579, 378);
    // title-bar buttons in the 200-pixel right column
    expectRect(L"settingbtn", 1 + 378 + 116, 1, 1 + 378 + 144, 27);
    expectRect(L"minbtn", 1 + 378 + 144, 1, 1 + 378 + 172, 27);
    expectRect(L"closebtn", 1 + 378 + 172, 1, 1 + 378 + 200, 27);
    expectRect(L"easyui_install_now_btn", 209, 278, 371, 318);
    expectRect(L"easyui_agree_checkbox", 23, 341, 93, 357);

    // hidden pages, and what is shown at start
    EXPECT_TRUE(pm.FindControl(L"title_h_layout")->IsVisible());
    EXPECT_FALSE(pm.FindControl(L"title_h_layout_300")->IsVisible());
    EXPECT_FALSE(pm.FindControl(L"customui_h_layout")->IsVisible());
    EXPECT_FALSE(pm.FindControl(L"customui_dir_edit")->IsVisible());  // inside a hidden page
    EXPECT_FALSE(pm.FindControl(L"installingui_failure_label")->IsVisible());

    auto* agree = static_cast<CCheckBoxUI*>(pm.FindControl(L"easyui_agree_checkbox")->GetInterface(L"CheckBox"));
    ASSERT_NE(agree, nullptr);
    EXPECT_TRUE(agree->GetCheck());
    EXPECT_EQ(pm.FindControl(L"easyui_install_now_btn")->GetShortcut(), L'N');
    EXPECT_EQ(pm.FindControl(L"customui_dir_edit")->GetText(), L"C:\\Program Files (x86)\\Vardo");
    EXPECT_STREQ(pm.FindControl(L"customui_dir_edit")->GetClass(), L"Edit");
    EXPECT_EQ(pm.FindControl(L"easyui_user_agreement_btn")->GetText(), L"{u}\x7528\x6237\x8BB8\x53EF\x534F\x8BAE{/u}");
    auto* progress = static_cast<CProgressUI*>(pm.FindControl(L"installingui_progress")->GetInterface(L"Progress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->GetValue(), 1);
    EXPECT_EQ(progress->GetMaxValue(), 100);

    // fonts: ten of them, 122 is bold at size 12
    const TFontInfo* f122 = pm.GetFontInfo(122);
    ASSERT_NE(f122, nullptr);
    EXPECT_TRUE(f122->bBold);
    EXPECT_EQ(f122->iSize, 12);
    EXPECT_EQ(f122->sFontName, L"\x5FAE\x8F6F\x96C5\x9ED1");
    EXPECT_EQ(pm.GetFontInfo(22)->iSize, 22);

    // a page switch: showing the custom page lays out its controls where the markup puts them
    pm.FindControl(L"easyui_h_layout")->SetVisible(false);
    pm.FindControl(L"customui_h_layout")->SetVisible(true);
    root->SetPos(RECT{0, 0, 580, 478});
    EXPECT_TRUE(pm.FindControl(L"customui_dir_edit")->IsVisible());
    expectRect(L"customui_dir_edit", 83, 382, 453, 414);
    expectRect(L"customui_browse_dir_btn", 469, 382, 541, 414);
    // the top-most control under a point, as the hit test asks
    CControlUI* hit = pm.FindControl(POINT{300, 300});
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->GetName(), L"customui_install_now_btn");
    hit = pm.FindControl(POINT{560, 20});
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->GetName(), L"closebtn");
    hit = pm.FindControl(POINT{100, 100});
    ASSERT_NE(hit, nullptr);
    EXPECT_STREQ(hit->GetClass(), L"Control");  // the banner's filler, not a button
}

TEST_F(UiSkinPackage, MessageBoxAndMenuMarkup) {
    CPaintManagerUI box;
    ASSERT_NE(Build(L"messagebox.xml", box, 350, 180), nullptr);
    EXPECT_EQ(box.GetCaptionRect().bottom, 180);
    EXPECT_EQ(box.GetInitSize().cx, 350);
    EXPECT_NE(box.FindControl(L"msgbox_closebtn"), nullptr);
    EXPECT_EQ(box.FindControl(L"msgbox_minbtn"), nullptr);
    RECT quit = box.FindControl(L"msgbox_quit_btn")->GetPos();
    EXPECT_EQ(quit.right - quit.left, 66);
    EXPECT_EQ(box.FindControl(L"msgbox_quit_btn")->GetText(), L"\x786E\x5B9A");
    EXPECT_EQ(box.FindControl(L"msgbox_cancel_btn")->GetText(), L"\x53D6\x6D88");

    CPaintManagerUI menu;
    CControlUI* root = Build(L"setting.xml", menu, 120, 24);
    ASSERT_NE(root, nullptr);
    auto* m = static_cast<CMenuUI*>(root->GetInterface(L"Menu"));
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->GetCustomAttribute(L"vdname"), L"setting_menu");
    EXPECT_EQ(m->GetCount(), 1);
    EXPECT_NE(menu.FindControl(L"setting_menuitem_collect_logs"), nullptr);
    EXPECT_EQ(menu.FindControl(L"setting_menuitem_pmgw"), nullptr);
    // the Default element's attribute list (quotes written as entities) reached the menu
    EXPECT_EQ(m->GetBorderSize(), 1);
    EXPECT_EQ(m->GetBorderColor(), 0xFFCED2D7u);
    EXPECT_EQ(m->GetBkColor(), 0xFFF7F7F7u);
    EXPECT_EQ(m->m_dwItemHotBkColor, 0xFF58ABD8u);
    EXPECT_EQ(m->m_rcItemTextPadding.left, 15);
    EXPECT_EQ(m->GetInset().top, 1);
}

}  // namespace
