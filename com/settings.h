// The automation server's settings: one set per process, shared by every
// SMSInterface object. Texts are 8-bit in the system's ANSI code page, held in
// fixed buffers whose width includes the terminating NUL.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wipe.h"

namespace zentrova::com {

struct SenderSettings {
  char AccountID[32];
  char SK[64];  // no operation of this server fills it
  uint32_t SN;  // sequence number of request documents
  char Email[64];
  char ProxyAddress[64];
  char ProxyUserName[64];
  char ProxyPassword[64];
  int32_t ProxyType;
  int32_t ProxyPort;
  int32_t DeliveryMethod;
  char Password[64];
  char Mobile[256];      // no operation of this server fills it
  char CountryCode[16];  // decimal, as "%d" writes it; empty until set
};

// Everything the properties set: the record and the SMTP texts. A
// PagoraMessage call works from one copy of it taken at its start. It holds
// the passwords, so every copy (the module's, which lasts until the library
// unloads, and each call's) is overwritten when it goes.
struct SharedSettings {
  SenderSettings sender;
  char SMTPServer[64];
  char SMTPLoginName[64];
  char SMTPPassword[64];

  // The state of a freshly loaded library: all zero, delivery by HTTP.
  SharedSettings() : sender{}, SMTPServer{}, SMTPLoginName{}, SMTPPassword{} {
    sender.DeliveryMethod = 1;
  }
  SharedSettings(const SharedSettings&) = default;
  SharedSettings& operator=(const SharedSettings&) = default;
  ~SharedSettings() { platform::WipeBytes(this, sizeof(*this)); }
};

// What the module holds: the settings and the outcome of the last operation.
struct ModuleSettings : SharedSettings {
  std::string responseText;
};

}  // namespace zentrova::com
