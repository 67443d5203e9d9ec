// sms-sandbox reading APICOM documents the kit composes: its decode and
// encode commands, and its HTTP listener's journal.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "gateway/automation/document.h"
#include "gateway/automation/transport.h"
#include "identity/cipher.h"
#include "sandbox.h"
#include "tests/support/peers.h"

namespace zentrova {
namespace {

using testing::ProcessResult;
const std::string kSandbox = ZV_BINARY_DIR "/tools/sms-sandbox/sms-sandbox";

// Runs "sms-sandbox ARGS" with input on standard input.
ProcessResult RunTool(std::vector<std::string> args, const std::string& input) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("in"), input);
  args.insert(args.begin(), kSandbox);
  return testing::RunProcess(args, {}, std::chrono::seconds(30), dir.File("in"));
}

std::string ComposeBody(std::vector<gateway::RecipientEntry> recipients,
                        const std::string& message) {
  gateway::AutomationRequest request{
      {"ACC-7", "ops@example.com", "pw\xe9", "61"}, std::move(recipients), message};
  identity::SequenceNumber sequence(5);
  std::string body;
  EXPECT_EQ(gateway::ComposeAutomationDocument(request, sequence, body),
            gateway::ComposeResult::kComposed);
  return body;
}

// A plain document of 712 to 719 bytes is padded to 728, as 720 is a multiple of 45.
TEST(SandboxApicomTool, DecodeThenEncodeGivesTheKitsBodyBackByteForByte) {
  auto compose = [](std::size_t pad) {
    return ComposeBody({{"0411111111;0422222222", true}},
                       "line one\nline two" + std::string(pad, '.'));
  };
  const std::string body = compose((715 - RunTool({"decode"}, compose(0)).out.size()) / 2);
  const ProcessResult decoded = RunTool({"decode"}, body);
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  EXPECT_EQ(decoded.out.size() / 8, 89u);
  const ProcessResult encoded =
      RunTool({"encode", "--account", "ACC-7", "--email", "ops@example.com"}, decoded.out);
  EXPECT_EQ((std::tuple{encoded.exitCode, encoded.out}), (std::tuple{0, body})) << encoded.err;
}

