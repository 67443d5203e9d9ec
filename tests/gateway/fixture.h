// What every transport test starts from: an empty registry of its own, no
// proxy from the environment, and attempts bounded to a short time so that
// time-out cases end quickly.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gateway/endpoints.h"
#include "platform/registry.h"
#include "tests/support/peers.h"

namespace zentrova::testing {

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ZENTROVA_REGISTRY", registry_.Path().c_str(), 1);
    for (const char* name : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"}) unsetenv(name);
    setenv("ZENTROVA_HTTP_ATTEMPT_MS", "5000", 1);
    unsetenv("ZENTROVA_HTTP_STALL_MS");
  }

  static void SetServers(const std::string& primary, const std::string& secondary = "") {
    platform::RegistryWriter writer(platform::RegistryRoot::kCurrentUser);
    writer.SetString(gateway::kSettingsKey, "HTTP1", primary);
    if (!secondary.empty()) writer.SetString(gateway::kSettingsKey, "HTTP2", secondary);
    ASSERT_EQ(writer.Commit().code, 0);
  }

  TempDir registry_;
};

inline std::string ExpectedRequest(const std::string& host, const std::string& document,
                                   const std::string& target = "/sms.dll?private&type=0",
                                   const std::string& extraHeaders = "") {
  return "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + extraHeaders +
         "User-Agent: Zentrova\r\nContent-Length: " + std::to_string(document.size()) + "\r\n\r\n" +
         document;
}

inline const std::string kDocument =
    "[FROM]\nEmail=a@example.com\n\n[SENDER]\nID=77\nPW=pw\nProduct=APIEXE\n\n\n[1]\n"
    "Message=Hi+there%2E\nNumber=0419000000\n";

}  // namespace zentrova::testing
