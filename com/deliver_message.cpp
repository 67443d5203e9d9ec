// DeliverMessage: composes the request from the recipients and the message and
// hands it to the gateway client with the route the DeliveryMethod setting
// names.
#include "com/deliver_message.h"

#include <string>

#include "com/module.h"
#include "gateway/automation/route.h"
#include "gateway/automation/transport.h"
#include "platform/trace.h"

namespace zentrova::com {
namespace {

enum class Composed { kYes, kNoRecipients, kNoMemory };

Composed Compose(const SharedSettings& settings, std::vector<gateway::RecipientEntry> recipients,
                 const std::string& message, std::string& text) {
  gateway::AutomationRequest request;
  platform::WipeOnExit wipePassword(request.settings.password);
  const SenderSettings& sender = settings.sender;
  request.settings.accountId = sender.AccountID;
  request.settings.email = sender.Email;
  request.settings.password = sender.Password;
  request.settings.countryCode = sender.CountryCode;
  request.message = message;
  request.recipients = std::move(recipients);
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

// DeliveryMethod 0 is e-mail; 2 is "HTTP with SMTP fallback"; 1, and any
// other value, is HTTP alone.
gateway::Route RouteOf(int deliveryMethod) {
  return deliveryMethod == 0   ? gateway::Route::kMail
         : deliveryMethod == 2 ? gateway::Route::kHttpThenMail
                               : gateway::Route::kHttp;
}

int Deliver(const SharedSettings& settings, std::vector<gateway::RecipientEntry> recipients,
            const std::string& message, std::string& response) {
  std::string text;
  switch (Compose(settings, std::move(recipients), message, text)) {
    case Composed::kYes:
      break;
    case Composed::kNoRecipients:
      response = "Error: No recipients";
      return 0;
    case Composed::kNoMemory:
      response = "Error: Could no allocate memory";
      return 0;
  }

  const SenderSettings& sender = settings.sender;
  gateway::RouteSettings route;
  route.route = RouteOf(sender.DeliveryMethod);
  if (route.route != gateway::Route::kMail)
    route.proxy = gateway::AutomationProxy(sender.ProxyType, sender.ProxyPort, sender.ProxyAddress,
                                           sender.ProxyUserName, sender.ProxyPassword);
  route.smtpServer = settings.SMTPServer;
  route.smtpLoginName = settings.SMTPLoginName;
  route.from = sender.Email;
  gateway::RouteOutcome outcome = gateway::DeliverRequest(text, route);
  if (outcome.delivered) return 1;
  response = std::move(outcome.response);
  return 0;
}

}  // namespace

int DeliverMessage(const SharedSettings& settings, std::vector<gateway::RecipientEntry> recipients,
                   const std::string& message, std::string& response) {
  const int delivered = Deliver(settings, std::move(recipients), message, response);
  platform::TraceLine("result code=" + std::to_string(delivered) +
                      " text=" + platform::TraceQuoted(response));
  return delivered;
}

}  // namespace zentrova::com
