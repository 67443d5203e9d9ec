// The automation server's transport: the proxy by the object's properties,
// and failover from the primary to the secondary server.
#pragma once

#include <cstddef>
#include <string>

#include "gateway/endpoints.h"
#include "gateway/result.h"

namespace zentrova::gateway {

// The longest result text SendViaHttp hands back; the caller shows it as it
// stands.
inline constexpr std::size_t kResultTextLimit = 511;

// The proxy of one send from the object's properties: type 0 direct, 1 the
// system's settings, any other the given address and port. An address that
// starts "http://" in any case loses those seven characters.
ProxySettings AutomationProxy(int proxyType, int proxyPort, const char* proxyAddress,
                              const char* proxyUserName, const char* proxyPassword);

int SendHttpRequest(const std::string& server, int type, const std::string& document,
                    std::string& resultText, const ProxySettings& proxy);

// The primary server, then the secondary on kRetryableFailure or
// kNoUsableReplyAutomation; one send of the process at a time. resultText
// receives the last result text, cut to kResultTextLimit bytes.
int SendViaHttp(int type, const std::string& document, std::string& resultText,
                const ProxySettings& proxy);

}  // namespace zentrova::gateway
