// Access from a Windows test program to the local test servers that scripts/wine-run.sh starts
// (python3 -m servers): their ports come in VD_SRV_<ROLE>, their control paths answer directly.
#pragma once
#include <json/json.h>

#include <string>
#include <vector>

namespace vdtest {

// Port of a server ("proxy", "config", "iplookup", "package", ...), 0 when not running.
int ServerPort(const char* role);
// Sends a control command straight to the server (no proxy); returns the HTTP status, -1 when unreachable.
int ServerControl(const char* role, const std::string& action, const std::string& body = std::string(),
                  std::string* answer = nullptr);
// Every request the server recorded, oldest first.
Json::Value ServerRequests(const char* role);
void ServerReset(const char* role);
// Body bytes the package server has sent since its last reset; -1 when it cannot tell.
long long PackageBodyBytes();
// A recorded request's body bytes.
std::string RecordBody(const Json::Value& rec);
// Whether the recorded raw header lines hold exactly this line.
bool HasRawHeader(const Json::Value& rec, const std::string& line);
// The value of the first header of that name (case-insensitive), empty when absent.
std::string HeaderValue(const Json::Value& rec, const std::string& name);
// How many header lines of that name (case-insensitive) the request carried.
int HeaderCount(const Json::Value& rec, const std::string& name);

}  // namespace vdtest
