// A behaviour record and its JSON forms (the post and "behavior.json"). The pure part lives in
// behaviorrecord.cpp without Windows headers; ToJson, ToJsonText and ToJsonTextW take the host's
// address, public IP and version (behaviorqueue.cpp).
#pragma once
#include <json/json.h>

#include <string>

namespace VdFoundationBehaviorGather {

// What the host contributes to a record's JSON.
struct BehaviorHostFacts {
    std::string mac;
    std::string ip;
    std::string version;
    std::string now;  // operateTime for records that carry none
};

class CVdBehaviorGather {
public:
    CVdBehaviorGather();
    virtual ~CVdBehaviorGather();

    // Each ignores a null or empty text.
    virtual void SetModel(const char* value);
    virtual void SetSucceed(const char* value);
    virtual void SetErrorMessage(const char* value);
    virtual void SetBusinessId(const char* value);
    // One stored root object: the first element of its "list". Members that are not text are
    // read as their JSON text when scalar, as empty when arrays or objects.
    virtual void FromJson(const Json::Value& root);
    virtual void ToJson(Json::Value& root, bool includeIp) const;
    virtual void CopyFrom(const CVdBehaviorGather& other);
    // Compact, with the public IP, keeping the writer's final line feed.
    virtual std::string ToJsonText() const;
    virtual std::wstring ToJsonTextW() const;
    virtual bool IsFromLocalStore() const { return m_b_from_local_store; }
    virtual void SetFromLocalStore(bool value) { m_b_from_local_store = value; }

    // The root object for these host facts; ToJson gathers them from the host.
    void FillJson(Json::Value& root, const BehaviorHostFacts& facts) const;
    std::string ToJsonText(const BehaviorHostFacts& facts) const;

    const std::string& GetModel() const { return m_s_model; }
    const std::string& GetSucceed() const { return m_s_succeed; }
    const std::string& GetOperateTime() const { return m_s_operate_time; }
    const std::string& GetVersion() const { return m_s_version; }
    const std::string& GetErrorMessage() const { return m_s_errormessage; }
    const std::string& GetBusinessId() const { return m_s_business_id; }

private:
    std::string m_s_model;
    std::string m_s_succeed;
    std::string m_s_operate_time;
    std::string m_s_version;  // read back from the store only; the post carries the installer's own
    std::string m_s_errormessage;
    std::string m_s_business_id;
    bool m_b_from_local_store;
};

// "%04d-%02d-%02d %02d:%02d:%02d"
std::string FormatOperateTime(int year, int month, int day, int hour, int minute, int second);

// The text of "behavior.json": the array in the styled form (three-space indentation) and a line end.
std::string BehaviorStoreText(const Json::Value& roots);
// False when the text is not JSON or its root is neither null nor an array (the file then stays).
bool ParseBehaviorStore(const std::string& text, Json::Value& roots);

}  // namespace VdFoundationBehaviorGather
