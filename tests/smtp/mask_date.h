// The Date line of a mail carries the moment of sending: tests check its form
// and then compare the rest byte for byte.
#pragma once

#include <regex>
#include <string>

namespace zentrova::smtp::test {

// True for "Sun, 06 Dec 26 00:14:55 -0000": English names, two-digit fields.
inline bool IsMailDate(const std::string& t) {
  static const std::regex form(
      "(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "\\d\\d \\d\\d:\\d\\d:\\d\\d -0000");
  return std::regex_match(t, form);
}

// Replaces the date of the first "Date: " line with "*" when it has the right form.
inline std::string MaskDate(std::string text) {
  std::size_t at = text.find("Date: ");
  if (at != std::string::npos && text.size() >= at + 37 && IsMailDate(text.substr(at + 6, 29)) &&
      text.compare(at + 35, 2, "\r\n") == 0)
    text.replace(at + 6, 29, "*");
  return text;
}

}  // namespace zentrova::smtp::test
