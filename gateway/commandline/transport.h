// The console program's transport: the primary server only, the proxy of the
// INI file for the whole process.
#pragma once

#include <string>

#include "gateway/endpoints.h"
#include "gateway/result.h"

namespace zentrova::gateway {

// Sets the process's proxy, once at start-up: with a host, the proxy at host
// and port; the user name and password (each may be null) answer a 407.
// Returns 0.
int SetProxyDetails(const char* host, int port, const char* userName, const char* password);
const ProxySettings& CurrentProxySettings();

// Posts document to server through the process's proxy and returns the
// result (see gateway/result.h) or the gateway's reply code; resultText
// holds the last reply or error text.
int SendHttpRequest(const std::string& server, int type, const std::string& document,
                    std::string& resultText);

}  // namespace zentrova::gateway
