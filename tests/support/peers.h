// Test peers: a temporary directory, child processes that announce readiness
// on their output (sms-sandbox, tinyproxy) and a raw scripted HTTP listener.
// Every wait is bounded; every peer is stopped by its destructor.
#pragma once

#include <chrono>
#include <condition_variable>
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

// A program run with its standard output and error read into a buffer.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::vector<std::string>& argv, std::string& error);
  // Waits until the output holds text; false when the time runs out or the
  // program ended first.
  bool WaitFor(const std::string& text, std::chrono::milliseconds timeout);
  std::string Output() const;
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
  const std::string& LogPath() const { return log_; }
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
  enum Kind { kReply, kClose, kStall } kind = kReply;
  std::string bytes;  // kReply: written as they stand
  std::chrono::milliseconds delay{0};
};
RawStep Reply(int status, const std::string& body, std::chrono::milliseconds delay = {});
RawStep CloseWithoutReply();
RawStep Stall();  // accept the request and never answer

class RawListener {
 public:
  explicit RawListener(std::vector<RawStep> script = {Reply(200, "0000 Message accepted")});
  ~RawListener();
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  int Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Requests() const;
  int Connections() const;
  int MaxConcurrent() const;

 private:
  void AcceptLoop();
  void Serve(int fd);
  bool Wait(std::chrono::milliseconds delay);  // false when stopping

  std::vector<RawStep> script_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::vector<std::string> requests_;
  int connections_ = 0, inFlight_ = 0, maxInFlight_ = 0;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

// tinyproxy on a free loopback port with Basic authentication.
class TinyProxy {
 public:
  TinyProxy(const std::string& user, const std::string& password);
  int Port() const { return port_; }
  bool Ready() const { return ready_; }
  std::string Output() const { return process_.Output(); }

 private:
  TempDir dir_;
  ChildProcess process_;
  int port_ = 0;
  bool ready_ = false;
};

// A loopback port nothing listens on (bound and released again).
int UnusedPort();

}  // namespace zentrova::testing
