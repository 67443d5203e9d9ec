// A minimal SMTP client: plain SMTP with HELO, no authentication, no
// encryption. Every step blocks on the caller's thread, returns a bool and
// leaves the text of the last failure in LastError().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/time_limits.h"
#include "smtp/mail.h"

namespace zentrova::smtp {

using platform::Milliseconds;

// How long each step may wait; the defaults are the shipped limits.
struct SmtpLimits {
  Milliseconds connect = platform::limits::kSmtpConnect;
  Milliseconds greeting = platform::limits::kSmtpGreeting;
  Milliseconds command = platform::limits::kSmtpCommand;
  Milliseconds dataStart = platform::limits::kSmtpDataStart;
  Milliseconds dataBlock = platform::limits::kSmtpDataBlock;
  Milliseconds dataEnd = platform::limits::kSmtpDataEnd;
};

// A row of the expected replies: the code that counts, and the text of a refusal.
struct ExpectedReply {
  int code;
  const char* failure;
};

// Reads one reply as its bytes arrive: all its lines up to the one without the
// "-" continuation mark ("250-first" goes on, "250 last" ends it). Reading less
// would leave the rest to be taken for the next step's reply, and a later
// refusal could then pass for acceptance.
class ReplyReader {
 public:
  // Takes bytes up to and including the reply's last line feed and returns
  // how many it took; whatever follows belongs to the next reply.
  std::size_t Take(std::string_view bytes);
  bool Done() const { return done_; }
  // The code at the start of the first line: its leading digits among the
  // first three characters, -1 when it starts with none.
  int Code() const { return code_; }

 private:
  std::string head_;  // the first characters of the line being read
  int code_ = -1;
  bool firstLine_ = true;
  bool done_ = false;
};

class SmtpSession {
 public:
  SmtpSession(std::string serverName, unsigned port);
  virtual ~SmtpSession();
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  // Connects, awaits the greeting and says HELO. True at once when connected.
  bool Open();
  // Sends one mail. False with "Must be connected" on a closed session.
  bool Deliver(OutgoingMail& mail);
  // Says QUIT and closes; always ends closed. True at once when not connected.
  bool Close();

  const std::string& LastError() const { return lastError_; }
  std::string ServerName() const { return serverName_; }
  unsigned Port() const { return port_; }
  bool IsConnected() const { return connected_; }

  void SetLimits(const SmtpLimits& limits) { limits_ = limits; }

  // Composes the header block and ends the body with a line break.
  virtual bool PrepareMail(OutgoingMail& mail);
  // Fills the mail's header text and date; "No Recipients" without recipients.
  bool ComposeHeaders(OutgoingMail& mail);

 private:
  bool Transmit(OutgoingMail& mail);
  bool AwaitReply(const ExpectedReply& row, Milliseconds limit);
  void Send(std::string_view text, Milliseconds limit);
  // Sends a command line and names it for the trace line of its reply.
  void SendCommand(const std::string& line, Milliseconds limit);
  std::string HeloName();
  void Drop();  // closes the socket after the connection became unusable

  std::string lastError_ = "OK";
  bool connected_ = false;
  unsigned port_;
  std::string mailerName_ = "ZV2MAIL";
  std::string serverName_;
  platform::TcpSocket socket_;
  std::string pending_;  // bytes received past the end of the last reply
  SmtpLimits limits_;
  std::string step_;  // what the next reply answers, as the trace names it
};

}  // namespace zentrova::smtp
