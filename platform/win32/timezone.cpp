// The system's zone is Windows' own time zone record; the C runtime's view
// is msvcrt's _tzset, _timezone and _daylight (msvcrt has no _get_timezone),
// which follow a TZ environment variable where the record does not.
#include "platform/timezone.h"

#include <time.h>
#include <windows.h>

#include <mutex>

#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

ZoneChangeOver FromSystemTime(const SYSTEMTIME& t) {
  return ZoneChangeOver{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute, t.wSecond};
}

// _tzset fills globals that every thread shares, so their readers take turns.
std::mutex& RuntimeLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

bool QuerySystemTimeZone(TimeZoneRecord& out, std::string& error) {
  TIME_ZONE_INFORMATION info;
  if (GetTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID) {
    error = "Windows cannot tell its time zone: " + win32::ErrorText(GetLastError());
    return false;
  }
  out.bias = info.Bias;
  out.standardDate = FromSystemTime(info.StandardDate);
  out.daylightDate = FromSystemTime(info.DaylightDate);
  return true;
}

RuntimeZone QueryRuntimeZone() {
  std::lock_guard<std::mutex> guard(RuntimeLock());
  _tzset();
  return RuntimeZone{_timezone, _daylight != 0};
}

bool QueryZones(TimeZoneRecord& system, std::string& error, RuntimeZone& runtime) {
  runtime = QueryRuntimeZone();
  return QuerySystemTimeZone(system, error);
}

}  // namespace zentrova::platform
