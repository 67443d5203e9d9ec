// The identity values from Windows' own time zone record, msvcrt's _tzset and
// the thread locale. Each ctest case starts the program in another zone and
// locale (Wine takes both from the host's TZ and LC_ALL) with the values
// Windows' published zone records and locale identifiers give for it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "identity/sender.h"
#include "platform/locale.h"

namespace {

std::string Expected(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

TEST(WinZone, KeyOffsetFlagAndLocaleOfTheSystem) {
  using zentrova::identity::QuerySenderZone;
  // The case's TZ chose Wine's zone; msvcrt must ask the system instead.
  _putenv("TZ=");
  const auto zone = QuerySenderZone();
  ASSERT_NE(zone.key[0], '\0');
  EXPECT_EQ(std::string(zone.key), Expected("ZV_EXPECT_KEY"));
  EXPECT_EQ(std::to_string(zone.minutesEast), Expected("ZV_EXPECT_OFFSET"));
  EXPECT_EQ(std::to_string(zone.daylight), Expected("ZV_EXPECT_DLS"));
  EXPECT_EQ(std::to_string(zentrova::platform::ThreadLocaleId()), Expected("ZV_EXPECT_LCID"));

  // A TZ variable of the process moves the C runtime's values, not the key.
  _putenv("TZ=EST5EDT");
  const auto moved = QuerySenderZone();
  EXPECT_EQ(moved.minutesEast, -300);
  EXPECT_EQ(moved.daylight, 1);
  EXPECT_EQ(std::string(moved.key), std::string(zone.key));
  _putenv("TZ=");
}

}  // namespace
