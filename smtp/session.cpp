#include "smtp/session.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "platform/trace.h"
#include "smtp/helo_name.h"

namespace zentrova::smtp {
namespace {

using Clock = std::chrono::steady_clock;

// Replies that count: only the code matters, the text after it is not read.
constexpr ExpectedReply kAccepted{250, "SMTP server error"};
constexpr ExpectedReply kGreeting{220, "SMTP server not available"};
constexpr ExpectedReply kReadyForData{354, "SMTP server not ready for data"};
constexpr ExpectedReply kClosing{221, "SMTP server didn't terminate session"};

constexpr const char* kNoCode = "SMTP server sent a reply without a reply code";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The reply code of a line: its leading digits among the first three
// characters; -1 when it does not start with a digit.
int ReplyCode(std::string_view head) {
  int code = -1;
  for (std::size_t i = 0; i < head.size() && i < 3 && IsDigit(head[i]); ++i)
    code = (code < 0 ? 0 : code * 10) + (head[i] - '0');
  return code;
}

// "ddd-" marks a line that another line of the same reply follows.
bool IsContinued(std::string_view head) {
  return head.size() >= 4 && IsDigit(head[0]) && IsDigit(head[1]) && IsDigit(head[2]) &&
         head[3] == '-';
}

std::string Duration(Milliseconds limit) {
  auto ms = limit.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
  return std::to_string(ms) + " ms";
}

// A reply's text as a quoted trace value: at most 200 bytes, without the
// final line end, escaped as every trace value is, so that what a server says
// cannot break or forge a trace line.
std::string QuotedReply(std::string_view text) {
  if (text.ends_with("\r\n")) text.remove_suffix(2);
  return platform::TraceQuoted(text, 200);
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::size_t ReplyReader::Take(std::string_view bytes) {
  if (done_) return 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') {
      if (head_.size() < 4) head_ += bytes[i];
      continue;
    }
    if (firstLine_) code_ = ReplyCode(head_);
    firstLine_ = false;
    const bool more = IsContinued(head_);
    head_.clear();
    if (!more) {
      done_ = true;
      return i + 1;
    }
  }
  return bytes.size();
}

SmtpSession::SmtpSession(std::string serverName, unsigned port)
    : port_(port), serverName_(std::move(serverName)) {}

SmtpSession::~SmtpSession() {
  if (connected_) Close();
}

bool SmtpSession::Open() {
  if (connected_) return true;
  pending_.clear();
  if (!socket_.Create().ok()) {
    lastError_ = "Unable to create the socket.";
    return false;
  }
  platform::SocketResult result = platform::SocketResult::kError;
  if (port_ > 0 && port_ <= 65535)
    result = socket_.Connect(serverName_, static_cast<std::uint16_t>(port_), limits_.connect).code;
  step_ = "connect server=" + platform::TraceQuoted(serverName_ + ":" + std::to_string(port_));
  if (result != platform::SocketResult::kOk) {
    lastError_ = "Unable to connect to server";
    if (result == platform::SocketResult::kTimedOut)
      lastError_ += ": no answer within " + Duration(limits_.connect);
    platform::TraceLine("smtp " + step_ + " error=" + platform::TraceQuoted(lastError_));
    socket_.Close();
    return false;
  }
  if (!AwaitReply(kGreeting, limits_.greeting)) {
    lastError_ = "Server didn't respond.";
    socket_.Close();
    return false;
  }
  SendCommand("HELO " + HeloName(), limits_.command);
  if (!AwaitReply(kAccepted, limits_.command)) {
    socket_.Close();
    return false;
  }
  connected_ = true;
  return true;
}

bool SmtpSession::Deliver(OutgoingMail& mail) {
  if (!connected_) {
    lastError_ = "Must be connected";
    return false;
  }
  if (!PrepareMail(mail)) return false;
  return Transmit(mail);
}

bool SmtpSession::Close() {
  if (!connected_) return true;
  SendCommand("QUIT", limits_.command);
  bool accepted = AwaitReply(kClosing, limits_.command);
  Drop();
  return accepted;
}

bool SmtpSession::PrepareMail(OutgoingMail& mail) {
  if (!ComposeHeaders(mail)) return false;
  mail.body = NormalizeLineEnds(mail.body);
  if (!mail.body.ends_with("\r\n")) mail.body += "\r\n";
  return true;
}

bool SmtpSession::ComposeHeaders(OutgoingMail& mail) {
  if (mail.RecipientCount() == 0) {
    lastError_ = "No Recipients";
    return false;
  }
  // These texts go into commands and header lines as they are; a line break in
  // one of them would let it add commands or headers of its own.
  bool unsafe =
      HasLineBreak(mail.from) || HasLineBreak(mail.subject) || HasLineBreak(mail.messageId);
  std::string toList;
  for (int i = 0; i < mail.RecipientCount(); ++i) {
    std::string address, name;
    mail.GetRecipient(i, address, name);
    unsafe = unsafe || HasLineBreak(address) || HasLineBreak(name);
    if (i > 0) toList += ',';
    toList += name + "<" + address + ">";
  }
  if (unsafe) {
    lastError_ = "Mail addresses and subject must not contain line breaks";
    return false;
  }
  mail.date = std::time(nullptr);
  mail.headerText = "Date: " + FormatMailDate(mail.date) + "\r\nFrom: " + mail.from +
                    "\r\nTo: " + toList + "\r\nSubject: " + mail.subject + "\r\nMessage-ID: <" +
                    mail.messageId + ">\r\nX-Mailer: <" + mailerName_ + ">\r\n\r\n";
  return true;
}

bool SmtpSession::Transmit(OutgoingMail& mail) {
  if (!connected_) {
    lastError_ = "Must be connected";
    return false;
  }
  SendCommand("MAIL From: <" + mail.from + ">", limits_.command);
  if (!AwaitReply(kAccepted, limits_.command)) return false;

  // A refused recipient does not stop the mail: the others may be accepted.
  // With none accepted there is nobody to send it to, and DATA would only let
  // a lenient server take a mail that reaches no one: the delivery fails here
  // with the last refusal, and Close says QUIT.
  int accepted = 0;
  for (int i = 0; i < mail.RecipientCount(); ++i) {
    std::string address, name;
    mail.GetRecipient(i, address, name);
    SendCommand("RCPT TO: <" + address + ">", limits_.command);
    if (AwaitReply(kAccepted, limits_.command)) ++accepted;
    if (!connected_) return false;
  }
  if (accepted == 0) return false;

  SendCommand("DATA", limits_.command);
  if (!AwaitReply(kReadyForData, limits_.dataStart)) return false;
  // The body is the enciphered request: the trace shows its length alone.
  const std::string body = TransparentBody(mail);
  step_ = "data bytes=" + std::to_string(body.size());
  Send(mail.headerText, limits_.dataBlock);
  Send(body, limits_.dataBlock);
  Send("\r\n.\r\n", limits_.dataBlock);
  return AwaitReply(kAccepted, limits_.dataEnd);
}

void SmtpSession::SendCommand(const std::string& line, Milliseconds limit) {
  step_ = "command=" + platform::TraceQuoted(line);
  Send(line + "\r\n", limit);
}

void SmtpSession::Send(std::string_view text, Milliseconds limit) {
  // Send failures are not judged here: a broken connection shows, with a
  // clearer text, in the reply that follows.
  if (socket_.IsOpen()) socket_.SendAll(text, limit);
}

bool SmtpSession::AwaitReply(const ExpectedReply& row, Milliseconds limit) {
  // The connection was dropped by an earlier step, whose text stays.
  if (!socket_.IsOpen()) return false;

  const auto start = Clock::now();
  auto trace = [&](const std::string& outcome) {
    if (!platform::Tracing()) return;
    const auto ms = std::chrono::duration_cast<Milliseconds>(Clock::now() - start).count();
    platform::TraceLine("smtp " + step_ + " " + outcome + " ms=" + std::to_string(ms));
  };
  auto deadline = start + limit;
  ReplyReader reader;
  bool received = !pending_.empty();
  char buffer[1024];
  std::string text;  // the reply's first bytes, for the trace
  for (;;) {
    const std::size_t taken = reader.Take(pending_);
    // 200 bytes and a line end, and one more to tell a longer reply.
    if (text.size() < 203) text.append(pending_, 0, std::min(taken, 203 - text.size()));
    pending_.erase(0, taken);
    if (reader.Done()) {
      const int code = reader.Code();
      trace("reply=" + std::to_string(code) + " text=" + QuotedReply(text));
      if (code == row.code) return true;
      lastError_ = code < 0 ? kNoCode : std::to_string(code) + ":" + row.failure;
      return false;
    }

    auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now());
    std::size_t count = 0;
    platform::SocketResult result = platform::SocketResult::kTimedOut;
    if (left.count() > 0) result = socket_.Receive(buffer, sizeof buffer, left, count).code;
    switch (result) {
      case platform::SocketResult::kOk:
        pending_.append(buffer, count);
        received = true;
        continue;
      case platform::SocketResult::kTimedOut:
        lastError_ = "SMTP server did not reply within " + Duration(limit);
        break;
      case platform::SocketResult::kClosed:
        lastError_ = received ? "SMTP server closed the connection in the middle of a reply"
                              : "SMTP server closed the connection";
        break;
      case platform::SocketResult::kError:
        lastError_ = "Socket Error";
        break;
    }
    trace("error=" + platform::TraceQuoted(lastError_));
    // Whatever the server does next cannot be matched to our commands.
    Drop();
    return false;
  }
}

std::string SmtpSession::HeloName() {
  std::string hostName, canonicalName;
  if (!platform::LocalHostName(hostName)) hostName.clear();
  // The resolver is asked only when the host name will not do.
  if (!hostName.empty() && !IsFullyQualifiedDomain(hostName) &&
      !platform::CanonicalHostName(hostName, canonicalName))
    canonicalName.clear();
  std::string address, literal;
  bool ipv6 = false;
  // Without a local address (never on a connected socket) the literal of the
  // loopback address is still a well-formed HELO.
  literal = socket_.LocalAddress(address, ipv6) ? AddressLiteral(address, ipv6) : "[127.0.0.1]";
  return ChooseHeloName(hostName, canonicalName, literal);
}

void SmtpSession::Drop() {
  socket_.Close();
  connected_ = false;
  pending_.clear();
}

}  // namespace zentrova::smtp
