// A send that starts while the same thread is already inside SendViaHttp (a
// callback or message loop during the transfer) must not wait for itself.
// The test program is linked with the transfer call wrapped, so the first
// transfer starts such a nested send.
#include <curl/curl.h>

#include <cstdlib>
#include <future>

#include "fixture.h"
#include "gateway/automation/transport.h"

extern "C" CURLcode __real_curl_easy_perform(CURL* easy);

namespace {
bool g_nestOnce = false;
int g_nestedResult = -100;
}  // namespace

extern "C" CURLcode __wrap_curl_easy_perform(CURL* easy) {
  if (g_nestOnce) {
    g_nestOnce = false;
    std::string text;
    g_nestedResult = zentrova::gateway::SendViaHttp(0, "nested", text, {});
  }
  return __real_curl_easy_perform(easy);
}

namespace zentrova::testing {
namespace {

class Reentry : public TransportTest {};

TEST_F(Reentry, ANestedSendOnTheSameThreadGoesAhead) {
  RawListener gateway;
  SetServers(gateway.Address());
  g_nestOnce = true;
  auto outer = std::async(std::launch::async, [] {
    std::string text;
    return gateway::SendViaHttp(0, kDocument, text, {});
  });
  if (outer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the nested send waited for the outer one";
    std::_Exit(1);  // the stuck thread cannot be joined
  }
  EXPECT_EQ((std::tuple{outer.get(), g_nestedResult}), (std::tuple{0, 0}));
  auto requests = gateway.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("\r\n\r\nnested"), std::string::npos);
}

}  // namespace
}  // namespace zentrova::testing
