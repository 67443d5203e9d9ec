#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "gateway/reply.h"

namespace {

// The reply code is the C library's atoi of the first four characters; atoi
// is the independent oracle for every row.
TEST(ReplyCode, ReadsTheFirstFourCharactersAsAtoiDoes) {
  for (const char* reply :
       {"0000 Message accepted", "0001", "0099 busy", "1234567", " 12x", "  -7", "+42 ", "-", "",
        "abc", "<html>", "\t\r\n5", "\b5", "00 12", "9", "-0012", "0x1F"}) {
    std::string first(reply, std::min<std::size_t>(4, std::strlen(reply)));
    EXPECT_EQ(zentrova::gateway::ReadReplyCode(reply), std::atoi(first.c_str())) << reply;
  }
}

}  // namespace
