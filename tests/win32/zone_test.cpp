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
  // The case's TZ chose Wine's zone; msvcrt must ask the system instead.
  _putenv("TZ=");
  char key[32] = {}, offset[12] = {};
  ASSERT_EQ(zentrova::identity::BuildTimeZoneKey(key, sizeof key), 0);
  EXPECT_EQ(std::string(key), Expected("ZV_EXPECT_KEY"));
  zentrova::identity::BuildTimeZoneOffset(offset, sizeof offset);
  EXPECT_EQ(std::string(offset), Expected("ZV_EXPECT_OFFSET"));
  EXPECT_EQ(std::to_string(zentrova::identity::DaylightSavingFlag()), Expected("ZV_EXPECT_DLS"));
  EXPECT_EQ(std::to_string(zentrova::platform::ThreadLocaleId()), Expected("ZV_EXPECT_LCID"));

  // A TZ variable of the process moves the C runtime's values, not the key.
  _putenv("TZ=EST5EDT");
  zentrova::identity::BuildTimeZoneOffset(offset, sizeof offset);
  EXPECT_EQ(std::string(offset), "-300");
  EXPECT_EQ(zentrova::identity::DaylightSavingFlag(), 1);
  char again[32] = {};
  ASSERT_EQ(zentrova::identity::BuildTimeZoneKey(again, sizeof again), 0);
  EXPECT_EQ(std::string(again), std::string(key));
  _putenv("TZ=");
}

}  // namespace
