// The system's zone is the zone file /etc/localtime points to. Its rule for
// the years after its last listed transition is the POSIX TZ string in the
// file's footer (TZif version 2 and later); that rule is what recurs, so it is
// what the Windows-style record describes.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/portable/system_calls.h"
#include "platform/posix/support.h"
#include "platform/posix/zone_file.h"

namespace zentrova::platform {
namespace {

constexpr const char* kSystemZoneFile = "/etc/localtime";

std::uint64_t Be32(std::string_view data, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at);
  return std::uint64_t(p[0]) << 24 | std::uint64_t(p[1]) << 16 | std::uint64_t(p[2]) << 8 | p[3];
}

// Offset of the end of the data block that follows the header at `at`, or 0
// when the file is too short for it. timeSize is 4 (version 1 block) or 8.
std::size_t BlockEnd(std::string_view data, std::size_t at, std::uint64_t timeSize) {
  if (data.size() < at + 44 || data.compare(at, 4, "TZif") != 0) return 0;
  const std::uint64_t isut = Be32(data, at + 20), isstd = Be32(data, at + 24),
                      leap = Be32(data, at + 28), times = Be32(data, at + 32),
                      types = Be32(data, at + 36), chars = Be32(data, at + 40);
  const std::uint64_t end =
      at + 44 + times * (timeSize + 1) + types * 6 + chars + leap * (timeSize + 4) + isstd + isut;
  return end <= data.size() ? static_cast<std::size_t>(end) : 0;
}

bool FooterRule(std::string_view data, std::string_view& rule, std::string& error) {
  const std::size_t v1End = BlockEnd(data, 0, 4);
  if (v1End == 0) {
    error = "not a readable TZif zone file";
    return false;
  }
  if (data[4] == '\0') {
    error = "the zone file (TZif version 1) holds no rule for the years ahead";
    return false;
  }
  const std::size_t v2End = BlockEnd(data, v1End, 8);
  if (v2End == 0 || v2End >= data.size() || data[v2End] != '\n') {
    error = "the zone file's footer is missing or damaged";
    return false;
  }
  const std::size_t close = data.find('\n', v2End + 1);
  if (close == std::string_view::npos) {
    error = "the zone file's footer is not closed";
    return false;
  }
  rule = data.substr(v2End + 1, close - v2End - 1);
  if (rule.empty()) {
    error = "the zone file has no rule for the years ahead";
    return false;
  }
  return true;
}

// One change-over as a rule states it: a weekday of a week of a month ("M"),
// a day of the year that never counts February 29 ("J", 1-365) or one that
// does (0-365), and a local time of day that may lie outside 0 to 24 hours.
struct RuleDate {
  enum Kind { kMonthWeekDay, kJulian, kDayOfYear } kind = kMonthWeekDay;
  int month = 0, week = 0, dayOfWeek = 0, dayOfYear = 0;
  long time = 2 * 3600;
};

// The record's form of a change-over. A weekday of a week of a month at a time
// within the day recurs as it is. Any other rule has no such form; it is
// placed on its real day of the given year, whose month, weekday and week of
// the month (days 1-7 the first, 29-31 the fifth, which is also the last) say
// when it happens that year.
ZoneChangeOver Resolve(const RuleDate& d, int year) {
  namespace chr = std::chrono;
  if (d.kind == RuleDate::kMonthWeekDay && d.time >= 0 && d.time <= 24 * 3600)
    return {0,
            d.month,
            d.week,
            d.dayOfWeek,
            int(d.time / 3600),
            int(d.time / 60 % 60),
            int(d.time % 60)};
  const chr::year y{year};
  chr::sys_days day;
  if (d.kind == RuleDate::kMonthWeekDay) {
    const auto m = chr::month{unsigned(d.month)};
    const auto wd = chr::weekday{unsigned(d.dayOfWeek)};
    day = d.week == 5 ? chr::sys_days{y / m / wd[chr::last]}
                      : chr::sys_days{y / m / wd[unsigned(d.week)]};
  } else {
    const int skipped = d.kind == RuleDate::kJulian ? 1 - (y.is_leap() && d.dayOfYear >= 60) : 0;
    day = chr::sys_days{y / chr::January / 1} + chr::days{d.dayOfYear - skipped};
  }
  const long shift = d.time >= 0 ? d.time / 86400 : -((86399 - d.time) / 86400);
  const long time = d.time - shift * 86400;
  day += chr::days{shift};
  const chr::year_month_day date{day};
  return {0,
          int(unsigned(date.month())),
          int((unsigned(date.day()) - 1) / 7 + 1),
          int(chr::weekday{day}.c_encoding()),
          int(time / 3600),
          int(time / 60 % 60),
          int(time % 60)};
}

// A POSIX TZ rule such as "AEST-10AEDT,M10.1.0,M4.1.0/3".
class RuleParser {
 public:
  explicit RuleParser(std::string_view text) : s_(text) {}

