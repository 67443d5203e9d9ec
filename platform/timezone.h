// The local time zone, in the terms of the Windows time zone record: the
// standard bias and the two recurring change-over dates. And the C runtime's
// view of the zone, which follows the TZ environment variable where the system
// record does not.
#pragma once

#include <string>
#include <string_view>

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

// The zone the system itself is set to, not the TZ environment variable. False,
// with a reason in error, when the system cannot tell: no zone set, or an
// unreadable zone or rule. The standard time is the zone's winter time, even
// where the zone's own rule calls its summer time standard (Europe/Dublin).
bool QuerySystemTimeZone(TimeZoneRecord& out, std::string& error);

// The same for one zone file of the system's zone database (tests and tools
// point it at another zone this way). A change-over that does not recur as a
// weekday of a week of a month at a time within the day (a day of the year,
// or a time before midnight or past 24 hours) is placed on its real day of
// the given year; 0 means the current one.
bool ReadTimeZoneFile(const std::string& path, TimeZoneRecord& out, std::string& error,
                      int year = 0);

// The same on bytes: a whole zone file, or the POSIX TZ rule its footer holds
// ("AEST-10AEDT,M10.1.0,M4.1.0/3").
bool ParseTimeZoneFile(std::string_view data, int year, TimeZoneRecord& out, std::string& error);
bool ParseTimeZoneRule(std::string_view rule, int year, TimeZoneRecord& out, std::string& error);

// The C runtime's zone after it has set itself up again (so a changed TZ
// variable or system zone shows): seconds that local standard time lies west
// of UTC (in winter, as for the record), and whether the zone has a
// daylight-saving rule at all.
struct RuntimeZone {
  long secondsWest = 0;
  bool daylight = false;
};
RuntimeZone QueryRuntimeZone();

// Both of the above at once, as every request document needs them; cheaper
// than asking twice. Returns what QuerySystemTimeZone would.
bool QueryZones(TimeZoneRecord& system, std::string& error, RuntimeZone& runtime);

}  // namespace zentrova::platform