TEST(SandboxApicomTool, RefusesWhatIsNotAValidCipherText) {
  // The trailer cut short (in its ID, in its e-mail line), or left off: then only line ends follow.
  const std::string body = ComposeBody({{"0411111111", false}}, "x");
  const std::string bare = body.substr(0, body.find("\r\n\r\n[FROM]"));
  const auto cipher = [](std::size_t size) {  // "abc" and zeros, 16 bytes enciphered, size kept
    unsigned char block[16] = {'a', 'b', 'c'};
    identity::EncipherDocument(block, sizeof block);
    char text[64];
    identity::EncodeLines(block, size, text);
    return std::string(text);
  };
  const std::tuple<std::vector<std::string>, std::string, int, const char*> cases[] = {
      {{"decode"}, "hello world", 1, "not a valid cipher text"},
      {{"decode"}, "(" + std::string(11, ' ') + "=", 1, "not a valid cipher text"},
      {{"decode"}, cipher(16), 1, "padded to 8 bytes, not 16"},  // one block too many
      {{"decode"}, cipher(12), 1, "12 bytes, not a whole number of 8-byte blocks"},
      {{"decode"}, body.substr(0, body.find("\r\nEmail=")), 1, "no \"Email=\" line"},
      {{"decode"}, body.substr(0, body.size() - 4), 1, "does not end with"},
      {{"decode"}, bare + "\r\n ", 1, "is not followed by"},
      {{"encode", "--account", "A"}, "x", 64, "give both"},
      {{"encode", "--email", "B"}, "x", 64, "give both"},
      {{"encode", "--account", "A", "--email"}, "x", 64, "--email needs a value"},
      {{"encode", "--account", "A", "--email", "B"}, std::string("a\0b", 3), 1, "a NUL byte"}};
  for (const auto& [args, in, exit, says] : cases) {
    const ProcessResult r = RunTool(args, in);
    EXPECT_TRUE(r.exitCode == exit && r.err.find(says) != std::string::npos) << in << r.err;
  }
  for (int c = 0; c < 256; ++c)  // line ends alone may follow a document without its trailer
    EXPECT_EQ(RunTool({"decode"}, bare + char(c)).exitCode, c == '\r' || c == '\n' ? 0 : 1) << c;
  // Exit status, then the listeners' command line ($a is 127.0.0.1:0): counts and ports at their
  // bounds (read before -h ends the run), one past them, what the listeners cannot serve.
  std::istringstream lines(
      "0 --http 127.0.0.1:65535 --smtp [::1]:65535 --status 100 --delay 0 --reply-size 0 --then "
      "--status 999 --delay 3600000 --reply-size 104857600 -h\n64 --http 127.0.0.1:65536\n"
      "64 --http 127.0.0.1:\n64 --http :80\n64 --http 127.0.0.1\n64 --http []:0\n64 --delay 1\n"
      "64 --http [::1:0\n64 --http ::1:0\n64 --http 127.0.0.1:0a\n64 --http 127.0.0.1:-0\n"
      "64 --http $a --status 99\n64 --http $a --status 1000\n64 --http $a --delay 3600001\n"
      "64 --http $a --delay -1\n64 --http $a --delay 1x\n64 --http $a --delay ''\n"
      "64 --http $a --reply-size 104857601\n64 --http $a --smtp-reply rcpt=550\n"
      "1 --http $a --log /x/y\n1 --smtp $a --smtp-reply rcpt=55\n1 --smtp $a --smtp-reply rcpt\n"
      "1 --smtp $a --smtp-reply x=550\n1 --smtp $a --smtp-reply rcpt=x50\n64\n64 --bogus\n"
      "64 --http\n64 --log\n64 --http $a --status\n64 --http $a --reply-file /x/y\n"
      "64 --smtp-reply rcpt=550\n64 --smtp $a --smtp-reply\n0 --help\n0 decode -h\n0 --version\n"
      "0 decode --help\n64 decode x\n0 encode -h\n0 encode --help\n64 encode x\n64 --version x\n"
      "1 decode >/dev/full\n1 encode --account A --email B >/dev/full");  // the body on stdin
  const std::string serve =
      "a=127.0.0.1:0; f() { shift; exec " + kSandbox + " \"$@\"; }; printf %s \"$B\" | f ";
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(testing::RunProcess({"/bin/sh", "-c", serve + line}, {{"B", body}}).exitCode,
              std::stoi(line))
        << line;
  const testing::TempDir here;  // each stop signal ends a ready sandbox with status 0
  const std::string stop =
      "cd " + here.Path() + " && mkfifo o && for s in INT TERM HUP; do " + kSandbox +
      " --http 127.0.0.1:0 >o & { read l; read l; kill -$s $!; } <o; wait $! || exit; done";
  EXPECT_EQ(testing::RunProcess({"/bin/sh", "-c", stop}, {}).exitCode, 0);
}

// Posts a body as the automation server does; the sandbox accepts it with "0000".
int Post(const testing::Sandbox& sandbox, const std::string& body) {
  std::string text;
  return gateway::SendHttpRequest(sandbox.Address(), 0, body, text, {});  // no proxy
}

