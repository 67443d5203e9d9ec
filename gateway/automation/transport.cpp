// The automation server's transport: proxy by type, session time-outs, a
// reply accepted only when it starts "0000" (or carries code 1), and
// SendViaHttp with failover from the primary to the secondary server.
#include "gateway/automation/transport.h"

#include <mutex>

#include "gateway/http_exchange.h"
#include "platform/ascii.h"
#include "platform/time_limits.h"
#include "platform/trace.h"

namespace zentrova::gateway {

namespace {

constexpr const char* kSessionFailureText = "There was an error connecting to the sever.";

// One HTTP send of the process at a time. A thread already inside
// SendViaHttp (re-entered through a callback) goes on without waiting for
// itself.
std::mutex& SendMutex() {
  static std::mutex mutex;
  return mutex;
}
thread_local int t_sendDepth = 0;

}  // namespace

ProxySettings AutomationProxy(int proxyType, int proxyPort, const char* proxyAddress,
                              const char* proxyUserName, const char* proxyPassword) {
  ProxySettings settings;
  settings.access = proxyType == 0   ? platform::HttpAccess::kDirect
                    : proxyType == 1 ? platform::HttpAccess::kPreconfig
                                     : platform::HttpAccess::kProxy;
  std::string_view address = proxyAddress ? proxyAddress : "";
  if (platform::StartsWithName(address, "HTTP://")) address.remove_prefix(7);
  settings.proxy =
      platform::HttpProxy{std::string(address), proxyPort, proxyUserName ? proxyUserName : "",
                          proxyPassword ? proxyPassword : ""};
  return settings;
}

namespace {

// A proxy asking for authentication is answered with the object's proxy
// user name and password when one is set; without, the attempts end in -2.
ProxyAuthAnswer AnswerFor(const ProxySettings& proxy) {
  ProxyAuthAnswer on407;
  if (!proxy.proxy.userName.empty())
    on407 = ProxyAuthAnswer{true, proxy.proxy.userName, proxy.proxy.password};
  return on407;
}

// on407 is the call's: credentials the proxy refused on the primary server
// are not offered to it again for the secondary.
int SendToServer(const std::string& server, int type, const std::string& document,
                 std::string& resultText, const ProxySettings& proxy, ProxyAuthAnswer& on407,
                 bool& mayHaveBeenDelivered) {
  mayHaveBeenDelivered = false;
  platform::HttpSession session;
  platform::HttpError error;
  if (!session.Open(kUserAgent, proxy.access, proxy.proxy, error)) {
    resultText = kSessionFailureText;
    platform::TraceLine("http session server=" + platform::TraceQuoted(server) +
                        " proxy=" + platform::TraceQuoted(ShownProxy(proxy)) +
                        " error=" + platform::TraceQuoted(error.message) +
                        " result=" + std::to_string(kRetryableFailure));
    return kRetryableFailure;
  }
  session.SetTimeouts(WithAttemptLimitOverride(platform::limits::kAutomationHttp));

  return RunAttempts(kAutomationVariant, session, server, proxy, type, document, resultText, on407,
                     mayHaveBeenDelivered);
}

}  // namespace

int SendHttpRequest(const std::string& server, int type, const std::string& document,
                    std::string& resultText, const ProxySettings& proxy) {
  bool mayHaveBeenDelivered = false;
  ProxyAuthAnswer on407 = AnswerFor(proxy);
  return SendToServer(server, type, document, resultText, proxy, on407, mayHaveBeenDelivered);
}

int SendViaHttp(int type, const std::string& document, std::string& resultText,
                const ProxySettings& proxy) {
  std::unique_lock<std::mutex> lock(SendMutex(), std::defer_lock);
  if (t_sendDepth == 0) lock.lock();
  struct Depth {
    Depth() { ++t_sendDepth; }
    ~Depth() { --t_sendDepth; }
  } depth;

  resultText.clear();
  int result = kSettingUnusable;
  if (auto servers = ReadGatewayServers(GatewayServers::kBoth, resultText)) {
    bool mayHaveBeenDelivered = false;
    ProxyAuthAnswer on407 = AnswerFor(proxy);
    result = SendToServer(servers->primary, type, document, resultText, proxy, on407,
                          mayHaveBeenDelivered);
    if (!mayHaveBeenDelivered &&
        (result == kRetryableFailure || result == kNoUsableReplyAutomation)) {
      platform::TraceLine("http failover from=" + platform::TraceQuoted(servers->primary) +
                          " to=" + platform::TraceQuoted(servers->secondary) +
                          " result=" + std::to_string(result));
      result = SendToServer(servers->secondary, type, document, resultText, proxy, on407,
                            mayHaveBeenDelivered);
    }
  } else {
    platform::TraceLine("http servers error=" + platform::TraceQuoted(resultText) +
                        " result=" + std::to_string(result));
  }
  if (resultText.size() > kResultTextLimit) resultText.resize(kResultTextLimit);
  return result;
}

}  // namespace zentrova::gateway
