// Pagora against the local gateway: what arrives there, as the gateway reads it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "harness.h"

namespace fs = std::filesystem;

namespace {

const std::string kPagora = ZV_BINARY_DIR "/cli/Pagora";
const std::string kSandbox = ZV_BINARY_DIR "/tools/sms-sandbox/sms-sandbox";
const std::string kZcom = ZV_BINARY_DIR "/tools/zcom/zcom";

class PagoraAndSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zv-sandbox-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    env_ = {{"ZENTROVA_REGISTRY", (dir_ / "registry").string()},
            {"XDG_CONFIG_HOME", (dir_ / "xdg").string()},
            {"HOME", dir_.string()},
            {"LANG", "C.UTF-8"},
            {"LC_ALL", ""},
            {"ZENTROVA_CODEPAGE", ""},
            {"http_proxy", ""}};
    fs::create_directories(dir_ / "xdg/pagora");
    std::ofstream(dir_ / "xdg/pagora/pagora.ini")
        << "[CONFIG]\nAccountId=acct\nPassword=pw\nEmail=me@example.com\n";
    chmod((dir_ / "xdg/pagora/pagora.ini").c_str(), 0600);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Starts the sandbox and returns its HOST:PORT once it says it is ready.
  std::string StartSandbox(std::vector<std::string> script) {
    script.insert(script.begin(), {kSandbox, "--http", "127.0.0.1:0"});
    script.insert(script.end(), {"--log", (dir_ / "gateway.jsonl").string()});
    sandbox_ = std::make_unique<zv_test::BackgroundProcess>(script);
    std::string line, address;
    while (sandbox_->ReadLine(line) && line != "sms-sandbox: ready")
      if (line.starts_with("sms-sandbox: listening http ")) address = line.substr(28);
    EXPECT_EQ(line, "sms-sandbox: ready");
    return address;
  }
  std::vector<nlohmann::json> Log() {
    std::vector<nlohmann::json> entries;
    std::ifstream in(dir_ / "gateway.jsonl");
    for (std::string line; std::getline(in, line);) entries.push_back(nlohmann::json::parse(line));
    return entries;
  }
  zv_test::ProcessResult Run(std::vector<std::string> argv) {
    return zv_test::RunProcess(argv, env_);
  }

  fs::path dir_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<zv_test::BackgroundProcess> sandbox_;
};

TEST_F(PagoraAndSandbox, TwoNumbersSetUpWithZcomArriveAsTwoApiexeDocuments) {
  const std::string address = StartSandbox({});
  ASSERT_FALSE(address.empty());
  auto added = Run({kZcom, "reg", "add", "HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings", "/v",
                    "HTTP1", "/d", address, "/f"});
  ASSERT_EQ(added.exitCode, 0) << added.err;

  auto r = Run({kPagora, "0419000000,040700001111", "Hi there.\r\nBye"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Sending SMS to 0419000000 with message Hi there.\r\nBye\nMessage sent sucessfully\n"
            "Sending SMS to 040700001111 with message Hi there.\r\nBye\nMessage sent sucessfully\n"
            "2 Messages sent sucessfully\n");

  auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  const char* numbers[] = {"0419000000", "040700001111"};
  for (int i = 0; i < 2; ++i) {
    const auto& e = log[i];
    EXPECT_EQ(e["request_line"], "POST /sms.dll?private&type=0 HTTP/1.1");
    std::vector<std::string> names;
    for (const auto& h : e["headers"]) names.push_back(h[0]);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Content-Length", "Host", "User-Agent"}));
    EXPECT_EQ(e["dialect"], "APIEXE");
    EXPECT_EQ(e["fields"]["FROM"]["Email"], "me@example.com");
    EXPECT_EQ(e["fields"]["SENDER"]["ID"], "acct");
    EXPECT_EQ(e["fields"]["SENDER"]["PW"], "pw");
    EXPECT_EQ(e["fields"]["1"]["Number"], numbers[i]);
    EXPECT_EQ(e["fields"]["1"]["Message"], "Hi there.\nBye");  // the CR is dropped on the way
  }
}

TEST(Zcom, RegAddQueryDeleteAndTheirExitStatuses) {
  char tmpl[] = "/tmp/zv-zcom-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::map<std::string, std::string> env = {
      {"ZENTROVA_REGISTRY", std::string(tmpl) + "/registry"}};
  const std::string key = "HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings";
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), kZcom);
    return zv_test::RunProcess(args, env);
  };
  EXPECT_EQ(run({"reg", "query", key}).exitCode, 1);
  EXPECT_EQ(run({"reg", "add", key, "/v", "HTTP1", "/d", "a.example", "/f"}).exitCode, 0);
  // An existing value is not overwritten without /f when nobody can be asked.
  auto refused = run({"reg", "add", key, "/v", "HTTP1", "/d", "b.example"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("/f"), std::string::npos);
  auto q = run({"reg", "query", "hkey_current_user\\software\\zentrova", "/s"});
  EXPECT_EQ(q.exitCode, 0);
  EXPECT_NE(q.out.find("HKEY_CURRENT_USER\\Software\\Zentrova\\SMS\\3.0\\Settings\n    HTTP1    "
                       "REG_SZ    a.example\n"),
            std::string::npos)
      << q.out;
  EXPECT_EQ(run({"reg", "query", key, "/v", "HTTP2"}).exitCode, 1);
  EXPECT_EQ(run({"reg", "delete", key, "/v", "HTTP1", "/f"}).exitCode, 0);
  EXPECT_EQ(run({"reg", "delete", key, "/v", "HTTP1", "/f"}).exitCode, 1);
  EXPECT_EQ(run({"reg", "delete", "HKCU\\Software\\Zentrova", "/f"}).exitCode, 0);
  EXPECT_EQ(run({"reg", "query", key}).exitCode, 1);
  for (std::vector<std::string> bad : {std::vector<std::string>{"reg", "add", "HKLM\\X"},
                                       {"reg", "add", key, "/v"},
                                       {"reg", "add", key, "/t", "REG_DWORD", "/d", "1"},
                                       {"reg", "frobnicate"},
                                       {"nothing"}})
    EXPECT_EQ(run(bad).exitCode, 64) << bad.back();
  EXPECT_EQ(run({"reg", "--help"}).exitCode, 0);
  fs::remove_all(tmpl);
}

}  // namespace
