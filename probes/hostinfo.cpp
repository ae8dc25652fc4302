#include "probes/hostinfo.h"

#include <iphlpapi.h>
#include <rpc.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/vdlog.h"
#include "probes/hostrules.h"
#include "probes/vdutils.h"
#include "vd_endpoints.h"

namespace {
const char kNetworkClassKey[] = "System\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
}

std::string ReadAdapterPnpInstanceId(const char* adapterName) {
    if (!adapterName || !*adapterName) return std::string();
    std::string sub = std::string(kNetworkClassKey) + adapterName + "\\Connection\\";
    CScopedRegKey owner;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub.c_str(), 0, KEY_READ, owner.Receive()) != ERROR_SUCCESS)
        return std::string();
    HKEY key = owner.Get();
    DWORD media = 0, size = sizeof(media);
    RegQueryValueExA(key, "MediaSubType", nullptr, nullptr, (BYTE*)&media, &size);  // read, not used
    DWORD type = 0;
    size = 0;
    if (RegQueryValueExA(key, "PnpInstanceID", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::string();
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::string();
    std::vector<char> value(size + 2, 0);
    if (RegQueryValueExA(key, "PnpInstanceID", nullptr, &type, (BYTE*)value.data(), &size) != ERROR_SUCCESS)
        return std::string();
    return value.data();
}

CHostNetInfo::CHostNetInfo() { LoadAdapters(); }

CHostNetInfo& GetHostNetInfo() {
    // never destroyed: workers left running at quit may still read it
    static CHostNetInfo* s_info = new CHostNetInfo();
    return *s_info;
}

void CHostNetInfo::LoadAdapters() {
    m_vec_adapters.clear();
    ULONG size = sizeof(IP_ADAPTER_INFO);
    std::vector<BYTE> buffer;
    DWORD rc;
    try {
        buffer.resize(size);
        rc = GetAdaptersInfo((IP_ADAPTER_INFO*)buffer.data(), &size);
        if (rc == ERROR_BUFFER_OVERFLOW) {
            buffer.assign(size, 0);
            rc = GetAdaptersInfo((IP_ADAPTER_INFO*)buffer.data(), &size);
        }
    } catch (...) {
        printf("Error allocating memory needed to call GetAdaptersinfo\n");
        return;
    }
    if (rc != NO_ERROR) {
        printf("GetAdaptersInfo failed with error: %d\n", (int)rc);
        return;
    }
    std::vector<VdAdapterCandidate> candidates;
    for (IP_ADAPTER_INFO* a = (IP_ADAPTER_INFO*)buffer.data(); a; a = a->Next) {
        VdAdapterCandidate c;
        c.description = a->Description;
        UINT len = a->AddressLength > MAX_ADAPTER_ADDRESS_LENGTH ? MAX_ADAPTER_ADDRESS_LENGTH : a->AddressLength;
        c.address.assign(a->Address, a->Address + len);
        // the registry is asked only for adapters that can still pass
        if (c.description.find("VMware Virtual") == std::string::npos && len >= 6)
            c.pnpInstanceId = ReadAdapterPnpInstanceId(a->AdapterName);
        candidates.push_back(c);
    }
    m_vec_adapters = SelectAdapterAddresses(candidates);
}

std::string CHostNetInfo::GetMac() const { return m_vec_adapters.empty() ? std::string() : m_vec_adapters.front(); }

std::wstring MakeShortUniqueName() {
    srand((unsigned)((UINT_PTR)GetDesktopWindow() ^ GetTickCount()));
    std::wstring name;
    UUID uuid;
    CScopedRpcString text;
    UuidCreate(&uuid);
    if (UuidToStringW(&uuid, text.Receive()) == RPC_S_OK && text) {
        name.assign((const wchar_t*)text.Get());
        if (name.size() > 8) name.resize(8);
    }
    if (name.empty()) name = std::to_wstring(rand() + 10000);
    return name;
}

std::wstring GetVardoTempFolder() {
    wchar_t temp[MAX_PATH] = {0};
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return CombinePath(temp, VD_PRODUCT_NAME);
}

std::wstring GetUniqueTempFolder() {
    std::wstring base = GetVardoTempFolder();
    return base.empty() ? std::wstring() : CombinePath(base, MakeShortUniqueName());
}
