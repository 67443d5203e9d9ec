#include "identity/sender.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <tuple>

#include "platform/locale.h"
#include "platform/posix/locale_names.h"
#include "platform/posix/zone_file.h"
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

std::string KeyOfZoneFile(const std::string& path, int year = 2026) {
  platform::TimeZoneRecord zone;
  std::string error;
  if (!platform::ReadTimeZoneFile(path, zone, error, year))  // and says why
    return error.empty() || error.ends_with(": ") ? "(no reason given)" : "(cannot tell)";
  char key[32] = "";
  EXPECT_EQ(FormatTimeZoneKey(zone, key, sizeof key), 0);
  return key;
}

// Change-over days as zdump shows them for the year.
TEST(TimeZoneKey, ZonesOfTheSystemDatabase) {
  const std::tuple<const char*, int, const char*> cases[] = {
      {"Australia/Sydney", 2026, "-600004010010010"},  // back 1st Sun Apr, forward 1st Sun Oct
      {"America/New_York", 2026, "+300011010003020"},  // 1st Sun Nov, 2nd Sun Mar
      {"UTC", 2026, "+000000000000000"},
      {"Asia/Kolkata", 2026, "-330000000000000"},
      {"Europe/London", 2026, "+000010050003050"},     // last Sun Oct, last Sun Mar
      {"Europe/Dublin", 2026, "+000010050003050"},     // winter is its "daylight" time
      {"Pacific/Auckland", 2026, "-720004010009050"},  // 1st Sun Apr, last Sun Sep
      {"Asia/Jerusalem", 2026, "-120010050003045"},    // M3.4.4/26: Fri 27 Mar 02:00
      {"Asia/Jerusalem", 2030, "-120010050003055"},    // Fri 29 Mar
      {"America/Nuuk", 2026, "+120010050003046"},      // M3.5.0/-1: Sat 28 Mar 23:00
      {"America/Nuuk", 2030, "+120010050003056"},      // Sat 30 Mar
  };
  for (const auto& [zone, year, key] : cases)
    EXPECT_EQ(KeyOfZoneFile(std::string("/usr/share/zoneinfo/") + zone, year), key)
        << zone << " " << year;
}

// A minimal version 2 zone file: one local time type, no transitions, and the given footer
// rule (version 1 without one, or the version 1 block given), padded or cut to size bytes.
std::string WriteZoneFile(const std::string& name, const char* footer, std::size_t size = 0,
                          std::string block = "") {
  // The magic and version, 15 bytes reserved, then six counts: only one type
  // and 4 bytes of names; then the type (offset 0) and its name.
  auto header = [&](char version) {
    block += "TZif" + std::string(1, version) + std::string(34, '\0') +
             std::string("\1\0\0\0\4\0\0\0\0\0\0XXX\0", 15);
  };
  if (block.empty()) header(footer ? '2' : '\0');
  if (footer) {
    header('2');
    block += std::string("\n") + footer + "\n";
  }
  if (size) block.resize(size, '\n');
  const std::string path = testing::TempDir() + "zv_zone_" + name;
  std::ofstream(path, std::ios::binary) << block;
  return path;
}

