// The zone files of the system's zone database (TZif, as /etc/localtime and
// /usr/share/zoneinfo hold them) read into the time zone record: how the
// POSIX adapter answers QuerySystemTimeZone, open to tests and fuzzers.
#pragma once

#include <string>
#include <string_view>

#include "platform/timezone.h"

namespace zentrova::platform {

// The record for one zone file (tests and tools point it at any zone this way). A change-over that
// does not recur as a weekday of a week of a month at a time within the day (a day of the year, or
// a time before midnight or past 24 hours) is placed on its real day of the given year; 0 means the
// current one.
bool ReadTimeZoneFile(const std::string& path, TimeZoneRecord& out, std::string& error,
                      int year = 0);

// The same on bytes: a whole zone file, or the POSIX TZ rule its footer holds
// ("AEST-10AEDT,M10.1.0,M4.1.0/3").
bool ParseTimeZoneFile(std::string_view data, int year, TimeZoneRecord& out, std::string& error);
bool ParseTimeZoneRule(std::string_view rule, int year, TimeZoneRecord& out, std::string& error);

}  // namespace zentrova::platform
