#include "net/iplookup.h"

#include "base/vdlog.h"
#include "net/vdhttp.h"
#include "probes/hostrules.h"
#include "vd_endpoints.h"

CPublicIpLookup::CPublicIpLookup()
    : m_s_ip_lookup_url(std::wstring(L"http://") + VD_IPLOOKUP_HOST + L"/service/getIpInfo2.php?ip=myip") {}

CPublicIpLookup& GetPublicIpLookup() {
    // never destroyed: workers left running at quit may still ask
    static CPublicIpLookup* s_lookup = new CPublicIpLookup();
    return *s_lookup;
}

std::string CPublicIpLookup::GetPublicIp() {
    std::string cached;
    {
        std::lock_guard<std::mutex> lock(m_mtx_ip);
        cached = m_s_public_ip;
    }
    if (!cached.empty()) {
        WriteLogA("return cache ip:%s\n", cached.c_str());
        return cached;
    }
    std::string ip;
    VdFoundationHttpDownload::CVdHttpGetRequest request;
    if (request.SetRequest(m_s_ip_lookup_url.c_str(), nullptr) == 0 && request.Execute() == 0) {
        std::string found;
        if (ParseIpLookupAnswer(request.GetResponse(), found)) ip = found;
    }
    {
        std::lock_guard<std::mutex> lock(m_mtx_ip);
        if (!ip.empty()) m_s_public_ip = ip;
        cached = m_s_public_ip;
    }
    WriteLogA("request ip success:%s\n", cached.c_str());
    return cached;
}
