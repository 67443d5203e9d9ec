// The server used from eight threads at once: one object shared by all, and one
// object per thread. The settings and ResponseText are the module's, so both
// ways meet in the same data; ./run test-thread runs this under
// ThreadSanitizer. Every request must still carry a sequence number of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "identity/cipher.h"
#include "platform/registry.h"
#include "tests/com/support.h"

namespace {

using zentrova::testing::Bstr;
using zentrova::testing::CallExport;
using zentrova::testing::Create;

constexpr int kThreads = 8;
constexpr int kRounds = 10;

// One thread's calls: settings that every thread sets alike, a refused one, a
// request that is sent and one that is refused, and reads in between.
void Calls(ISMSInterface* object, int thread) {
  Bstr email(u"me@example.com"), id(u"123456"), password(u"secret"), broken(u"mail\r\nx");
  Bstr number(u"0412345678"), hello(u"Hi"), none(u"");
  VARIANT to;
  to.vt = VT_BSTR, to.bstrVal = number.get();
  for (int round = 0; round < kRounds; ++round) {
    EXPECT_TRUE(object->put_Email(email.get()) == S_OK && object->put_AccountID(id.get()) == S_OK &&
                object->put_Password(password.get()) == S_OK &&
                object->put_ProxyPort(thread) == S_OK);
    EXPECT_EQ(object->put_SMTPServer(broken.get()), S_FALSE);
    EXPECT_EQ(object->PagoraMessage(&to, hello.get()), S_OK);
    EXPECT_EQ(object->PagoraMessage(&to, none.get()), S_FALSE);
    Bstr text, stored;
    EXPECT_TRUE(object->get_ResponseText(&text) == S_OK && object->get_Email(&stored) == S_OK);
    EXPECT_EQ(stored.str(), u"me@example.com");
    LONG port = -1;
    EXPECT_TRUE(object->get_ProxyPort(&port) == S_OK && port >= 0 && port < kThreads) << port;
  }
}

// The SN line of each request the gateway received.
std::vector<unsigned> SequenceNumbers(const std::vector<std::string>& requests) {
  std::vector<unsigned> numbers;
  for (const std::string& request : requests) {
    const std::size_t body = request.find("\r\n\r\n");
    std::vector<unsigned char> plain;
    std::size_t end = 0;
    std::string error;
    if (body == std::string::npos ||
        !zentrova::identity::DecodeLines(std::string_view(request).substr(body + 4), plain, &end,
                                         error)) {
      ADD_FAILURE() << "undecodable request: " << error << "\n" << request;
      continue;
    }
    zentrova::identity::DecipherDocument(plain.data(), plain.size());
    const std::string text(plain.begin(), plain.end());
    const std::size_t sn = text.find("\r\nSN=");
    if (sn == std::string::npos) {
      ADD_FAILURE() << "no SN in " << text;
      continue;
    }
    numbers.push_back(static_cast<unsigned>(std::stoul(text.substr(sn + 5))));
  }
  return numbers;
}

TEST(ThreadTest, SharedAndPerThreadObjectsKeepSettingsWholeAndSequenceNumbersUnique) {
  zentrova::testing::ScratchRegistry registry;
  zentrova::testing::RawListener gateway;
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ASSERT_EQ(CallExport(ZV_SERVER_PATH, "DllRegisterServer"), S_OK);
  zentrova::testing::TempDir dir;
  zentrova::platform::RegistryWriter writer(zentrova::platform::RegistryRoot::kCurrentUser);
  for (const char* server : {"HTTP1", "HTTP2"})
    writer.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", server, gateway.Address());
  writer.SetString("Software\\Zentrova\\SMS\\3.0\\Settings", "TraceFile", dir.File("trace"));
  ASSERT_EQ(writer.Commit().code, 0);

  ISMSInterface* shared = Create();
  ASSERT_NE(shared, nullptr);
  for (bool perThread : {false, true}) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        if (!perThread) return Calls(shared, t);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        ISMSInterface* own = Create();
        if (own) Calls(own, t), own->Release();
        CoUninitialize();
      });
    for (std::thread& thread : threads) thread.join();
  }
  shared->Release();
  CoUninitialize();

  // The trace's lines stay whole and one per step, whichever thread wrote them.
  const auto requests = gateway.Requests();
  std::size_t attempts = 0;
  for (const std::string& step :
       zentrova::testing::TraceSteps(zentrova::testing::ReadFile(dir.File("trace")))) {
    attempts += step.starts_with("http attempt ");
    EXPECT_TRUE(step.starts_with("http attempt ") || step.starts_with("result ")) << step;
  }
  EXPECT_EQ(attempts, requests.size());

  std::vector<unsigned> numbers = SequenceNumbers(requests);
  std::sort(numbers.begin(), numbers.end());
  std::vector<unsigned> expected(2 * kThreads * kRounds);
  std::iota(expected.begin(), expected.end(), 0u);
  EXPECT_EQ(numbers, expected);
}

}  // namespace
