#include "identity/sender.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace zentrova::identity {

int FormatTimeZoneKey(const platform::TimeZoneRecord& zone, char* buffer, std::size_t size) {
  if (!buffer || size < 32) return -1;
  const auto& s = zone.standardDate;
  const auto& d = zone.daylightDate;
  // Widths as the gateway parses them; a value that would not fit leaves the
  // caller's buffer as it was.
  char key[64];
  const int n =
      std::snprintf(key, sizeof key, "%+3.3ld%d%2.2d%2.2d%d%d%2.2d%2.2d%d", zone.bias, s.year,
                    s.month, s.day, s.dayOfWeek, d.year, d.month, d.day, d.dayOfWeek);
  if (n < 0 || static_cast<std::size_t>(n) >= size) return -1;
  std::memcpy(buffer, key, static_cast<std::size_t>(n) + 1);
  return 0;
}

SenderZone QuerySenderZone() {
  SenderZone out;
  platform::TimeZoneRecord zone;
  platform::RuntimeZone runtime;
  if (platform::QueryZones(zone, runtime).ok()) FormatTimeZoneKey(zone, out.key, sizeof out.key);
  // Seconds west divided by -60, truncating toward zero: minutes east.
  out.minutesEast = runtime.secondsWest / -60;
  out.daylight = runtime.daylight ? 1 : 0;
  return out;
}

}  // namespace zentrova::identity
