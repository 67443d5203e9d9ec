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
AttemptsOutcome SendToServer(const ServerPost& post, ProxyAuthAnswer& on407) {
  platform::HttpSession session;
  platform::HttpError error;
  if (!session.Open(kUserAgent, post.proxy.access, post.proxy.proxy, error)) {
    platform::TraceLine("http session server=" + platform::TraceQuoted(post.server) +
                        " proxy=" + platform::TraceQuoted(ShownProxy(post.proxy)) +
                        " error=" + platform::TraceQuoted(error.message) +
                        " result=" + std::to_string(kRetryableFailure));
    return {kRetryableFailure, kSessionFailureText};
  }
  session.SetTimeouts(WithAttemptLimitOverride(platform::limits::kAutomationHttp));
  return RunAttempts(kAutomationVariant, session, post, on407);
}

}  // namespace

int SendHttpRequest(const std::string& server, int type, const std::string& document,
                    std::string& resultText, const ProxySettings& proxy) {
  ProxyAuthAnswer on407 = AnswerFor(proxy);
  AttemptsOutcome outcome = SendToServer({server, proxy, type, document}, on407);
  resultText = std::move(outcome.text);
  return outcome.result;
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
    ProxyAuthAnswer on407 = AnswerFor(proxy);
    AttemptsOutcome outcome = SendToServer({servers->primary, proxy, type, document}, on407);
    if (!outcome.mayHaveBeenDelivered &&
        (outcome.result == kRetryableFailure || outcome.result == kNoUsableReplyAutomation)) {
      platform::TraceLine("http failover from=" + platform::TraceQuoted(servers->primary) +
                          " to=" + platform::TraceQuoted(servers->secondary) +
                          " result=" + std::to_string(outcome.result));
      outcome = SendToServer({servers->secondary, proxy, type, document}, on407);
    }
    result = outcome.result;
    resultText = std::move(outcome.text);
  } else {
    platform::TraceLine("http servers error=" + platform::TraceQuoted(resultText) +
                        " result=" + std::to_string(result));
  }
  if (resultText.size() > kResultTextLimit) resultText.resize(kResultTextLimit);
  return result;
}

}  // namespace zentrova::gateway
