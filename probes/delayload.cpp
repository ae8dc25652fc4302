// The delay-load helper for every DLL we do not import at load time. Ours rather than the
// toolchain's: binutils writes address-based delay descriptors that MinGW's helper refuses, and
// this way each delay-loaded DLL comes from the system folder and nowhere else, whatever the
// process's search order. Linked after the delay-import libraries (see CMakeLists.txt).
#include <windows.h>

#include <cstring>

#include "probes/delayload.h"

void (*g_vd_delay_load_failed)(const char* dll, const char* function) = nullptr;

namespace {

struct DelayDescriptor {
    DWORD grAttrs;  // bit 0: the fields below are RVAs; otherwise addresses
    DWORD rvaDLLName, rvaHmod, rvaIAT, rvaINT, rvaBoundIAT, rvaUnloadIAT, dwTimeStamp;
};

extern "C" IMAGE_DOS_HEADER __ImageBase;

template <typename T>
T* At(const DelayDescriptor* d, DWORD value) {
    if (d->grAttrs & 1) return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + value);
    return reinterpret_cast<T*>(static_cast<ULONG_PTR>(value));
}

}  // namespace

// Set only by the build that plays Windows 7 without KB2533623 (see app/main.cpp).
extern "C" {
bool g_vd_no_search_flags = false;
}

namespace {

HMODULE LoadFromSystemFolder(const char* name) {
    // LOAD_LIBRARY_SEARCH_SYSTEM32 is understood where AddDllDirectory exists (Windows 8, or 7 with KB2533623)
    HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
    if (!g_vd_no_search_flags && k32 && GetProcAddress(k32, "AddDllDirectory"))
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + 2 + strlen(name) >= MAX_PATH) return nullptr;
    path[n] = '\\';
    strcpy(path + n + 1, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A DLL or function the program cannot run without is missing: the program says which, then ends
// with its own exit code rather than dying of an exception nobody catches.
[[noreturn]] void DelayLoadFailed(const char* dll, const char* function) {
    if (g_vd_delay_load_failed) g_vd_delay_load_failed(dll, function);
    ExitProcess((UINT)kVdExitDelayLoadFailed);
}

}  // namespace


extern "C" FARPROC WINAPI __delayLoadHelper2(const DelayDescriptor* d, FARPROC* iatEntry) {
    const char* dll = At<const char>(d, d->rvaDLLName);
    HMODULE* slot = At<HMODULE>(d, d->rvaHmod);
    FARPROC* iat = At<FARPROC>(d, d->rvaIAT);
    const IMAGE_THUNK_DATA32* names = At<const IMAGE_THUNK_DATA32>(d, d->rvaINT);
    const IMAGE_THUNK_DATA32& thunk = names[iatEntry - iat];

    HMODULE module = reinterpret_cast<HMODULE>(InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID*>(slot), nullptr, nullptr));
    if (!module) {
        HMODULE loaded = LoadFromSystemFolder(dll);
        if (!loaded) DelayLoadFailed(dll, nullptr);
        module = reinterpret_cast<HMODULE>(
            InterlockedCompareExchangePointer(reinterpret_cast<PVOID*>(slot), loaded, nullptr));
        if (module) FreeLibrary(loaded);  // another thread was first
        else module = loaded;
    }
    FARPROC proc;
    if (IMAGE_SNAP_BY_ORDINAL32(thunk.u1.Ordinal))
        proc = GetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(IMAGE_ORDINAL32(thunk.u1.Ordinal))));
    else
        proc = GetProcAddress(module, reinterpret_cast<const char*>(At<IMAGE_IMPORT_BY_NAME>(d, thunk.u1.AddressOfData)->Name));
    if (!proc)
        DelayLoadFailed(dll, IMAGE_SNAP_BY_ORDINAL32(thunk.u1.Ordinal)
                                 ? "(ordinal)"
                                 : reinterpret_cast<const char*>(At<IMAGE_IMPORT_BY_NAME>(d, thunk.u1.AddressOfData)->Name));
    InterlockedExchangePointer(reinterpret_cast<PVOID*>(iatEntry), reinterpret_cast<PVOID>(proc));
    return proc;
}
