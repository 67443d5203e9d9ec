// The judgement of a gateway reply by both builds' rules. The first byte picks
// the HTTP status (mostly 200); the rest is the reply body. Besides not
// crashing, every outcome must follow from the reply's first bytes:
// - a result of 0 comes from a 200 reply of four bytes or more whose code
//   reads as 0 or 1 (the console program) or that starts "0000" (the
//   automation server);
// - a nonzero code of the reply is the result, 99 with "Server not responding";
// - any other status gives the build's status line, and -2 only for 407;
// - the result text is the held reply up to its first NUL, or one of the
//   texts above, and is never longer than the reply a build holds.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "gateway/http_exchange.h"
#include "gateway/reply.h"
#include "tests/fuzz/require.h"

namespace {

using zentrova::gateway::TransportVariant;

// What each build must do, written out here rather than read from the
// variants under test, so that a wrong entry in them is caught.
struct Rules {
  const TransportVariant& variant;
  int noUsableReply;
  std::size_t held;
  const char* statusForm;
  bool zeroNeedsFourZeros;
  bool codeOneAccepted;
};
const Rules kCommandLine = {zentrova::gateway::kCommandLineVariant, 10, 4096, "HTTP Error %lu\r\n",
                            false, true};
const Rules kAutomation = {zentrova::gateway::kAutomationVariant, 2100, 8192,
                           "HTTP request error %lu\r\n", true, false};

void JudgeAndCheck(const Rules& rules, unsigned long status, std::string_view body) {
  std::string_view held = body.substr(0, rules.held);
  std::string text = "stale";
  int result = zentrova::gateway::JudgeReply(rules.variant, status, held, body.size(), text);

  Require(text.find('\0') == std::string::npos);
  Require(text.size() <= rules.held);
  if (status != 200) {
    char line[64];
    std::snprintf(line, sizeof line, rules.statusForm, status);
    Require(text == line);
    Require(result == (status == 407 ? -2 : rules.noUsableReply));
    return;
  }
  if (body.size() < 4) {
    Require(text.empty() && result == rules.noUsableReply);
    return;
  }
  int code = zentrova::gateway::ReadReplyCode(held);
  Require(text == (code == 99 ? std::string("Server not responding")
                              : std::string(held.substr(0, held.find('\0')))));
  if (result == 0) {
    if (rules.zeroNeedsFourZeros)
      Require(held.substr(0, 4) == "0000");
    else
      Require(code == 0 || (code == 1 && rules.codeOneAccepted));
  } else if (result == rules.noUsableReply && code == 0) {
    Require(rules.zeroNeedsFourZeros && held.substr(0, 4) != "0000");
  } else {
    Require(result == code && code != 0);
    Require(!(code == 1 && rules.codeOneAccepted));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr unsigned long kOtherStatuses[] = {407, 500, 0, 201, 302, 404, 999, 4294967295};
  unsigned long status = data[0] < 0xF8 ? 200 : kOtherStatuses[data[0] - 0xF8];
  std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  JudgeAndCheck(kCommandLine, status, body);
  JudgeAndCheck(kAutomation, status, body);
  return 0;
}
