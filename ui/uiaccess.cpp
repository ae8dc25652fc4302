#include "ui/uiaccess.h"

#include <oleacc.h>

#include <algorithm>

#include "ui/uicontrol.h"
#include "ui/uicontrols.h"
#include "ui/uimanager.h"
#include "ui/uiparse.h"

namespace DuiLib {

namespace {

struct TOleacc {
    HMODULE hModule = nullptr;
    decltype(&::LresultFromObject) pLresultFromObject = nullptr;
    decltype(&::CreateStdAccessibleObject) pCreateStdAccessibleObject = nullptr;
};

const TOleacc& Oleacc() {
    static TOleacc o = [] {
        TOleacc t;
        t.hModule = LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!t.hModule) {
            // Windows 7 without the search-path update rejects the flag: name the system folder
            wchar_t path[MAX_PATH];
            UINT n = GetSystemDirectoryW(path, MAX_PATH);
            if (n > 0 && n < MAX_PATH - 12) {
                lstrcatW(path, L"\\oleacc.dll");
                t.hModule = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
            }
        }
        if (t.hModule) {
            t.pLresultFromObject =
                reinterpret_cast<decltype(t.pLresultFromObject)>(GetProcAddress(t.hModule, "LresultFromObject"));
            t.pCreateStdAccessibleObject = reinterpret_cast<decltype(t.pCreateStdAccessibleObject)>(
                GetProcAddress(t.hModule, "CreateStdAccessibleObject"));
        }
        return t;
    }();
    return o;
}

bool Is(CControlUI* c, const wchar_t* iface) { return c && c->GetInterface(iface) != nullptr; }

std::wstring PlainText(CControlUI* c) {
    const std::wstring& t = c->GetText();
    auto* label = static_cast<CLabelUI*>(c->GetInterface(L"Label"));
    if (!label || !label->IsShowHtml()) return t;
    std::wstring out;
    for (const auto& run : ParseHtmlText(t)) out += run.sText;
    return out;
}

BSTR ToBstr(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

}  // namespace

std::wstring GetAccName(CControlUI* c) {
    if (!c) return L"";
    if (const wchar_t* n = c->GetCustomAttribute(L"accname"))
        if (*n) return n;
    if (!Is(c, L"Edit") && !Is(c, L"Progress")) {
        std::wstring t = PlainText(c);
        if (!t.empty()) return t;
    }
    return c->GetToolTip();
}

long GetAccRole(CControlUI* c) {
    if (Is(c, L"MenuElement")) return ROLE_SYSTEM_MENUITEM;
    if (Is(c, L"Menu")) return ROLE_SYSTEM_MENUPOPUP;
    if (Is(c, L"CheckBox")) return ROLE_SYSTEM_CHECKBUTTON;
    if (Is(c, L"Button")) return ROLE_SYSTEM_PUSHBUTTON;
    if (Is(c, L"Edit")) return ROLE_SYSTEM_TEXT;
    if (Is(c, L"Progress")) return ROLE_SYSTEM_PROGRESSBAR;
    if (c && c->GetText().empty()) return ROLE_SYSTEM_GRAPHIC;
    return ROLE_SYSTEM_STATICTEXT;
}

long GetAccState(CControlUI* c) {
    long s = 0;
    if (!c) return STATE_SYSTEM_UNAVAILABLE;
    if (!c->IsVisible()) s |= STATE_SYSTEM_INVISIBLE;
    if (!c->IsEnabled()) s |= STATE_SYSTEM_UNAVAILABLE;
    if (auto* box = static_cast<CCheckBoxUI*>(c->GetInterface(L"CheckBox")))
        if (box->GetCheck()) s |= STATE_SYSTEM_CHECKED;
    if (c->IsTabStop() && c->IsEnabled() && c->IsKeyboardEnabled()) s |= STATE_SYSTEM_FOCUSABLE;
    CPaintManagerUI* pm = c->GetManager();
    if (pm && pm->GetFocus() == c) {
        HWND focus = ::GetFocus();
        if (focus && (focus == pm->GetPaintWindow() || IsChild(pm->GetPaintWindow(), focus))) s |= STATE_SYSTEM_FOCUSED;
    }
    if (auto* b = static_cast<CButtonUI*>(c->GetInterface(L"Button")))
        if (b->GetButtonState() & UISTATE_HOT) s |= STATE_SYSTEM_HOTTRACKED;
    if (auto* e = static_cast<CEditUI*>(c->GetInterface(L"Edit"))) {
        if (e->IsReadOnly()) s |= STATE_SYSTEM_READONLY;
    } else if (!Is(c, L"Button")) {
        s |= STATE_SYSTEM_READONLY;
    }
    return s;
}

std::wstring GetAccDefaultAction(CControlUI* c) {
    if (auto* box = c ? static_cast<CCheckBoxUI*>(c->GetInterface(L"CheckBox")) : nullptr)
        return box->GetCheck() ? L"Uncheck" : L"Check";
    if (Is(c, L"Button")) return L"Press";
    return L"";
}

bool GetAccValue(CControlUI* c, std::wstring& value) {
    if (auto* bar = c ? static_cast<CProgressUI*>(c->GetInterface(L"Progress")) : nullptr) {
        const long range = static_cast<long>(bar->GetMaxValue()) - bar->GetMinValue();
        long v = std::max(bar->GetMinValue(), std::min(bar->GetValue(), bar->GetMaxValue())) - bar->GetMinValue();
        const long pct = range > 0 ? v * 100 / range : 0;
        value = std::to_wstring(pct) + L"%";
        return true;
    }
    if (Is(c, L"Edit")) {
        value = c->GetText();
        return true;
    }
    return false;
}

static CControlUI* CALLBACK CollectAccessible(CControlUI* c, LPVOID data) {
    auto* out = static_cast<std::vector<CControlUI*>*>(data);
    if (!c->IsVisible()) return nullptr;
    // a hidden ancestor hides the control even when the control's own flag says visible
    for (CControlUI* p = c->GetParent(); p; p = p->GetParent())
        if (!p->IsVisible()) return nullptr;
    const bool container = c->GetInterface(L"Container") != nullptr;
    if (container) return nullptr;
    // unnamed pictures and empty labels are decoration; buttons are listed even unnamed, so a
    // missing name shows up as a fault
    if (!Is(c, L"Button") && !Is(c, L"Edit") && !Is(c, L"Progress") && GetAccName(c).empty()) return nullptr;
    out->push_back(c);
    return nullptr;
}

void CollectAccessibleControls(CControlUI* pRoot, std::vector<CControlUI*>& out) {
    out.clear();
    if (pRoot) pRoot->FindControl(CollectAccessible, &out, UIFIND_VISIBLE | UIFIND_ME_FIRST);
}

LONG AccChildId(CControlUI* pRoot, CControlUI* pControl) {
    if (!pControl) return CHILDID_SELF;
    std::vector<CControlUI*> list;
    CollectAccessibleControls(pRoot, list);
    return std::find(list.begin(), list.end(), pControl) == list.end() ? CHILDID_SELF : pControl->GetAccId();
}

LRESULT AccLresultFromObject(REFIID riid, WPARAM wParam, IUnknown* punk) {
    const TOleacc& o = Oleacc();
    return o.pLresultFromObject ? o.pLresultFromObject(riid, wParam, punk) : 0;
}

// ---- the client's IAccessible ----------------------------------------------------------------

namespace {

// The children's ids as they were when cloned; the client's own cursor reads the live list.
class CAccIdEnumUI final : public IEnumVARIANT {
public:
    CAccIdEnumUI(std::vector<LONG> ids, size_t pos) : m_ids(std::move(ids)), m_pos(pos) {}
    CAccIdEnumUI(const CAccIdEnumUI&) = delete;
    CAccIdEnumUI& operator=(const CAccIdEnumUI&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumVARIANT)) return E_NOINTERFACE;
        *ppv = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&m_cRef);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
        return NextIds(m_ids, m_pos, celt, rgVar, pCeltFetched);
    }
    STDMETHODIMP Skip(ULONG celt) override { return SkipIds(m_ids.size(), m_pos, celt); }
    STDMETHODIMP Reset() override {
        m_pos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        *ppEnum = new CAccIdEnumUI(m_ids, m_pos);
        return S_OK;
    }

    static HRESULT SkipIds(size_t count, size_t& pos, ULONG celt) {
        const size_t left = count - std::min(pos, count);
        pos += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    static HRESULT NextIds(const std::vector<LONG>& ids, size_t& pos, ULONG celt, VARIANT* rgVar, ULONG* pFetched) {
        if (pFetched) *pFetched = 0;
        if (celt > 0 && !rgVar) return E_POINTER;
        if (celt > 1 && !pFetched) return E_INVALIDARG;  // as documented: the count is needed then
        ULONG n = 0;
        for (; n < celt && pos < ids.size(); ++n, ++pos) {
            VariantInit(&rgVar[n]);
            rgVar[n].vt = VT_I4;
            rgVar[n].lVal = ids[pos];
        }
        if (pFetched) *pFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }

private:
    ~CAccIdEnumUI() = default;

    LONG m_cRef = 1;
    std::vector<LONG> m_ids;
    size_t m_pos;
};

}  // namespace