TEST(TimeZoneKey, RulesOfWrittenZoneFiles) {
  const std::tuple<const char*, const char*, int, const char*> cases[] = {
      {"quoted", "<+0330>-3:30", 2026, "-210000000000000"},
      {"plus", "XST+3", 2026, "+180000000000000"},
      {"midnight", "AZaz3XDT,M3.5.0/0,M12.1.6/24", 2029, "+180012016003050"},
      // Neither time behind the other: the dates keep their roles. M3.2.0/167 is Sat 14 Mar.
      {"even", "XST3XDT3,M3.2.0/167,M11.1.0", 2026, "+180011010003026"},
      {"winterdst", "XST-2XDT-1,M10.5.0,M3.5.0/1", 2026, "-060010050003050"},  // Dublin at +1
      // Days of the year land on their day (Python's datetime): J60 is 1 Mar
      // (Wed in 2028), J365 and 365 31 Dec (Sun); 59 and 299 count 29 Feb.
      {"julian", "XST3XDT,J60/2,J365/2", 2028, "+180012050003013"},
      {"zerobased", "XST3XDT,59,365", 2028, "+180012050002052"},
      {"zerobased", "XST3XDT,59,299", 2026, "+180010042003010"},
      {"J366", "XST3XDT,J60/2,J366/2", 2028, "(cannot tell)"},              // J counts 1 to 365
      {"366", "XST3XDT,59,366", 2028, "(cannot tell)"},                     // the other 0 to 365
      {"0100", "XST3XDT,0100,0200", 2028, "(cannot tell)"},                 // in three digits
      {"minus24", "XST3XDT,M3.2.0/-24,M11.1.0", 2026, "+180011010003016"},  // glibc: Sat 7 Mar
      {"std24", "XST24", 2026, "+1440000000000000"},  // an offset runs to 24 hours
      {"dst24", "XST3XDT24,M3.2.0,M11.1.0", 2026, "+1440003020011010"},  // glibc: 86400 s
  };
  for (const auto& [name, footer, year, key] : cases)
    EXPECT_EQ(KeyOfZoneFile(WriteZoneFile(name, footer), year), key) << name;
  // Refused in 2026: no rule, a name empty, of other than ASCII letters or under three of them;
  // a number without a digit; one past each bound of Mm.w.d/time (months 1-12, weeks 1-5, day 6,
  // 167 hours, 59 minutes and seconds), of Jn (1) and of an offset (24 hours, two-digit seconds).
  for (const char* footer :
       {"", "<>3", "XS{3", "XS3", "XST3XDT,M3.2.0/,M11.1.0", "XST3XDT,M3.2.0,M0.1.0",
        "XST3XDT,M13.1.0,M11.1.0", "XST3XDT,M3.0.0,M11.1.0", "XST3XDT,M3.6.0,M11.1.0",
        "XST3XDT,M3.2.7,M11.1.0", "XST3XDT,M3.2.0/168,M11.1.0", "XST3XDT,M3.2.0/1:60,M11.1.0",
        "XST3XDT,M3.2.0/1:59:60,M11.1.0", "XST3XDT,J0,J300", "XST25", "XST5:00:001",
        "XST3XDT25,M3.2.0,M11.1.0"})
    EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("refused", footer)), "(cannot tell)") << footer;
  // A file of 1 MiB is read; one larger, or cut before its footer's closing line end, is not.
  for (const std::size_t size : {136, 1 << 20, (1 << 20) + 1})
    EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("large", "XST3XDT,M3.2.0/0,M11.1.0/24", size)),
              size == 1 << 20 ? "+180011010003020" : "(cannot tell)");
  EXPECT_EQ(KeyOfZoneFile(testing::TempDir() + "zv_zone_missing"), "(cannot tell)");
  EXPECT_EQ(KeyOfZoneFile("/proc/self/cmdline"), "(cannot tell)");  // no TZif file at all
  EXPECT_EQ(KeyOfZoneFile(WriteZoneFile("nomagic", "XST-3", 0, "TZIF2" + std::string(39, 0))),
            "(cannot tell)");  // a first block without its magic, however long
  // The key has no times: the record keeps them to the second, also when one moves the day.
  platform::TimeZoneRecord zone;
  std::string error;
  ASSERT_TRUE(platform::ReadTimeZoneFile(
      WriteZoneFile("seconds", "XST3XDT,M3.2.0/1:59:59,M11.1.0/-1:02:03"), zone, error, 2026));
  const auto &d = zone.daylightDate, &s = zone.standardDate;
  EXPECT_EQ(std::tie(d.hour, d.minute, d.second, s.hour, s.minute, s.second),
            std::make_tuple(1, 59, 59, 22, 57, 57));
  ASSERT_TRUE(platform::ReadTimeZoneFile(WriteZoneFile("notime", "XST5XDT,M3.2.0,M11.1.0"), zone,
                                         error, 2026));
  EXPECT_EQ(std::tie(d.hour, s.hour), std::make_tuple(2, 2));  // glibc's default 02:00:00
  // The last Sunday of February 2021 is its fourth, the 28th: 25 hours on, Monday 1 March.
  ASSERT_TRUE(platform::ReadTimeZoneFile(WriteZoneFile("last", "XST3XDT,M2.5.0/25,M11.1.0"), zone,
                                         error, 2021));
  EXPECT_EQ(std::tie(d.month, d.day, d.dayOfWeek, d.hour), std::make_tuple(3, 1, 1, 1));
  EXPECT_FALSE(platform::ReadTimeZoneFile(testing::TempDir() + "zv_zone_none", zone, error, 2026));
  EXPECT_NE(error.find("cannot open the zone file"), std::string::npos) << error;
  for (auto [name, footer, why] : {std::tuple{"norule", "XST5XDT", "rule names no change-over"},
                                   {"v1", nullptr, "(TZif version 1) holds no rule"}}) {
    EXPECT_FALSE(platform::ReadTimeZoneFile(WriteZoneFile(name, footer), zone, error, 2026));
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
}

