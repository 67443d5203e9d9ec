#include <curl/curl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "gateway/automation/document.h"
#include "identity/cipher.h"

namespace {

using namespace zentrova;

std::string Temp(const std::string& name) {
  return testing::TempDir() + "zv_sandbox_" + std::to_string(::getpid()) + "_" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct ToolResult {
  int status = -1;
  std::string out, err;
};

// Runs "sms-sandbox ARGS" with input on standard input; bounded by timeout(1).
ToolResult RunTool(const std::string& args, const std::string& input) {
  const std::string in = Temp("in"), out = Temp("out"), err = Temp("err");
  std::ofstream(in, std::ios::binary) << input;
  const std::string command =
      "timeout 30 " + std::string(ZV_SANDBOX) + " " + args + " <" + in + " >" + out + " 2>" + err;
  const int raw = std::system(command.c_str());
  ToolResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
  for (const auto& p : {in, out, err}) std::remove(p.c_str());
  return r;
}

std::string ComposeBody(std::vector<gateway::RecipientEntry> recipients,
                        const std::string& message) {
  gateway::AutomationRequest request{
      {"ACC-7", "ops@example.com", "pw\xe9", "61"}, std::move(recipients), message};
  identity::SequenceNumber sequence(5);
  std::string body;
  EXPECT_EQ(gateway::ComposeAutomationDocument(request, sequence, body),
            gateway::ComposeResult::kComposed);
  return body;
}

TEST(SandboxApicomTool, DecodeThenEncodeGivesTheKitsBodyBackByteForByte) {
  const std::string body = ComposeBody({{"0411111111;0422222222", true}}, "line one\nline two");
  const ToolResult decoded = RunTool("decode", body);
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.out.substr(0, 12), "\r\n[SENDER]\r\n");
  EXPECT_NE(decoded.out.find("\r\nPW=pw\xe9\r\n"), std::string::npos);
  EXPECT_EQ(decoded.out.find('\0'), std::string::npos);  // padding left off
  EXPECT_NE(decoded.out.find("\r\n[2]\r\nNUMBER=0422222222\r\n"), std::string::npos);

  const ToolResult encoded = RunTool("encode --account ACC-7 --email ops@example.com", decoded.out);
  ASSERT_EQ(encoded.status, 0) << encoded.err;
  EXPECT_EQ(encoded.out, body);
}

TEST(SandboxApicomTool, RefusesWhatIsNotAValidCipherText) {
  const struct {
    std::string body;
    const char* says;
  } cases[] = {
      {"hello world", "not a valid cipher text"},
      {"(" + std::string(11, ' ') + "=", "not a valid cipher text"},
      // 8 plain bytes padded to 16: one block too many.
      {[] {
         unsigned char block[16] = {'a', 'b', 'c'};
         identity::EncipherDocument(block, sizeof block);
         char text[64];
         identity::EncodeLines(block, sizeof block, text);
         return std::string(text);
       }(),
       "padded to 8 bytes, not 16"},
  };
  for (const auto& c : cases) {
    const ToolResult r = RunTool("decode", c.body);
    EXPECT_EQ(r.status, 1) << c.body;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunTool("encode --account A", "x").status, 64);
  EXPECT_EQ(RunTool("encode --account A --email B", std::string("a\0b", 3)).status, 1);
}

// sms-sandbox serving HTTP on a free loopback port, stopped at the end.
class Sandbox {
 public:
  explicit Sandbox(const std::string& log) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      ::execl(ZV_SANDBOX, ZV_SANDBOX, "--http", "127.0.0.1:0", "--log", log.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    // Wait for the readiness line, with a bound.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (text.find("sms-sandbox: ready\n") == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return;
      char chunk[256];
      const ssize_t got = ::read(fd_, chunk, sizeof chunk);
      if (got <= 0) return;
      text.append(chunk, static_cast<std::size_t>(got));
    }
    const std::size_t at = text.find("listening http 127.0.0.1:");
    if (at != std::string::npos) port_ = std::stoi(text.substr(at + 25));
  }
  ~Sandbox() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int port_ = 0;
};

long Post(int port, const std::string& body) {
  CURL* curl = curl_easy_init();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/sms.dll?private&type=0";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  return status;
}

TEST(SandboxApicomListener, LogsTheDecipheredSectionsBesideTheRawBody) {
  const std::string log = Temp("log.jsonl");
  std::remove(log.c_str());
  Sandbox sandbox(log);
  ASSERT_NE(sandbox.port(), 0) << "sms-sandbox did not get ready";

  const std::string body =
      ComposeBody({{"+61 400 000 001", false}, {"0400000002", false}}, "\nfirst\n\nsecond");
  ASSERT_EQ(Post(sandbox.port(), body), 200);
  std::string damaged = body;
  damaged[5] = damaged[5] == 'A' ? 'B' : 'A';  // the first block no longer reads "\r\n[SENDER]"
  ASSERT_EQ(Post(sandbox.port(), damaged), 200);

  std::istringstream lines(ReadFile(log));
  std::string line;
  std::vector<nlohmann::json> entries;
  while (std::getline(lines, line)) entries.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(entries.size(), 2u);

  const nlohmann::json& e = entries[0];
  EXPECT_EQ(e["dialect"], "APICOM");
  EXPECT_EQ(e["body"], body);  // all ASCII, so the same text
  const nlohmann::json& f = e["fields"];
  EXPECT_EQ(f["SENDER"]["AC"], "ACC-7");
  EXPECT_EQ(f["SENDER"]["PW"], "pw\u00e9");
  EXPECT_EQ(f["SENDER"]["PREFIX"], "61");
  EXPECT_EQ(f["SENDER"]["SN"], "5");
  EXPECT_EQ(f["SENDER"]["PRODUCT"], "APICOM");
  EXPECT_EQ(f["SENDER"]["MSGTYPE"], "N");
  EXPECT_EQ(f["Reply"], "0");
  EXPECT_EQ(f["FROM"], (nlohmann::json{{"ID", "ACC-7"}, {"Email", "ops@example.com"}}));
  ASSERT_EQ(f["recipients"].size(), 2u);
  EXPECT_EQ(f["recipients"][0]["NUMBER"], "+61400000001");
  EXPECT_EQ(f["recipients"][0]["Address"], "+61400000001");
  EXPECT_EQ(f["recipients"][1]["Name"], "0400000002");
  EXPECT_EQ(f["recipients"][1]["SmsCount"], "1");
  EXPECT_EQ(f["recipients"][1]["MSG"], (nlohmann::json{"first", "second"}));
  EXPECT_FALSE(f.contains("error"));

  EXPECT_EQ(entries[1]["dialect"], "APICOM");
  EXPECT_TRUE(entries[1]["fields"].contains("error")) << entries[1].dump();
  std::remove(log.c_str());
}

}  // namespace
