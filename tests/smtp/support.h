// What the SMTP tests share. The Date line of a mail carries the moment of
// sending: tests check its form and its time, then compare the rest byte for byte.
#pragma once

#include <time.h>

#include <cctype>
#include <cmath>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "smtp/gateway_mail.h"

namespace zentrova::smtp::test {

// True for "Sun, 06 Dec 26 00:14:55 -0000": English names, two-digit fields, and within ten
// minutes of now (the mails here are written as the test runs; the C library reads the time).
// (No std::regex: g++ 12 warns inside it under the sanitizers, and -Werror.)
inline bool IsMailDate(std::string_view t) {
  if (t.size() != 29) return false;
  std::tm tm{};
  const std::string when(t.substr(5, 18));
  if (!strptime(when.c_str(), "%d %b %y %H:%M:%S", &tm) ||
      std::fabs(std::difftime(timegm(&tm), std::time(nullptr))) > 600)
    return false;
  static constexpr std::string_view kDays = "Mon Tue Wed Thu Fri Sat Sun ";
  static constexpr std::string_view kMonths = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec ";
  auto digit = [&](std::size_t at) { return std::isdigit(static_cast<unsigned char>(t[at])) != 0; };
  auto digits = [&](std::size_t at) { return digit(at) && digit(at + 1); };
  std::size_t day = kDays.find(t.substr(0, 3));
  std::size_t month = kMonths.find(t.substr(8, 3));
  return day != std::string_view::npos && day % 4 == 0 && month != std::string_view::npos &&
         month % 4 == 0 && t.substr(3, 2) == ", " && digits(5) && t[7] == ' ' && t[11] == ' ' &&
         digits(12) && t[14] == ' ' && digits(15) && t[17] == ':' && digits(18) && t[20] == ':' &&
         digits(21) && t.substr(23) == " -0000";
}

// Replaces the date of the first "Date: " line with "*" when it has the right form.
inline std::string MaskDate(std::string text) {
  std::size_t at = text.find("Date: ");
  if (at != std::string::npos && IsMailDate(std::string_view(text).substr(at + 6, 29)) &&
      text.compare(at + 35, 2, "\r\n") == 0)
    text.replace(at + 6, 29, "*");
  return text;
}

// The header block of a gateway mail from sender@example.com, its date masked.
inline std::string MailHeaders(const std::string& to) {
  return "Date: *\r\nFrom: sender@example.com\r\nTo: " + to +
         "\r\nSubject: RUV: sms message\r\nMessage-ID: <>\r\nX-Mailer: <ZV2MAIL>\r\n\r\n";
}

// The names the system would give for HELO; readable false: none at all.
inline int g_namesAsked = 0;  // each read of the host's name and each ask of the resolver
inline void FixHostNames(std::string host, std::string canonical = "", bool readable = true) {
  platform::FixLocalHostNames([=](std::string& name, std::string& canonicalName) {
    ++g_namesAsked;
    name = host;
    canonicalName = canonical;
    return readable;
  });
}

// Sends one gateway mail from sender@example.com; true when it was delivered.
inline bool SendMail(const std::string& server, const std::string& to, const std::string& body,
                     std::string& lastError, const SmtpLimits& limits = SmtpLimits{}) {
  MailOutcome outcome = SendGatewayMail(
      {server.c_str(), "sender@example.com", to.c_str(), "RUV: sms message", body.c_str()}, limits);
  lastError = outcome.lastError;
  return outcome.delivered;
}

}  // namespace zentrova::smtp::test
