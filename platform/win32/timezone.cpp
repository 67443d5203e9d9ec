// The system's zone is Windows' own time zone record; the C runtime's view
// is msvcrt's _tzset, _timezone and _daylight (msvcrt has no _get_timezone),
// which follow a TZ environment variable where the record does not.
#include "platform/timezone.h"

#include <time.h>
#include <windows.h>

#include <mutex>
#include <optional>
#include <utility>

#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

ZoneChangeOver FromSystemTime(const SYSTEMTIME& t) {
  return ZoneChangeOver{t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute, t.wSecond};
}

// _tzset fills globals that every thread shares, so their readers take
// turns; the same lock guards the zone a test fixed.
std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
std::optional<FixedZone>& Fixed() {
  static std::optional<FixedZone> fixed;
  return fixed;
}

bool SystemZone(TimeZoneRecord& out, std::string& error) {
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

RuntimeZone RuntimeNow() {
  _tzset();
  return RuntimeZone{_timezone, _daylight != 0};
}

}  // namespace

void FixCurrentZone(std::optional<FixedZone> zone) {
  std::lock_guard<std::mutex> guard(Lock());
  Fixed() = std::move(zone);
}

bool QueryZones(TimeZoneRecord& system, std::string& error, RuntimeZone& runtime) {
  std::lock_guard<std::mutex> guard(Lock());
  if (const auto& fixed = Fixed()) {
    runtime = fixed->runtime;
    if (!fixed->known) error = fixed->error;
    if (fixed->known) system = fixed->system;
    return fixed->known;
  }
  runtime = RuntimeNow();
  return SystemZone(system, error);
}

bool QuerySystemTimeZone(TimeZoneRecord& out, std::string& error) {
  RuntimeZone ignored;
  return QueryZones(out, error, ignored);
}

RuntimeZone QueryRuntimeZone() {
  TimeZoneRecord ignored;
  std::string error;
  RuntimeZone runtime;
  QueryZones(ignored, error, runtime);
  return runtime;
}

}  // namespace zentrova::platform
