#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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
// the stall wait, set apart, replaces a stall wait there is. Only a number counts.
TEST(AttemptLimitOverride, CapsEveryWaitOfAnAttempt) {
  const struct {
    const char *attempt, *stall;
    long receive, connect, wantReceive, whole;
  } rows[] = {{"300", nullptr, 2000, 300, 300, 300},
              {"300x", "40", 2000, 900, 40, 0},
              {nullptr, "40", 0, 900, 0, 0}};
  for (const auto& r : rows) {
    for (auto [name, value] : {std::pair{"ZENTROVA_HTTP_ATTEMPT_MS", r.attempt},
                               std::pair{"ZENTROVA_HTTP_STALL_MS", r.stall}})
      value ? setenv(name, value, 1) : unsetenv(name);
    const auto t = zentrova::gateway::WithAttemptLimitOverride({900, 0, r.receive, 0, 0});
    EXPECT_EQ((std::vector{t.connectMs, t.receiveMs, t.attemptMs}),
              (std::vector{r.connect, r.wantReceive, r.whole}));
  }
}

}  // namespace
