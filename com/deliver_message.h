// The delivery step of PagoraMessage, called once its validation has passed.
#pragma once

#include <string>
#include <vector>

#include "com/settings.h"
#include "gateway/automation/document.h"
#include "platform/wipe.h"

namespace zentrova::com {

// The settings one call works from, copied under the module's lock. It holds
// the passwords, so its memory is overwritten when it goes.
struct SettingsSnapshot : SharedSettings {
  void Take(const SharedSettings& from) { static_cast<SharedSettings&>(*this) = from; }
  ~SettingsSnapshot() {
    platform::WipeBytes(static_cast<SharedSettings*>(this), sizeof(SharedSettings));
  }
};

// Composes the request for the recipients and hands it to the gateway by the
// route DeliveryMethod names; returns 1 when delivered, 0 when not, with the
// reason written to response. The sequence number is the module's own, taken
// under its lock.
int DeliverMessage(const SharedSettings& settings, std::vector<gateway::RecipientEntry> recipients,
                   const std::string& message, std::string& response);

}  // namespace zentrova::com
