#include "harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace zv_test {
namespace {

int BoundLoopbackSocket(int& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("bind");
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

// The length of the first whole request in buf, or 0 while it is incomplete.
std::size_t WholeRequest(const std::string& buf) {
  std::size_t end = buf.find("\r\n\r\n");
  if (end == std::string::npos) return 0;
  std::size_t length = 0;
  std::string head = buf.substr(0, end);
  for (std::size_t at = 0; (at = head.find("\r\n", at)) != std::string::npos;) {
    at += 2;
    if (strncasecmp(head.c_str() + at, "Content-Length:", 15) == 0)
      length = std::stoul(head.substr(at + 15));
  }
  return buf.size() >= end + 4 + length ? end + 4 + length : 0;
}

}  // namespace

namespace {

// Starts argv with the changed environment, stdin from /dev/null, stdout and
// stderr into pipes (errFd -1: stderr is inherited). Returns the pid or -1.
int Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
          int& outFd, int* errFd, std::string& problem) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::size_t eq = kv.find('=');
    if (eq != std::string::npos) merged[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const auto& [k, v] : env) {
    if (v.empty())
      merged.erase(k);
    else
      merged[k] = v;
  }
  std::vector<std::string> envText;
  for (const auto& [k, v] : merged) envText.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envText) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);

  int outPipe[2], errPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || (errFd && pipe2(errPipe, O_CLOEXEC) != 0))
    throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  if (errFd) posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  if (errFd) close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    if (errFd) close(errPipe[0]);
    problem = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
    return -1;
  }
  outFd = outPipe[0];
  if (errFd) *errFd = errPipe[0];
  return pid;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         std::chrono::milliseconds limit) {
  ProcessResult result;
  int outFd = -1, errFd = -1;
  int pid = Spawn(argv, env, outFd, &errFd, result.err);
  if (pid < 0) return result;

  auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::map<std::string, std::string>& env) {
  std::string problem;
  pid_ = Spawn(argv, env, outFd_, nullptr, problem);
  if (pid_ < 0) throw std::runtime_error(problem);
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  // Bounded: drain stdout until it closes (the process ended) or 5 s pass.
  std::string ignored;
  while (ReadLine(ignored, std::chrono::seconds(5))) {
  }
  if (outFd_ >= 0) close(outFd_);
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
}

bool BackgroundProcess::ReadLine(std::string& line, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (std::size_t nl = pending_.find('\n'); nl != std::string::npos) {
      line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    if (outFd_ < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{outFd_, POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buf[4096];
    ssize_t n = read(outFd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(outFd_);
      outFd_ = -1;
      continue;
    }
    pending_.append(buf, static_cast<std::size_t>(n));
  }
}

std::string HttpReply(int status, const std::string& body, const std::string& reason) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

ScriptedListener::ScriptedListener(std::vector<std::string> replies)
    : replies_(std::move(replies)) {
  listenFd_ = BoundLoopbackSocket(port_);
  if (listen(listenFd_, 16) != 0 || pipe2(stopFd_, O_CLOEXEC) != 0)
    throw std::runtime_error("listen");
  thread_ = std::thread([this] { Serve(); });
}

ScriptedListener::~ScriptedListener() {
  (void)!write(stopFd_[1], "x", 1);
  thread_.join();
  close(listenFd_);
  close(stopFd_[0]);
  close(stopFd_[1]);
}

std::vector<std::string> ScriptedListener::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedListener::Serve() {
  struct Connection {
    int fd;
    std::string buffer;
  };
  std::vector<Connection> connections;
  std::size_t answered = 0;
  for (;;) {
    std::vector<pollfd> fds = {{stopFd_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    for (const auto& c : connections) fds.push_back({c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) connections.push_back({fd, {}});
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Connection& c = connections[i - 2];
      char buf[65536];
      ssize_t n = read(c.fd, buf, sizeof buf);
      if (n <= 0) {
        close(c.fd);
        c.fd = -1;
        continue;
      }
      c.buffer.append(buf, static_cast<std::size_t>(n));
      while (std::size_t len = WholeRequest(c.buffer)) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(c.buffer.substr(0, len));
        }
        c.buffer.erase(0, len);
        const std::string& reply = replies_[std::min(answered++, replies_.size() - 1)];
        (void)!send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
    }
    std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
  }
  for (auto& c : connections) close(c.fd);
}

DeadPort::DeadPort() { fd_ = BoundLoopbackSocket(port_); }
DeadPort::~DeadPort() { close(fd_); }

}  // namespace zv_test
