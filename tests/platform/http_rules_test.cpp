// What a server name and a proxy may hold, byte by byte and at the port's bounds.
#include "platform/http_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace zentrova::platform {
namespace {

TEST(ServerNames, EveryByteOfANameOrAnAddressAndThePortBounds) {
  const std::string name = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._";
  const std::string v6 = "0123456789abcdefABCDEF:.";
  std::string host;
  int port = 80;
  HttpError error;
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool named = name.find(c) != std::string::npos, inV6 = v6.find(c) != std::string::npos;
    EXPECT_EQ(ParseServerName(std::string("a") + c + "b", host, port, error), named) << b;
    EXPECT_EQ(ParseServerName(std::string("[1") + c + "]", host, port, error), inV6) << b;
    std::string url;
    EXPECT_EQ(ProxyUrl(HttpProxy{std::string("p") + c, 8080, "", ""}, url, error), named) << b;
  }
  for (auto [text, want] : {std::pair{"h:1", 1},
                            {"h:65535", 65535},
                            {"[::1]:65535", 65535},
                            {"h:0", 0},
                            {"h:65536", 0},
                            {"[::1]:65536", 0},
                            {"h:99999999999999999999999", 0}}) {
    port = 0;
    EXPECT_EQ(ParseServerName(text, host, port, error), want != 0) << text;
    EXPECT_EQ(port, want) << text;
  }
  for (auto [proxyPort, ok] : {std::pair{1, true}, {65535, true}, {0, false}, {65536, false}}) {
    std::string url;
    EXPECT_EQ(ProxyUrl(HttpProxy{"proxy", proxyPort, "", ""}, url, error), ok) << proxyPort;
  }
}

}  // namespace
}  // namespace zentrova::platform
