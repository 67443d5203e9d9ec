#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway/automation/document.h"
#include "identity/cipher.h"
#include "platform/locale.h"
#include "platform/timezone.h"

namespace zentrova::gateway {
namespace {

struct Opened {
  std::string plain;    // without the padding zeros
  std::string trailer;  // everything behind the "="
};

// Reads a finished text back the way the gateway does.
Opened Open(const std::string& text) {
  Opened o;
  std::vector<unsigned char> bytes;
  std::size_t end = 0;
  std::string error;
  EXPECT_TRUE(identity::DecodeLines(text, bytes, &end, error)) << error;
  identity::DecipherDocument(bytes.data(), bytes.size());
  o.plain.assign(bytes.begin(), bytes.end());
  const std::size_t last = o.plain.find_last_not_of('\0');
  o.plain.resize(last == std::string::npos ? 0 : last + 1);
  o.trailer = text.substr(end);
  return o;
}

class ApicomDocument : public testing::Test {
 protected:
  // Sydney's zone and the en-AU locale, fixed so that the sender section is known.
  void SetUp() override {
    platform::FixedZone sydney;
    sydney.system.bias = -600;
    sydney.system.standardDate = {0, 4, 1, 0, 3, 0, 0};
    sydney.system.daylightDate = {0, 10, 1, 0, 2, 0, 0};
    sydney.runtime = {-36000, true};
    platform::FixCurrentZone(sydney);
    platform::FixCurrentLocale(3081);
  }
  void TearDown() override {
    platform::FixCurrentZone(std::nullopt);
    platform::FixCurrentLocale(std::nullopt);
  }

  std::string Sender(unsigned sn, const char* prefix = "61") const {
    return std::string("\r\n[SENDER]\r\nTimeZoneKey=-600004010010010\r\nMobile=\r\nPREFIX=") +
           prefix +
           "\r\nPW=pa%s word\r\nTZ=600\r\nDLS=1\r\nAC=ACC123\r\nSK=\r\nSN=" + std::to_string(sn) +
           "\r\nLCID=3081\r\nPRODUCT=APICOM\r\nMSGTYPE=N\r\n\r\nReply=0\r\n\r\n";
  }
  static std::string Section(int n, const std::string& number, const std::string& lines) {
    return "\r\n[" + std::to_string(n) + "]\r\nNUMBER=" + number + "\r\nName=" + number +
           "\r\nAddress=" + number + "\r\n" + lines;
  }

  AutomationRequest Request(std::vector<RecipientEntry> recipients, std::string message) const {
    return AutomationRequest{
        {"ACC123", "me@example.com", "pa%s word", "61"}, std::move(recipients), std::move(message)};
  }

  Opened Compose(const AutomationRequest& request) {
    std::string text;
    EXPECT_EQ(ComposeAutomationDocument(request, sequence_, text), ComposeResult::kComposed);
    return Open(text);
  }

