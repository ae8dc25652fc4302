// Markup to controls (and one bare window): the builder's rules, the layouts, and the controls'
// state and notifications as the installer's windows rely on them; decoding the skin's PNGs.
#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ui/UIlib.h"

using namespace DuiLib;

namespace {

// Records notifications; may act on them through a hook.
class CRecorder : public INotifyUI {
public:
    void Notify(TNotifyUI& msg) override {
        std::wstring line = msg.sType + L" " + (msg.pSender ? msg.pSender->GetName() : L"");
        if (msg.sType == L"click" && msg.pSender && msg.pSender->GetInterface(L"CheckBox"))
            line += static_cast<CCheckBoxUI*>(msg.pSender->GetInterface(L"CheckBox"))->GetCheck() ? L" on" : L" off";
        seen.push_back(line);
        if (hook) hook(msg);
    }
    std::vector<std::wstring> seen;
    std::function<void(TNotifyUI&)> hook;
};

CControlUI* BuildText(CPaintManagerUI& pm, const char* xml, IDialogBuilderCallback* cb = nullptr) {
    CDialogBuilder b;
    CControlUI* root = b.CreateFromText(xml, cb, &pm);
    if (root) pm.AttachDialog(root);
    return root;
}

RECT Pos(CPaintManagerUI& pm, const wchar_t* name) {
    CControlUI* c = pm.FindControl(name);
    return c ? c->GetPos() : RECT{-1, -1, -1, -1};
}

#define EXPECT_RECT(rc, l, t, r, b)  \
    do {                             \
        RECT _r = (rc);              \
        EXPECT_EQ(_r.left, l);       \
        EXPECT_EQ(_r.top, t);        \
        EXPECT_EQ(_r.right, r);      \
        EXPECT_EQ(_r.bottom, b);     \
    } while (0)

TEST(UiLayout, StacksFixedAndSharedSizesWithinLimits) {
    CPaintManagerUI pm;
    CControlUI* root = BuildText(pm, R"(<Window>
      <VerticalLayout inset="10,5,10,5" childpadding="4">
        <Control name="fixed" height="20"/>
        <HorizontalLayout name="row" childpadding="2">
          <Control name="a" width="30"/><Control name="b"/><Control name="c" maxwidth="50"/>
        </HorizontalLayout>
        <Control name="hidden" height="40" visible="false"/>
        <Control name="floating" float="true" pos="3,4,0,0" width="7" height="8"/>
        <Control name="last" height="10" width="25"/>
      </VerticalLayout></Window>)");
    ASSERT_NE(root, nullptr);
    root->SetPos(RECT{0, 0, 200, 100});
    EXPECT_RECT(Pos(pm, L"fixed"), 10, 5, 190, 25);
    // the row takes what is left: 90 - 20 - 10 - 2 paddings of 4
    EXPECT_RECT(Pos(pm, L"row"), 10, 29, 190, 81);
    // 180 wide: a fixed 30, b and c share the rest, c kept at its maximum
    EXPECT_RECT(Pos(pm, L"a"), 10, 29, 40, 81);
    EXPECT_EQ(Pos(pm, L"b").left, 42);
    EXPECT_EQ(Pos(pm, L"c").right - Pos(pm, L"c").left, 50);
    EXPECT_RECT(Pos(pm, L"last"), 10, 85, 35, 95);
    EXPECT_RECT(Pos(pm, L"floating"), 3, 4, 10, 12);  // from the parent's corner, not its inset
    // showing the hidden one gives it its place and moves what follows
    pm.FindControl(L"hidden")->SetVisible(true);
    root->SetPos(RECT{0, 0, 200, 100});
    EXPECT_EQ(Pos(pm, L"hidden").bottom - Pos(pm, L"hidden").top, 40);
    EXPECT_GT(Pos(pm, L"last").top, Pos(pm, L"hidden").bottom);
}

TEST(UiLayout, FloatPositionsBySizeOrCornersAndMaxHeight) {
    CPaintManagerUI pm;
    CControlUI* root = BuildText(pm, R"(<Window><VerticalLayout>
        <Control name="bysize" float="true" pos="5,6,0,0" width="10" height="11"/>
        <Control name="bycorners" float="true" pos="5,6,25,36"/>
        <VerticalLayout name="capped" float="true" pos="0,50,0,0" width="20" height="300" maxheight="120"/>
      </VerticalLayout></Window>)");
    ASSERT_NE(root, nullptr);
    root->SetPos(RECT{100, 200, 400, 600});
    EXPECT_RECT(Pos(pm, L"bysize"), 105, 206, 115, 217);
    EXPECT_RECT(Pos(pm, L"bycorners"), 105, 206, 125, 236);
    EXPECT_EQ(Pos(pm, L"capped").bottom - Pos(pm, L"capped").top, 120);
}

TEST(UiLayout, MarkupLengthsAndFontsScaleWithTheDpi) {
    const char* xml = R"(<Window><Font id="1" name="Tahoma" size="12" default="true"/>
      <VerticalLayout inset="10,4,10,4" childpadding="4">
        <Control name="fixed" height="20"/><Control name="next" height="10"/>
        <Control name="floating" float="true" pos="3,4,0,0" width="8" height="8"/>
      </VerticalLayout></Window>)";
    CPaintManagerUI plain, scaled;
    scaled.SetDPI(144);
    CControlUI* root = BuildText(scaled, xml);
    ASSERT_NE(BuildText(plain, xml), nullptr);
    ASSERT_NE(root, nullptr);
    root->SetPos(RECT{0, 0, 300, 150});
    EXPECT_RECT(Pos(scaled, L"fixed"), 15, 6, 285, 36);
    EXPECT_RECT(Pos(scaled, L"next"), 15, 42, 285, 57);  // after a padding of 6
    EXPECT_RECT(Pos(scaled, L"floating"), 5, 6, 17, 18);  // 4.5 rounds up, as MulDiv does
    const int h96 = plain.GetFontInfo(1)->tm.tmHeight, h144 = scaled.GetFontInfo(1)->tm.tmHeight;
    EXPECT_GT(h144 * 4, h96 * 5) << h96 << " " << h144;  // cell heights round, so not exactly 1.5
    // back to 100 % (a move to another screen): fonts and lengths as the markup says
    scaled.SetDPI(96);
    root->SetPos(RECT{0, 0, 300, 150});
    EXPECT_RECT(Pos(scaled, L"fixed"), 10, 4, 290, 24);
    EXPECT_EQ(scaled.GetFontInfo(1)->tm.tmHeight, h96);

