#include "smtp/gateway_mail.h"

namespace zentrova::smtp {
namespace {

// 1 to 65535 written in decimal digits only.
bool ParsePort(std::string_view text, unsigned& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = value;
  return true;
}

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

bool SplitServerName(std::string_view text, std::string& host, unsigned& port) {
  host = std::string(text);
  port = kSmtpPort;
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.find(']');
    if (close == std::string_view::npos) return true;  // left to the resolver, which refuses it
    std::string_view rest = text.substr(close + 1);
    host = std::string(text.substr(1, close - 1));
    if (rest.empty()) return true;
    if (rest.front() == ':' && ParsePort(rest.substr(1), port)) return true;
  } else {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return true;
    if (text.find(':', colon + 1) != std::string_view::npos) return true;  // bare IPv6 address
    host = std::string(text.substr(0, colon));
    if (ParsePort(text.substr(colon + 1), port)) return true;
  }
  host = std::string(text);
  port = 0;
  return false;
}

MailOutcome SendGatewayMail(const GatewayMail& gatewayMail, const SmtpLimits& limits) {
  OutgoingMail mail;
  mail.from = OrEmpty(gatewayMail.from);
  mail.AddRecipient(OrEmpty(gatewayMail.to), "");
  mail.subject = OrEmpty(gatewayMail.subject);
  mail.body = OrEmpty(gatewayMail.body);

  std::string host;
  unsigned port = 0;
  SplitServerName(OrEmpty(gatewayMail.server), host, port);
  SmtpSession session(host, port);
  session.SetLimits(limits);
  bool opened = session.Open();
  bool delivered = session.Deliver(mail);
  bool closed = session.Close();
  (void)closed;  // the mail was handed over before QUIT, whatever its reply
  return {opened && delivered, session.LastError()};
}

}  // namespace zentrova::smtp
