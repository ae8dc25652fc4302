// Asking the configuration server which setup package fits this machine and channel.
#pragma once
#include <memory>
#include <string>

#include "net/serverinfo_parse.h"

class CVdBizHandler;

// Channel order: CHANNEL resource; then "empty" and "pmgw" without business resources, or "vaz"
// with them; the simulation flag puxpc_sold_out forces "vaz". None when the last request fails.
std::unique_ptr<InstServerInfo> SendInstServerInfoRequest();
std::unique_ptr<InstServerInfo> SendInstServerInfoRequest(CVdBizHandler& biz);
// The record of the channel "empty", kept for the manual-download offer.
std::unique_ptr<InstServerInfo> SendInstSDXZInfoRequest();

// One request and its parsing.
std::unique_ptr<InstServerInfo> CVdHttpGetRequest_2_Inst_Server_Info(const std::wstring& url);

// Values go in as they are, unescaped: the server expects the channel token byte for byte.
std::wstring BuildInstInfoUrl(const std::wstring& channel, int x64, bool env, const std::wstring& appname);
// 1 for a 64-bit iTunes, 0 for another iTunes, the OS bitness without one.
int GetInstX64Flag();
// The x64 rule alone.
int InstX64FlagFromEnvironment(int environResult, int os64);
// "debug.dll" beside the installer's own executable.
bool IsDebugEnv();

// Version, X64 and Url of the record from the fixed templates; returns the URL. The caller learns
// through isFromVidiraUrl that the package comes from a template.
std::wstring ComposeFallbackUrl(InstServerInfo* record, bool* isFromVidiraUrl);
std::wstring ComposeFallbackUrlFor(bool vaz, int x64, const std::wstring& version);
