#include "peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace zentrova::testing {

namespace {

constexpr std::chrono::seconds kStartLimit{10};

// A TCP socket bound to host (IPv4 or IPv6 text) on a free port; -1 when it
// cannot be had. It listens unless told otherwise.
int BoundSocket(const std::string& host, int& port, bool listening = true) {
  sockaddr_storage addr{};
  socklen_t len = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    len = sizeof *v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    len = sizeof *v6;
  } else {
    return -1;
  }
  int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      (listening && listen(fd, 16) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(addr.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
  return fd;
}

// Starts argv with the changed environment and stdin from stdinPath; stdout
// goes to a pipe, and stderr to a second one (errFd given) or the same.
// Returns the pid, or -1 with a reason.
pid_t Spawn(const std::vector<std::string>& argv, const Environment& env,
            const std::string& stdinPath, int& outFd, int* errFd, std::string& problem) {
  // The inherited variables the changes leave alone, then the changes.
  std::vector<std::string> envText, argCopy = argv;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    if (!env.contains(kv.substr(0, kv.find('=')))) envText.push_back(kv);
  }
  for (const auto& [k, v] : env)
    if (!v.empty()) envText.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envText) envp.push_back(s.data());
  envp.push_back(nullptr);
  for (auto& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);

  int outPipe[2], errPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || (errFd && pipe2(errPipe, O_CLOEXEC) != 0)) {
    problem = "pipe failed";
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errFd ? errPipe[1] : outPipe[1], 2);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  if (errFd) close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    if (errFd) close(errPipe[0]);
    problem = "cannot start " + argv[0] + ": " + std::strerror(rc);
    return -1;
  }
  outFd = outPipe[0];
  if (errFd) *errFd = errPipe[0];
  return pid;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zv-test-XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  // A stream on a folder reads as empty (as "no such file" does) instead of throwing.
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> TraceSteps(const std::string& text,
                                    const std::vector<std::string>& prefixes) {
  // "9" stands for a digit; the process id's digits follow the pattern. (No
  // std::regex: g++ 12 warns inside it under the sanitizers, and -Werror.)
  static const std::string_view kStamp = "9999-99-99T99:99:99.999Z pid 9";
  auto stampLength = [](const std::string& line) -> std::size_t {
    std::size_t i = 0;
    for (; i < kStamp.size(); ++i) {
      if (i >= line.size()) return 0;
      const bool digit = line[i] >= '0' && line[i] <= '9';
      if (kStamp[i] == '9' ? !digit : line[i] != kStamp[i]) return 0;
    }
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    return i < line.size() && line[i] == ' ' ? i + 1 : 0;
  };
  std::vector<std::string> steps;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    steps.push_back(line.substr(stampLength(line)));
    if (steps.size() <= prefixes.size()) steps.back().resize(prefixes[steps.size() - 1].size());
  }
  return steps;
}

// -------------------------------------------------------------- processes

ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& env,
                         std::chrono::milliseconds limit, const std::string& stdinPath) {
  ProcessResult result;
  int outFd = -1, errFd = -1;
  pid_t pid = Spawn(argv, env, stdinPath, outFd, &errFd, result.err);
  if (pid < 0) return result;

  auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  for (int open = 2; open > 0;) {
    const auto left = (deadline - std::chrono::steady_clock::now()) / std::chrono::milliseconds(1);
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
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

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string& error,
                         const Environment& env) {
  pid_ = Spawn(argv, env, "/dev/null", fd_, nullptr, error);
  if (pid_ < 0) return false;
  reader_ = std::thread([this] {
    char buffer[4096];
    for (;;) {
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      if (n <= 0) {
        ended_ = true;
        changed_.notify_all();
        return;
      }
      output_.append(buffer, static_cast<std::size_t>(n));
      changed_.notify_all();
    }
  });
  return true;
}

bool ChildProcess::WaitFor(const std::string& text, std::chrono::milliseconds timeout, int times) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto found = [&] {
    int count = 0;
    for (std::size_t at = output_.find(text); at != std::string::npos && count < times;
         at = output_.find(text, at + text.size()))
      ++count;
    return count >= times;
  };
  return changed_.wait_for(lock, timeout, [&] { return found() || ended_; }) && found();
}

std::string ChildProcess::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

void ChildProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    std::unique_lock<std::mutex> lock(mutex_);  // its output ends with it
    if (!changed_.wait_for(lock, std::chrono::seconds(5), [this] { return ended_; }))
      kill(pid_, SIGKILL);
    lock.unlock();
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

// ----------------------------------------------------------------- Sandbox

Sandbox::Sandbox(std::vector<std::string> args) {
  log_ = dir_.File("gateway.jsonl");
  args.insert(args.begin(), std::string(ZV_BINARY_DIR) + "/tools/sms-sandbox/sms-sandbox");
  args.insert(args.end(), {"--log", log_});
  std::string error;
  if (!process_.Start(args, error) || !process_.WaitFor("sms-sandbox: ready\n", kStartLimit))
    return;
  std::istringstream lines(process_.Output());
  for (std::string line; std::getline(lines, line);)  // "... listening http 127.0.0.1:PORT"
    if (line.starts_with("sms-sandbox: listening "))
      ports_.push_back(std::atoi(line.c_str() + line.rfind(':') + 1));
  ready_ = !ports_.empty();
}

std::vector<nlohmann::json> Sandbox::Requests() const {
  std::vector<nlohmann::json> entries;
  std::istringstream lines(ReadFile(log_));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) entries.push_back(nlohmann::json::parse(line));
  return entries;
}

