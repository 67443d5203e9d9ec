// The system's zone is Windows' own time zone record; the C runtime's view
// is msvcrt's _tzset, _timezone and _daylight (msvcrt has no _get_timezone),
// which follow a TZ environment variable where the record does not.
#include <time.h>
#include <windows.h>

#include "platform/portable/system_calls.h"
#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

ZoneChangeOver FromSystemTime(const SYSTEMTIME& t) {
  return ZoneChangeOver{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace

namespace system {

// _tzset fills globals that every thread shares; the caller holds the lock
// that makes their readers take turns.
RuntimeZone CurrentRuntimeZone() {
  _tzset();
  return RuntimeZone{_timezone, _daylight != 0};
}

ZoneStatus SystemZone(TimeZoneRecord& out, RuntimeZone* runtime) {
  if (runtime) *runtime = CurrentRuntimeZone();
  TIME_ZONE_INFORMATION info;
  if (GetTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID)
    return {ZoneResult::kUnknown,
            "Windows cannot tell its time zone: " + win32::ErrorText(GetLastError())};
  out.bias = info.Bias;
  out.standardDate = FromSystemTime(info.StandardDate);
  out.daylightDate = FromSystemTime(info.DaylightDate);
  return {};
}

}  // namespace system
}  // namespace zentrova::platform
