// The delivery step of PagoraMessage, called once its validation has passed.
#pragma once

#include <string>

#include "com/settings.h"
#include "identity/cipher.h"
#include "platform/com.h"

namespace zentrova::com {

// The settings one call works from, copied under the module's lock. It holds
// the passwords, so its memory is overwritten when it goes.
struct SettingsSnapshot : SharedSettings {
  void Take(const SharedSettings& from) { static_cast<SharedSettings&>(*this) = from; }
  ~SettingsSnapshot() {
    identity::WipeBytes(static_cast<SharedSettings*>(this), sizeof(SharedSettings));
  }
};

// Delivers message to the recipients as settings say; returns 1 when
// delivered, 0 when not, with the reason written to response. The sequence
// number is the module's own, taken under its lock.
int DeliverMessage(const SharedSettings& settings, VARIANT* recipients, const std::string& message,
                   std::string& response);

}  // namespace zentrova::com
