// Rules of the host identity that need no system calls: which adapters count and the IP answer.
#pragma once
#include <string>
#include <vector>

struct VdAdapterCandidate {
    std::string description;
    std::vector<unsigned char> address;
    // "PnpInstanceID" of the adapter's connection key; empty when the key or value is missing.
    std::string pnpInstanceId;
};

// Upper-case hex addresses of the physical PCI adapters, without all-zero ones, sorted ascending.
std::vector<std::string> SelectAdapterAddresses(const std::vector<VdAdapterCandidate>& adapters);

// True with the address when the answer is JSON whose "code" is the number 0 and whose "data"
// object holds a non-empty string "ip". Any other shape is no answer; nothing throws.
bool ParseIpLookupAnswer(const std::string& body, std::string& ip);
