#include "platform/profile.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>

namespace zentrova::platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) {
             return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
           };
           return lower(x) == lower(y);
         });
}

// The value of key in the first section called section, or nothing.
std::optional<std::string> Lookup(std::string_view section, std::string_view key,
                                  const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  section = Trim(section);
  key = Trim(key);
  std::string line;
  bool first = true, inSection = false;
  while (std::getline(in, line)) {
    std::string_view view = line;
    if (first && view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);  // editors' UTF-8 mark
    first = false;
    view = Trim(view);
    if (view.empty() || view.front() == ';') continue;
    if (view.front() == '[') {
      std::size_t close = view.find(']');
      std::string_view name =
          view.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
      inSection = SameName(Trim(name), section);
      continue;
    }
    if (!inSection) continue;
    std::size_t eq = view.find('=');
    if (eq == std::string_view::npos || !SameName(Trim(view.substr(0, eq)), key)) continue;
    std::string_view value = Trim(view.substr(eq + 1));
    // A value in matching quotes loses them, so that blanks at its ends can be kept.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

std::size_t ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, std::size_t size,
                              const std::string& path) {
  if (!buffer || size == 0) return 0;
  std::optional<std::string> found = Lookup(section, key, path);
  std::string_view value = found ? std::string_view(*found) : Trim(defaultValue);
  std::size_t n = std::min(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

int ReadProfileInt(std::string_view section, std::string_view key, int defaultValue,
                   const std::string& path) {
  std::optional<std::string> found = Lookup(section, key, path);
  if (!found) return defaultValue;
  std::string_view v = Trim(*found);
  bool negative = false;
  if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  long long n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') break;
    n = std::min<long long>(n * 10 + (c - '0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) n = -n;
  return static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

}  // namespace zentrova::platform
