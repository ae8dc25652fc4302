#include "telemetry/staticsrecord.h"

// FastWriter is the collector's format (compact, members sorted, final line feed).
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace vdStaticsFoundation {

void CStatics::ToJson(Json::Value& root) const {
    root["wifimac"] = m_s_wifimac;
    root["channel"] = m_s_channel;
    root["exename"] = m_s_exename;
    root["installername"] = m_s_installername;
    if (!m_s_software.empty()) root["software"] = m_s_software;
}

std::string CStatics::Serialize() const {
    Json::Value root(Json::objectValue);
    ToJson(root);
    Json::FastWriter writer;
    std::string text = writer.write(root);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

void CStatics::CopyFrom(const IStatics& other) {
    m_s_wifimac = other.GetWifiMac();
    m_s_channel = other.GetChannel();
    m_s_installername = other.GetInstallerName();
    m_s_software = other.GetSoftware();
    m_s_exename = other.GetExeName();
}

}  // namespace vdStaticsFoundation

std::string EncodeStaticsTransport(const std::string& base64) {
    std::string out;
    out.reserve(base64.size() + base64.size() / 2);
    for (char c : base64) {
        if (c == '+')
            out += "_@_";
        else
            out += c;
    }
    return out;
}