    // Windows 8.1 to 10 1511 have only the monitor's DPI: that path must give the window's
    HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(CPaintManagerUI::GetWindowDpi(w), CPaintManagerUI::GetMonitorDpi(w));
    DestroyWindow(w);
}

TEST(UiAccess, NamesRolesStatesValuesAndWhatIsListed) {
    CPaintManagerUI pm;
    CControlUI* root = BuildText(pm, R"(<Window><VerticalLayout>
        <Label name="deco" bkimage="x.png"/>
        <Label name="pic" accname="提示" bkimage="x.png"/>
        <Button name="img" tooltip="关闭"/>
        <Button name="both" text="×" tooltip="x" accname="关闭窗口"/>
        <Button name="link" text="{u}协议{/u}" showhtml="true"/>
        <CheckBox name="agree" text="我同意" selected="true"/>
        <Edit name="dir" accname="安装路径" text="C:\x"/>
        <Progress name="bar" accname="进度" text="99%" min="100" max="300" value="174"/>
        <VerticalLayout visible="false"><Button text="hidden"/></VerticalLayout>
        <Button name="off" text="off" enabled="false"/>
      </VerticalLayout></Window>)");
    ASSERT_NE(root, nullptr);
    std::vector<CControlUI*> list;
    CollectAccessibleControls(root, list);
    std::vector<std::wstring> names;
    for (CControlUI* c : list) names.push_back(GetAccName(c));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"提示", L"关闭", L"关闭窗口", L"协议", L"我同意", L"安装路径", L"进度",
                                                L"off"}));
    auto find = [&](const wchar_t* n) { return pm.FindControl(n); };
    EXPECT_EQ(GetAccRole(find(L"pic")), ROLE_SYSTEM_GRAPHIC);
    EXPECT_EQ(GetAccRole(find(L"agree")), ROLE_SYSTEM_CHECKBUTTON);
    EXPECT_EQ(GetAccRole(find(L"dir")), ROLE_SYSTEM_TEXT);
    EXPECT_EQ(GetAccRole(find(L"bar")), ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(GetAccRole(find(L"link")), ROLE_SYSTEM_PUSHBUTTON);
    std::wstring v;
    ASSERT_TRUE(GetAccValue(find(L"bar"), v));
    EXPECT_EQ(v, L"37%");  // of its own range, not the text
    ASSERT_TRUE(GetAccValue(find(L"dir"), v));
    EXPECT_EQ(v, L"C:\\x");
    EXPECT_FALSE(GetAccValue(find(L"link"), v));
    auto* agree = static_cast<CCheckBoxUI*>(find(L"agree")->GetInterface(L"CheckBox"));
    EXPECT_TRUE(GetAccState(agree) & STATE_SYSTEM_CHECKED);
    EXPECT_EQ(GetAccDefaultAction(agree), L"Uncheck");
    agree->SetCheck(false, false);
    EXPECT_FALSE(GetAccState(agree) & STATE_SYSTEM_CHECKED);
    EXPECT_EQ(GetAccDefaultAction(agree), L"Check");
    EXPECT_EQ(GetAccDefaultAction(find(L"img")), L"Press");
    EXPECT_EQ(GetAccDefaultAction(find(L"pic")), L"");
    EXPECT_TRUE(GetAccState(find(L"off")) & STATE_SYSTEM_UNAVAILABLE);
    EXPECT_FALSE(GetAccState(find(L"off")) & STATE_SYSTEM_FOCUSABLE);
    EXPECT_TRUE(GetAccState(find(L"img")) & STATE_SYSTEM_FOCUSABLE);
}

