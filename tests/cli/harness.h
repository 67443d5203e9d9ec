// Test support: running a program as a process with a bound on its time, and a
// raw HTTP listener that answers each request with scripted bytes.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zv_test {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit by itself
  bool timedOut = false;
  std::string out, err;
};

// Runs argv[0] with the environment of this process changed by `env` (an empty
// value removes the variable), stdin from /dev/null; killed after `limit`
// (long enough for every attempt of a send to time out where DNS is unreachable).
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         std::chrono::milliseconds limit = std::chrono::seconds(90));

// A program left running in the background, its stdout read line by line;
// killed (SIGTERM, then SIGKILL after a bound) and reaped when the object goes.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // The next line of its stdout (without the LF), or false at its end or when
  // `limit` passes first.
  bool ReadLine(std::string& line, std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  int pid_ = -1, outFd_ = -1;
  std::string pending_;
};

// A whole HTTP/1.1 response with a Content-Length.
std::string HttpReply(int status, const std::string& body, const std::string& reason = "Whatever");

// Listens on 127.0.0.1 (a free port) and answers the n-th request with
// replies[n] (the last one again once they run out). Connections stay open
// for more requests until the client closes them.
class ScriptedListener {
 public:
  explicit ScriptedListener(std::vector<std::string> replies);
  ~ScriptedListener();
  ScriptedListener(const ScriptedListener&) = delete;
  ScriptedListener& operator=(const ScriptedListener&) = delete;

  int port() const { return port_; }
  std::vector<std::string> Requests();  // the raw bytes of each whole request so far

 private:
  void Serve();
  int listenFd_ = -1, stopFd_[2] = {-1, -1}, port_ = 0;
  std::vector<std::string> replies_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A loopback port on which nothing accepts connections (held bound, never
// listening, so no other test can take it meanwhile).
class DeadPort {
 public:
  DeadPort();
  ~DeadPort();
  int port() const { return port_; }

 private:
  int fd_ = -1, port_ = 0;
};

}  // namespace zv_test
