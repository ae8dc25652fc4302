// Test driver: what a screen reader sees of a running window, through the accessibility
// interface of another process (AccessibleObjectFromWindow), and clicks made through it only.
//
//   accdriver dump CLASS          one line per child: id, role, name, states, rectangle, value, action
//   accdriver do CLASS NAME [MS]  accDoDefaultAction on the first child with that name (NAME ending
//                                 in "*": the first whose name starts so); with MS,
//                                 then prints the window's WinEvents for that many milliseconds
//   accdriver hit CLASS X Y       the child under a screen point
//   accdriver set CLASS NAME TEXT put_accValue on the first edit box with that name
//   accdriver name CLASS ID       get_accName of a child id kept from earlier: its result and the name
//   accdriver watch MS            prints "watching", then for MS milliseconds the menu and focus
//                                 WinEvents of every window (event, child, window, its class)
// Exit codes: 0 done, 2 usage, 3 no such window, 4 no accessible object, 5 no such child,
// 6 the action failed.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void Out(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string u(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &u[0], n, nullptr, nullptr);
    fwrite(u.data(), 1, u.size(), stdout);
    fflush(stdout);
}

std::wstring RoleName(long role) {
    switch (role) {
        case ROLE_SYSTEM_PUSHBUTTON: return L"pushbutton";
        case ROLE_SYSTEM_CHECKBUTTON: return L"checkbutton";
        case ROLE_SYSTEM_TEXT: return L"text";
        case ROLE_SYSTEM_PROGRESSBAR: return L"progressbar";
        case ROLE_SYSTEM_STATICTEXT: return L"statictext";
        case ROLE_SYSTEM_MENUITEM: return L"menuitem";
        case ROLE_SYSTEM_MENUPOPUP: return L"menupopup";
        case ROLE_SYSTEM_GRAPHIC: return L"graphic";
        case ROLE_SYSTEM_CLIENT: return L"client";
        default: return L"role" + std::to_wstring(role);
    }
}

std::wstring StateNames(long s) {
    static const struct {
        long bit;
        const wchar_t* name;
    } kStates[] = {{STATE_SYSTEM_UNAVAILABLE, L"unavailable"}, {STATE_SYSTEM_CHECKED, L"checked"},
                   {STATE_SYSTEM_FOCUSED, L"focused"},         {STATE_SYSTEM_FOCUSABLE, L"focusable"},
                   {STATE_SYSTEM_INVISIBLE, L"invisible"},     {STATE_SYSTEM_READONLY, L"readonly"},
                   {STATE_SYSTEM_HOTTRACKED, L"hot"}};
    std::wstring out;
    for (const auto& st : kStates)
        if (s & st.bit) out += (out.empty() ? L"" : L",") + std::wstring(st.name);
    return out.empty() ? L"-" : out;
}

std::wstring Take(BSTR b) {
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    // one line per child: the fields are tab-separated
    for (auto& c : s)
        if (c == L'\t' || c == L'\n' || c == L'\r') c = L' ';
    return s;
}

HWND g_hwnd = nullptr;

void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG idObject, LONG idChild, DWORD, DWORD) {
    if (hwnd != g_hwnd || idObject != OBJID_CLIENT) return;
    printf("event=0x%04lx child=%ld\n", static_cast<unsigned long>(event), static_cast<long>(idChild));
    fflush(stdout);
}

void CALLBACK OnAnyWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG idObject, LONG idChild, DWORD, DWORD) {
    if (idObject != OBJID_CLIENT) return;
    wchar_t cls[128] = L"?";
    if (!GetClassNameW(hwnd, cls, 128)) lstrcpyW(cls, L"?");  // a closing menu may be gone already
    printf("event=0x%04lx child=%ld hwnd=%p class=%ls\n", static_cast<unsigned long>(event), static_cast<long>(idChild),
           static_cast<void*>(hwnd), cls);
    fflush(stdout);
}

// Out-of-context events arrive as messages to this thread.
void PumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        const LONG left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

VARIANT Child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring Name(IAccessible* acc, long id) {
    BSTR b = nullptr;
    return SUCCEEDED(acc->get_accName(Child(id), &b)) ? Take(b) : L"";
}

std::wstring Line(IAccessible* acc, long id) {
    VARIANT v = Child(id), role, state;
    VariantInit(&role);
    VariantInit(&state);
    std::wstring line = id == CHILDID_SELF ? L"self" : std::to_wstring(id);
    line += L"\t" + (SUCCEEDED(acc->get_accRole(v, &role)) && role.vt == VT_I4 ? RoleName(role.lVal) : L"?");
    line += L"\t" + Name(acc, id);
    line += L"\t" + (SUCCEEDED(acc->get_accState(v, &state)) && state.vt == VT_I4 ? StateNames(state.lVal) : L"?");
    long x = 0, y = 0, w = 0, h = 0;
    acc->accLocation(&x, &y, &w, &h, v);
    line += L"\t" + std::to_wstring(x) + L"," + std::to_wstring(y) + L"," + std::to_wstring(w) + L"," + std::to_wstring(h);
    BSTR b = nullptr;
    line += L"\t" + (acc->get_accValue(v, &b) == S_OK ? Take(b) : L"-");
    b = nullptr;
    line += L"\t" + (acc->get_accDefaultAction(v, &b) == S_OK ? Take(b) : L"-");
    return line + L"\n";
}

