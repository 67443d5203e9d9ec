// The e-mail that an SmtpSession hands to a mail server: a fixed header block,
// an empty line and a plain-text body, without MIME.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace zentrova::smtp {

struct MailRecipient {
  std::string address;
  std::string name;  // display name, may be empty
};

class OutgoingMail {
 public:
  virtual ~OutgoingMail() = default;

  std::string from;  // bare in "From:", bracketed in "MAIL From:"
  std::string subject;
  std::string headerText;  // filled by SmtpSession::ComposeHeaders, sent after "DATA"
  std::time_t date = 0;    // moment of the last composition
  std::string body;
  std::string messageId;  // between the brackets of "Message-ID"; nothing here sets it

  // Always true; recipients keep the order in which they were added.
  bool AddRecipient(std::string_view address, std::string_view name);
  // False, leaving address and name as they were, when index is out of range.
  bool GetRecipient(int index, std::string& address, std::string& name) const;
  int RecipientCount() const { return static_cast<int>(recipients_.size()); }

 private:
  std::vector<MailRecipient> recipients_;
};

// "Sun, 06 Dec 26 00:14:55 -0000": English names whatever the process's locale,
// two-digit year, UTC. Empty when the time cannot be broken down.
std::string FormatMailDate(std::time_t when);

// Every line end of text as CR LF: a CR or an LF that is not part of a CR LF
// pair becomes one. Receivers disagree on what a bare CR or LF means, so
// leaving them would let a body such as "\n.\n" end the data early at some
// server and smuggle what follows in as a further mail.
std::string NormalizeLineEnds(std::string_view text);

// The body as it goes on the wire after the header block: line ends made CR LF,
// then one more "." before every line that starts with ".". The mail's own
// body is left as it is.
std::string TransparentBody(const OutgoingMail& mail);

}  // namespace zentrova::smtp
