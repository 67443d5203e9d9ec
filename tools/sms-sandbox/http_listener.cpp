// The gateway's web server: POST /sms.dll?private&type=N answered from the
// listener's reply script. Every request is journalled, also one to another
// path or with another method (answered 404), since a test wants to see it.
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "sandbox.h"

namespace zentrova::sandbox {

namespace {

class HttpListener : public Listener {
 public:
  HttpListener(const ListenerConfig& config, Journal& journal)
      : config_(config), journal_(journal), script_(config.steps) {}

  ~HttpListener() override { Stop(); }

  bool Start(std::string& error) override {
    // Every method and path is answered (and journalled) here; the body has
    // been read by the time a route handler runs.
    auto answer = [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); };
    server_.Post(".*", answer);
    server_.Get(".*", answer);
    server_.Put(".*", answer);
    server_.Delete(".*", answer);
    server_.Patch(".*", answer);
    server_.Options(".*", answer);
    // Short keep-alive so that stopping never waits long for an idle client.
    server_.set_keep_alive_timeout(1);
    if (config_.port == 0) {
      port_ = server_.bind_to_any_port(config_.host);
      if (port_ < 0) {
        error = "cannot listen on " + config_.host + " (any port)";
        return false;
      }
    } else {
      if (!server_.bind_to_port(config_.host, config_.port)) {
        error = "cannot listen on " + config_.host + ":" + std::to_string(config_.port);
        return false;
      }
      port_ = config_.port;
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    return true;
  }

  std::string Describe() const override {
    bool v6 = config_.host.find(':') != std::string::npos;
    return "http " + (v6 ? "[" + config_.host + "]" : config_.host) + ":" + std::to_string(port_);
  }

  void Stop() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }

 private:
  void Answer(const httplib::Request& req, httplib::Response& res) {
    std::string address = Describe().substr(5);
    nlohmann::json entry;
    entry["time"] = UtcTimestamp();
    entry["kind"] = "http";
    entry["listener"] = address;
    std::string requestLine = req.method + " " + req.target + " " + req.version;
    entry["request_line"] = Latin1ToUtf8(requestLine);
    nlohmann::json headers = nlohmann::json::array();
    for (const auto& [name, value] : req.headers)
      if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" &&
          name != "LOCAL_PORT")  // the library's own notes, not sent by the client
        headers.push_back({Latin1ToUtf8(name), Latin1ToUtf8(value)});
    entry["headers"] = std::move(headers);
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
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

}  // namespace

std::unique_ptr<Listener> MakeHttpListener(const ListenerConfig& config, Journal& journal) {
  return std::make_unique<HttpListener>(config, journal);
}

}  // namespace zentrova::sandbox
