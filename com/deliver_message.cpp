// DeliverMessage: composes the request from the recipients and the message and
// delivers it by HTTP, by e-mail, or by HTTP with e-mail as the fallback, as
// the DeliveryMethod setting says.
#include "com/deliver_message.h"

#include <optional>
#include <string>

#include "com/collect_recipients.h"
#include "com/module.h"
#include "gateway/automation/document.h"
#include "gateway/automation/transport.h"
#include "identity/cipher.h"
#include "platform/trace.h"
#include "smtp/gateway_mail.h"

namespace zentrova::com {
namespace {

constexpr int kMethodSmtp = 0;
// The method whose name promises the e-mail route after a failed HTTP send
// ("2 = HTTP with SMTP fallback"); method 1 is HTTP alone.
constexpr int kMethodHttpWithFallback = 2;

constexpr const char* kGatewayMailSubject = "RUV: sms message";

// Runs its action when the scope ends, on every path: copies of secrets are
// overwritten before their memory goes.
template <class Action>
struct OnExit {
  Action action;
  ~OnExit() { action(); }
};
template <class Action>
OnExit(Action) -> OnExit<Action>;

enum class Composed { kYes, kNoRecipients, kNoMemory };

Composed Compose(const SharedSettings& settings, VARIANT* recipients, const std::string& message,
                 std::string& text) {
  gateway::AutomationRequest request;
  std::string& password = request.settings.password;
  OnExit wipePassword{[&] { identity::WipeBytes(password.data(), password.size()); }};
  const SenderSettings& sender = settings.sender;
  request.settings.accountId = sender.AccountID;
  request.settings.email = sender.Email;
  request.settings.password = sender.Password;
  request.settings.countryCode = sender.CountryCode;
  request.message = message;
  if (!CollectRecipients(recipients, request.recipients)) return Composed::kNoMemory;
  // The sequence number is the module's own, taken where it is kept and under
  // its lock, so that no two requests of the process carry the same one.
  const auto composed = CurrentModule()->WithSettings([&](ModuleSettings& s) {
    return gateway::ComposeAutomationDocument(request, s.sender.SN, text);
  });
  switch (composed) {
    case gateway::ComposeResult::kComposed:
      return Composed::kYes;
    case gateway::ComposeResult::kNoRecipients:
      return Composed::kNoRecipients;
    case gateway::ComposeResult::kNoMemory:
      break;
  }
  return Composed::kNoMemory;
}

int Deliver(const SharedSettings& settings, VARIANT* recipients, const std::string& message,
            std::string& response) {
  const SenderSettings& sender = settings.sender;
  std::string text;
  switch (Compose(settings, recipients, message, text)) {
    case Composed::kYes:
      break;
    case Composed::kNoRecipients:
      response = "Error: No recipients";
      return 0;
    case Composed::kNoMemory:
      response = "Error: Could no allocate memory";
      return 0;
  }

  const int method = sender.DeliveryMethod;
  if (method != kMethodSmtp) {
    gateway::ProxySettings proxy =
        gateway::AutomationProxy(sender.ProxyType, sender.ProxyPort, sender.ProxyAddress,
                                 sender.ProxyUserName, sender.ProxyPassword);
    OnExit wipeProxyPassword{
        [&] { identity::WipeBytes(proxy.proxy.password.data(), proxy.proxy.password.size()); }};
    std::string reply;
    const int result = gateway::SendViaHttp(0, text, reply, proxy);
    if (result == gateway::kAccepted) return 1;
    if (result != gateway::kRetryableFailure && result != gateway::kServerNotResponding) {
      // The gateway's refusal or the transport's own reason, as it stands.
      response = reply;
      return 0;
    }
    if (method != kMethodHttpWithFallback || !settings.SMTPServer[0] ||
        !settings.SMTPLoginName[0]) {
      response = "Error: Could not sent via the web (HTTP)";
      return 0;
    }
    platform::TraceLine("smtp fallback result=" + std::to_string(result));
  }

  std::string mailboxError;
  const std::optional<std::string> mailbox = gateway::ReadGatewayMailbox(mailboxError);
  if (!mailbox) {
    response = mailboxError;
    return 0;
  }
  if (smtp::SendGatewayMail(
          {settings.SMTPServer, sender.Email, mailbox->c_str(), kGatewayMailSubject, text.c_str()})
          .delivered)
    return 1;
  response = method == kMethodSmtp ? "Error: Could not sent via SMTP"
                                   : "Error: Could not sent via HTTP or SMTP";
  return 0;
}

}  // namespace

int DeliverMessage(const SharedSettings& settings, VARIANT* recipients, const std::string& message,
                   std::string& response) {
  const int delivered = Deliver(settings, recipients, message, response);
  platform::TraceLine("result code=" + std::to_string(delivered) +
                      " text=" + platform::TraceQuoted(response));
  return delivered;
}

}  // namespace zentrova::com