// ------------------------------------------------------------- RawListener

RawStep Reply(int status, const std::string& body, std::chrono::milliseconds delay) {
  RawStep step;
  step.bytes = "HTTP/1.1 " + std::to_string(status) +
               " Scripted\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  if (status == 407) step.bytes += "Proxy-Authenticate: Basic realm=\"test\"\r\n";
  step.bytes += "\r\n" + body;
  step.delay = delay;
  return step;
}

RawListener::RawListener(std::vector<RawStep> script) : script_(std::move(script)) {
  if (script_.empty()) script_.push_back(Reply(200, "0000 Message accepted"));
  listenFd_ = BoundSocket("127.0.0.1", port_);
  if (listenFd_ < 0) return;
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

RawListener::~RawListener() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  if (stopFd_ >= 0) eventfd_write(stopFd_, 1);
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& t : threads_) t.join();
  if (listenFd_ >= 0) close(listenFd_);
  if (stopFd_ >= 0) close(stopFd_);
}

bool RawListener::Wait(std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (delay.count() > 0)
    stop_.wait_for(lock, delay, [this] { return stopping_; });
  else if (delay.count() < 0)
    stop_.wait(lock, [this] { return stopping_; });
  return !stopping_;
}

void RawListener::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    threads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void RawListener::Serve(int fd) {
  std::string pending;
  for (;;) {
    // Read one whole request: the head, then Content-Length bytes of body.
    std::size_t headEnd = std::string::npos, total = std::string::npos;
    while (total == std::string::npos || pending.size() < total) {
      if (headEnd == std::string::npos &&
          (headEnd = pending.find("\r\n\r\n")) != std::string::npos) {
        headEnd += 4;
        std::string head = pending.substr(0, headEnd);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t at = head.find("\r\ncontent-length:");
        total = headEnd +
                (at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 17, nullptr, 10));
        continue;
      }
      pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[1].revents) break;
      char buffer[4096];
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(n));
    }
    if (total == std::string::npos || pending.size() < total) break;
    RawStep step;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(pending.substr(0, total));
      step = script_[std::min(requests_.size(), script_.size()) - 1];
      maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
    }
    pending.erase(0, total);
    bool goOn = step.kind == RawStep::kReply && Wait(step.delay);
    if (step.kind != RawStep::kReply && !step.bytes.empty())
      send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL);
    if (step.kind == RawStep::kStall) Wait(std::chrono::milliseconds(-1));
    while (step.kind == RawStep::kRepeat && Wait(step.delay) &&
           send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) > 0) {
    }
    {
      // A request is in flight until its answer starts; the client may send
      // its next one as soon as it has read this one.
      std::lock_guard<std::mutex> lock(mutex_);
      --inFlight_;
    }
    if (goOn)
      goOn = send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) ==
             static_cast<ssize_t>(step.bytes.size());
    if (!goOn) break;
  }
  close(fd);
}

// -------------------------------------------------------- ScriptedDialogue

ScriptedDialogue::ScriptedDialogue(std::vector<Step> script, const std::string& host)
    : script_(std::move(script)) {
  listenFd_ = BoundSocket(host, port_);
  if (listenFd_ >= 0) thread_ = std::thread([this] { Run(); });
}

ScriptedDialogue::~ScriptedDialogue() {
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
}

const std::string& ScriptedDialogue::Transcript() {
  if (thread_.joinable()) thread_.join();
  return transcript_;
}

bool ScriptedDialogue::Receive(int fd) {
  pollfd p{fd, POLLIN, 0};
  char buffer[4096];
  if (poll(&p, 1, 10'000) <= 0) return false;
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  transcript_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

void ScriptedDialogue::Run() {
  pollfd p{listenFd_, POLLIN, 0};
  if (poll(&p, 1, 10'000) <= 0) return;
  int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::size_t consumed = 0;
  bool goOn = true;
  for (auto step = script_.begin(); goOn && step != script_.end(); ++step) {
    if (step->kind == Step::kSay) {
      goOn = send(fd, step->text.data(), step->text.size(), MSG_NOSIGNAL) >= 0;
    } else if (step->kind == Step::kHear) {
      std::size_t at = 0;
      while (goOn && (at = transcript_.find(step->text, consumed)) == std::string::npos)
        goOn = Receive(fd);
      consumed = at + step->text.size();
    } else {
      goOn = false;
    }
  }
  while (goOn && Receive(fd)) {
  }
  close(fd);
}

// ------------------------------------------------------------------ ports

DeadPort::DeadPort() { fd_ = BoundSocket("127.0.0.1", port_, false); }
DeadPort::~DeadPort() {
  if (fd_ >= 0) close(fd_);
}

UnansweredPort::UnansweredPort() {
  if (fd_ < 0 || listen(fd_, 0) != 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port_));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Connect until one connection stays unanswered: the backlog is full then.
  for (int tries = 0; tries < 8 && !ready_; ++tries) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    fillers_.push_back(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) continue;
    if (errno != EINPROGRESS) return;
    pollfd p{fd, POLLOUT, 0};
    ready_ = poll(&p, 1, 300) == 0;
  }
}

UnansweredPort::~UnansweredPort() {
  for (int fd : fillers_) close(fd);
}

int UnusedPort() {
  int port = 0;
  close(BoundSocket("127.0.0.1", port, false));
  return port;
}

}  // namespace zentrova::testing