class CCustomMaker : public IDialogBuilderCallback {
public:
    CControlUI* CreateControl(const wchar_t* cls) override {
        if (std::wstring(cls) == L"Fancy") return new CLabelUI;
        return nullptr;
    }
};

TEST(UiBuilder, DefaultsCustomClassesAndWhatItDrops) {
    CPaintManagerUI pm;
    CCustomMaker maker;
    CControlUI* root = BuildText(pm, R"(<Window size="300,200">
      <Font id="3" name="Tahoma" size="14" bold="true" default="true"/>
      <Default name="Button" value="textcolor=&quot;#FF112233&quot; text=&quot;default&quot; bordersize=&quot;2&quot;"/>
      <VerticalLayout>
        <Button name="b1"/>
        <Button name="b2" text="own"/>
        <Fancy name="custom" text="made by the callback"/>
        <Unknown name="u"><Button name="inside_unknown"/></Unknown>
        <Label name="label"><Button name="stray"/></Label>
      </VerticalLayout>
      <VerticalLayout name="second_root"/>
    </Window>)", &maker);
    ASSERT_NE(root, nullptr);
    auto* b1 = static_cast<CButtonUI*>(pm.FindControl(L"b1")->GetInterface(L"Button"));
    EXPECT_EQ(b1->GetText(), L"default");
    EXPECT_EQ(b1->GetTextColor(), 0xFF112233u);
    EXPECT_EQ(b1->GetBorderSize(), 2);
    EXPECT_EQ(pm.FindControl(L"b2")->GetText(), L"own");  // the element's own attribute wins
    ASSERT_NE(pm.FindControl(L"custom"), nullptr);
    EXPECT_EQ(pm.FindControl(L"u"), nullptr);
    EXPECT_EQ(pm.FindControl(L"inside_unknown"), nullptr);
    EXPECT_EQ(pm.FindControl(L"stray"), nullptr);
    EXPECT_EQ(pm.FindControl(L"second_root"), nullptr);
    EXPECT_TRUE(pm.GetFontInfo(999)->bBold);  // unknown ids fall back to the default font
    EXPECT_EQ(pm.GetFontInfo(999)->iSize, 14);

    // hostile nesting is cut off, not recursed into
    std::string deep = "<Window><VerticalLayout>";
    for (int i = 0; i < 5000; ++i) deep += "<VerticalLayout>";
    deep += "<Button name='deepest'/>";
    for (int i = 0; i < 5000; ++i) deep += "</VerticalLayout>";
    deep += "</VerticalLayout></Window>";
    CPaintManagerUI pm2;
    ASSERT_NE(BuildText(pm2, deep.c_str()), nullptr);
    EXPECT_EQ(pm2.FindControl(L"deepest"), nullptr);

    CDialogBuilder broken;
    CPaintManagerUI pm3;
    EXPECT_EQ(broken.CreateFromText("<Window><VerticalLayout></Window>", nullptr, &pm3), nullptr);
    EXPECT_EQ(broken.GetLastErrorMessage(), L"Unmatched closing tag");
}

