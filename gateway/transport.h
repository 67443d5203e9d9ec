// Posting a request document to a gateway web server. The two deliverables
// differ in a few settled points; each links the library built for it, so
// neither can call the other's variant (the call would not link).
#pragma once

#include <cstddef>
#include <string>

#include "gateway/endpoints.h"

namespace zentrova::gateway {

// Transport results besides 0 (accepted) and the gateway's own reply codes.
inline constexpr int kRetryableFailure = -2;
inline constexpr int kNoUsableReplyCommandLine = 10;
inline constexpr int kNoUsableReplyAutomation = 2100;
inline constexpr int kNoInternetSession = 3000;

// Command-line build: the proxy comes from the process-wide ProxySettings.
int SendHttpRequest(const char* server, int type, const std::string& document,
                    std::string& resultText);

// Automation build.
int SendHttpRequest(const char* server, int type, const std::string& document,
                    std::string& resultText, const ProxyDetails& proxy);
// Primary, then secondary on -2 or 2100; one send of the process at a time.
// output (may be null) receives the result text, cut to outputSize - 1 bytes.
int SendViaHttp(int type, const std::string& document, char* output, std::size_t outputSize,
                const ProxyDetails& proxy);

}  // namespace zentrova::gateway