  bool Parse(int year, TimeZoneRecord& out, std::string& error) {
    error.clear();
    long stdOffset = 0;  // seconds west of UTC, as the rule writes them
    if (!Name() || !Offset(stdOffset, 24)) return Fail(error, "the standard time part");
    out = TimeZoneRecord{};
    out.bias = stdOffset / 60;
    if (AtEnd()) return true;  // no daylight saving
    if (!Name()) return Fail(error, "the daylight time name");
    long dstOffset = stdOffset - 3600;
    if (!AtEnd() && Peek() != ',' && !Offset(dstOffset, 24))
      return Fail(error, "the daylight time offset");
    if (AtEnd()) {
      error = "the zone has daylight time but its rule names no change-over dates";
      return false;
    }
    RuleDate toDaylight, toStandard;
    if (!Take(',') || !ChangeOver(toDaylight) || !Take(',') || !ChangeOver(toStandard))
      return Fail(error, "the change-over dates");
    if (!AtEnd()) return Fail(error, "the text after the change-over dates");
    out.daylightDate = Resolve(toDaylight, year);
    out.standardDate = Resolve(toStandard, year);
    // The key's standard time is the zone's winter time. A rule may call the
    // winter time its daylight time, one that lies behind the standard time
    // (Dublin's summer time is its standard time): then the two trade places,
    // and such a zone has the same record as one with the usual rule.
    if (dstOffset > stdOffset) {
      out.bias = dstOffset / 60;
      std::swap(out.daylightDate, out.standardDate);
    }
    return true;
  }

 private:
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  bool Fail(std::string& error, const char* what) {
    error = std::string("cannot read ") + what + " of the zone rule \"" + std::string(s_) + "\"";
    return false;
  }

  bool Name() {
    if (Take('<')) {
      const std::size_t close = s_.find('>', i_);
      if (close == std::string_view::npos || close == i_) return false;
      i_ = close + 1;
      return true;
    }
    const std::size_t start = i_;
    while (!AtEnd() && ((Peek() >= 'A' && Peek() <= 'Z') || (Peek() >= 'a' && Peek() <= 'z'))) ++i_;
    return i_ - start >= 3;
  }

  bool Number(long& value, int maxDigits) {
    const std::size_t start = i_;
    value = 0;
    while (!AtEnd() && Peek() >= '0' && Peek() <= '9' && i_ - start < std::size_t(maxDigits))
      value = value * 10 + (s_[i_++] - '0');
    return i_ > start;
  }

  // [+-]hh[:mm[:ss]] in seconds, hours up to maxHours.
  bool Offset(long& seconds, long maxHours) {
    long sign = 1;
    if (Take('-'))
      sign = -1;
    else
      Take('+');
    long h = 0, m = 0, sec = 0;
    if (!Number(h, 3) || h > maxHours) return false;
    if (Take(':') && (!Number(m, 2) || m > 59)) return false;
    if (Take(':') && (!Number(sec, 2) || sec > 59)) return false;
    seconds = sign * (h * 3600 + m * 60 + sec);
    return true;
  }

