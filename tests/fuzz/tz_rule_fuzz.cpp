// The time zone rule reader, on a rule as a zone file's footer holds it and on
// a whole zone file: it never crashes, explains every refusal, and whatever it
// accepts fits the record (and so the key).
#include <cstdint>
#include <string>
#include <string_view>

#include "identity/sender.h"
#include "platform/posix/zone_file.h"
#include "platform/timezone.h"
#include "tests/fuzz/require.h"

namespace {

using zentrova::platform::TimeZoneRecord;
using zentrova::platform::ZoneChangeOver;

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

void CheckChangeOver(const ZoneChangeOver& d) {
  Require(d.year == 0 && InRange(d.month, 1, 12) && InRange(d.day, 1, 5) &&
          InRange(d.dayOfWeek, 0, 6) && InRange(d.hour, 0, 24) && InRange(d.minute, 0, 59) &&
          InRange(d.second, 0, 59));
}

void CheckRecord(const TimeZoneRecord& zone) {
  Require(zone.bias > -25 * 60 && zone.bias < 25 * 60);
  if (zone.standardDate.month == 0) {  // no daylight saving: both dates empty
    Require(zone.daylightDate.month == 0 && zone.standardDate.day == 0 &&
            zone.daylightDate.day == 0);
  } else {
    CheckChangeOver(zone.standardDate);
    CheckChangeOver(zone.daylightDate);
  }
  char key[32];
  Require(zentrova::identity::FormatTimeZoneKey(zone, key, sizeof key) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Rules without a recurring form land on a day of the year: a leap year, a
  // common one, and one the input picks.
  for (int year : {2026, 2028, 1900 + (size ? data[size - 1] : 0)}) {
    for (auto parse :
         {zentrova::platform::ParseTimeZoneRule, zentrova::platform::ParseTimeZoneFile}) {
      TimeZoneRecord zone;
      std::string error;
      if (parse(bytes, year, zone, error))
        CheckRecord(zone);
      else
        Require(!error.empty());
    }
  }
  return 0;
}
