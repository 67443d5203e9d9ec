// The system's own answers under the time zone and locale interfaces
// (platform/timezone.h, platform/locale.h): each system's adapter defines
// them, and portable/timezone.cpp and portable/locale.cpp put the test hooks
// in front of them, written once. Nothing above the adapters includes this.
#pragma once

#include <string>

#include "platform/timezone.h"

namespace zentrova::platform::system {

// The zone the system is set to; with runtime, also the C runtime's zone, in
// one look where the system can. portable/timezone.cpp calls both under one
// lock, which also keeps the C runtime's set-up and the reading of its
// process-wide globals together.
ZoneStatus SystemZone(TimeZoneRecord& out, RuntimeZone* runtime);
RuntimeZone CurrentRuntimeZone();

// The identifier of the locale the calling thread runs in.
unsigned long CurrentLocaleId();

}  // namespace zentrova::platform::system
