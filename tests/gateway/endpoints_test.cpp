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
  std::strcpy(buffer, "previous");
  // No key: the buffer is emptied and the error comes back.
  EXPECT_EQ(
      gateway::ReadRegistryString(RegistryRoot::kCurrentUser, "Software\\Nowhere", "X", buffer, 15),
      platform::kErrorFileNotFound);
  EXPECT_STREQ(buffer, "");

  platform::RegistryWriter writer(RegistryRoot::kCurrentUser);
  writer.SetString("Software\\T", "Short", "abc");
  writer.SetString("Software\\T", "Long", "0123456789abcdef");
  ASSERT_EQ(writer.Commit(), 0);

  // The key opens but the value is missing or too long: 0, buffer untouched.
  std::strcpy(buffer, "previous");
  EXPECT_EQ(
      gateway::ReadRegistryString(RegistryRoot::kCurrentUser, "Software\\T", "Missing", buffer, 15),
      0);
  EXPECT_STREQ(buffer, "previous");
  EXPECT_EQ(
      gateway::ReadRegistryString(RegistryRoot::kCurrentUser, "Software\\T", "Long", buffer, 15),
      0);
  EXPECT_STREQ(buffer, "previous");
  EXPECT_EQ(
      gateway::ReadRegistryString(RegistryRoot::kCurrentUser, "software\\t", "short", buffer, 15),
      0);
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
