#include "net/serverinfo.h"

#include <windows.h>

#include <vector>

#include "base/strconv.h"
#include "base/vdlog.h"
#include "local/inifile.h"
#include "net/vdhttp.h"
#include "payload/vdbizhandler.h"
#include "probes/appleenv.h"
#include "probes/fileversion.h"
#include "probes/vdutils.h"
#include "vd_endpoints.h"

namespace {

const wchar_t kAppName[] = L"pamo30";

void LogAnswer(const InstServerInfo& r) {
    // the size is 64 bits wide; %I64d keeps the text of every size that fits %d and the rest correct
    WriteLogW(L"Parse json,response from server,AppName:%s,Channel:%s,Id:%d,Size:%I64d\n", r.m_s_app_name.c_str(),
              r.m_s_channel.c_str(), r.m_n_id, r.m_ll_size);
    WriteLogW(L"Parse json,Inst download 64:%d\n", r.m_n_x64);
    WriteLogW(L"Parse json,Inst download version:%s\n", r.m_s_version.c_str());
    WriteLogW(L"Parse json,Inst download url:%s\n", r.m_s_url.c_str());
    WriteLogW(L"Parse json,Inst MD5 value:%s\n", r.m_ws_md5.c_str());
}

std::unique_ptr<InstServerInfo> RequestChannel(const std::wstring& channel, int x64, bool env) {
    return CVdHttpGetRequest_2_Inst_Server_Info(BuildInstInfoUrl(channel, x64, env, kAppName));
}

}  // namespace

std::wstring BuildInstInfoUrl(const std::wstring& channel, int x64, bool env, const std::wstring& appname) {
    const std::wstring prefix = std::wstring(L"http://") + VD_CONFIG_HOST + L"/vdpm/vdpm.ashx?appname=";
    return prefix + appname + L"&channel=" + channel + L"&x64=" + (x64 ? L"1" : L"0") + L"&env=" + (env ? L"1" : L"0");
}

int InstX64FlagFromEnvironment(int environResult, int os64) {
    if (environResult == 2) return 1;
    if (environResult == 1) return 0;
    return os64 ? 1 : 0;
}

int GetInstX64Flag() {
    CAppleEnvironment env;
    env.Detect();
    WriteLogW(L"SendInstPmgwInfoRequest itunes version:%s,environ result:%d,is 64 os:%d\n",
              env.m_s_itunes_version.c_str(), env.m_nResult, env.m_nOs64);
    return InstX64FlagFromEnvironment(env.m_nResult, env.m_nOs64);
}

bool IsDebugEnv() {
    wchar_t self[MAX_PATH] = {0};
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::wstring path = self;
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return false;
    return PathExists(CombinePath(path.substr(0, slash), L"debug.dll"));
}

std::unique_ptr<InstServerInfo> CVdHttpGetRequest_2_Inst_Server_Info(const std::wstring& url) {
    try {
        WriteLogW(L"CVdHttpGetRequest_2_Inst_Server_Info request inst url:%s\n", url.c_str());
        VdFoundationHttpDownload::CVdHttpGetRequest request;
        request.SetRequest(url.c_str(), nullptr);
        int rc = request.Execute();
        if (rc != 0) {
            WriteLogW(L"CVdHttpGetRequest_2_Inst_Server_Info execute return error:%d\n", rc);
            return nullptr;
        }
        const std::string body = request.GetResponse();
        WriteLogW(L"CVdHttpGetRequest_2_Inst_Server_Info receive from server json:%s\n",
                  CodePageToWide(body, CP_ACP).c_str());

        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors)) {
            WriteLogW(L"CVdHttpGetRequest_2_Inst_Server_Info parse json failure:%s\n",
                      CodePageToWide(errors, CP_ACP).c_str());
            return nullptr;
        }
        if (!root.isNull() && !root.isObject()) {
            WriteLogW(L"CVdHttpGetRequest_2_Inst_Server_Info parse root is not object\n");
            return nullptr;
        }
        std::unique_ptr<InstServerInfo> record(new InstServerInfo());
        if (!ParseInstServerInfo(record.get(), root["Data"])) {
            WriteLogW(L"CVdHttpGetRequest_2_Inst_Server_Info parse member type failure\n");
            return nullptr;
        }
        if (record->m_s_url.empty()) return nullptr;
        return record;
    } catch (...) {
        WriteLogW(L"CVdHttpGetRequest_2_Inst_Server_Info UNexpected excepiton....\n");
        return nullptr;
    }
}

std::unique_ptr<InstServerInfo> SendInstServerInfoRequest() { return SendInstServerInfoRequest(CVdBizHandler::Inst()); }

std::unique_ptr<InstServerInfo> SendInstServerInfoRequest(CVdBizHandler& biz) {
    const bool vaz = biz.IsVazChannel();
    const int x64 = GetInstX64Flag();
    const bool env = IsDebugEnv();
    WriteLogW(L"======SendInstServerInfoRequest======\n");

    std::unique_ptr<InstServerInfo> answer;
    const std::wstring channel = biz.GetChannel();
    if (!channel.empty()) {
        WriteLogW(L"find Channel resource,request wsRCChannel channel:%s\n", channel.c_str());
        answer = RequestChannel(channel, x64, env);
    }
    const bool soldOut = CInstConfig::Inst().IsTestIni_puxpc_sold_out();
    std::unique_ptr<InstServerInfo> record;
    bool decided = false;
    if (!soldOut) {
        if (answer) return answer;
        if (!vaz) {
            WriteLogW(L"not find BIZ resource,request empty channel now\n");
            record = RequestChannel(L"empty", x64, env);
            if (!record) {
                WriteLogW(L"empty channel null,request pmgw channel now\n");
                record = RequestChannel(L"pmgw", x64, env);
            }
            decided = true;
        }
    }
    if (!decided) {
        WriteLogW(L"bPuxpcSoldOut:%d\n", soldOut ? 1 : 0);
        WriteLogW(L"find BIZ resource,request vaz channel now,biz count:%d...\n", biz.m_nBizDllCount);
        answer.reset();
        record = RequestChannel(L"vaz", x64, env);
    }
    if (record) LogAnswer(*record);
    return record;
}

std::unique_ptr<InstServerInfo> SendInstSDXZInfoRequest() {
    const int x64 = GetInstX64Flag();
    const bool env = IsDebugEnv();
    std::unique_ptr<InstServerInfo> record = RequestChannel(L"empty", x64, env);
    if (record) LogAnswer(*record);
    return record;
}

std::wstring ComposeFallbackUrlFor(bool vaz, int x64, const std::wstring& version) {
    const wchar_t* tail = vaz ? (x64 ? L"vaz_64bit.exe" : L"vaz_32bit.exe") : (x64 ? L"pmgw_64bit.exe" : L"pmgw_32bit.exe");
    return std::wstring(L"http://") + VD_PACKAGE_HOST + L"/qd/vdpmqd/pamo30_" + version + L"/Vardo3_Setup_" + version +
           L"_" + tail;
}

std::wstring ComposeFallbackUrl(InstServerInfo* record, bool* isFromVidiraUrl) {
    const bool vaz = CVdBizHandler::Inst().IsVazChannel();
    const int x64 = GetInstX64Flag();
    const std::wstring version = GetOwnVersionText(nullptr);
    const std::wstring url = ComposeFallbackUrlFor(vaz, x64, version);
    if (record) {
        record->m_s_version = version;
        record->m_n_x64 = x64;
        record->m_s_url = url;
    }
    if (isFromVidiraUrl) *isFromVidiraUrl = true;
    return url;
}
