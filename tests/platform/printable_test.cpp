// The one way the kit shows outside text on a console line and in the trace,
// and what a server name or a proxy taken from outside may hold.
#include "platform/printable.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/http_rules.h"
#include "platform/trace.h"

namespace zentrova::platform {
namespace {

TEST(Escaped, EachClassOfBytes) {
  std::string controls, printable, high;  // 0x00-0x1F and 0x7F; 0x20-0x7E but "\"; 0x80-0xFF
  for (int c = 0; c < 0x20; ++c) controls += static_cast<char>(c);
  controls += '\x7F';
  for (int c = 0x20; c < 0x7F; ++c)
    if (c != '\\') printable += static_cast<char>(c);
  for (int c = 0x80; c < 0x100; ++c) high += static_cast<char>(c);
  const std::string escaped =
      "\\x00\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\t\\n\\x0B\\x0C\\r\\x0E\\x0F"
      "\\x10\\x11\\x12\\x13\\x14\\x15\\x16\\x17\\x18\\x19\\x1A\\x1B\\x1C\\x1D\\x1E\\x1F\\x7F";
  std::string kept = escaped;
  kept.replace(kept.find("\\n"), 2, "\n");

  const std::tuple<std::string_view, LineEnds, char, std::string> cases[] = {
      {controls, LineEnds::kEscaped, '\0', escaped},
      {controls, LineEnds::kKept, '\0', kept},
      {printable, LineEnds::kEscaped, '\0', printable},
      {high, LineEnds::kEscaped, '\0', high},
      {"C:\\dir\\", LineEnds::kKept, '\0', "C:\\\\dir\\\\"},  // the marker, also last
      {"\\x41", LineEnds::kKept, '\0', "\\\\x41"},            // reads back as written
      {"ends in ESC\x1B", LineEnds::kKept, '\0', "ends in ESC\\x1B"},
      {std::string_view("ends in CR\r\n", 11), LineEnds::kKept, '\0', "ends in CR\\r"},  // no LF
      // A CR that would return to the start of the line is shown; a line end is kept.
      {"0042 No\rMessage sent\r\n\n", LineEnds::kKept, '\0', "0042 No\\rMessage sent\r\n\n"},
      {"0042 No\rMessage sent\r\n\n", LineEnds::kEscaped, '\0', "0042 No\\rMessage sent\\r\\n\\n"},
      {"say \"hi\"", LineEnds::kEscaped, '"', "say \\\"hi\\\""},
  };
  for (const auto& [text, ends, quote, shown] : cases)
    EXPECT_EQ(Escaped(text, ends, quote), shown) << shown;
}

// Traced values are quoted, a cut one marked; a trace's end ends tracing (no file is written).
TEST(Trace, QuotesAValueAndEndsWithItsOwner) {
  EXPECT_EQ(TraceQuoted("abc", 3) + TraceQuoted("abc", 2), "\"abc\"\"ab\"...");
  {
    const Trace owner("never written", nullptr);
    EXPECT_TRUE(Tracing());
  }
  EXPECT_FALSE(Tracing());
}

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
    EXPECT_EQ(ProxyUrl({std::string("p") + c + "1", 8080, "", ""}, host, error), named) << b;
  }
  for (auto [text, want, problem] : {std::tuple{"h:1", 1, ""},
                                     {"h:09", 9, ""},
                                     {"[::1]:65535", 65535, ""},
                                     {"h:0", 0, "1 to 65535"},
                                     {"h:65536", 0, "1 to 65535"},
                                     {"h:99999999999999999999999", 0, "1 to 65535"},
                                     {"h:", 0, ": the port after ':' is missing"},
                                     {"[::1]:", 0, ": the port after ':' is missing"},
                                     {"[::1", 0, "lacks its closing ']'"},
                                     {"[]", 0, "the brackets are empty"},
                                     {"[::1]x", 0, "only \":PORT\" may follow ']'"},
                                     {":80", 0, "the host name is empty"},
                                     {"\x1F \x7F~", 0, " \\x7F~\": a host name holds no '\\x1F'"},
                                     {"a b", 0, "\"a b\": a host name holds no blank"}}) {
    port = 0;
    EXPECT_EQ(ParseServerName(text, host, port, error), want != 0) << text;
    EXPECT_EQ(port, want) << text;
    EXPECT_NE(error.message.find(problem), std::string::npos) << error.message;
  }
  ParseServerName(std::string(600, '~'), host, port, error);
  EXPECT_EQ(error.message.size(), 511u);  // cut there
  for (int p : {1, 65535, 0, 65536})      // a proxy's port: the same bounds, named when refused
    EXPECT_EQ(ProxyUrl({"p", p, "", ""}, host, error) || !error.message.ends_with("65535"),
              p % 65536 != 0);
}

}  // namespace
}  // namespace zentrova::platform
