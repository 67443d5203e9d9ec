#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "gateway/http_exchange.h"
#include "gateway/reply.h"

namespace {

// The reply code is the C library's atoi of the first four characters; atoi
// is the independent oracle for every row.
TEST(ReplyCode, ReadsTheFirstFourCharactersAsAtoiDoes) {
  const char* replies[] = {"0000 Message accepted",
                           "0001",
                           "0099 busy",
                           "1234567",
                           " 12x",
                           "  -7",
                           "+42 ",
                           "-",
                           "",
                           "abc",
                           "<html>",
                           "\t\n 5",
                           "00 12",
                           "9",
                           "-0012",
                           "0x1F"};
  for (const char* reply : replies) {
    std::string first(reply, std::min<std::size_t>(4, std::strlen(reply)));
    EXPECT_EQ(zentrova::gateway::ReadReplyCode(reply), std::atoi(first.c_str())) << reply;
  }
}

// The tests' limit caps the connect and stall waits and bounds the whole attempt;
// only a number counts, and a stall wait is set only where there is one.
TEST(AttemptLimitOverride, CapsEveryWaitOfAnAttempt) {
  // Attempt and stall limits, the stall wait before; connect, stall and attempt waits after.
  const std::tuple<const char*, const char*, long, std::vector<long>> rows[] = {
      {"300", nullptr, 2000, {300, 300, 300}}, {"300x", "40", 0, {900, 0, 0}}};
  for (const auto& [attempt, stall, receive, want] : rows) {
    attempt ? setenv("ZENTROVA_HTTP_ATTEMPT_MS", attempt, 1) : unsetenv("ZENTROVA_HTTP_ATTEMPT_MS");
    stall ? setenv("ZENTROVA_HTTP_STALL_MS", stall, 1) : unsetenv("ZENTROVA_HTTP_STALL_MS");
    const auto t = zentrova::gateway::WithAttemptLimitOverride({900, 0, receive, 0, 0});
    EXPECT_EQ((std::vector{t.connectMs, t.receiveMs, t.attemptMs}), want);
  }
}

}  // namespace
