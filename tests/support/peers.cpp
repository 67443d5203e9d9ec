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

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace zentrova::testing {

namespace {
constexpr std::chrono::seconds kStartLimit{10};
}

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
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// ------------------------------------------------------------ ChildProcess

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string& error) {
  output_.clear();
  ended_ = false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = "pipe failed";
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    pid_ = -1;
    error = "cannot start " + argv[0];
    return false;
  }
  fd_ = fds[0];
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

bool ChildProcess::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return output_.find(text) != std::string::npos || ended_;
  }) && output_.find(text) != std::string::npos;
}

std::string ChildProcess::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

void ChildProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
  args.push_back("--log");
  args.push_back(log_);
  std::string error;
  if (!process_.Start(args, error) || !process_.WaitFor("sms-sandbox: ready\n", kStartLimit))
    return;
  std::istringstream lines(process_.Output());
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t colon = line.rfind(':');
    if (line.rfind("sms-sandbox: listening ", 0) == 0 && colon != std::string::npos)
      ports_.push_back(std::atoi(line.c_str() + colon + 1));
  }
  ready_ = !ports_.empty();
}

std::vector<nlohmann::json> Sandbox::Requests() const {
  std::vector<nlohmann::json> entries;
  std::istringstream lines(ReadFile(log_));
  std::string line;
  while (std::getline(lines, line))
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

RawStep CloseWithoutReply() { return RawStep{RawStep::kClose, "", {}}; }
RawStep Stall() { return RawStep{RawStep::kStall, "", {}}; }

RawListener::RawListener(std::vector<RawStep> script) : script_(std::move(script)) {
  if (script_.empty()) script_.push_back(Reply(200, "0000 Message accepted"));
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(listenFd_, 16) != 0)
    return;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

RawListener::~RawListener() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  uint64_t one = 1;
  if (stopFd_ >= 0 && write(stopFd_, &one, sizeof one) < 0) {
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& t : threads_) t.join();
  if (listenFd_ >= 0) close(listenFd_);
  if (stopFd_ >= 0) close(stopFd_);
}

std::vector<std::string> RawListener::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}
int RawListener::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}
int RawListener::MaxConcurrent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maxInFlight_;
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
    if (step.kind == RawStep::kStall) Wait(std::chrono::milliseconds(-1));
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

// --------------------------------------------------------------- TinyProxy

int UnusedPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
  // tinyproxy cannot report a port it picked, so take a free one; another
  // process may grab it first, hence the few tries.
  for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
    process_.Stop();
    port_ = UnusedPort();
    std::string config = dir_.File("tinyproxy.conf");
    WriteFile(config, "Port " + std::to_string(port_) + "\nListen 127.0.0.1\nTimeout 30\n" +
                          "MaxClients 20\nLogLevel Info\nBasicAuth " + user + " " + password +
                          "\n");
    std::string error;
    ready_ = process_.Start({"/usr/bin/tinyproxy", "-d", "-c", config}, error) &&
             process_.WaitFor("Accepting connections", kStartLimit);
  }
}

}  // namespace zentrova::testing
