#include "gateway/automation/route.h"

#include <optional>

#include "gateway/automation/transport.h"
#include "platform/trace.h"
#include "platform/wipe.h"
#include "smtp/gateway_mail.h"

namespace zentrova::gateway {
namespace {

constexpr const char* kGatewayMailSubject = "RUV: sms message";

}  // namespace

RouteSettings::~RouteSettings() {
  platform::WipeBytes(proxy.proxy.password.data(), proxy.proxy.password.size());
}

RouteOutcome DeliverRequest(const std::string& document, const RouteSettings& settings) {
  if (settings.route != Route::kMail) {
    std::string reply;
    const int result = SendViaHttp(0, document, reply, settings.proxy);
    if (result == kAccepted) return {true, ""};
    if (result != kRetryableFailure && result != kServerNotResponding) {
      // The gateway's refusal or the transport's own reason, as it stands.
      return {false, reply};
    }
    if (settings.route != Route::kHttpThenMail || settings.smtpServer.empty() ||
        settings.smtpLoginName.empty())
      return {false, "Error: Could not sent via the web (HTTP)"};
    platform::TraceLine("smtp fallback result=" + std::to_string(result));
  }

  std::string mailboxError;
  const std::optional<std::string> mailbox = ReadGatewayMailbox(mailboxError);
  if (!mailbox) return {false, mailboxError};
  if (smtp::SendGatewayMail({settings.smtpServer.c_str(), settings.from.c_str(), mailbox->c_str(),
                             kGatewayMailSubject, document.c_str()})
          .delivered)
    return {true, ""};
  return {false, settings.route == Route::kMail ? "Error: Could not sent via SMTP"
                                                : "Error: Could not sent via HTTP or SMTP"};
}

}  // namespace zentrova::gateway
