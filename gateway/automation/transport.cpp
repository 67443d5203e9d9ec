// The automation server's transport: proxy by type, session time-outs, a
// reply accepted only when it starts "0000" (or carries code 1), and
// SendViaHttp with failover from the primary to the secondary server.
#include "gateway/transport.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "gateway/http_exchange.h"

namespace zentrova::gateway {

namespace {

// Connect 2 s, send 4 s, then 25 s without a byte of the reply; the whole
// attempt is bounded by their sum. The connect retries (2) of the original design have no
// counterpart in the HTTP library, which tries every address of a name once.
constexpr platform::HttpTimeouts kAutomationTimeouts = {
    .connectMs = 2000, .sendMs = 4000, .receiveMs = 25000, .attemptMs = 0};

constexpr const char* kSessionFailureText = "There was an error connecting to the sever.";

void CopyText(char (&to)[64], const char* from) {
  std::strncpy(to, from ? from : "", sizeof to - 1);
  to[sizeof to - 1] = '\0';
}

// One HTTP send of the process at a time. A thread already inside
// SendViaHttp (re-entered through a callback) goes on without waiting for
// itself.
std::mutex& SendMutex() {
  static std::mutex mutex;
  return mutex;
}
thread_local int t_sendDepth = 0;

}  // namespace

void FillProxyDetails(ProxyDetails& details, int proxyType, int proxyPort, const char* proxyAddress,
                      const char* proxyUserName, const char* proxyPassword) {
  details = ProxyDetails{};
  details.proxyType = proxyType;
  details.port = proxyPort;
  const char* address = proxyAddress ? proxyAddress : "";
  if (strncasecmp(address, "HTTP://", 7) == 0) address += 7;
  CopyText(details.address, address);
  CopyText(details.userName, proxyUserName);
  CopyText(details.password, proxyPassword);
}

namespace {

int SendToServer(const char* server, int type, const std::string& document, std::string& resultText,
                 const ProxyDetails& proxy, bool& mayHaveBeenDelivered) {
  mayHaveBeenDelivered = false;
  platform::HttpAccess access = platform::HttpAccess::kProxy;
  std::string proxyList;
  if (proxy.proxyType == 0) {
    access = platform::HttpAccess::kDirect;
  } else if (proxy.proxyType == 1) {
    access = platform::HttpAccess::kPreconfig;
  } else {
    char list[256];
    std::snprintf(list, sizeof list, "http=http://%s:%d", proxy.address, proxy.port);
    proxyList = list;
  }
  platform::HttpSession session;
  platform::HttpError error;
  if (!session.Open(kUserAgent, access, proxyList, error)) {
    resultText = kSessionFailureText;
    return kRetryableFailure;
  }
  session.SetTimeouts(WithAttemptLimitOverride(kAutomationTimeouts));

  // A proxy asking for authentication is answered with the object's proxy
  // user name and password when one is set; without, the attempts end in -2.
  ProxyAuthAnswer on407;
  if (proxy.userName[0] != '\0') on407 = ProxyAuthAnswer{true, proxy.userName, proxy.password};
  return RunAttempts(kAutomationVariant, session, server, type, document, resultText, on407,
                     mayHaveBeenDelivered);
}

}  // namespace

int SendHttpRequest(const char* server, int type, const std::string& document,
                    std::string& resultText, const ProxyDetails& proxy) {
  bool mayHaveBeenDelivered = false;
  return SendToServer(server, type, document, resultText, proxy, mayHaveBeenDelivered);
}

int SendViaHttp(int type, const std::string& document, char* output, std::size_t outputSize,
                const ProxyDetails& proxy) {
  std::unique_lock<std::mutex> lock(SendMutex(), std::defer_lock);
  if (t_sendDepth == 0) lock.lock();
  struct Depth {
    Depth() { ++t_sendDepth; }
    ~Depth() { --t_sendDepth; }
  } depth;

  std::string resultText;
  int result = kSettingUnusable;
  if (ReadGatewayServers(GatewayServers::kBoth, resultText)) {
    bool mayHaveBeenDelivered = false;
    result = SendToServer(g_szHttpServer1, type, document, resultText, proxy, mayHaveBeenDelivered);
    if (!mayHaveBeenDelivered &&
        (result == kRetryableFailure || result == kNoUsableReplyAutomation))
      result =
          SendToServer(g_szHttpServer2, type, document, resultText, proxy, mayHaveBeenDelivered);
  }

  if (output && outputSize > 0) {
    std::size_t length = std::min(resultText.size(), outputSize - 1);
    std::memcpy(output, resultText.data(), length);
    output[length] = '\0';
  }
  return result;
}

}  // namespace zentrova::gateway
