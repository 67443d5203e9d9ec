// PagoraMessage: checks that the settings are complete, in a fixed order, and
// hands a complete request to DeliverMessage.
#include <string>

#include "com/deliver_message.h"
#include "com/module.h"
#include "com/sms_interface.h"
#include "com/validation.h"
#include "platform/codepage.h"

namespace zentrova::com {

HRESULT STDMETHODCALLTYPE SMSInterface::PagoraMessage(VARIANT* pRecipients, BSTR pMessage) {
  ModuleSettings& settings = CurrentModule()->settings();
  std::string& response = settings.responseText;
  try {
    const SenderSettings& sender = settings.sender;
    const char* failure = nullptr;
    if (!sender.Email[0] || !IsValidEmailAddress(sender.Email))
      failure = "Error: You must supply an email address";
    else if (sender.DeliveryMethod == 0 && (!settings.SMTPServer[0] || !settings.SMTPLoginName[0]))
      failure = "Error: You have specified SMTP but no SMTP settings.";
    else if (!sender.AccountID[0])
      failure = "Your must specifify an Account ID";
    else if (!sender.Password[0])
      failure = "Error: Your must specifify an Password";

    std::string message;
    if (!failure) {
      std::u16string_view wide;
      if (pMessage) wide = std::u16string_view(pMessage, SysStringLen(pMessage));
      if (!platform::Utf16ToAnsi(wide, message)) failure = "Error: Could no allocate memory";
      else if (message.empty()) failure = "Error: There is no message text to send";
    }
    if (failure) {
      response = failure;
      return S_FALSE;
    }

    response.clear();
    if (DeliverMessage(pRecipients, message, response) == 1) {
      response.clear();
      return S_OK;
    }
    return S_FALSE;
  } catch (const std::bad_alloc&) {
    // Out of memory is a failure like the others: S_FALSE and its text.
    response.clear();
    try {
      response = "Error: Could no allocate memory";
    } catch (...) {
    }
    return S_FALSE;
  }
}

}  // namespace zentrova::com
