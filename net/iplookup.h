// The machine's public IP address as the lookup service sees it (telemetry carries it).
#pragma once
#include <mutex>
#include <string>

class CPublicIpLookup {
public:
    CPublicIpLookup();
    CPublicIpLookup(const CPublicIpLookup&) = delete;
    CPublicIpLookup& operator=(const CPublicIpLookup&) = delete;

    // Cached after the first successful lookup; a failed lookup is tried again on the next call.
    std::string GetPublicIp();

    // Lookup address; tests point it elsewhere.
    std::wstring m_s_ip_lookup_url;

private:
    std::mutex m_mtx_ip;  // main thread and behaviour worker both ask
    std::string m_s_public_ip;
};

CPublicIpLookup& GetPublicIpLookup();
