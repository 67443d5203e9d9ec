// The profile text parser: portable, so that every build (and the fuzzer)
// reads settings text by the same rules whatever reads the file itself.
#include "platform/profile.h"

#include <algorithm>
#include <climits>

#include "platform/ascii.h"
#include "platform/wipe.h"

namespace zentrova::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

Profile::~Profile() {
  for (Entry& e : entries_) WipeBytes(e.value.data(), e.value.capacity());
}

Profile::Profile(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);  // editors' UTF-8 mark
  // Room for every key line at once (a line holds at most one, and holds an
  // "="): a growing vector would leave copies of short values (passwords
  // among them) behind in the memory it gives up.
  const auto lines = std::count(bytes.begin(), bytes.end(), '\n') +
                     std::count(bytes.begin(), bytes.end(), '\r') + 1;
  entries_.reserve(
      static_cast<std::size_t>(std::min(lines, std::count(bytes.begin(), bytes.end(), '='))));
  std::string_view section;
  while (!bytes.empty()) {
    std::size_t end = bytes.find_first_of("\r\n");
    std::string_view line = Trim(bytes.substr(0, end));
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      section = Trim(
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    // A value in matching quotes loses them, so that blanks at its ends can be kept.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    entries_.push_back(
        Entry{std::string(section), std::string(Trim(line.substr(0, eq))), std::string(value)});
  }
}

Profile::Lookup Profile::Find(std::string_view section, std::string_view key,
                              std::string& value) const {
  value.clear();
  section = Trim(section);
  key = Trim(key);
  for (const auto& e : entries_) {
    if (!SameName(e.section, section) || !SameName(e.key, key)) continue;
    if (e.value.find('\0') != std::string::npos) return Lookup::kHoldsNul;
    value = e.value;
    return Lookup::kFound;
  }
  return Lookup::kMissing;
}

int ProfileInt(std::string_view value) {
  std::string_view v = Trim(value);
  bool negative = false;
  if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  // Windows' reader also takes "0x" (hexadecimal), "0o" (octal) and "0b"
  // (binary) after the sign.
  int base = 10;
  if (v.size() >= 2 && v[0] == '0') {
    char kind = LowerAscii(v[1]);
    base = kind == 'x' ? 16 : kind == 'o' ? 8 : kind == 'b' ? 2 : 10;
    if (base != 10) v.remove_prefix(2);
  }
  long long n = 0;
  for (char c : v) {
    char l = LowerAscii(c);
    int digit = (l >= '0' && l <= '9') ? l - '0' : (l >= 'a' && l <= 'f') ? l - 'a' + 10 : base;
    if (digit >= base) break;
    n = std::min<long long>(n * base + digit, static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) n = -n;
  return static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

}  // namespace zentrova::platform