class CAccessibleUI final : public IAccessible, public IEnumVARIANT {
public:
    explicit CAccessibleUI(CPaintManagerUI* pm) : m_pm(pm) {}
    CAccessibleUI(const CAccessibleUI&) = delete;
    CAccessibleUI& operator=(const CAccessibleUI&) = delete;
    void Detach() { m_pm = nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IAccessible)) {
            *ppv = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IEnumVARIANT)) {
            *ppv = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&m_cRef);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    // IDispatch: clients use the vtable
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    STDMETHODIMP get_accParent(IDispatch** ppdispParent) override {
        if (!ppdispParent) return E_POINTER;
        *ppdispParent = nullptr;
        if (!Alive()) return RPC_E_DISCONNECTED;
        const TOleacc& o = Oleacc();
        if (!o.pCreateStdAccessibleObject) return S_FALSE;
        return o.pCreateStdAccessibleObject(m_pm->GetPaintWindow(), OBJID_WINDOW, IID_IDispatch,
                                            reinterpret_cast<void**>(ppdispParent));
    }
    STDMETHODIMP get_accChildCount(long* pcount) override {
        if (!pcount) return E_POINTER;
        *pcount = 0;
        if (!Alive()) return RPC_E_DISCONNECTED;
        *pcount = static_cast<long>(Children().size());
        return S_OK;
    }
    STDMETHODIMP get_accChild(VARIANT varChild, IDispatch** ppdispChild) override {
        if (!ppdispChild) return E_POINTER;
        *ppdispChild = nullptr;
        if (!Alive()) return RPC_E_DISCONNECTED;
        CControlUI* c = nullptr;
        if (!Resolve(varChild, c) || !c) return E_INVALIDARG;
        return S_FALSE;  // simple elements: the parent answers for them
    }
    STDMETHODIMP get_accName(VARIANT varChild, BSTR* pszName) override {
        if (!pszName) return E_POINTER;
        *pszName = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        std::wstring name;
        if (c) {
            name = GetAccName(c);
        } else {
            int n = GetWindowTextLengthW(m_pm->GetPaintWindow());
            name.resize(n + 1);
            name.resize(GetWindowTextW(m_pm->GetPaintWindow(), &name[0], n + 1));
        }
        if (name.empty()) return S_FALSE;
        *pszName = ToBstr(name);
        return *pszName ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_accValue(VARIANT varChild, BSTR* pszValue) override {
        if (!pszValue) return E_POINTER;
        *pszValue = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        std::wstring v;
        if (!c || !GetAccValue(c, v)) return DISP_E_MEMBERNOTFOUND;
        *pszValue = ToBstr(v);
        return *pszValue ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_accDescription(VARIANT varChild, BSTR* pszDescription) override {
        if (!pszDescription) return E_POINTER;
        *pszDescription = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        // a tooltip that is not already the name says more about the control
        if (!c || c->GetToolTip().empty() || c->GetToolTip() == GetAccName(c)) return S_FALSE;
        *pszDescription = ToBstr(c->GetToolTip());
        return *pszDescription ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_accRole(VARIANT varChild, VARIANT* pvarRole) override {
        if (!pvarRole) return E_POINTER;
        VariantInit(pvarRole);
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        pvarRole->vt = VT_I4;
        if (c) pvarRole->lVal = GetAccRole(c);
        else pvarRole->lVal = Is(m_pm->GetRoot(), L"Menu") ? ROLE_SYSTEM_MENUPOPUP : ROLE_SYSTEM_CLIENT;
        return S_OK;
    }
    STDMETHODIMP get_accState(VARIANT varChild, VARIANT* pvarState) override {
        if (!pvarState) return E_POINTER;
        VariantInit(pvarState);
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        pvarState->vt = VT_I4;
        if (c) {
            pvarState->lVal = GetAccState(c);
        } else {
            HWND w = m_pm->GetPaintWindow();
            long s = STATE_SYSTEM_FOCUSABLE;
            if (!IsWindowVisible(w)) s |= STATE_SYSTEM_INVISIBLE;
            if (!IsWindowEnabled(w)) s |= STATE_SYSTEM_UNAVAILABLE;
            if (::GetFocus() == w && !m_pm->GetFocus()) s |= STATE_SYSTEM_FOCUSED;
            pvarState->lVal = s;
        }
        return S_OK;
    }
    STDMETHODIMP get_accHelp(VARIANT, BSTR* pszHelp) override {
        if (!pszHelp) return E_POINTER;
        *pszHelp = nullptr;
        return Alive() ? S_FALSE : RPC_E_DISCONNECTED;
    }
    STDMETHODIMP get_accHelpTopic(BSTR* pszHelpFile, VARIANT, long* pidTopic) override {
        if (pszHelpFile) *pszHelpFile = nullptr;
        if (pidTopic) *pidTopic = 0;
        return Alive() ? S_FALSE : RPC_E_DISCONNECTED;
    }
    STDMETHODIMP get_accKeyboardShortcut(VARIANT varChild, BSTR* pszKeyboardShortcut) override {
        if (!pszKeyboardShortcut) return E_POINTER;
        *pszKeyboardShortcut = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        if (!c || !c->GetShortcut()) return S_FALSE;
        std::wstring s = L"Alt+";
        s += static_cast<wchar_t>(towupper(c->GetShortcut()));
        *pszKeyboardShortcut = ToBstr(s);
        return *pszKeyboardShortcut ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP get_accFocus(VARIANT* pvarChild) override {
        if (!pvarChild) return E_POINTER;
        VariantInit(pvarChild);
        if (!Alive()) return RPC_E_DISCONNECTED;
        HWND w = m_pm->GetPaintWindow(), focus = ::GetFocus();
        if (!focus || (focus != w && !IsChild(w, focus))) return S_FALSE;
        pvarChild->vt = VT_I4;
        pvarChild->lVal = IdOf(m_pm->GetFocus());
        return S_OK;
    }
    STDMETHODIMP get_accSelection(VARIANT* pvarChildren) override {
        if (!pvarChildren) return E_POINTER;
        VariantInit(pvarChildren);
        return Alive() ? S_FALSE : RPC_E_DISCONNECTED;
    }
    STDMETHODIMP get_accDefaultAction(VARIANT varChild, BSTR* pszDefaultAction) override {
        if (!pszDefaultAction) return E_POINTER;
        *pszDefaultAction = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        std::wstring a = c ? GetAccDefaultAction(c) : L"";
        if (a.empty()) return S_FALSE;
        *pszDefaultAction = ToBstr(a);
        return *pszDefaultAction ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP accSelect(long flagsSelect, VARIANT varChild) override {
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        if (!(flagsSelect & SELFLAG_TAKEFOCUS)) return E_INVALIDARG;
        if (!c) {
            ::SetFocus(m_pm->GetPaintWindow());
            return S_OK;
        }
        if (!(GetAccState(c) & STATE_SYSTEM_FOCUSABLE)) return S_FALSE;
        m_pm->SetFocus(c);
        return S_OK;
    }
    STDMETHODIMP accLocation(long* pxLeft, long* pyTop, long* pcxWidth, long* pcyHeight, VARIANT varChild) override {
        if (!pxLeft || !pyTop || !pcxWidth || !pcyHeight) return E_POINTER;
        *pxLeft = *pyTop = *pcxWidth = *pcyHeight = 0;
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        RECT rc;
        if (c) rc = c->GetPos();
        else GetClientRect(m_pm->GetPaintWindow(), &rc);
        MapWindowPoints(m_pm->GetPaintWindow(), nullptr, reinterpret_cast<POINT*>(&rc), 2);
        *pxLeft = rc.left;
        *pyTop = rc.top;
        *pcxWidth = rc.right - rc.left;
        *pcyHeight = rc.bottom - rc.top;
        return S_OK;
    }
    STDMETHODIMP accNavigate(long navDir, VARIANT varStart, VARIANT* pvarEndUpAt) override {
        if (!pvarEndUpAt) return E_POINTER;
        VariantInit(pvarEndUpAt);
        CControlUI* c = nullptr;
        HRESULT hr = Check(varStart, c);
        if (hr != S_OK) return hr;
        const std::vector<CControlUI*> list = Children();
        const long count = static_cast<long>(list.size());
        long target = -1;  // a position in the list
        if (!c) {
            if (navDir == NAVDIR_FIRSTCHILD) target = 0;
            else if (navDir == NAVDIR_LASTCHILD) target = count - 1;
        } else {
            const long at = static_cast<long>(std::find(list.begin(), list.end(), c) - list.begin());
            if (navDir == NAVDIR_NEXT || navDir == NAVDIR_DOWN || navDir == NAVDIR_RIGHT) target = at + 1;
            else if (navDir == NAVDIR_PREVIOUS || navDir == NAVDIR_UP || navDir == NAVDIR_LEFT) target = at - 1;
        }
        if (target < 0 || target >= count) return S_FALSE;
        pvarEndUpAt->vt = VT_I4;
        pvarEndUpAt->lVal = list[target]->GetAccId();
        return S_OK;
    }
    STDMETHODIMP accHitTest(long xLeft, long yTop, VARIANT* pvarChild) override {
        if (!pvarChild) return E_POINTER;
        VariantInit(pvarChild);
        if (!Alive()) return RPC_E_DISCONNECTED;
        HWND w = m_pm->GetPaintWindow();
        POINT pt = {xLeft, yTop};
        ScreenToClient(w, &pt);
        RECT rc;
        GetClientRect(w, &rc);
        if (!PtInRect(&rc, pt)) return S_FALSE;
        std::vector<CControlUI*> list = Children();
        long id = CHILDID_SELF;
        for (CControlUI* c = m_pm->FindControl(pt); c && id == CHILDID_SELF; c = c->GetParent())
            if (std::find(list.begin(), list.end(), c) != list.end()) id = c->GetAccId();
        pvarChild->vt = VT_I4;
        pvarChild->lVal = id;
        return S_OK;
    }
    STDMETHODIMP accDoDefaultAction(VARIANT varChild) override {
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        if (!c || GetAccDefaultAction(c).empty()) return DISP_E_MEMBERNOTFOUND;
        if (!c->IsEnabled()) return E_FAIL;
        // run from the window's own queue: the click may open a modal box, and the caller
        // should not wait for the user to close it
        return m_pm->QueueDefaultAction(c) ? S_OK : E_FAIL;
    }
    STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_accValue(VARIANT varChild, BSTR szValue) override {
        CControlUI* c = nullptr;
        HRESULT hr = Check(varChild, c);
        if (hr != S_OK) return hr;
        auto* edit = c ? static_cast<CEditUI*>(c->GetInterface(L"Edit")) : nullptr;
        if (!edit || !edit->IsEnabled() || edit->IsReadOnly()) return E_NOTIMPL;
        std::wstring v = szValue ? std::wstring(szValue, SysStringLen(szValue)) : std::wstring();
        if (v.size() > edit->GetMaxChar()) v.resize(edit->GetMaxChar());
        edit->SetText(v.c_str());
        // what typing would have reported
        m_pm->SendNotify(edit, L"textchanged");
        return S_OK;
    }

    // IEnumVARIANT: the children's ids, read from the live list at each step
    STDMETHODIMP Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
        if (pCeltFetched) *pCeltFetched = 0;
        if (!Alive()) return RPC_E_DISCONNECTED;
        return CAccIdEnumUI::NextIds(ChildIds(), m_nEnumPos, celt, rgVar, pCeltFetched);
    }
    STDMETHODIMP Skip(ULONG celt) override {
        if (!Alive()) return RPC_E_DISCONNECTED;
        return CAccIdEnumUI::SkipIds(Children().size(), m_nEnumPos, celt);
    }
    STDMETHODIMP Reset() override {
        m_nEnumPos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        *ppEnum = nullptr;
        if (!Alive()) return RPC_E_DISCONNECTED;
        *ppEnum = new CAccIdEnumUI(ChildIds(), m_nEnumPos);
        return S_OK;
    }

private:
    ~CAccessibleUI() = default;

    std::vector<LONG> ChildIds() const {
        std::vector<LONG> ids;
        for (CControlUI* c : Children()) ids.push_back(c->GetAccId());
        return ids;
    }

    bool Alive() const { return m_pm && IsWindow(m_pm->GetPaintWindow()); }
    std::vector<CControlUI*> Children() const {
        std::vector<CControlUI*> list;
        CollectAccessibleControls(m_pm->GetRoot(), list);
        return list;
    }
    long IdOf(CControlUI* c) const { return AccChildId(m_pm->GetRoot(), c); }
    // CHILDID_SELF gives nullptr.
    bool Resolve(const VARIANT& v, CControlUI*& c) const {
        c = nullptr;
        if (v.vt != VT_I4) return false;
        if (v.lVal == CHILDID_SELF) return true;
        // a control that went away, or is on a page not shown, is not there
        for (CControlUI* item : Children())
            if (item->GetAccId() == v.lVal) c = item;
        return c != nullptr;
    }
    HRESULT Check(const VARIANT& v, CControlUI*& c) const {
        if (!Alive()) return RPC_E_DISCONNECTED;
        return Resolve(v, c) ? S_OK : E_INVALIDARG;
    }

    LONG m_cRef = 1;
    CPaintManagerUI* m_pm;
    size_t m_nEnumPos = 0;
};

CAccessibleUI* CreateAccessible(CPaintManagerUI* pManager) { return new CAccessibleUI(pManager); }

IUnknown* AccessibleUnknown(CAccessibleUI* pAcc) { return static_cast<IAccessible*>(pAcc); }

void DetachAccessible(CAccessibleUI* pAcc) {
    if (pAcc) pAcc->Detach();
}

void ReleaseAccessible(CAccessibleUI* pAcc) {
    if (pAcc) pAcc->Release();  // raw: the manager's own reference to its object
}

}  // namespace DuiLib
