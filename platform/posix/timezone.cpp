// The system's zone is the zone file /etc/localtime points to. Its rule for
// the years after its last listed transition is the POSIX TZ string in the
// file's footer (TZif version 2 and later); that rule is what recurs, so it is
// what the Windows-style record describes.
#include "platform/timezone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace zentrova::platform {
namespace {

constexpr const char* kSystemZoneFile = "/etc/localtime";

std::uint64_t Be32(const std::string& data, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at);
  return std::uint64_t(p[0]) << 24 | std::uint64_t(p[1]) << 16 | std::uint64_t(p[2]) << 8 | p[3];
}

// Offset of the end of the data block that follows the header at `at`, or 0
// when the file is too short for it. timeSize is 4 (version 1 block) or 8.
std::size_t BlockEnd(const std::string& data, std::size_t at, std::uint64_t timeSize) {
  if (data.size() < at + 44 || data.compare(at, 4, "TZif") != 0) return 0;
  const std::uint64_t isut = Be32(data, at + 20), isstd = Be32(data, at + 24),
                      leap = Be32(data, at + 28), times = Be32(data, at + 32),
                      types = Be32(data, at + 36), chars = Be32(data, at + 40);
  const std::uint64_t end =
      at + 44 + times * (timeSize + 1) + types * 6 + chars + leap * (timeSize + 4) + isstd + isut;
  return end <= data.size() ? static_cast<std::size_t>(end) : 0;
}

bool FooterRule(const std::string& data, std::string& rule, std::string& error) {
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
  if (close == std::string::npos) {
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

// A POSIX TZ rule such as "AEST-10AEDT,M10.1.0,M4.1.0/3".
class RuleParser {
 public:
  explicit RuleParser(std::string_view text) : s_(text) {}

  bool Parse(TimeZoneRecord& out, std::string& error) {
    error.clear();
    long stdOffset = 0;
    if (!Name() || !Offset(stdOffset, 24)) return Fail(error, "the standard time part");
    out = TimeZoneRecord{};
    out.bias = stdOffset / 60;
    if (AtEnd()) return true;  // no daylight saving
    if (!Name()) return Fail(error, "the daylight time name");
    if (!AtEnd() && Peek() != ',') {
      long dstOffset = 0;
      if (!Offset(dstOffset, 24)) return Fail(error, "the daylight time offset");
    }
    if (AtEnd()) {
      error = "the zone has daylight time but its rule names no change-over dates";
      return false;
    }
    if (!Take(',') || !ChangeOver(out.daylightDate, error) || !Take(',') ||
        !ChangeOver(out.standardDate, error))
      return error.empty() ? Fail(error, "the change-over dates") : false;
    if (!AtEnd()) return Fail(error, "the text after the change-over dates");
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

  bool ChangeOver(ZoneChangeOver& d, std::string& error) {
    if (Peek() == 'J' || (Peek() >= '0' && Peek() <= '9')) {
      error = "the zone rule \"" + std::string(s_) +
              "\" changes over on a day of the year, which has no month-week-day form";
      return false;
    }
    long month = 0, week = 0, day = 0;
    if (!Take('M') || !Number(month, 2) || !Take('.') || !Number(week, 1) || !Take('.') ||
        !Number(day, 1) || month < 1 || month > 12 || week < 1 || week > 5 || day > 6)
      return false;
    long time = 2 * 3600;
    if (Take('/')) {
      if (!Offset(time, 167)) return false;
      if (time < 0 || time > 24 * 3600) {
        error = "the zone rule \"" + std::string(s_) +
                "\" changes over at a time outside 0 to 24 hours, which has no month-week-day form";
        return false;
      }
    }
    d = ZoneChangeOver{
        0, int(month), int(week), int(day), int(time / 3600), int(time / 60 % 60), int(time % 60)};
    return true;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

// Zone files are a few kilobytes; anything far larger is not one.
constexpr std::size_t kLargestZoneFile = 1 << 20;

bool ReadWhole(const std::string& path, std::string& data, std::string& error) {
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open the zone file " + path;
    return false;
  }
  Closer closer{fd};
  data.clear();
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      error = "cannot read the zone file " + path;
      return false;
    }
    if (got == 0) return true;
    data.append(chunk, static_cast<std::size_t>(got));
    if (data.size() > kLargestZoneFile) {
      error = path + " is too large to be a zone file";
      return false;
    }
  }
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

struct ZoneState {
  std::mutex lock;  // also keeps tzset and the reading of its globals together
  bool fileKnown = false;
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

// Returns whether the system zone file changed since the last look.
bool LookAtSystemFile(ZoneState& state) {
  struct stat st;
  const bool exists = ::stat(kSystemZoneFile, &st) == 0;
  FileIdentity now;
  if (exists)
    now = FileIdentity{st.st_dev, st.st_ino, st.st_size, static_cast<long>(st.st_mtim.tv_sec),
                       static_cast<long>(st.st_mtim.tv_nsec)};
  if (state.fileKnown && state.fileExists == exists && state.file == now) return false;
  state.fileKnown = true;
  state.fileExists = exists;
  state.file = now;
  state.runtimeKnown = false;
  if (exists) {
    state.readable = ReadTimeZoneFile(kSystemZoneFile, state.record, state.error);
  } else {
    state.readable = false;
    state.error =
        std::string("the system has no time zone set (") + kSystemZoneFile + " is missing)";
  }
  return true;
}

bool SystemRecord(const ZoneState& state, TimeZoneRecord& out, std::string& error) {
  if (!state.readable) {
    error = state.error;
    return false;
  }
  out = state.record;
  return true;
}

RuntimeZone SetUpRuntime() {
  tzset();
  RuntimeZone zone{::timezone, ::daylight != 0};
  // The C library sets its flag when daylight time occurred at any time in the
  // zone's history (India's war time of the 1940s counts). The flag means a
  // rule in force: daylight time somewhere in the coming twelve months.
  if (zone.daylight) {
    zone.daylight = false;
    const time_t now = time(nullptr);
    for (int month = 0; month <= 12 && !zone.daylight; ++month) {
      const time_t probe = now + static_cast<time_t>(month) * 30 * 24 * 3600;
      struct tm local;
      zone.daylight = localtime_r(&probe, &local) && local.tm_isdst > 0;
    }
  }
  return zone;
}

// Call with the state locked and the system file just looked at.
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

bool ReadTimeZoneFile(const std::string& path, TimeZoneRecord& out, std::string& error) {
  std::string data;
  if (!ReadWhole(path, data, error)) return false;
  std::string rule;
  if (!FooterRule(data, rule, error) || !RuleParser(rule).Parse(out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool QuerySystemTimeZone(TimeZoneRecord& out, std::string& error) {
  ZoneState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  LookAtSystemFile(state);
  return SystemRecord(state, out, error);
}

RuntimeZone QueryRuntimeZone() {
  ZoneState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  LookAtSystemFile(state);
  return Runtime(state);
}

bool QueryZones(TimeZoneRecord& system, std::string& error, RuntimeZone& runtime) {
  ZoneState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  LookAtSystemFile(state);
  runtime = Runtime(state);
  return SystemRecord(state, system, error);
}

}  // namespace zentrova::platform
