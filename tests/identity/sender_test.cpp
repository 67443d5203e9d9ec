#include "identity/sender.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/locale.h"
#include "platform/timezone.h"

namespace zentrova::identity {
namespace {

// Cases that set the zone or locale variables; none of them leaks into the next.
class WithEnvironment : public testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"TZ", "LC_ALL", "LC_CTYPE", "LANG"}) ::unsetenv(name);
  }
};

std::string KeyOfZoneFile(const std::string& path, std::string* error = nullptr) {
  platform::TimeZoneRecord zone;
  std::string why;
  if (!platform::ReadTimeZoneFile(path, zone, why)) {
    if (error) *error = why;
    return "(cannot tell)";
  }
  char key[32] = "";
  EXPECT_EQ(FormatTimeZoneKey(zone, key, sizeof key), 0);
  return key;
}

TEST(TimeZoneKey, ZonesOfTheSystemDatabase) {
  const struct {
    const char* zone;
    const char* key;
  } cases[] = {
      {"Australia/Sydney", "-600004010010010"},  // UTC+10, back 1st Sun Apr, forward 1st Sun Oct
      {"America/New_York", "+300011010003020"},  // UTC-5, 1st Sun Nov, 2nd Sun Mar
      {"UTC", "+000000000000000"},
      {"Asia/Kolkata", "-330000000000000"},
      {"Europe/London", "+000010050003050"},     // last Sun Oct, last Sun Mar
      {"Pacific/Auckland", "-720004010009050"},  // 1st Sun Apr, last Sun Sep
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(KeyOfZoneFile(std::string("/usr/share/zoneinfo/") + c.zone, &error), c.key)
        << c.zone << ": " << error;
  }
}

// A minimal version 2 zone file: one local time type, no transitions, and the
// given footer rule (or none at all for version 1).
std::string WriteZoneFile(const std::string& name, const char* footer) {
  std::string block;
  const char counts[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4};
  const char type[6] = {0, 0, 0, 0, 0, 0};
  auto header = [&](char version) {
    block += "TZif";
    block += version;
    block += std::string(15, '\0');
    block.append(counts, sizeof counts);
    block.append(type, sizeof type);
    block.append("XXX\0", 4);
  };
  header(footer ? '2' : '\0');
  if (footer) {
    header('2');
    block += std::string("\n") + footer + "\n";
  }
  const std::string path = testing::TempDir() + "zv_zone_" + name;
  std::ofstream(path, std::ios::binary) << block;
  return path;
}

TEST(TimeZoneKey, RulesWithoutAMonthWeekDayFormCannotBeTold) {
  const std::string cannot = "(cannot tell)";
  // Change-over times beyond 24 hours or before midnight, from the database.
  EXPECT_EQ(KeyOfZoneFile("/usr/share/zoneinfo/Asia/Jerusalem"), cannot);  // M3.4.4/26
  EXPECT_EQ(KeyOfZoneFile("/usr/share/zoneinfo/America/Nuuk"), cannot);    // M3.5.0/-1
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("julian", "XST3XDT,J60/2,J300/2")), cannot);
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("zerobased", "XST3XDT,59,299")), cannot);
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("v1", nullptr)), cannot);
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("empty", "")), cannot);
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("norule", "XST3XDT")), cannot);
  EXPECT_EQ(KeyOfZoneFile(testing::TempDir() + "zv_zone_missing"), cannot);

  // The same writer with expressible rules, so the refusals above are the rules'.
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("quoted", "<+0330>-3:30")), "-210000000000000");
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("midnight", "XST3XDT,M3.2.0/0,M11.1.0/24")),
            "+180011010003020");
}

TEST(TimeZoneKey, RefusesAShortBufferAndLeavesItUntouched) {
  char small[16];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(BuildTimeZoneKey(small, sizeof small), -1);
  EXPECT_EQ(BuildTimeZoneKey(nullptr, 64), -1);
  EXPECT_EQ(small[0], 'x');
}

TEST_F(WithEnvironment, TimeZoneKeyFollowsTheSystemZoneNotTz) {
  char system[32] = "untouched";
  const int result = BuildTimeZoneKey(system, sizeof system);
  ::setenv("TZ", "Pacific/Auckland", 1);
  char withTz[32] = "untouched";
  EXPECT_EQ(BuildTimeZoneKey(withTz, sizeof withTz), result);
  EXPECT_STREQ(withTz, system);
}

TEST_F(WithEnvironment, RuntimeZoneOffsetAndDaylightFlagFollowTz) {
  const struct {
    const char* tz;
    const char* offset;
    int daylight;
  } cases[] = {
      {"Australia/Sydney", "600", 1}, {"America/New_York", "-300", 1},
      {"Asia/Kolkata", "330", 0},     {"UTC", "0", 0},
      {"<-0330>3:30", "-210", 0},
  };
  for (const auto& c : cases) {
    ::setenv("TZ", c.tz, 1);
    char offset[16] = "";
    BuildTimeZoneOffset(offset, sizeof offset);
    EXPECT_STREQ(offset, c.offset) << c.tz;
    EXPECT_EQ(DaylightSavingFlag(), c.daylight) << c.tz;
  }
}

TEST(Locale, IdentifiersOfCommonLocales) {
  const struct {
    const char* name;
    unsigned long id;
  } cases[] = {
      {"en_US.UTF-8", 1033}, {"en_AU.UTF-8", 3081}, {"de_DE.UTF-8", 1031}, {"fr_FR", 1036},
      {"ja_JP.eucJP", 1041}, {"pt_BR.UTF-8", 1046}, {"C", 1033},           {"POSIX", 1033},
      {"C.UTF-8", 1033},     {"en-GB", 2057},       {"sr_RS@latin", 9242}, {"sr_RS", 10266},
      {"de", 1031},          {"de_XX", 1031},       {"xx_YY", 1033},       {"zh_TW.Big5", 1028},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::LocaleIdForName(c.name), c.id) << c.name;
}

TEST_F(WithEnvironment, LocaleOrderIsLcAllThenLcCtypeThenLang) {
  TearDown();
  EXPECT_EQ(platform::ThreadLocaleId(), 1033u);
  ::setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(platform::ThreadLocaleId(), 1031u);
  ::setenv("LC_CTYPE", "fr_FR.UTF-8", 1);
  EXPECT_EQ(platform::ThreadLocaleId(), 1036u);
  ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
  EXPECT_EQ(platform::ThreadLocaleId(), 1041u);
  ::setenv("LC_ALL", "", 1);  // empty counts as unset
  EXPECT_EQ(platform::ThreadLocaleId(), 1036u);
}

TEST(SequenceNumber, ConsecutiveAndWrapsAfterTheLargestValue) {
  SequenceNumber fresh;
  EXPECT_EQ(fresh.Take(), 0u);
  EXPECT_EQ(fresh.Take(), 1u);
  EXPECT_EQ(fresh.Take(), 2u);

  // The owner's own counter, as the settings record holds it.
  std::uint32_t counter = 4294967295u;
  EXPECT_EQ(TakeSequenceNumber(counter), 4294967295u);
  EXPECT_EQ(TakeSequenceNumber(counter), 0u);
  EXPECT_EQ(counter, 1u);
}

}  // namespace
}  // namespace zentrova::identity