  identity::SequenceNumber sequence_{41};
};

// Each row: the recipient entries, the message, the sections that must follow
// the sender section, and the country code. Each document takes the next
// sequence number.
TEST_F(ApicomDocument, DocumentsByteForByte) {
  const std::string number = "0411111111", hi = "SmsCount=1\nMSG1=Hi\n";
  // 765 one-character lines: about 7 KB per section, far beyond 4 KB.
  std::string manyLines, manyFields = "SmsCount=5\n";
  for (int i = 1; i <= 765; ++i) {
    manyLines += "x\n";
    manyFields += "MSG" + std::to_string(i) + "=x\n";
  }
  struct Row {
    std::vector<RecipientEntry> recipients;
    std::string message, sections, countryCode = "61";
  };
  const Row rows[] = {
      {{{number, false}}, "Hi", Section(1, number, hi), ""},  // country code never set
      // A list is cut at "," and ";" alone, trimmed and filtered.
      {{{" 0411 111 111 ; +61422222222,abc, 12", true}}, "Hi",
       Section(1, number, hi) + Section(2, "+61422222222", hi)},
      // Entries that are not lists are never cut; numbers of 8 to 16 characters are kept.
      {{{"0411111111,0422222222", false},  // 20 digits: refused
        {"0433333333", true},
        {"12345678", false},  // a number, already decimal
        {"1234567", false},
        {"+612345678901234", false},
        {"12345678901234567", false}},
       "Hi",
       Section(1, "0433333333", hi) + Section(2, "12345678", hi) +
           Section(3, "+612345678901234", hi)},
      // Empty lines are dropped. A leading LF used to push the whole text into
      // MSG1, line feeds and all.
      {{{number, false}}, "one\n\ntwo\n", Section(1, number, "SmsCount=1\nMSG1=one\nMSG2=two\n")},
      {{{number, false}}, "\n\nthree\r\nfour",
       Section(1, number, "SmsCount=1\nMSG1=three\r\nMSG2=four\n")},
      {{{number, false}}, "\n\n", Section(1, number, "SmsCount=1\n")},
      // A long message is cut to 765 and sent in five parts.
      {{{number, false}}, std::string(900, 'a'),
       Section(1, number, "SmsCount=5\nMSG1=" + std::string(765, 'a') + "\n")},
      {{{"04-11_11.1 1\\1\"1,0422222222", true}}, "Hi",
       Section(1, number, hi) + Section(2, "0422222222", hi)},
      {{{"0411111111;0422222222", true}}, manyLines,
       Section(1, number, manyFields) + Section(2, "0422222222", manyFields)},
  };
  unsigned sn = 41;
  for (const Row& row : rows) {
    AutomationRequest request = Request(row.recipients, row.message);
    request.settings.countryCode = row.countryCode;
    const Opened o = Compose(request);
    EXPECT_EQ(o.plain, Sender(sn++, row.countryCode.c_str()) + row.sections) << row.message;
    EXPECT_EQ(o.trailer, "\r\n\r\n[FROM]\r\nID=ACC123\r\nEmail=me@example.com\r\n\r\n");
  }
}

TEST_F(ApicomDocument, NoAcceptedRecipientMeansNoDocumentButTheNumberMovesOn) {
  std::string text = "unchanged";
  const std::string huge(100, '9');  // far beyond any number: refused, never copied whole
  const AutomationRequest request = Request({{"12", false}, {huge, false}, {"abc;;,", true}}, "Hi");
  EXPECT_EQ(ComposeAutomationDocument(request, sequence_, text), ComposeResult::kNoRecipients);
  EXPECT_EQ(text, "unchanged");
  platform::FixCurrentZone(platform::FixedZone{true, {}, "", {18000, false}});  // west, no DST
  const std::string plain = Compose(Request({{"0411111111", false}}, "Hi")).plain;
  EXPECT_NE(plain.find("\r\nTZ=-300\r\nDLS=0\r\nAC=ACC123\r\nSK=\r\nSN=42\r\n"), std::string::npos);
}

// Part counts ignore line feeds; padding is a multiple of eight, but never of 45.
TEST(ApicomPieces, PartCountsAndPadding) {
  for (const auto& [length, parts] :
       {std::pair{0, 1}, {160, 1}, {161, 2}, {306, 2}, {307, 3}, {765, 5}})
    EXPECT_EQ(CountSmsParts(std::string(length, 'a')), parts) << length;
  EXPECT_EQ(CountSmsParts(std::string(160, 'a') + std::string(50, '\n')), 1);
  // 700 characters and 100 line feeds: not cut, the LFs do not count.
  std::string mixed;
  for (int i = 0; i < 100; ++i) mixed += std::string(7, 'a') + "\n";
  EXPECT_EQ(CutMessage(mixed).size(), 800u);
  EXPECT_EQ(CutMessage(mixed + std::string(66, 'b')).size(), 765u);
  // 360 would fill its last line exactly; 40, a multiple of 8 that is none of 45, stays.
  for (const auto& [length, padded] :
       {std::pair{351u, 352u}, {352u, 368u}, {0u, 8u}, {7u, 8u}, {8u, 16u}, {39u, 40u}})
    EXPECT_EQ(PaddedLength(length), padded) << length;
}

TEST_F(ApicomDocument, ComposingFromSeveralThreadsAtOnceIsSafe) {
  constexpr int kThreads = 4, kEach = 50;
  std::vector<std::set<std::string>> numbers(kThreads);
  std::vector<std::thread> threads;
  const std::string expectedTail = Section(1, "0411111111", "SmsCount=1\nMSG1=Hi\n");
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const AutomationRequest request = Request({{"0411111111", false}}, "Hi");
      for (int i = 0; i < kEach; ++i) {
        std::string text;
        ASSERT_EQ(ComposeAutomationDocument(request, sequence_, text), ComposeResult::kComposed);
        const Opened o = Open(text);
        ASSERT_EQ(o.plain.substr(o.plain.size() - expectedTail.size()), expectedTail);
        const std::size_t sn = o.plain.find("\r\nSN=");
        numbers[t].insert(o.plain.substr(sn, o.plain.find("\r\n", sn + 2) - sn));
      }
    });
  for (auto& t : threads) t.join();
  std::set<std::string> all;
  for (const auto& n : numbers) all.insert(n.begin(), n.end());
  EXPECT_EQ(all.size(), std::size_t(kThreads * kEach));
}

}  // namespace
}  // namespace zentrova::gateway
