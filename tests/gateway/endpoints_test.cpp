#include <cstring>

#include "fixture.h"
#include "gateway/transport.h"

namespace zentrova::testing {
namespace {

using gateway::g_szHttpServer1;
using gateway::g_szHttpServer2;
using platform::RegistryRoot;

class Endpoints : public TransportTest {};

TEST_F(Endpoints, RegistryStringReadsKeepOrEmptyTheBufferAsTheRegistryDoes) {
  char buffer[16];
  auto read = [&](const char* key, const char* value) {
    return gateway::ReadRegistryString(RegistryRoot::kCurrentUser, key, value, buffer, 15);
  };
  // No key: the buffer is emptied and the error comes back.
  std::strcpy(buffer, "previous");
  EXPECT_EQ(read("Software\\Nowhere", "X"), platform::kErrorFileNotFound);
  EXPECT_STREQ(buffer, "");

  platform::RegistryWriter writer(RegistryRoot::kCurrentUser);
  writer.SetString("Software\\T", "Short", "abc");
  writer.SetString("Software\\T", "Long", "0123456789abcdef");
  ASSERT_EQ(writer.Commit(), 0);
  // The key opens but the value is missing or too long: 0, buffer untouched.
  for (const char* value : {"Missing", "Long"}) {
    std::strcpy(buffer, "previous");
    EXPECT_EQ(read("Software\\T", value), 0);
    EXPECT_STREQ(buffer, "previous") << value;
  }
  EXPECT_EQ(read("software\\t", "short"), 0);
  EXPECT_STREQ(buffer, "abc");
}

TEST_F(Endpoints, ServerNamesFallBackToDefaultsAndFollowTheRegistry) {
  gateway::ReadGatewayServers();
  EXPECT_STREQ(g_szHttpServer1, "sms1.zentrova.example");
  EXPECT_STREQ(g_szHttpServer2, "sms2.zentrova.example");

  SetServers("127.0.0.1:8080");
  gateway::ReadGatewayServers();
  EXPECT_STREQ(g_szHttpServer1, "127.0.0.1:8080");
  EXPECT_STREQ(g_szHttpServer2, "sms2.zentrova.example");

  // An empty value counts as missing.
  SetServers("");
  gateway::ReadGatewayServers();
  EXPECT_STREQ(g_szHttpServer1, "sms1.zentrova.example");
}

}  // namespace
}  // namespace zentrova::testing