// The replies follow the script; its last step (a file read byte for byte) repeats.
TEST(SandboxApicomListener, LogsTheDecipheredSectionsBesideTheRawBody) {
  testing::Sandbox sandbox({"--http", "127.0.0.1:0", "--then", "--status", "503", "--reply-size",
                            "3", "--then", "--reply", "ab", "--reply-size", "1", "--then",
                            "--reply-size", "61", "--then", "--reply-file",
                            "/proc/sys/kernel/ostype"});
  ASSERT_TRUE(sandbox.Ready()) << sandbox.Process().Output();

  const std::string body =
      ComposeBody({{"+61 400 000 001", false}, {"0400000002", false}}, "\nfirst\n\nsecond");
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(Post(sandbox, body), 0);
  // The console program's dialect: "+" and %XX, hex digits in either case,
  // also at the very end; any other "%" stays as it came.
  const std::pair<std::string, std::string> messages[] = {
      {"%09%AF%af+%41%7F%80", "\t\u00af\u00af A\x7f\xc2\x80"},
      {"%/0%:0%@0%`0%G0%g0%4", "%/0%:0%@0%`0%G0%g0%4"},
      {"see+[1]", "see [1]"}};  // a value line that ends as a section's does
  for (const auto& [escaped, text] : messages)
    Post(sandbox, "[SENDER]\nProduct=APIEXE\n\n[1]\nMessage=" + escaped + "\n");
  std::string damaged = body;
  damaged[5] = damaged[5] == 'A' ? 'B' : 'A';  // the first block no longer reads "\r\n[SENDER]"
  Post(sandbox, damaged);
  // Documents cut after "Reply=" (no empty line's CR LF), and each damaged in one line.
  const std::string plain = RunTool({"decode"}, body).out;
  std::vector<std::string> faulty = {plain.substr(0, plain.find("\r\n", plain.find("Reply=")) + 2)};
  const char* const edits[] = {"\nTZ=",     "\nTz=",     "\r\n\r\nReply=",  "\r\n \r\nReply=",
                               "Reply=",    "Reply:",    "\r\n\r\n\r\n[1]", "\r\n \r\n\r\n[1]",
                               "[1]",       "[7]",       "Name=",           "Nome=",
                               "SmsCount=", "SmsTotal=", "MSG2=",           "MSG3="};  // from, to
  for (std::size_t i = 0; i < std::size(edits); i += 2)
    faulty.push_back(
        std::string(plain).replace(plain.find(edits[i]), std::strlen(edits[i]), edits[i + 1]));
  for (const std::string& p : faulty)
    Post(sandbox, RunTool({"encode", "--account", "A", "--email", "B"}, p).out);
  Post(sandbox, std::string(body).replace(body.find(' '), 1, "`"));  // reads as a blank does

  const std::vector<nlohmann::json> entries = sandbox.Requests();
  ASSERT_EQ(entries.size(), 3 + std::size(messages) + faulty.size());
  for (std::size_t i = 0; i < std::size(messages); ++i)
    EXPECT_EQ(entries[1 + i]["fields"]["1"]["Message"], messages[i].second) << messages[i].first;

  const nlohmann::json& e = entries[0];
  EXPECT_EQ(sandbox::UtcTimestamp(std::timespec{951868799, 999999999}),
            "2000-02-29T23:59:59.999Z");  // UTC, to the millisecond
  // A header folded with a blank, LF line ends; a readable line as long as its limit stays whole.
  EXPECT_EQ(sandbox::HeaderFields("A: 1\n 2\nB:\t3\n\nC: x").dump(), R"([["A","1 2"],["B","3"]])");
  EXPECT_EQ(sandbox::OneLine("abc", 3) + sandbox::OneLine("abcd", 3), "abcabc...");
  EXPECT_EQ(sandbox::OneLine(std::string(81, 's')), std::string(80, 's') + "...");
  std::tm parsed{};  // within a minute of the test's own clock
  strptime(e["time"].get<std::string>().c_str(), "%Y-%m-%dT%H:%M:%S", &parsed);
  EXPECT_LE(std::abs(timegm(&parsed) - before), 60) << e["time"];
  const nlohmann::json& f = e["fields"];  // the body is all ASCII, so the same text
  EXPECT_EQ(
      (nlohmann::json{e["dialect"], e["body"], f["SENDER"]["AC"], f["SENDER"]["PW"], f["Reply"],
                      f["FROM"]["ID"], f["FROM"]["Email"], f["cipher_bytes"], f["recipients"][1]}),
      (nlohmann::json{"APICOM", body, "ACC-7", "pw\u00e9", "0", "ACC-7", "ops@example.com", 368,
                      nlohmann::json::parse(R"({"NUMBER": "0400000002", "Name": "0400000002",
      "Address": "0400000002", "SmsCount": "1", "MSG": ["first", "second"], "section": 2})")}));

  const std::string padded = "0000 Message accepted" + std::string(40, '.');
  EXPECT_EQ((nlohmann::json{entries[1]["status"], entries[1]["reply"], entries[2]["reply"],
                            entries[3]["reply"], entries.back()["reply"],
                            entries[1 + std::size(messages)]["dialect"]}),
            (nlohmann::json{503, "...", "ab", padded, "Linux\n", "APICOM"}));
  // The readable lines: the summary, a long reply cut, why a document is unreadable.
  for (const std::string& line :
       {"http " + sandbox.Address() + " POST /sms.dll?private&type=0 HTTP/1.1 APICOM from ACC-7 " +
            "SN=5 to +61400000001, 0400000002 -> 200 0000 Message accepted\n",
        padded.substr(0, 60) + "...\n", std::string("1 APICOM, unreadable: the sender")})
    EXPECT_TRUE(sandbox.Process().WaitFor(line, std::chrono::seconds(5))) << line;
  for (std::size_t i = 1 + std::size(messages); i + 1 < entries.size(); ++i)
    EXPECT_TRUE(entries[i]["fields"].contains("error")) << i;
  EXPECT_EQ(entries.back()["fields"]["irregular"],
            "the kit writes these cipher lines otherwise: a backquote for 0 at offset " +
                std::to_string(body.find(' ')));
}

}  // namespace
}  // namespace zentrova
