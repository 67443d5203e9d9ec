// A scripted SMTP peer for one conversation: it says and hears exactly what
// the test lists, in order, and keeps every byte the client sent, so a test
// can compare the client's side of the dialogue byte for byte.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace zentrova::smtp::test {

class FakeSmtpServer {
 public:
  struct Step {
    enum Kind { kSay, kHear, kHearData, kHangUp } kind;
    std::string text;
  };
  static Step Say(std::string text) { return {Step::kSay, std::move(text)}; }
  static Step Hear() { return {Step::kHear, {}}; }          // one command line
  static Step HearData() { return {Step::kHearData, {}}; }  // mail data through "\r\n.\r\n"
  static Step HangUp() { return {Step::kHangUp, {}}; }      // close without a word

  // After the last step the server says nothing more and listens until the
  // client closes, so a script that ends early is a server that never answers.
  explicit FakeSmtpServer(std::vector<Step> script, const std::string& host = "127.0.0.1")
      : script_(std::move(script)) {
    std::string error;
    listening_ = listener_.Listen(host, 0, error);
    if (listening_) thread_ = std::thread([this] { Run(); });
  }
  ~FakeSmtpServer() { Join(); }

  bool Listening() const { return listening_; }
  std::uint16_t Port() const { return listener_.Port(); }

  // Everything the client sent, once the conversation is over.
  const std::string& Transcript() {
    Join();
    return transcript_;
  }

 private:
  static constexpr platform::Milliseconds kBound{10'000};

  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  // Receives until marker appears after the consumed part; false on EOF or time-out.
  bool ReceiveThrough(platform::TcpSocket& peer, const std::string& marker) {
    for (;;) {
      std::size_t at = transcript_.find(marker, consumed_);
      if (at != std::string::npos) {
        consumed_ = at + marker.size();
        return true;
      }
      if (!ReceiveMore(peer)) return false;
    }
  }

  bool ReceiveMore(platform::TcpSocket& peer) {
    char buffer[4096];
    std::size_t count = 0;
    std::string error;
    if (peer.Receive(buffer, sizeof buffer, kBound, &count, error) != platform::SocketResult::kOk)
      return false;
    transcript_.append(buffer, count);
    return true;
  }

  void Run() {
    platform::TcpSocket peer;
    std::string error;
    if (listener_.Accept(peer, kBound, error) != platform::SocketResult::kOk) return;
    for (const Step& step : script_) {
      switch (step.kind) {
        case Step::kSay:
          peer.SendAll(step.text, kBound, error);
          break;
        case Step::kHear:
          if (!ReceiveThrough(peer, "\r\n")) return;
          break;
        case Step::kHearData:
          if (!ReceiveThrough(peer, "\r\n.\r\n")) return;
          break;
        case Step::kHangUp:
          return;
      }
    }
    while (ReceiveMore(peer)) {
    }
  }

  std::vector<Step> script_;
  platform::TcpListener listener_;
  bool listening_ = false;
  std::thread thread_;
  std::string transcript_;
  std::size_t consumed_ = 0;
};

}  // namespace zentrova::smtp::test
