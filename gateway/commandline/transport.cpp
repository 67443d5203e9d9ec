// The console program's transport: the primary server only, the proxy from
// the INI file, and a reply read as accepted unless it carries a nonzero code.
#include "gateway/commandline/transport.h"

#include "gateway/http_exchange.h"
#include "platform/time_limits.h"
#include "platform/trace.h"
#include "platform/wipe.h"

namespace zentrova::gateway {

namespace {

ProxySettings g_proxySettings;

}  // namespace

int SetProxyDetails(const char* host, int port, const char* userName, const char* password) {
  std::string& previous = g_proxySettings.proxy.password;
  platform::WipeBytes(previous.data(), previous.capacity());
  g_proxySettings = ProxySettings{};
  if (host) {
    // The host is used unchanged: a scheme written in the INI file stays part of it.
    g_proxySettings.access = platform::HttpAccess::kProxy;
    g_proxySettings.proxy.host = host;
    g_proxySettings.proxy.port = port;
  }
  if (userName) g_proxySettings.proxy.userName = userName;
  if (password) g_proxySettings.proxy.password = password;
  return 0;
}

const ProxySettings& CurrentProxySettings() { return g_proxySettings; }

int SendHttpRequest(const std::string& server, int type, const std::string& document,
                    std::string& resultText) {
  const ProxySettings& proxy = g_proxySettings;
  platform::HttpSession session;
  platform::HttpError error;
  if (!session.Open(kUserAgent, proxy.access, proxy.proxy, error)) {
    // The result text says why, so the line the program prints is not empty.
    resultText = HttpErrorText(error);
    platform::TraceLine("http session proxy=" + platform::TraceQuoted(ShownProxy(proxy)) +
                        " error=" + platform::TraceQuoted(error.message) +
                        " result=" + std::to_string(kNoInternetSession));
    return kNoInternetSession;
  }
  session.SetTimeouts(WithAttemptLimitOverride(platform::limits::kCommandLineHttp));

  // The proxy's credentials are answered to a 407, empty ones included.
  ProxyAuthAnswer on407{true, proxy.proxy.userName, proxy.proxy.password, false};
  platform::WipeOnExit wipeAnswer(on407.password);
  AttemptsOutcome outcome =
      RunAttempts(kCommandLineVariant, session, {server, proxy, type, document}, on407);
  resultText = std::move(outcome.text);
  return outcome.result;
}

}  // namespace zentrova::gateway