  // Mm.w.d, Jn or n, then an optional /time.
  bool ChangeOver(RuleDate& d) {
    long a = 0, b = 0, c = 0;
    if (Take('M')) {
      if (!Number(a, 2) || !Take('.') || !Number(b, 1) || !Take('.') || !Number(c, 1) || a < 1 ||
          a > 12 || b < 1 || b > 5 || c > 6)
        return false;
      d = RuleDate{RuleDate::kMonthWeekDay, int(a), int(b), int(c), 0};
    } else if (Take('J')) {
      if (!Number(a, 3) || a < 1 || a > 365) return false;
      d = RuleDate{RuleDate::kJulian, 0, 0, 0, int(a)};
    } else {
      if (!Number(a, 3) || a > 365) return false;
      d = RuleDate{RuleDate::kDayOfYear, 0, 0, 0, int(a)};
    }
    return !Take('/') || Offset(d.time, 167);
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

int CurrentYear() {
  const time_t now = time(nullptr);
  struct tm utc;
  return gmtime_r(&now, &utc) ? utc.tm_year + 1900 : 1970;
}

// Zone files are a few kilobytes; anything far larger is not one.
constexpr std::size_t kLargestZoneFile = 1 << 20;

bool ReadWhole(const std::string& path, std::string& data, std::string& error) {
  posix::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    error = "cannot open the zone file " + path;
    return false;
  }
  data.clear();
  if (int failure = posix::ReadToEnd(fd.get(), kLargestZoneFile, data)) {
    error = failure == EFBIG ? path + " is too large to be a zone file"
                             : "cannot read the zone file " + path;
    return false;
  }
  return true;
}

// The zones are asked for with every document, and every question costs a
// look at /etc/localtime (the C library looks too when TZ is unset). One look
// serves both answers here: the file is read again, and the C library set up
// again, only when the file (or the file the link points to) or TZ has
// changed, so a new zone still shows in the next document.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

// A daylight flag worked out from the coming months is looked at again a day later.
constexpr time_t kDaylightFlagLifetime = 24 * 3600;

// Guarded by the lock portable/timezone.cpp holds around every question,
// which also keeps tzset and the reading of its globals together.
struct ZoneState {
  bool fileKnown = false;
  int year = 0;  // a rule without a recurring form is placed in this year
  bool fileExists = false;
  FileIdentity file;
  bool readable = false;
  TimeZoneRecord record;
  std::string error;
  bool runtimeKnown = false;  // for TZ unset and the file above
  time_t runtimeAt = 0;
  RuntimeZone runtime;
};

ZoneState& State() {
  static ZoneState state;
  return state;
}

// Returns whether the system zone file (or the year) changed since the last look.
bool LookAtSystemFile(ZoneState& state) {
  const int year = CurrentYear();
  struct stat st;
  const bool exists = ::stat(kSystemZoneFile, &st) == 0;
  FileIdentity now;
  if (exists)
    now = FileIdentity{st.st_dev, st.st_ino, st.st_size, static_cast<long>(st.st_mtim.tv_sec),
                       static_cast<long>(st.st_mtim.tv_nsec)};
  if (state.fileKnown && state.fileExists == exists && state.file == now && state.year == year)
    return false;
  state.fileKnown = true;
  state.year = year;
  state.fileExists = exists;
  state.file = now;
  state.runtimeKnown = false;
  if (exists) {
    state.readable = ReadTimeZoneFile(kSystemZoneFile, state.record, state.error, year);
  } else {
    state.readable = false;
    state.error =
        std::string("the system has no time zone set (") + kSystemZoneFile + " is missing)";
  }
  return true;
}

ZoneStatus SystemRecord(const ZoneState& state, TimeZoneRecord& out) {
  if (!state.readable) return {ZoneResult::kUnknown, state.error};
  out = state.record;
  return {};
}

RuntimeZone SetUpRuntime() {
  tzset();
  RuntimeZone zone{::timezone, ::daylight != 0};
  // The C library sets its flag when daylight time occurred at any time in the
  // zone's history (India's war time of the 1940s counts). The flag means a
  // rule in force: daylight time somewhere in the coming twelve months.
  // And the offset means the winter time: where the rule's daylight time lies
  // behind its standard time (Dublin), the daylight time is the winter time.
  if (zone.daylight) {
    zone.daylight = false;
    const time_t now = time(nullptr);
    for (int month = 0; month <= 12 && !zone.daylight; ++month) {
      const time_t probe = now + static_cast<time_t>(month) * 30 * 24 * 3600;
      struct tm local;
      zone.daylight = localtime_r(&probe, &local) && local.tm_isdst > 0;
      if (zone.daylight && -local.tm_gmtoff > zone.secondsWest) zone.secondsWest = -local.tm_gmtoff;
    }
  }
  return zone;
}

// Call with the system file just looked at.
RuntimeZone Runtime(ZoneState& state) {
  if (std::getenv("TZ")) {
    state.runtimeKnown = false;
    return SetUpRuntime();  // the C library keeps its own set-up while TZ is unchanged
  }
  const time_t now = time(nullptr);
  if (!state.runtimeKnown || now - state.runtimeAt >= kDaylightFlagLifetime ||
      now < state.runtimeAt) {
    state.runtime = SetUpRuntime();
    state.runtimeAt = now;
    state.runtimeKnown = true;
  }
  return state.runtime;
}

}  // namespace

bool ParseTimeZoneRule(std::string_view rule, int year, TimeZoneRecord& out, std::string& error) {
  return RuleParser(rule).Parse(year, out, error);
}

bool ParseTimeZoneFile(std::string_view data, int year, TimeZoneRecord& out, std::string& error) {
  std::string_view rule;
  return FooterRule(data, rule, error) && ParseTimeZoneRule(rule, year, out, error);
}

bool ReadTimeZoneFile(const std::string& path, TimeZoneRecord& out, std::string& error, int year) {
  std::string data;
  if (!ReadWhole(path, data, error)) return false;
  if (!ParseTimeZoneFile(data, year ? year : CurrentYear(), out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

namespace system {

ZoneStatus SystemZone(TimeZoneRecord& out, RuntimeZone* runtime) {
  ZoneState& state = State();
  LookAtSystemFile(state);
  if (runtime) *runtime = Runtime(state);
  return SystemRecord(state, out);
}

RuntimeZone CurrentRuntimeZone() {
  ZoneState& state = State();
  LookAtSystemFile(state);
  return Runtime(state);
}

}  // namespace system
}  // namespace zentrova::platform
