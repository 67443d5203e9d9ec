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

int SendGatewayMail(const char* server, const char* from, const char* to, const char* subject,
                    const char* body) {
  return SendGatewayMail(server, from, to, subject, body, SmtpLimits{}, nullptr);
}

int SendGatewayMail(const char* server, const char* from, const char* to, const char* subject,
                    const char* body, const SmtpLimits& limits, std::string* lastError) {
  OutgoingMail mail;
  mail.from = OrEmpty(from);
  mail.AddRecipient(OrEmpty(to), "");
  mail.subject = OrEmpty(subject);
  mail.body = OrEmpty(body);

  std::string host;
  unsigned port = 0;
  SplitServerName(OrEmpty(server), host, port);
  SmtpSession session(host, port);
  session.SetLimits(limits);
  bool opened = session.Open();
  bool delivered = session.Deliver(mail);
  bool closed = session.Close();
  (void)closed;  // the mail was handed over before QUIT, whatever its reply
  if (lastError) *lastError = session.LastError();
  return opened && delivered ? 0 : 1;
}

}  // namespace zentrova::smtp
