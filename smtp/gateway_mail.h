// Sending one gateway request as an e-mail to the gateway's mailbox.
#pragma once

#include <string>
#include <string_view>

#include "smtp/session.h"

namespace zentrova::smtp {

inline constexpr unsigned kSmtpPort = 25;

// A mail server name with an optional port: "mail.example.com",
// "mail.example.com:2525", "192.0.2.1:2525", "[2001:db8::1]:2525", or a bare
// IPv6 address ("2001:db8::1", port 25). A port that is not 1 to 65535 gives
// false, with the whole text as host and port 0, so connecting fails.
bool SplitServerName(std::string_view text, std::string& host, unsigned& port);

// One gateway e-mail: the mail server (with its optional ":port"), sender,
// recipient, subject and body. Null texts are empty.
struct GatewayMail {
  const char* server;
  const char* from;
  const char* to;
  const char* subject;
  const char* body;
};

// What became of it: delivered when the server accepted the mail (a refused
// QUIT does not count, the mail was accepted before it), and the session's
// last failure text, or "OK".
struct MailOutcome {
  bool delivered = false;
  std::string lastError;
};

// Mails the body to its one recipient: Open, Deliver and Close, each once and
// each even if the one before failed, within limits.
MailOutcome SendGatewayMail(const GatewayMail& mail, const SmtpLimits& limits = SmtpLimits{});

}  // namespace zentrova::smtp