class UiControls : public ::testing::Test {
protected:
    void SetUp() override {
        root = BuildText(pm, R"(<Window><VerticalLayout>
          <CheckBox name="agree" selected="true"/>
          <Button name="go" shortcut="N"/>
          <Button name="off" enabled="false"/>
          <Edit name="dir" maxchar="8"/>
          <Progress name="bar" min="10" max="20" value="15"/>
          <VerticalLayout name="page" visible="false"><Button name="hidden_btn"/></VerticalLayout>
        </VerticalLayout></Window>)");
        ASSERT_NE(root, nullptr);
        root->SetPos(RECT{0, 0, 100, 300});
        pm.AddNotifier(&rec);
    }
    CPaintManagerUI pm;
    CControlUI* root = nullptr;
    CRecorder rec;
};

TEST_F(UiControls, CheckBoxReportsClickBeforeItFlips) {
    auto* agree = static_cast<CCheckBoxUI*>(pm.FindControl(L"agree")->GetInterface(L"CheckBox"));
    ASSERT_TRUE(agree->Activate());
    EXPECT_FALSE(agree->GetCheck());
    ASSERT_EQ(rec.seen.size(), 2u);
    EXPECT_EQ(rec.seen[0], L"click agree on");  // the state at the moment of "click"
    EXPECT_EQ(rec.seen[1], L"selectchanged agree");
    rec.seen.clear();
    agree->SetCheck(true, false);  // a page switch copies the state silently
    EXPECT_TRUE(agree->GetCheck());
    EXPECT_TRUE(rec.seen.empty());
}

TEST_F(UiControls, DisabledOrHiddenControlsDoNotActOrTakeFocus) {
    EXPECT_FALSE(pm.FindControl(L"off")->Activate());
    EXPECT_FALSE(pm.FindControl(L"hidden_btn")->Activate());
    pm.SetFocus(pm.FindControl(L"off"));
    EXPECT_EQ(pm.GetFocus(), nullptr);
    pm.SetFocus(pm.FindControl(L"go"));
    EXPECT_EQ(pm.GetFocus(), pm.FindControl(L"go"));
    // disabling the focused control drops the focus with a "killfocus"
    pm.FindControl(L"go")->SetEnabled(false);
    EXPECT_EQ(pm.GetFocus(), nullptr);
    EXPECT_EQ(rec.seen.back(), L"killfocus go");
    EXPECT_TRUE(std::find(rec.seen.begin(), rec.seen.end(), L"click off") == rec.seen.end());
}

TEST_F(UiControls, TabCyclesThroughVisibleEnabledStops) {
    std::vector<std::wstring> order;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(pm.SetNextTabControl(true));
        order.push_back(pm.GetFocus()->GetName());
    }
    // agree, go, dir; then around again (off is disabled, hidden_btn hidden)
    EXPECT_EQ(order, (std::vector<std::wstring>{L"agree", L"go", L"dir", L"agree"}));
    ASSERT_TRUE(pm.SetNextTabControl(false));
    EXPECT_EQ(pm.GetFocus()->GetName(), L"dir");
}

