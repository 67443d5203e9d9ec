// Windows compares names (registry keys, profile sections, switches, URL
// schemes) without regard to ASCII letter case, whatever the locale; these
// are the kit's one way of doing so, shared by the core and every adapter.
#pragma once

#include <cstddef>
#include <string_view>

namespace zentrova::platform {

inline char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

inline bool StartsWithName(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

}  // namespace zentrova::platform
