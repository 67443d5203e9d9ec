// sms-sandbox: a local stand-in for the SMS gateway. Listeners of several kinds
// (HTTP, and whatever else is added to the tables in main.cpp) answer with a
// scripted reply and report every request to one journal: a readable line on
// standard output and, with --log, one JSON object per line in a file.
#pragma once

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zentrova::sandbox {

// One scripted answer. A listener takes its steps in order, one per request,
// and keeps answering with the last one once they are used up.
struct ReplyStep {
  int status = 200;
  bool bodyGiven = false;  // without one, status 200 answers kDefaultReply
  std::string body;
  int delayMs = 0;  // wait this long before answering
};
inline constexpr const char* kDefaultReply = "0000 Message accepted";

struct ListenerConfig {
  std::string kind;  // "http", ...
  std::string host;
  int port = 0;  // 0: any free port, reported in the readiness line
  std::vector<ReplyStep> steps;
  std::vector<std::string> smtpReplies;  // "STAGE=REPLY" of --smtp-reply, for the mailbox
};

// Picks the step for the next request; thread-safe.
class ReplyScript {
 public:
  explicit ReplyScript(std::vector<ReplyStep> steps);
  ReplyStep Next();
  std::size_t Served() const { return served_.load(); }

 private:
  std::vector<ReplyStep> steps_;
  std::atomic<std::size_t> served_{0};
};

// Where every request is reported. Thread-safe; each record is written whole.
class Journal {
 public:
  // Opens (appends to) the log file when path is not empty.
  bool Open(const std::string& path, std::string& error);
  ~Journal();
  void Record(nlohmann::json entry, const std::string& line);

 private:
  std::mutex mutex_;
  std::FILE* log_ = nullptr;
};

class Listener {
 public:
  virtual ~Listener() = default;
  // Binds and starts serving; false with a reason when it cannot.
  virtual bool Start(std::string& error) = 0;
  // "http 127.0.0.1:40123": the kind and the bound address, for the readiness line.
  virtual std::string Describe() const = 0;
  virtual void Stop() = 0;
};

using ListenerFactory = std::unique_ptr<Listener> (*)(const ListenerConfig&, Journal&);

// A request document dialect the sandbox can read. Decode returns false when the
// body is not of this dialect; otherwise it fills fields (section -> key ->
// value, texts as Latin1ToUtf8 gives them) and a short summary for the
// readable line.
struct Dialect {
  const char* name;
  bool (*decode)(const std::string& body, nlohmann::json& fields, std::string& summary);
};
const std::vector<Dialect>& Dialects();

// The console program's dialect ("APIEXE"); the automation server's is in apicom.h.
bool DecodeApiexe(const std::string& body, nlohmann::json& fields, std::string& summary);

// Tries every dialect on a request body and adds "dialect" and "fields" to the
// journal entry when one reads it; returns the summary ("" when none did).
std::string DecodeDocument(const std::string& body, nlohmann::json& entry);

// The INI-like request documents: "[SECTION]" lines and "key=value" lines, LF
// or CR LF line ends. Keys before any section go under "".
std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> ParseSections(
    const std::string& text);

// Request bytes are 8-bit text in the sender's code page and JSON wants UTF-8:
// every byte becomes the code point of the same number, so nothing is lost and
// a reader gets the exact bytes back by taking each code point as a byte.
std::string Latin1ToUtf8(const std::string& bytes);

// The header lines of a message head ("Name: value", CR LF or LF line ends)
// as [name, value] pairs, in the order and spelling they came in; the blanks
// after the colon are dropped and a folded line continues the value before it.
nlohmann::json HeaderFields(const std::string& head);

// "host:port" or "[v6]:port".
bool SplitHostPort(const std::string& text, std::string& host, int& port);

// "YYYY-MM-DDThh:mm:ss.mmmZ" of a moment: the present one when none is given.
std::string UtcTimestamp(std::optional<std::timespec> at = std::nullopt);

// The journal's readable line stays one line whatever a request held: line
// breaks and control characters are shown, and text beyond limit is cut.
std::string OneLine(const std::string& text, std::size_t limit = 80);

}  // namespace zentrova::sandbox
