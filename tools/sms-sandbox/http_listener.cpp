// The gateway's web server: POST /sms.dll?private&type=N answered from the
// listener's reply script. Every request is journalled, also one to another
// path or with another method (answered 404), since a test wants to see it.
//
// The listening socket and the connections are the platform's, as for the
// mailbox, so that a port already in use is refused with the system's reason.
// The HTTP library reads each request from a stream that keeps the bytes it
// took, so the journal shows the request's head as it came in: the library's
// own header map is sorted by name.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <thread>

#include "platform/socket.h"
#include "sandbox.h"

namespace zentrova::sandbox {

namespace {

using platform::Milliseconds;
using platform::SocketResult;

// How long a connection may stay silent, before and within a request.
constexpr Milliseconds kIdleLimit{5'000};
constexpr Milliseconds kSendLimit{60'000};
constexpr int kRequestsPerConnection = 100;

// One connection as the HTTP library reads and writes it. The bytes the
// library takes from the start of a request are kept until its head is taken.
class ConnectionStream : public httplib::Stream {
 public:
  explicit ConnectionStream(platform::TcpSocket& socket) : socket_(socket) {}

  // Waits for the first byte of the next request; false when none came.
  bool AwaitRequest() {
    taken_.clear();
    capturing_ = true;
    return Fill();
  }
  // The request line and header lines read so far, once the library has read them.
  std::string TakeHead() {
    capturing_ = false;
    return std::move(taken_);
  }

  bool is_readable() const override { return true; }  // read itself waits, with a bound
  bool is_writable() const override { return socket_.IsOpen(); }
  ssize_t read(char* ptr, size_t size) override {
    if (!Fill()) return -1;
    const size_t n = std::min(size, held_.size() - at_);
    std::memcpy(ptr, held_.data() + at_, n);
    if (capturing_) taken_.append(held_, at_, n);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    return socket_.SendAll({ptr, size}, kSendLimit).ok() ? static_cast<ssize_t>(size) : -1;
  }
  void get_remote_ip_and_port(std::string&, int&) const override {}
  void get_local_ip_and_port(std::string&, int&) const override {}
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  bool Fill() {
    if (at_ < held_.size()) return true;
    char buffer[8192];
    std::size_t count = 0;
    if (!socket_.Receive(buffer, sizeof buffer, kIdleLimit, count).ok()) return false;
    held_.assign(buffer, count);
    at_ = 0;
    return true;
  }

  platform::TcpSocket& socket_;
  std::string held_;  // received, from at_ on not yet read
  std::size_t at_ = 0;
  std::string taken_;
  bool capturing_ = false;
};

// The library's request processing, opened up for a stream of our own; its
// own listener is never started.
class RequestReader : public httplib::Server {
 public:
  using httplib::Server::process_request;
};

// The head of the request being answered on this thread: the library hands a
// handler its parsed request only, and each connection is served on a thread
// of its own.
thread_local std::string tRequestHead;

class HttpListener : public Listener {
 public:
  HttpListener(const ListenerConfig& config, Journal& journal)
      : config_(config), journal_(journal), script_(config.steps) {}

  ~HttpListener() override { Stop(); }

  bool Start(std::string& error) override {
    if (config_.port < 0 || config_.port > 65535) {
      error = "--http needs a port from 0 to 65535";
      return false;
    }
    platform::SocketStatus listening =
        listener_.Listen(config_.host, static_cast<std::uint16_t>(config_.port));
    if (!listening.ok()) {
      error = listening.message;
      return false;
    }
    // Every method and path is answered (and journalled) here; the body has
    // been read by the time a route handler runs.
    auto answer = [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); };
    reader_.Post(".*", answer);
    reader_.Get(".*", answer);
    reader_.Put(".*", answer);
    reader_.Delete(".*", answer);
    reader_.Patch(".*", answer);
    reader_.Options(".*", answer);
    // What the replies' Keep-Alive header announces.
    reader_.set_keep_alive_max_count(kRequestsPerConnection);
    reader_.set_keep_alive_timeout(kIdleLimit.count() / 1000);
    acceptor_ = std::thread([this] { AcceptConnections(); });
    return true;
  }

  std::string Describe() const override {
    bool v6 = config_.host.find(':') != std::string::npos;
    return "http " + (v6 ? "[" + config_.host + "]" : config_.host) + ":" +
           std::to_string(listener_.Port());
  }

  void Stop() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      for (Connection& c : connections_) c.socket.Shutdown();
    }
    wake_.notify_all();
    listener_.Interrupt();
    if (acceptor_.joinable()) acceptor_.join();
    for (Connection& c : connections_)
      if (c.thread.joinable()) c.thread.join();
    connections_.clear();
  }

