// Test peers for every area: programs run as processes with a bound on their
// time, sms-sandbox as a child process, and scripted listeners (HTTP and a
// line dialogue) that keep the exact bytes a client sent.
// Every wait is bounded; every peer is stopped by its destructor.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace zentrova::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// The lines of a delivery trace, each without its "<UTC time> pid <id> " start;
// a line that does not start so is kept whole, and then matches no step. Given
// `prefixes`, each line is cut to the length of the one in its place, so that
// the result equals them when every line starts with its own.
std::vector<std::string> TraceSteps(const std::string& text,
                                    const std::vector<std::string>& prefixes = {});

// Environment changes for a child: an empty value removes the variable.
using Environment = std::map<std::string, std::string>;

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit by itself
  bool timedOut = false;
  std::string out, err;
};

// Runs argv[0] to its end with stdin from stdinPath; killed after `limit`
// (long enough for every attempt of a send to time out where DNS is unreachable).
ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& env,
                         std::chrono::milliseconds limit = std::chrono::seconds(90),
                         const std::string& stdinPath = "/dev/null");

// A program left running, its standard output and error read into one buffer.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();

  bool Start(const std::vector<std::string>& argv, std::string& error, const Environment& env = {});
  // Waits until the output holds text (at least `times` times); false when
  // the time runs out or the program ended first.
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout, int times = 1);
  std::string Output() const;
  pid_t Pid() const { return pid_; }
  // SIGTERM, then SIGKILL if it has not ended within five seconds.
  void Stop();

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool ended_ = false;
};

// sms-sandbox with the given arguments and a log; the constructor waits (at
// most ten seconds) for its readiness line: check Ready() before use.
class Sandbox {
 public:
  explicit Sandbox(std::vector<std::string> args);
  int Port(std::size_t listener = 0) const { return ports_.at(listener); }
  std::string Address(std::size_t listener = 0) const {
    return "127.0.0.1:" + std::to_string(Port(listener));
  }
  // The journalled requests so far, in order.
  std::vector<nlohmann::json> Requests() const;
  ChildProcess& Process() { return process_; }
  bool Ready() const { return ready_; }

 private:
  TempDir dir_;
  std::string log_;
  ChildProcess process_;
  std::vector<int> ports_;
  bool ready_ = false;
};

// A raw HTTP listener on 127.0.0.1 with a script: each request takes the next
// step and the last one repeats. It keeps the exact bytes of every request.
struct RawStep {
  enum Kind { kReply, kClose, kStall, kRepeat } kind = kReply;
  std::string bytes;  // written as they stand (kClose and kStall: before closing or stalling)
  std::chrono::milliseconds delay{0};  // kRepeat: between two writes of bytes
};
// A whole HTTP/1.1 response; a 407 asks for Basic credentials.
RawStep Reply(int status, const std::string& body, std::chrono::milliseconds delay = {});
// Write the first bytes of a reply, then close or fall silent.
inline RawStep CloseAfter(std::string bytes) { return {RawStep::kClose, std::move(bytes), {}}; }
inline RawStep StallAfter(std::string bytes) { return {RawStep::kStall, std::move(bytes), {}}; }
inline RawStep CloseWithoutReply() { return CloseAfter(""); }
inline RawStep Stall() { return StallAfter(""); }  // accept the request and never answer
// Write bytes again and again, every so often, until the client goes away.
inline RawStep Repeat(std::string bytes, std::chrono::milliseconds every) {
  return {RawStep::kRepeat, std::move(bytes), every};
}

class RawListener {
 public:
  explicit RawListener(std::vector<RawStep> script = {Reply(200, "0000 Message accepted")});
  ~RawListener();

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Requests() const { return Locked(requests_); }
  int Connections() const { return Locked(connections_); }
  int MaxConcurrent() const { return Locked(maxInFlight_); }

 private:
  template <class T>
  T Locked(const T& value) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value;
  }
  void AcceptLoop();
  void Serve(int fd);
  bool Wait(std::chrono::milliseconds delay);  // false when stopping

  std::vector<RawStep> script_;
  int listenFd_ = -1, stopFd_ = -1, port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::vector<std::string> requests_;
  int connections_ = 0, inFlight_ = 0, maxInFlight_ = 0;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

// A peer for one line-based conversation (SMTP): it says and hears exactly
// what the script lists, in order, and keeps every byte the client sent. After
// the last step it says nothing more and listens until the client closes, so a
// script that ends early is a server that never answers.
class ScriptedDialogue {
 public:
  struct Step {
    enum Kind { kSay, kHear, kHangUp } kind;
    std::string text;  // kSay: the bytes; kHear: what ends the client's part
  };
  static Step Say(std::string text) { return {Step::kSay, std::move(text)}; }
  static Step Hear() { return {Step::kHear, "\r\n"}; }           // one command line
  static Step HearData() { return {Step::kHear, "\r\n.\r\n"}; }  // mail data
  static Step HangUp() { return {Step::kHangUp, {}}; }           // close without a word

  explicit ScriptedDialogue(std::vector<Step> script, const std::string& host = "127.0.0.1");
  ~ScriptedDialogue();

  bool Listening() const { return listenFd_ >= 0; }
  int Port() const { return port_; }
  // Everything the client sent, once the conversation is over.
  const std::string& Transcript();

 private:
  void Run();
  bool Receive(int fd);  // false at the end or after ten seconds of silence

  std::vector<Step> script_;
  int listenFd_ = -1, port_ = 0;
  std::thread thread_;
  std::string transcript_;
};

// A loopback port on which nothing accepts connections (held bound, never
// listening, so no other test can take it meanwhile).
class DeadPort {
 public:
  DeadPort();
  ~DeadPort();
  DeadPort(const DeadPort&) = delete;
  DeadPort& operator=(const DeadPort&) = delete;
  int port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 protected:
  int fd_ = -1, port_ = 0;
};

// A loopback port where a connection is neither made nor refused: it listens
// with a full backlog and never accepts, so a client's SYN goes unanswered
// until the client gives up.
class UnansweredPort : public DeadPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  bool Ready() const { return ready_; }
  int Port() const { return port_; }

 private:
  std::vector<int> fillers_;  // the connections that fill the backlog
  bool ready_ = false;
};

// A loopback port nothing listens on (bound and released again), for a peer
// that must bind it itself.
int UnusedPort();

}  // namespace zentrova::testing