// The percentage lies over the blue fill and the grey track at once; both colours the workflow
// uses keep 4.5:1 against their halo, whatever lies behind.
TEST(UiProgress, TextHaloContrastsWithEitherTextColour) {
    auto luminance = [](DWORD c) {
        double sum = 0;
        const double w[3] = {0.0722, 0.7152, 0.2126};  // b, g, r
        for (int i = 0; i < 3; ++i) {
            double v = ((c >> (8 * i)) & 0xFF) / 255.0;
            sum += w[i] * (v <= 0.03928 ? v / 12.92 : pow((v + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    for (DWORD text : {0xFF333333u, 0xFFFAFBFCu}) {
        double a = luminance(text), b = luminance(ProgressHaloColor(text));
        EXPECT_GE((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05), 4.5) << std::hex << text;
    }
}

TEST_F(UiControls, ValuesAreKeptInRange) {
    auto* bar = static_cast<CProgressUI*>(pm.FindControl(L"bar")->GetInterface(L"Progress"));
    EXPECT_EQ(bar->GetValue(), 15);
    bar->SetValue(99);
    EXPECT_EQ(bar->GetValue(), 20);
    bar->SetValue(-5);
    EXPECT_EQ(bar->GetValue(), 10);
    CControlUI* dir = pm.FindControl(L"dir");
    dir->SetText(L"0123456789");
    EXPECT_EQ(dir->GetText(), L"01234567");  // maxchar
}

TEST_F(UiControls, ReceiversMayLeaveDuringANotification) {
    CRecorder second;
    pm.AddNotifier(&second);
    // the first receiver removes the second and itself while "click" is delivered
    rec.hook = [&](TNotifyUI&) {
        pm.RemoveNotifier(&second);
        pm.RemoveNotifier(&rec);
    };
    pm.FindControl(L"go")->Activate();
    EXPECT_EQ(rec.seen.size(), 1u);
    EXPECT_TRUE(second.seen.empty());
    pm.FindControl(L"go")->Activate();
    EXPECT_EQ(rec.seen.size(), 1u);
}

TEST_F(UiControls, DeletedControlsLeaveNoDanglingFocusOrHot) {
    auto* page = static_cast<CContainerUI*>(root->GetInterface(L"Container"));
    CControlUI* go = pm.FindControl(L"go");
    pm.SetFocus(go);
    ASSERT_EQ(pm.GetFocus(), go);
    ASSERT_TRUE(page->Remove(go));
    EXPECT_EQ(pm.GetFocus(), nullptr);
    EXPECT_EQ(pm.FindControl(L"go"), nullptr);
}

// Routing by virtual-window name, and the window base's own click handling.
class CPump : public CNotifyPump {
public:
    explicit CPump(bool accepts) : m_bAccepts(accepts) {}
    bool LoopDispatch(TNotifyUI& msg) override {
        seen.push_back(msg.sType);
        return m_bAccepts;
    }
    std::vector<std::wstring> seen;
    bool m_bAccepts;
};

TEST(UiNotifyPump, VirtualWindowsFirstCaseInsensitiveThenTheWindow) {
    CPump window(true), taker(true), refuser(false);
    window.AddVirtualWnd(L"Settings", &taker);
    window.AddVirtualWnd(L"other", &refuser);
    EXPECT_FALSE(window.AddVirtualWnd(L"SETTINGS", &refuser));  // one handler per name
    TNotifyUI msg;
    msg.sType = L"click";
    msg.sVirtualWnd = L"settings";
    window.NotifyPump(msg);
    EXPECT_EQ(taker.seen.size(), 1u);
    EXPECT_TRUE(window.seen.empty());
    msg.sVirtualWnd = L"other";  // the handler refuses: the window gets it
    window.NotifyPump(msg);
    EXPECT_EQ(refuser.seen.size(), 1u);
    EXPECT_EQ(window.seen.size(), 1u);
    msg.sVirtualWnd.clear();
    window.NotifyPump(msg);
    EXPECT_EQ(window.seen.size(), 2u);
    EXPECT_TRUE(window.RemoveVirtualWnd(L"SETTINGS"));
    msg.sVirtualWnd = L"settings";
    window.NotifyPump(msg);
    EXPECT_EQ(taker.seen.size(), 1u);
    EXPECT_EQ(window.seen.size(), 3u);
}

namespace {

// Fails its WM_CREATE and frees itself in its final message, as the settings menu does when its
// markup cannot be had; the freed block is filled with a pattern that a later write would spoil.
class CFailingCreateWnd : public CWindowWnd {
public:
    explicit CFailingCreateWnd(unsigned char* storage) : m_storage(storage) {}

protected:
    const wchar_t* GetWindowClassName() const override { return L"VdTestFailingCreateWnd"; }
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override {
        if (uMsg == WM_CREATE) return -1;
        return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    }
    void OnFinalMessage(HWND) override {
        unsigned char* storage = m_storage;
        this->~CFailingCreateWnd();
        memset(storage, 0xAB, sizeof(CFailingCreateWnd));
    }

private:
    unsigned char* m_storage;
};

}  // namespace

TEST(UiWindow, AFailedCreationDoesNotWriteIntoAnObjectThatFreedItself) {
    alignas(CFailingCreateWnd) unsigned char storage[sizeof(CFailingCreateWnd)];
    CFailingCreateWnd* wnd = new (storage) CFailingCreateWnd(storage);
    EXPECT_EQ(nullptr, wnd->Create(nullptr, L"", WS_POPUP, 0, 0, 0, 10, 10));
    size_t spoiled = 0;
    for (unsigned char b : storage) spoiled += b != 0xAB;
    EXPECT_EQ(0u, spoiled) << "written after its final message, or the final message never came";
}

TEST(UiImages, DecodesTheSkinsPngsWithAlphaAndMask) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe = path;
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"vdInstaller.exe";
    HMODULE mod = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(mod, nullptr);
    HRSRC r = FindResourceW(mod, MAKEINTRESOURCEW(122), L"ZIPRES");
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(CPaintManagerUI::SetResourceZip(LockResource(LoadResource(mod, r)), SizeofResource(mod, r), L"membuffer"));

    const TImageInfo* strip = GetCachedImage(L"close_btn_56x26.png", false, L"", false, 0);
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->nX, 56);
    EXPECT_EQ(strip->nY, 26);
    EXPECT_TRUE(strip->bAlpha);  // the normal half is transparent around the glyph
    EXPECT_EQ(GetCachedImage(L"close_btn_56x26.png", false, L"", false, 0), strip);  // cached
    const TImageInfo* banner = GetCachedImage(L"welcome_page_bg_580x254.png", false, L"", false, 0);
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->nX, 580);
    EXPECT_FALSE(banner->bAlpha);
    // missing members (the message box's close images) draw nothing, and that is remembered
    EXPECT_EQ(GetCachedImage(L"closebtn_12x12.png", false, L"", false, 0), nullptr);
    EXPECT_EQ(GetCachedImage(L"closebtn_12x12.png", false, L"", false, 0), nullptr);

    // a mask colour makes its pixels transparent: mask the banner's top-left colour
    std::string bytes;
    ASSERT_TRUE(CResourceArchive::ReadMember(L"progress_512x12_bg.png", bytes, nullptr));
    TImageInfo plain, masked;
    ASSERT_TRUE(DecodeImage(bytes.data(), bytes.size(), false, 0, plain));
    DIBSECTION ds = {};
    ASSERT_TRUE(GetObjectW(plain.hBitmap, sizeof(ds), &ds));
    DWORD middle = static_cast<DWORD*>(ds.dsBm.bmBits)[6 * 512 + 256];  // inside the track
    ASSERT_EQ(middle >> 24, 255u);
    ASSERT_TRUE(DecodeImage(bytes.data(), bytes.size(), true, middle, masked));
    ASSERT_TRUE(GetObjectW(masked.hBitmap, sizeof(ds), &ds));
    EXPECT_EQ(static_cast<DWORD*>(ds.dsBm.bmBits)[6 * 512 + 256], 0u);
    DeleteObject(plain.hBitmap);
    DeleteObject(masked.hBitmap);

    std::string junk = "\x89PNG\r\n\x1a\n but not really";
    TImageInfo none;
    EXPECT_FALSE(DecodeImage(junk.data(), junk.size(), false, 0, none));
    EXPECT_EQ(none.hBitmap, nullptr);
    FreeLibrary(mod);
}

}  // namespace
