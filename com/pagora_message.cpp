// PagoraMessage: checks that the settings are complete, in a fixed order,
// turns the recipients argument into entries, and hands a complete request to
// DeliverMessage.
#include <string>
#include <vector>

#include "com/collect_recipients.h"
#include "com/deliver_message.h"
#include "com/module.h"
#include "com/sms_interface.h"
#include "com/validation.h"
#include "platform/ole_text.h"

namespace zentrova::com {
namespace {

// The checks in their order; null when the settings are complete.
const char* MissingSetting(const SharedSettings& settings) {
  const SenderSettings& sender = settings.sender;
  if (!sender.Email[0] || !IsValidEmailAddress(sender.Email))
    return "Error: You must supply an email address";
  if (sender.DeliveryMethod == 0 && (!settings.SMTPServer[0] || !settings.SMTPLoginName[0]))
    return "Error: You have specified SMTP but no SMTP settings.";
  if (!sender.AccountID[0]) return "Your must specifify an Account ID";
  if (!sender.Password[0]) return "Error: Your must specifify an Password";
  return nullptr;
}

HRESULT Deliver(VARIANT* recipients, BSTR text, std::string& response) {
  // One copy of the settings for the whole call: a property set meanwhile on
  // another thread counts from the next call on, never half-way through this one.
  const SharedSettings settings =
      CurrentModule()->WithSettings([](ModuleSettings& s) { return SharedSettings(s); });
  if (const char* missing = MissingSetting(settings)) {
    response = missing;
    return S_FALSE;
  }
  std::string message;
  if (!platform::OleToAnsi(platform::BstrView(text), message)) {
    response = "Error: Could no allocate memory";
    return S_FALSE;
  }
  if (message.empty()) {
    response = "Error: There is no message text to send";
    return S_FALSE;
  }
  // The VARIANT is read here, once; past this point the request is plain data.
  std::vector<gateway::RecipientEntry> entries;
  if (!CollectRecipients(recipients, entries)) {
    response = "Error: Could no allocate memory";
    return S_FALSE;
  }
  return DeliverMessage(settings, std::move(entries), message, response) == 1 ? S_OK : S_FALSE;
}

}  // namespace

HRESULT STDMETHODCALLTYPE SMSInterface::PagoraMessage(VARIANT* pRecipients, BSTR pMessage) {
  std::string response;
  HRESULT hr = S_FALSE;
  bool outOfMemory = false;
  try {
    hr = Deliver(pRecipients, pMessage, response);
  } catch (const std::bad_alloc&) {
    outOfMemory = true;  // a failure like the others: S_FALSE and its text
  }
  if (hr == S_OK) response.clear();
  CurrentModule()->WithSettings([&](ModuleSettings& s) {
    if (!outOfMemory) {
      s.responseText = std::move(response);
      return;
    }
    try {
      s.responseText = "Error: Could no allocate memory";
    } catch (const std::bad_alloc&) {
      s.responseText.clear();
    }
  });
  return hr;
}

}  // namespace zentrova::com
