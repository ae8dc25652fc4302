// One scoped owner for every kind of handle the program opens: the traits say what is invalid and
// how it is released, so "closed by whoever opened it" holds by construction. Movable, never
// copied.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>
#include <rpc.h>

#include <utility>

template <class Traits>
class CScoped : private Traits {
public:
    using Type = typename Traits::Type;

    CScoped() : m_h(Traits::Invalid()) {}
    explicit CScoped(Type h) : m_h(h) {}
    // Traits with state (the window a DC came from) are given with the handle.
    CScoped(Type h, Traits traits) : Traits(std::move(traits)), m_h(h) {}
    ~CScoped() { Reset(); }
    CScoped(const CScoped&) = delete;
    CScoped& operator=(const CScoped&) = delete;
    CScoped(CScoped&& other) : Traits(other.GetTraits()), m_h(other.Release()) {}
    CScoped& operator=(CScoped&& other) {
        if (this != &other) {
            Reset(other.Release());
            static_cast<Traits&>(*this) = other.GetTraits();
        }
        return *this;
    }

    Type Get() const { return m_h; }
    bool Valid() const { return Traits::IsValid(m_h); }
    explicit operator bool() const { return Valid(); }
    // Releases what is held (when valid) and takes `h`.
    void Reset(Type h = Traits::Invalid()) {
        Type old = m_h;
        m_h = h;
        if (Traits::IsValid(old) && old != h) Traits::Close(old);
    }
    // Gives up ownership without releasing.
    Type Release() {
        Type h = m_h;
        m_h = Traits::Invalid();
        return h;
    }
    // For functions that return a handle through a pointer: what was held is released first.
    Type* Receive() {
        Reset();
        return &m_h;
    }

private:
    const Traits& GetTraits() const { return *this; }
    Type m_h;
};

// Traits: Invalid() is what an empty owner holds; IsValid() also refuses the other "no handle"
// value an API may return.
struct CKernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct CFindHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
struct CRegKeyTraits {
    using Type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};
struct CInternetHandleTraits {
    using Type = HINTERNET;
    static HINTERNET Invalid() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
struct CModuleTraits {
    using Type = HMODULE;
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};
template <class T>
struct CGdiObjectTraits {
    using Type = T;
    static T Invalid() { return nullptr; }
    static bool IsValid(T h) { return h != nullptr; }
    static void Close(T h) { DeleteObject(h); }
};
struct CMemDCTraits {
    using Type = HDC;
    static HDC Invalid() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { DeleteDC(h); }
};
// A DC from GetDC goes back to the window it came from.
struct CWindowDCTraits {
    using Type = HDC;
    HWND m_hwnd = nullptr;
    static HDC Invalid() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    void Close(HDC h) const { ReleaseDC(m_hwnd, h); }
};
struct CCryptProvTraits {
    using Type = HCRYPTPROV;
    static HCRYPTPROV Invalid() { return 0; }
    static bool IsValid(HCRYPTPROV h) { return h != 0; }
    static void Close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct CCryptKeyTraits {
    using Type = HCRYPTKEY;
    static HCRYPTKEY Invalid() { return 0; }
    static bool IsValid(HCRYPTKEY h) { return h != 0; }
    static void Close(HCRYPTKEY h) { CryptDestroyKey(h); }
};
struct CCryptHashTraits {
    using Type = HCRYPTHASH;
    static HCRYPTHASH Invalid() { return 0; }
    static bool IsValid(HCRYPTHASH h) { return h != 0; }
    static void Close(HCRYPTHASH h) { CryptDestroyHash(h); }
};
struct CCertContextTraits {
    using Type = PCCERT_CONTEXT;
    static PCCERT_CONTEXT Invalid() { return nullptr; }
    static bool IsValid(PCCERT_CONTEXT h) { return h != nullptr; }
    static void Close(PCCERT_CONTEXT h) { CertFreeCertificateContext(h); }
};
struct CCertStoreTraits {
    using Type = HCERTSTORE;
    static HCERTSTORE Invalid() { return nullptr; }
    static bool IsValid(HCERTSTORE h) { return h != nullptr; }
    static void Close(HCERTSTORE h) { CertCloseStore(h, 0); }
};
struct CCryptMsgTraits {
    using Type = HCRYPTMSG;
    static HCRYPTMSG Invalid() { return nullptr; }
    static bool IsValid(HCRYPTMSG h) { return h != nullptr; }
    static void Close(HCRYPTMSG h) { CryptMsgClose(h); }
};
struct CBstrTraits {
    using Type = BSTR;
    static BSTR Invalid() { return nullptr; }
    static bool IsValid(BSTR b) { return b != nullptr; }
    static void Close(BSTR b) { SysFreeString(b); }
};
struct CLocalMemTraits {
    using Type = HLOCAL;
    static HLOCAL Invalid() { return nullptr; }
    static bool IsValid(HLOCAL h) { return h != nullptr; }
    static void Close(HLOCAL h) { LocalFree(h); }
};
struct CRpcStringTraits {
    using Type = RPC_WSTR;
    static RPC_WSTR Invalid() { return nullptr; }
    static bool IsValid(RPC_WSTR s) { return s != nullptr; }
    static void Close(RPC_WSTR s) { RpcStringFreeW(&s); }
};
template <class I>
struct CComTraits {
    using Type = I*;
    static I* Invalid() { return nullptr; }
    static bool IsValid(I* p) { return p != nullptr; }
    static void Close(I* p) { p->Release(); }
};

using CScopedHandle = CScoped<CKernelHandleTraits>;
using CScopedFindHandle = CScoped<CFindHandleTraits>;
using CScopedRegKey = CScoped<CRegKeyTraits>;
using CScopedInternetHandle = CScoped<CInternetHandleTraits>;
using CScopedModule = CScoped<CModuleTraits>;
template <class T>
using CScopedGdiObject = CScoped<CGdiObjectTraits<T>>;
using CScopedMemDC = CScoped<CMemDCTraits>;
using CScopedWindowDC = CScoped<CWindowDCTraits>;
using CScopedCryptProv = CScoped<CCryptProvTraits>;
using CScopedCryptKey = CScoped<CCryptKeyTraits>;
using CScopedCryptHash = CScoped<CCryptHashTraits>;
using CScopedCertContext = CScoped<CCertContextTraits>;
using CScopedCertStore = CScoped<CCertStoreTraits>;
using CScopedCryptMsg = CScoped<CCryptMsgTraits>;
using CScopedBstr = CScoped<CBstrTraits>;
using CScopedLocalMem = CScoped<CLocalMemTraits>;
using CScopedRpcString = CScoped<CRpcStringTraits>;

// GetDC's DC, released to the same window.
inline CScopedWindowDC GetScopedDC(HWND hwnd) { return CScopedWindowDC(GetDC(hwnd), CWindowDCTraits{hwnd}); }

// A COM interface pointer, released once.
template <class I>
class CComPtrLite : public CScoped<CComTraits<I>> {
public:
    using CScoped<CComTraits<I>>::CScoped;
    I* operator->() const { return this->Get(); }
    void** ReceiveVoid() { return reinterpret_cast<void**>(this->Receive()); }
};
