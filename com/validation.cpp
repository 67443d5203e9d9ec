#include "com/validation.h"

#include <algorithm>

namespace zentrova::com {
namespace {

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsValidEmailAddress(std::string_view text) {
  if (text.size() < 7) return false;
  const size_t at = text.find('@');
  if (at == std::string_view::npos || at == 0) return false;
  if (text.find('@', at + 1) != std::string_view::npos) return false;
  if (text.back() == '@') return false;
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  if (text.back() == '.') return false;
  return text.find_first_of("\"'{}[];()/ ") == std::string_view::npos;
}

bool IsValidAccountId(std::string_view text) {
  if (text.size() < 5 || text.size() > 12) return false;
  if (text.substr(0, 2) != "CI") return text.size() <= 6 && AllDigits(text);
  return text.size() >= 8 && AllDigits(text.substr(2));
}

}  // namespace zentrova::com
