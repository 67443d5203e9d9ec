// The current time zone's rule, in the terms of the Windows time zone record:
// the standard bias and the two recurring change-over dates. And the C
// runtime's view of the zone, which may differ from the system's setting (on
// POSIX systems it follows the TZ environment variable).
#pragma once

#include <optional>
#include <string>

#include "platform/status.h"

namespace zentrova::platform {

// A recurring change-over in the Windows form: year 0, month 1-12, day the
// week of the month (1-5, 5 meaning the last), dayOfWeek 0 = Sunday, and the
// local time of day at which it happens. All zero for a zone without daylight
// saving.
struct ZoneChangeOver {
  int year = 0;
  int month = 0;
  int day = 0;
  int dayOfWeek = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

struct TimeZoneRecord {
  long bias = 0;                // minutes; UTC = local standard time + bias
  ZoneChangeOver standardDate;  // change-over to standard time
  ZoneChangeOver daylightDate;  // change-over to daylight time
};

enum class ZoneResult {
  kOk,
  kUnknown,  // the system cannot tell: no zone set, or an unreadable zone or rule
};
using ZoneStatus = Status<ZoneResult>;

// The zone the system itself is set to, not the C runtime's; kUnknown, with
// the reason in the message, when the system cannot tell. The standard time
// is the zone's winter time, even where the zone's own rule calls its summer
// time standard (Europe/Dublin).
ZoneStatus QuerySystemTimeZone(TimeZoneRecord& out);

// The C runtime's zone after it has set itself up again (so a changed
// setting shows): seconds that local standard time lies west
// of UTC (in winter, as for the record), and whether the zone has a
// daylight-saving rule at all.
struct RuntimeZone {
  long secondsWest = 0;
  bool daylight = false;
};
RuntimeZone QueryRuntimeZone();

// Both of the above at once, as every request document needs them; cheaper
// than asking twice. Returns what QuerySystemTimeZone would.
ZoneStatus QueryZones(TimeZoneRecord& system, RuntimeZone& runtime);

// For tests: the answers the queries above give while a zone is fixed, in
// place of the system's. known false makes QuerySystemTimeZone answer
// kUnknown with error as the message. std::nullopt gives the system's answers back. The fixed zone
// is the whole process's, so a test fixes it before it starts threads that ask.
struct FixedZone {
  bool known = true;
  TimeZoneRecord system;
  std::string error;
  RuntimeZone runtime;
};
void FixCurrentZone(std::optional<FixedZone> zone);

}  // namespace zentrova::platform