 private:
  struct Connection {
    platform::TcpSocket socket;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptConnections() {
    for (;;) {
      platform::TcpSocket socket;
      SocketResult result = listener_.Accept(socket, kIdleLimit).code;
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_ || (result != SocketResult::kOk && result != SocketResult::kTimedOut)) return;
      // Connections that have ended are let go here, so a long run keeps none.
      connections_.remove_if([](Connection& c) {
        if (!c.done) return false;
        c.thread.join();
        return true;
      });
      if (result != SocketResult::kOk) continue;
      Connection& c = connections_.emplace_back();
      c.socket = std::move(socket);
      c.thread = std::thread([this, &c] {
        Serve(c.socket);
        c.socket.Shutdown();  // the client sees the end at once
        c.done = true;
      });
    }
  }

  void Serve(platform::TcpSocket& socket) {
    ConnectionStream stream(socket);
    for (int served = 0; served < kRequestsPerConnection && stream.AwaitRequest(); ++served) {
      bool closed = false;
      const bool last = served + 1 == kRequestsPerConnection;
      if (!reader_.process_request(stream, last, closed,
                                   [&](httplib::Request&) { tRequestHead = stream.TakeHead(); }) ||
          closed)
        break;
    }
  }

  void Answer(const httplib::Request& req, httplib::Response& res) {
    std::string address = Describe().substr(5);
    nlohmann::json entry;
    entry["time"] = UtcTimestamp();
    entry["kind"] = "http";
    entry["listener"] = address;
    const std::size_t lineEnd = tRequestHead.find('\n');
    std::string requestLine = tRequestHead.substr(0, lineEnd);
    if (requestLine.ends_with('\r')) requestLine.pop_back();
    entry["request_line"] = Latin1ToUtf8(requestLine);
    entry["headers"] =
        HeaderFields(lineEnd == std::string::npos ? "" : tRequestHead.substr(lineEnd + 1));
    entry["body"] = Latin1ToUtf8(req.body);

    std::string summary;
    if (req.method == "POST" && req.path == "/sms.dll") {
      summary = DecodeDocument(req.body, entry);
      ReplyStep step = script_.Next();
      if (step.delayMs > 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(step.delayMs), [this] { return stopping_; });
      }
      std::string body = step.bodyGiven ? step.body : step.status == 200 ? kDefaultReply : "";
      res.status = step.status;
      if (step.status == 407) res.set_header("Proxy-Authenticate", "Basic realm=\"sms-sandbox\"");
      res.set_content(body, "text/plain");
    } else {
      res.status = 404;
      res.set_content("no such gateway page\n", "text/plain");
    }
    entry["status"] = res.status;
    entry["reply"] = Latin1ToUtf8(res.body);

    std::string line = "http " + address + " " + OneLine(requestLine, 200);
    if (!summary.empty()) line += " " + OneLine(summary);
    line += " -> " + std::to_string(res.status);
    if (!res.body.empty()) line += " " + OneLine(res.body, 60);
    journal_.Record(std::move(entry), line);
  }

  ListenerConfig config_;
  Journal& journal_;
  ReplyScript script_;
  RequestReader reader_;
  platform::TcpListener listener_;
  std::thread acceptor_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::list<Connection> connections_;  // a list, so each stays where its thread sees it
};

}  // namespace

std::unique_ptr<Listener> MakeHttpListener(const ListenerConfig& config, Journal& journal) {
  return std::make_unique<HttpListener>(config, journal);
}

}  // namespace zentrova::sandbox
