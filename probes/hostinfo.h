// The machine's identity for telemetry: adapter address and short unique names.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

class CHostNetInfo {
public:
    // Reads the adapter list once; it is never refreshed.
    CHostNetInfo();
    CHostNetInfo(const CHostNetInfo&) = delete;
    CHostNetInfo& operator=(const CHostNetInfo&) = delete;

    // The smallest physical adapter address, or empty text.
    std::string GetMac() const;
    const std::vector<std::string>& GetAdapterAddresses() const { return m_vec_adapters; }

private:
    void LoadAdapters();

    std::vector<std::string> m_vec_adapters;
};

CHostNetInfo& GetHostNetInfo();

// The adapter passes when its connection key names a PCI device.
std::string ReadAdapterPnpInstanceId(const char* adapterName);

// First 8 characters of a fresh UUID's text (or a random number when the system gives none).
std::wstring MakeShortUniqueName();
// "Vardo" in the user's temporary folder; not created.
std::wstring GetVardoTempFolder();
// A new short unique name inside that folder; not created.
std::wstring GetUniqueTempFolder();
