#include "probes/hostrules.h"

#include <json/json.h>

#include <algorithm>
#include <cstdio>
#include <memory>

std::vector<std::string> SelectAdapterAddresses(const std::vector<VdAdapterCandidate>& adapters) {
    std::vector<std::string> out;
    for (const auto& a : adapters) {
        if (a.description.find("VMware Virtual") != std::string::npos) continue;
        if (a.address.size() < 6) continue;
        if (a.pnpInstanceId.compare(0, 3, "PCI") != 0) continue;
        std::string text;
        for (unsigned char b : a.address) {
            char hex[3];
            snprintf(hex, sizeof(hex), "%02X", b);
            text += hex;
        }
        if (text == "000000000000") continue;
        out.push_back(text);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool ParseIpLookupAnswer(const std::string& body, std::string& ip) {
    try {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors)) return false;
        if (!root.isObject()) return false;
        const Json::Value& code = root["code"];
        if (!code.isIntegral() || code.asLargestInt() != 0) return false;
        const Json::Value& data = root["data"];
        if (!data.isObject() || !data["ip"].isString()) return false;
        std::string value = data["ip"].asString();
        if (value.empty()) return false;
        ip = value;
        return true;
    } catch (...) {
        return false;
    }
}