TEST(TimeZoneKey, RefusesAShortBufferAndLeavesItUntouched) {
  char small[31] = {'x'};  // one short of the least a caller must offer, room enough for the key
  EXPECT_EQ(FormatTimeZoneKey({}, small, sizeof small) + FormatTimeZoneKey({}, nullptr, 64), -2);
  EXPECT_EQ(small[0], 'x');
  platform::TimeZoneRecord wide;  // a key of 32 characters, then of 31: only these fit in 32
  wide.standardDate.year = wide.daylightDate.year = 999999999;
  char key[32];
  EXPECT_EQ(FormatTimeZoneKey(wide, key, sizeof key), -1);
  wide.daylightDate.year /= 10;
  EXPECT_EQ(FormatTimeZoneKey(wide, key, sizeof key), 0);
}

// A version 1 zone file: XST (UTC) from 1970, XDT (an hour ahead) from `days` on.
std::string ZoneWithDaylightIn(int days) {
  const auto at = static_cast<std::uint32_t>(std::time(nullptr) + days * 86400L);
  std::string file =
      "TZif" + std::string(31, '\0') + std::string("\2\0\0\0\2\0\0\0\10\0\0\0\0", 13);
  for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>(at >> shift);
  return WriteZoneFile("ahead" + std::to_string(days), nullptr, 0,
                       file + std::string("\0\1\0\0\0\0\0\0\0\0\x0e\x10\1\4XST\0XDT\0", 22));
}

// What a request document carries: the key of the system's zone, whatever TZ
// says, and the runtime's offset and flag, which follow TZ (daylight time within a year).
TEST_F(WithEnvironment, SenderZoneKeyFollowsTheSystemAndOffsetAndFlagFollowTz) {
  const std::string systemKey = QuerySenderZone().key;
  const std::string soon = ZoneWithDaylightIn(355), late = ZoneWithDaylightIn(370);
  const std::tuple<const char*, long, int> rows[] = {
      {"Australia/Sydney", 600, 1}, {"America/New_York", -300, 1},        {"Asia/Kolkata", 330, 0},
      {"Europe/Dublin", 0, 1},      {"IST-1GMT0,M10.5.0,M3.5.0/1", 0, 1}, {soon.c_str(), 0, 1},
      {late.c_str(), 0, 0}};
  for (const auto& [tz, offset, daylight] : rows) {
    ::setenv("TZ", tz, 1);
    const SenderZone zone = QuerySenderZone();
    EXPECT_EQ(zone.key, systemKey) << tz;
    EXPECT_EQ(zone.minutesEast, offset) << tz;
    EXPECT_EQ(zone.daylight, daylight) << tz;
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
      {"de.UTF-8", 1031},    {"de@euro", 1031},     {"AZ_AZ", 1068},       {"en_za", 7177},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::LocaleIdForName(c.name), c.id) << c.name;
}

// Every row of the table against Python's own table of Windows locale
// identifiers, where Python has the identifier; Python spells a few names its
// own way (and takes 18441 for India).
TEST(Locale, EveryRowAgreesWithPythonsTable) {
  FILE* python = popen(
      "python3 -c 'import locale\nfor k, v in locale.windows_locale.items(): print(k, v)'", "r");
  ASSERT_NE(python, nullptr);
  std::map<unsigned long, std::string> theirs;
  unsigned long id = 0;
  char name[64];
  while (std::fscanf(python, "%lu %63s", &id, name) == 2) theirs[id] = name;
  ASSERT_EQ(pclose(python), 0);
  ASSERT_GT(theirs.size(), 150u);
  const std::map<std::string, std::string> spelledOtherwise = {
      {"en_JM", "en_JA"}, {"en_SG", "en_IN"}, {"es_UY", "es_UR"}, {"tl_PH", "fil_PH"},
      {"km_KH", "kh_KH"}, {"no_NO", "nb_NO"}, {"nso_ZA", "ns_ZA"}};
  std::size_t compared = 0;
  for (const platform::LocaleName& row : platform::LocaleNames()) {
    std::string ours = row.name;
    ours = ours.substr(0, ours.find('@'));
    if (const auto other = spelledOtherwise.find(ours); other != spelledOtherwise.end())
      ours = other->second;
    // Our number must be one Python gives that name, and Python's name for our
    // number must be ours.
    bool named = false, ourNumber = false;
    for (const auto& [number, text] : theirs) {
      named |= text == ours;
      ourNumber |= text == ours && number == row.id;
    }
    // Python names no variant (sr_RS@latin): a variant is held only against
    // the number, where Python has it.
    const bool variant = std::strchr(row.name, '@') != nullptr;
    const auto their = theirs.find(row.id);
    if (their == theirs.end() && (variant || !named)) continue;
    EXPECT_TRUE(ourNumber) << row.name << " " << row.id;
    ++compared;
  }
  EXPECT_GT(compared, 160u);
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

}  // namespace
}  // namespace zentrova::identity
