#include "smtp/mail.h"

#include <cstdio>

#include "platform/clock.h"

namespace zentrova::smtp {

bool OutgoingMail::AddRecipient(std::string_view address, std::string_view name) {
  recipients_.push_back({std::string(address), std::string(name)});
  return true;
}

bool OutgoingMail::GetRecipient(int index, std::string& address, std::string& name) const {
  if (index < 0 || index >= RecipientCount()) return false;
  address = recipients_[index].address;
  name = recipients_[index].name;
  return true;
}

std::string FormatMailDate(std::time_t when) {
  // Mail dates are English whatever the user's locale, so the names are ours
  // and not the C library's.
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  if (!platform::UtcCalendarTime(when, tm) || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 ||
      tm.tm_mon > 11)
    return {};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %02d %02d:%02d:%02d -0000", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], (tm.tm_year + 1900) % 100, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string TransparentBody(const OutgoingMail& mail) {
  std::string body = NormalizeLineEnds(mail.body);
  std::string out;
  out.reserve(body.size() + 16);
  bool lineStart = true;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (lineStart && body[i] == '.') out += '.';
    out += body[i];
    // After normalising, every LF ends a CR LF pair.
    lineStart = body[i] == '\n';
  }
  return out;
}

}  // namespace zentrova::smtp
