#include "telemetry/behaviorrecord.h"

#include <cstdio>
#include <memory>

// FastWriter, StyledWriter and Reader give the collector's and the stored file's exact forms.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace VdFoundationBehaviorGather {

namespace {

void Assign(std::string& field, const char* value) {
    if (value && *value) field = value;
}

// Text of a stored member: strings as they are, other scalars as their JSON text, the rest empty.
std::string MemberText(const Json::Value& object, const char* key) {
    if (!object.isObject()) return std::string();
    const Json::Value& v = object[key];
    if (v.isString()) return v.asString();
    if (v.isBool() || v.isNumeric()) {
        Json::FastWriter writer;
        std::string text = writer.write(v);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    }
    return std::string();
}

}  // namespace

CVdBehaviorGather::CVdBehaviorGather() : m_s_model("4010101"), m_s_succeed("1"), m_b_from_local_store(false) {}

CVdBehaviorGather::~CVdBehaviorGather() = default;

void CVdBehaviorGather::SetModel(const char* value) { Assign(m_s_model, value); }
void CVdBehaviorGather::SetSucceed(const char* value) { Assign(m_s_succeed, value); }
void CVdBehaviorGather::SetErrorMessage(const char* value) { Assign(m_s_errormessage, value); }
void CVdBehaviorGather::SetBusinessId(const char* value) { Assign(m_s_business_id, value); }

void CVdBehaviorGather::FromJson(const Json::Value& root) {
    Json::Value first;
    if (root.isObject()) {
        const Json::Value& list = root["list"];
        if (list.isArray() && !list.empty()) first = list[0u];
    }
    m_s_model = MemberText(first, "model");
    m_s_succeed = MemberText(first, "succeed");
    m_s_operate_time = MemberText(first, "operateTime");
    m_s_version = MemberText(first, "version");
    m_s_errormessage = MemberText(first, "errormessage");
    m_s_business_id = MemberText(first, "businessId");
}

void CVdBehaviorGather::CopyFrom(const CVdBehaviorGather& other) {
    m_s_model = other.m_s_model;
    m_s_succeed = other.m_s_succeed;
    m_s_operate_time = other.m_s_operate_time;
    m_s_version = other.m_s_version;
    m_s_errormessage = other.m_s_errormessage;
    m_s_business_id = other.m_s_business_id;
    m_b_from_local_store = other.m_b_from_local_store;
}

void CVdBehaviorGather::FillJson(Json::Value& root, const BehaviorHostFacts& facts) const {
    root["action"] = "PostPCOperateData";
    root["mac"] = facts.mac;
    root["ip"] = facts.ip;

    Json::Value record(Json::objectValue);
    record["fromtype"] = "0";
    record["deviceid"] = "0";
    record["sourceModel"] = "0";
    record["model"] = m_s_model;
    record["dataType"] = "";
    record["operateTime"] = m_s_operate_time.empty() ? facts.now : m_s_operate_time;
    record["phonenumber"] = "";
    record["serialnumber"] = "";
    record["modelIndex"] = "0";
    record["businessId"] = m_s_business_id;
    record["userId"] = "";
    record["searchKey"] = "";
    record["version"] = facts.version;
    record["succeed"] = m_s_succeed;
    record["errormessage"] = m_s_errormessage;
    record["serialnumberex"] = "";
    record["devicemodel"] = "";
    record["osversion"] = "";
    record["memo"] = "";
    root["list"].append(record);
}

std::string CVdBehaviorGather::ToJsonText(const BehaviorHostFacts& facts) const {
    Json::Value root(Json::objectValue);
    FillJson(root, facts);
    Json::FastWriter writer;
    return writer.write(root);
}

std::string FormatOperateTime(int year, int month, int day, int hour, int minute, int second) {
    char text[64];
    snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return text;
}

std::string BehaviorStoreText(const Json::Value& roots) {
    Json::StyledWriter writer;
    return writer.write(roots) + "\n";
}

bool ParseBehaviorStore(const std::string& text, Json::Value& roots) {
    roots = Json::Value();
    try {
        Json::Reader reader;
        Json::Value parsed;
        if (!reader.parse(text, parsed, false)) return false;
        if (!parsed.isNull() && !parsed.isArray()) return false;
        roots.swap(parsed);
        return true;
    } catch (...) {  // nesting deeper than the reader allows
        return false;
    }
}

}  // namespace VdFoundationBehaviorGather
