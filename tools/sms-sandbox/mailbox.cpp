// The gateway's mailbox: an SMTP listener that takes mail for the gateway and
// journals each one like an HTTP request (envelope, header lines, body, and
// the request document read from the body). Replies can be scripted per stage
// of the dialogue, so tests can make any step fail, hang up or go silent.
//
// Connections are served one after another; a sandbox serves tests and demos,
// not a crowd.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <thread>

#include "platform/socket.h"
#include "sandbox.h"

namespace zentrova::sandbox {

namespace {

using platform::Milliseconds;
using platform::SocketResult;

// How long the mailbox waits for a client's next line (RFC 5321's server time-out).
constexpr Milliseconds kIdleLimit{300'000};
constexpr Milliseconds kSendLimit{60'000};
constexpr std::size_t kMaxLine = 4096;

const char* const kStages[] = {"greeting", "helo", "mail", "rcpt", "data", "end", "quit"};

// A scripted reply: lines to send, or one of the two special answers.
struct Answer {
  enum Kind { kReply, kClose, kSilent } kind = kReply;
  std::string text;  // CR LF-terminated lines
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The address of "FROM:<a@b>" or "TO: <a@b>", after the keyword.
std::string PathArgument(const std::string& argument, const std::string& keyword) {
  if (Upper(argument.substr(0, keyword.size())) != keyword) return {};
  std::string rest = argument.substr(keyword.size());
  std::size_t open = rest.find('<');
  std::size_t close = rest.find('>', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) {
    std::size_t start = rest.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : rest.substr(start);
  }
  return rest.substr(open + 1, close - open - 1);
}

// Header lines and the body after the empty line.
void SplitMessage(const std::string& data, nlohmann::json& headers, std::string& body) {
  std::size_t end = data.find("\r\n\r\n");
  headers = HeaderFields(end == std::string::npos ? data : data.substr(0, end + 2));
  body = end == std::string::npos ? std::string() : data.substr(end + 4);
}

class MailboxListener : public Listener {
 public:
  MailboxListener(const ListenerConfig& config, Journal& journal)
      : config_(config), journal_(journal) {}
  ~MailboxListener() override { Stop(); }

  bool Start(std::string& error) override {
    for (const std::string& script : config_.smtpReplies)
      if (!AddScript(script, error)) return false;
    if (config_.port < 0 || config_.port > 65535) {
      error = "--smtp needs a port from 0 to 65535";
      return false;
    }
    platform::SocketStatus listening =
        listener_.Listen(config_.host, static_cast<std::uint16_t>(config_.port));
    if (!listening.ok()) {
      error = listening.message;
      return false;
    }
    thread_ = std::thread([this] { Serve(); });
    return true;
  }

  std::string Describe() const override {
    bool v6 = config_.host.find(':') != std::string::npos;
    return "smtp " + (v6 ? "[" + config_.host + "]" : config_.host) + ":" +
           std::to_string(listener_.Port());
  }

  void Stop() override {
    stopping_ = true;
    listener_.Interrupt();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (current_) current_->Shutdown();
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  // "STAGE=REPLY"; REPLY is the reply line (the lines of a multi-line reply
  // separated by a line feed or by the two characters "\n"),
  // "close" to hang up, or "silent" to answer nothing.
  bool AddScript(const std::string& script, std::string& error) {
    std::size_t eq = script.find('=');
    std::string stage = script.substr(0, eq);
    if (eq == std::string::npos ||
        std::find(std::begin(kStages), std::end(kStages), stage) == std::end(kStages)) {
      error =
          "--smtp-reply needs STAGE=REPLY with STAGE one of greeting, helo, mail, rcpt, "
          "data, end, quit (got \"" +
          script + "\")";
      return false;
    }
    std::string reply = script.substr(eq + 1);
    // Lines of a multi-line reply: a real line feed, or the two characters "\n".
    for (std::size_t at; (at = reply.find("\\n")) != std::string::npos;) reply.replace(at, 2, "\n");
    Answer answer;
    if (reply == "close") {
      answer.kind = Answer::kClose;
    } else if (reply == "silent") {
      answer.kind = Answer::kSilent;
    } else {
      if (reply.size() < 3 || !std::isdigit(static_cast<unsigned char>(reply[0]))) {
        error = "--smtp-reply " + stage + ": a reply starts with its three-digit code, e.g. " +
                stage + "=\"550 mailbox unavailable\"";
        return false;
      }
      std::size_t at = 0;
      while (at <= reply.size()) {
        std::size_t nl = reply.find('\n', at);
        if (nl == std::string::npos) nl = reply.size();
        answer.text += reply.substr(at, nl - at) + "\r\n";
        at = nl + 1;
      }
    }
    scripts_[stage] = answer;
    return true;
  }

  Answer Reply(const std::string& stage, const std::string& standard) const {
    auto it = scripts_.find(stage);
    if (it != scripts_.end()) return it->second;
    return {Answer::kReply, standard + "\r\n"};
  }

  void Serve() {
    while (!stopping_) {
      platform::TcpSocket connection;
      SocketResult result = listener_.Accept(connection, kIdleLimit).code;
      if (result == SocketResult::kTimedOut) continue;
      if (result != SocketResult::kOk) return;  // interrupted by Stop
      {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = &connection;
      }
      if (!stopping_) Converse(connection);
      std::lock_guard<std::mutex> lock(mutex_);
      current_ = nullptr;
    }
  }

  // One client's dialogue, as the state of a transaction.
  struct Conversation {
    explicit Conversation(platform::TcpSocket& s) : socket(s) {}
    platform::TcpSocket& socket;
    std::string input;  // received and not yet taken
    nlohmann::json commands = nlohmann::json::array();
    std::string helo, from;
    nlohmann::json recipients = nlohmann::json::array();
    bool mailGiven = false;
  };

  // Next line without its CR LF; false when the client went away or the
  // mailbox is stopping.
  bool ReadLine(Conversation& c, std::string& line) {
    for (;;) {
      std::size_t eol = c.input.find("\r\n");
      if (eol != std::string::npos) {
        line = c.input.substr(0, eol);
        c.input.erase(0, eol + 2);
        return true;
      }
      if (c.input.size() > kMaxLine * 64) return false;  // no line end in sight
      char buffer[4096];
      std::size_t count = 0;
      if (!c.socket.Receive(buffer, sizeof buffer, kIdleLimit, count).ok()) return false;
      c.input.append(buffer, count);
    }
  }

  // Sends the answer; false when the conversation ends here.
  bool Say(Conversation& c, const Answer& answer) {
    switch (answer.kind) {
      case Answer::kReply:
        return c.socket.SendAll(answer.text, kSendLimit).ok();
      case Answer::kClose:
        return false;
      case Answer::kSilent: {
        // Keep listening without a word until the client gives up.
        std::string ignored;
        while (ReadLine(c, ignored)) c.commands.push_back(Latin1ToUtf8(ignored));
        return false;
      }
    }
    return false;
  }

  void Converse(platform::TcpSocket& socket) {
    Conversation c(socket);
    bool journalled = false;
    if (Say(c, Reply("greeting", "220 sms-sandbox gateway mailbox ready"))) {
      std::string line;
      while (!stopping_ && ReadLine(c, line)) {
        c.commands.push_back(Latin1ToUtf8(line));
        std::size_t blank = line.find(' ');
        std::string verb = Upper(line.substr(0, blank));
        std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
        Answer answer;
        if (verb == "HELO" || verb == "EHLO") {
          c.helo = argument;
          answer = Reply("helo", "250 sms-sandbox");
        } else if (verb == "MAIL") {
          answer = Reply("mail", "250 OK");
          if (answer.kind == Answer::kReply && answer.text[0] == '2') {
            c.from = PathArgument(argument, "FROM:");
            c.recipients = nlohmann::json::array();
            c.mailGiven = true;
          }
        } else if (verb == "RCPT") {
          answer = c.mailGiven ? Reply("rcpt", "250 OK") : Reply("", "503 MAIL first");
          if (answer.kind == Answer::kReply && answer.text[0] == '2')
            c.recipients.push_back(Latin1ToUtf8(PathArgument(argument, "TO:")));
        } else if (verb == "DATA") {
          if (!c.mailGiven)
            answer = Reply("", "503 MAIL first");
          else if (c.recipients.empty())
            answer = Reply("", "503 no valid recipients");
          else
            answer = Reply("data", "354 end data with <CR><LF>.<CR><LF>");
          if (answer.kind == Answer::kReply && answer.text.starts_with("354")) {
            if (!Say(c, answer)) break;
            std::string data;
            if (!ReadData(c, data)) break;
            Answer end = Reply("end", "250 OK logged");
            Record(c, &data, end);
            journalled = true;
            c.commands = nlohmann::json::array();
            c.mailGiven = false;
            c.from.clear();
            c.recipients = nlohmann::json::array();
            if (!Say(c, end)) break;
            continue;
          }
        } else if (verb == "RSET") {
          c.mailGiven = false;
          answer = Reply("", "250 OK");
        } else if (verb == "NOOP") {
          answer = Reply("", "250 OK");
        } else if (verb == "QUIT") {
          answer = Reply("quit", "221 bye");
          Say(c, answer);
          break;
        } else {
          answer = Reply("", "502 command not implemented");
        }
        if (!Say(c, answer)) break;
      }
    }
    // A conversation that ended without a mail is journalled too: a test of a
    // refusal wants to see what the client said.
    if (!journalled || c.commands.size() > 1) Record(c, nullptr, {});
  }

  // The mail data up to the line ".", with the transparency dots removed.
  bool ReadData(Conversation& c, std::string& data) {
    std::string line;
    while (ReadLine(c, line)) {
      if (line == ".") return true;
      if (!line.empty() && line[0] == '.') line.erase(0, 1);
      data += line + "\r\n";
    }
    return false;
  }

  void Record(const Conversation& c, const std::string* data, const Answer& end) {
    std::string address = Describe().substr(5);
    nlohmann::json entry;
    entry["time"] = UtcTimestamp();
    entry["kind"] = "smtp";
    entry["listener"] = address;
    entry["commands"] = c.commands;
    entry["helo"] = Latin1ToUtf8(c.helo);
    entry["mail_from"] = Latin1ToUtf8(c.from);
    entry["rcpt_to"] = c.recipients;
    std::string line = "smtp " + address;
    if (!data) {
      entry["delivered"] = false;
      line += " no mail; said: ";
      for (const auto& command : c.commands) line += OneLine(command.get<std::string>(), 40) + "; ";
      journal_.Record(std::move(entry), line);
      return;
    }
    nlohmann::json headers;
    std::string body;
    SplitMessage(*data, headers, body);
    entry["delivered"] = true;
    entry["headers"] = std::move(headers);
    entry["body"] = Latin1ToUtf8(body);
    // The sender's end-of-data marker leaves one empty line after the request
    // text; it is not part of the document.
    std::string document = body;
    if (document.ends_with("\r\n\r\n")) document.erase(document.size() - 2);
    std::string summary = DecodeDocument(document, entry);
    std::string reply = end.kind == Answer::kReply   ? end.text.substr(0, end.text.size() - 2)
                        : end.kind == Answer::kClose ? "(hung up)"
                                                     : "(silent)";
    entry["reply"] = Latin1ToUtf8(reply);
    line += " from <" + OneLine(c.from, 60) + "> to " + OneLine(c.recipients.dump(), 80);
    if (!summary.empty()) line += " " + OneLine(summary);
    line += " -> " + OneLine(reply, 60);
    journal_.Record(std::move(entry), line);
  }

  ListenerConfig config_;
  Journal& journal_;
  std::map<std::string, Answer> scripts_;
  platform::TcpListener listener_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  platform::TcpSocket* current_ = nullptr;
};

}  // namespace

std::unique_ptr<Listener> MakeMailboxListener(const ListenerConfig& config, Journal& journal) {
  return std::make_unique<MailboxListener>(config, journal);
}

}  // namespace zentrova::sandbox
