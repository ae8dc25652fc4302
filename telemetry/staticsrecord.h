// The statistics record and its transport text; free of Windows headers so it is tested directly.
#pragma once
#include <json/json.h>

#include <string>

namespace vdStaticsFoundation {

// Setters ignore a null or empty text, so a value once set cannot be cleared through here.
class IStatics {
public:
    virtual ~IStatics() = default;
    virtual std::string GetChannel() const = 0;
    virtual void SetChannel(const char* value) = 0;
    virtual std::string GetExeName() const = 0;
    virtual void SetExeName(const char* value) = 0;
    virtual std::string GetSoftware() const = 0;
    virtual void SetSoftware(const char* value) = 0;
    virtual std::string GetInstallerName() const = 0;
    virtual void SetInstallerName(const char* value) = 0;
    virtual std::string GetWifiMac() const = 0;
    virtual void SetWifiMac(const char* value) = 0;
};

class CStatics : public IStatics {
public:
    std::string GetChannel() const override { return m_s_channel; }
    void SetChannel(const char* value) override { Assign(m_s_channel, value); }
    std::string GetExeName() const override { return m_s_exename; }
    void SetExeName(const char* value) override { Assign(m_s_exename, value); }
    std::string GetSoftware() const override { return m_s_software; }
    void SetSoftware(const char* value) override { Assign(m_s_software, value); }
    std::string GetInstallerName() const override { return m_s_installername; }
    void SetInstallerName(const char* value) override { Assign(m_s_installername, value); }
    std::string GetWifiMac() const override { return m_s_wifimac; }
    void SetWifiMac(const char* value) override { Assign(m_s_wifimac, value); }

    // Members "wifimac", "channel", "exename", "installername" always; "software" only when set.
    void ToJson(Json::Value& root) const;
    // Compact JSON without the writer's final line feed: the collector's text, byte for byte.
    std::string Serialize() const;
    void CopyFrom(const IStatics& other);

private:
    static void Assign(std::string& field, const char* value) {
        if (value && *value) field = value;
    }

    std::string m_s_wifimac;
    std::string m_s_channel;
    std::string m_s_installername;
    std::string m_s_software;
    std::string m_s_exename;
};

}  // namespace vdStaticsFoundation

// The collector's form parser reads "+" as a space: every "+" of the base64 text becomes "_@_".
std::string EncodeStaticsTransport(const std::string& base64);