// The children's ids as a screen reader gets them (AccessibleChildren: the object's IEnumVARIANT).
std::vector<long> ChildIds(IAccessible* acc) {
    long count = 0;
    acc->get_accChildCount(&count);
    std::vector<long> ids;
    if (count <= 0) return ids;
    std::vector<VARIANT> kids(static_cast<size_t>(count));
    long got = 0;
    if (FAILED(AccessibleChildren(acc, 0, count, kids.data(), &got))) return ids;
    for (long i = 0; i < got; ++i) {
        if (kids[i].vt == VT_I4) ids.push_back(kids[i].lVal);
        VariantClear(&kids[i]);
    }
    return ids;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: accdriver dump CLASS | do CLASS NAME | hit CLASS X Y\n");
        return 2;
    }
    const std::wstring cmd = argv[1];
    if (cmd == L"watch") {
        HWINEVENTHOOK menu = SetWinEventHook(EVENT_SYSTEM_MENUPOPUPSTART, EVENT_SYSTEM_MENUPOPUPEND, nullptr,
                                             OnAnyWinEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
        HWINEVENTHOOK focus =
            SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, OnAnyWinEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
        if (!menu || !focus) return 6;
        printf("watching\n");
        fflush(stdout);
        PumpFor(static_cast<DWORD>(_wtoi(argv[2])));
        UnhookWinEvent(menu);
        UnhookWinEvent(focus);
        return 0;
    }
    HWND hwnd = FindWindowW(argv[2], nullptr);
    if (!hwnd) {
        printf("found=0\n");
        return 3;
    }
    CoInitialize(nullptr);
    IAccessible* acc = nullptr;
    int rc = 0;
    if (FAILED(AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&acc))) || !acc) {
        printf("accessible=0\n");
        rc = 4;
    } else if (cmd == L"dump") {
        Out(Line(acc, CHILDID_SELF));
        for (long id : ChildIds(acc)) Out(Line(acc, id));
    } else if (cmd == L"set" && argc > 4) {
        long found = 0;
        for (long i : ChildIds(acc)) {
            if (found) break;
            // a label may carry the edit box's name too: the editable one is meant
            VARIANT role;
            VariantInit(&role);
            if (Name(acc, i) == argv[3] && SUCCEEDED(acc->get_accRole(Child(i), &role)) && role.vt == VT_I4 &&
                role.lVal == ROLE_SYSTEM_TEXT)
                found = i;
        }
        if (!found) {
            rc = 5;
        } else {
            BSTR value = SysAllocString(argv[4]);
            HRESULT hr = acc->put_accValue(Child(found), value);
            SysFreeString(value);
            printf("child=%ld hr=0x%08lx\n", found, static_cast<unsigned long>(hr));
            rc = hr == S_OK ? 0 : 6;
        }
    } else if (cmd == L"do" && argc > 3) {
        long found = 0;
        std::wstring want = argv[3];
        const bool prefix = !want.empty() && want.back() == L'*';
        if (prefix) want.pop_back();
        for (long i : ChildIds(acc)) {
            const std::wstring name = Name(acc, i);
            if (!found && (prefix ? name.compare(0, want.size(), want) == 0 : name == want)) found = i;
        }
        if (!found) {
            rc = 5;
        } else {
            HWINEVENTHOOK hook = nullptr;
            const int watchMs = argc > 4 ? _wtoi(argv[4]) : 0;
            if (watchMs > 0) {
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                g_hwnd = hwnd;
                hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_VALUECHANGE, nullptr, OnWinEvent, pid, 0,
                                       WINEVENT_OUTOFCONTEXT);
            }
            HRESULT hr = acc->accDoDefaultAction(Child(found));
            printf("child=%ld hr=0x%08lx\n", found, static_cast<unsigned long>(hr));
            rc = hr == S_OK ? 0 : 6;
            if (hook) {
                PumpFor(static_cast<DWORD>(watchMs));
                UnhookWinEvent(hook);
            }
        }
    } else if (cmd == L"name" && argc > 3) {
        BSTR b = nullptr;
        HRESULT hr = acc->get_accName(Child(_wtoi(argv[3])), &b);
        printf("hr=0x%08lx\n", static_cast<unsigned long>(hr));
        Out(L"name=" + Take(b) + L"\n");
    } else if (cmd == L"hit" && argc > 4) {
        VARIANT v;
        VariantInit(&v);
        HRESULT hr = acc->accHitTest(_wtoi(argv[3]), _wtoi(argv[4]), &v);
        if (hr == S_OK && v.vt == VT_I4) Out(Line(acc, v.lVal));
        else rc = 5;
    } else {
        rc = 2;
    }
    if (acc) acc->Release();
    CoUninitialize();
    return rc;
}
