// The automation server end to end, driven through zcom as a script host
// would drive it: registration, late-bound property calls, the texts and result
// codes a client sees, and zcom's own syntax and exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/com/support.h"

namespace {

using namespace zentrova::testing;

const char kProgId[] = "ZentrovaCOM.SMSInterface";
const char kClassKey[] = "CLSID\\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}";

const char kBadProxyType[] =
    "Error: Invalid proxy type.\n\nValid types are: \n  0 = No Proxy, 1 = IE Proxy, 2 = Specific "
    "Proxy";
const char kBadDelivery[] =
    "Error: Invalid delivery moethod.\n\nValid options are: 0 = SMTP (Email), 1 = HTTP (Web) and 2 "
    "= HTTP with SMTP fallback.";

class ZcomTest : public ::testing::Test {
 protected:
  ProcessResult Zcom(std::vector<std::string> args) {
    args.insert(args.begin(), ZV_ZCOM_PATH);
    return RunProcess(args, {});  // in registry_, set for every child
  }

  ProcessResult Call(std::vector<std::string> steps) {
    steps.insert(steps.begin(), {"call", kProgId});
    return Zcom(steps);
  }

  void Register() { ASSERT_EQ(Zcom({"regsvr", "/s", ZV_SERVER_PATH}).err, ""); }

  ScratchRegistry registry_;
};

// zcom reg asks before it overwrites or deletes (HKLM: a root by its short name), on a terminal
// only: "y" or "Y" goes ahead; anything else, an end of input among it, leaves the value as it was.
TEST_F(ZcomTest, RegAsksOnATerminalAndTakesYesAnswers) {
  const std::string key = "HKLM\\Software\\Zentrova", typed = registry_.File("typed");
  for (const auto& [answer, exit] :
       {std::pair<const char*, int>{"y\n", 0}, {"Y\n", 0}, {"n\n", 1}, {"\n", 1}, {"\x04", 1}}) {
    ASSERT_EQ(Zcom({"reg", "add", key, "/v", "X", "/d", "old", "/f"}).exitCode, 0);
    WriteFile(typed, answer);  // script(1) gives zcom a terminal to read it from
    const ProcessResult r = RunProcess(
        {"/usr/bin/script", "-qec", ZV_ZCOM_PATH " reg add '" + key + "' /v X /d new", "/dev/null"},
        {}, std::chrono::seconds(30), typed);
    EXPECT_EQ(r.exitCode, exit) << answer;
    EXPECT_NE(r.out.find("Value X exists, overwrite? (Yes/No) "), std::string::npos) << r.out;
    EXPECT_NE(Zcom({"reg", "query", key, "/v", "X"}).out.find(exit ? "old" : "new"),
              std::string::npos);
  }
}

TEST_F(ZcomTest, RegistrationRoundTripRemovesAllOfOursAndNothingElse) {
  Register();
  // Somebody else's subkey under our class, and somebody else's class.
  const std::string foreignClass = "CLSID\\{00000000-1111-2222-3333-444444444444}";
  for (const std::string& key : {foreignClass, std::string(kClassKey) + "\\Foreign"})
    ASSERT_EQ(Zcom({"reg", "add", "HKCR\\" + key, "/f"}).exitCode, 0);
  // A second registration replaces the class key as a whole.
  EXPECT_NE(Zcom({"regsvr", ZV_SERVER_PATH}).out.find("DllRegisterServer in "), std::string::npos);
  EXPECT_EQ(std::ranges::count(registry_.ClassesRootKeys(), std::string(kClassKey) + "\\Foreign"),
            0);
  // The registered class works by either ProgID and by CLSID.
  for (const char* id : {"ZentrovaCOM.SMSInterface.1", "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}"})
    EXPECT_EQ(Zcom({"call", id, "Version"}).out, "Version 1.1\n") << id;
  // The type library under its own title, and its interface marshalled by automation.
  const std::string hive = ReadFile(registry_.File("HKEY_CLASSES_ROOT.reg"));
  const std::string lib = "\\TypeLib\\{2659F52D-4F8C-474C-B259-428EBFA1D80E}\\1.0",
                    iface = "\\Interface\\{A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF}";
  for (const std::string& block :
       {lib + "]\n@=\"ZentrovaCOM 1.0 Type Library\"\n", lib + "\\FLAGS]\n@=\"0\"\n",
        lib + "\\HELPDIR]\n@=\"" +
            std::filesystem::canonical(ZV_SERVER_PATH).parent_path().string() + "/\"\n",
        iface + "]\n@=\"ISMSInterface\"\n",
        iface + "\\ProxyStubClsid32]\n@=\"{00020424-0000-0000-C000-000000000046}\"\n",
        iface + "\\TypeLib]\n@=\"{2659F52D-4F8C-474C-B259-428EBFA1D80E}\"\n\"Version\"=\"1.0\"\n"})
    EXPECT_NE(hive.find(block), std::string::npos) << block;

  ASSERT_EQ(Zcom({"regsvr", "/u", ZV_SERVER_PATH}).err, "");
  EXPECT_EQ(registry_.ClassesRootKeys(), (std::vector<std::string>{"CLSID", foreignClass}));
  EXPECT_EQ(Call({"Version"}).err,
            "zcom call: cannot create ZentrovaCOM.SMSInterface: 0x800401F3: no "
            "class is registered for the ProgID ZentrovaCOM.SMSInterface\n");
  // An interface that another library has taken over since is left to it.
  Register();
  Zcom({"reg", "add", "HKCR" + iface + "\\TypeLib", "/ve", "/d", foreignClass.substr(6), "/f"});
  ASSERT_EQ(Zcom({"regsvr", "/u", "/s", ZV_SERVER_PATH}).exitCode, 0);
  EXPECT_EQ(std::ranges::count(registry_.ClassesRootKeys(), iface.substr(1)), 1);
}

TEST_F(ZcomTest, LibraryExportsTheFourEntryPointsOnly) {
  // Anything else exported could be bound by the client's own symbols instead.
  EXPECT_EQ(
      RunProcess({"/usr/bin/nm", "-D", "--defined-only", "--just-symbols", ZV_SERVER_PATH}, {}).out,
      "DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer\n");
}

TEST_F(ZcomTest, RegsvrReportsWhatWentWrong) {
  // Exit status and what it says; standard output stays empty after a failure and with /s.
  for (const auto& [args, exit, says] :
       {std::tuple<std::vector<std::string>, int, std::string>{
            {"regsvr", "/nonexistent/libX.so"}, 3, "/nonexistent/libX.so: no such file\n"},
        {{"regsvr"}, 3, "/zcom/../"},  // the server installed beside zcom
        {{"regsvr"}, 3, "no such file (no server is installed beside zcom; give its PATH)"},
        {{"regsvr", ZV_ZCOM_PATH}, 3, "cannot load"},  // a program, not a library
        {{"regsvr", "/usr/lib/x86_64-linux-gnu/libm.so.6"}, 4, "DllRegisterServer was not found"},
        {{"reg", "add", "HKCU\\" + std::string(256, 'k'), "/f"}, 64, "at most 255 are allowed"},
        {{"regsvr", "/u", "/s", ZV_SERVER_PATH}, 0, ""}}) {  // not registered: nothing to do
    const ProcessResult run = Zcom(args);
    EXPECT_EQ(run.exitCode, exit) << says;
    EXPECT_NE((run.out + run.err).find(says), std::string::npos) << run.err;
    EXPECT_EQ(run.out.empty(), exit != 0 || says.empty()) << run.out;
  }
}

// A text that reaches a request or a mail refuses control characters: a line
// break in Email would forge a line of the request's plain trailer.
TEST_F(ZcomTest, EachRejectedValueIsNamedAndLeavesTheLastAcceptedOne) {
  Register();
  const auto control = [](const std::string& property, const char* code) {
    return "Error: The " + property + " text holds a control character (U+" + code +
           "): line breaks, tabs and other control characters are not allowed.";
  };
  const auto unmapped = [](const std::string& property) {
    return "Error: The " + property +
           " text holds characters that the system code page (1252) cannot represent.";
  };
  struct Case {
    std::string property, accepted, rejected, text;
    bool readable = true;  // false: the passwords, or a tab that zcom would escape
  };
  std::vector<Case> cases = {
      {"ProxyType", "2", "3", kBadProxyType},
      {"ProxyType", "0", "-1", kBadProxyType},
      {"ProxyPort", "70000", "-1", "Error: Invalid proxy port"},
      {"ProxyPort", "0", "-1", "Error: Invalid proxy port"},
      {"DeliveryMethod", "0", "3", kBadDelivery},
      {"DeliveryMethod", "2", "-1", kBadDelivery},
      {"CountryCode", "999", "1000", "Error: Invalid country code"},
      {"CountryCode", "0", "-1", "Error: Invalid country code"},
      {"AccountID", "CI1234567890", "CI12345", "Error: Invalid Account ID"},
      {"ProxyUserName", "café", "Ωmega", unmapped("ProxyUserName")},
      {"Email", "a@b.com", "me@example.com\r\nID=999", control("Email", "000D")},
      {"Password", "a@b.com", "pw\n", control("Password", "000A"), false},
      {"ProxyAddress", "a@b.com", "proxy\tx", control("ProxyAddress", "0009")},
      {"ProxyUserName", "a b~\xc2\xa0", "user\x1f", control("ProxyUserName", "001F")},
      {"ProxyPassword", "a@b.com", "pw\x7f", control("ProxyPassword", "007F"), false},
      {"SMTPServer", "a@b.com", "mail\r", control("SMTPServer", "000D")},
      {"SMTPLoginName", "a@b.com", "login\xc2\x9f", control("SMTPLoginName", "009F")},
      {"SMTPPassword", "smtp\tpw", "Ωmega", unmapped("SMTPPassword"), false},
  };
  // A text takes one character less than its buffer's width: 64 for each of these.
  for (const std::string p :
       {"SMTPServer", "SMTPLoginName", "SMTPPassword", "Email", "ProxyAddress", "ProxyUserName"})
    cases.push_back({p, std::string(63, 'p'), std::string(64, 'q'),
                     "Error: The " + p + " text is too long: at most 63 characters are allowed."});
  std::vector<std::string> steps;
  std::string out, err;
  for (const Case& c : cases) {
    steps.insert(steps.end(), {c.property + "=\"" + c.accepted + "\"",
                               c.property + "=\"" + c.rejected + "\"", "ResponseText"});
    out += c.text + "\n";
    err += c.property + " -> 0x00000001\n";
    if (c.readable) {
      steps.push_back(c.property);
      out += c.accepted + "\n";
    }
  }
  // An accepted value later does not clear the last rejection.
  steps.insert(steps.end(), {"Email=a@b.com", "ResponseText"});
  out += cases.back().text + "\n";
  ProcessResult r = Call(steps);
  EXPECT_EQ((std::tuple{r.exitCode, r.out, r.err}), (std::tuple{1, out, err}));
}

// A fresh library reads its defaults first.
TEST_F(ZcomTest, PagoraMessageChecksTheSettingsInOrder) {
  Register();
  const std::tuple<std::vector<std::string>, const char*, const char*> checks[] = {
      {{}, "\"Hello\"", "Error: You must supply an email address"},
      {{"Email=ab@cdefg"}, "\"Hello\"", "Error: You must supply an email address"},  // no '.'
      {{"Email=a@b.com", "DeliveryMethod=0", "SMTPLoginName=me"}, "\"Hello\"",
       "Error: You have specified SMTP but no SMTP settings."},  // either of the two missing
      {{"SMTPServer=mail", "SMTPLoginName=\"\""}, "\"Hello\"",
       "Error: You have specified SMTP but no SMTP settings."},
      {{"DeliveryMethod=1"}, "\"Hello\"", "Your must specifify an Account ID"},
      {{"AccountID=12345"}, "\"Hello\"", "Error: Your must specifify an Password"},
      {{"Password=secret"}, "\"\"", "Error: There is no message text to send"},
      {{}, "empty", "Error: There is no message text to send"},
  };
  std::vector<std::string> steps = {
      "DeliveryMethod", "ProxyType",    "ProxyPort",     "CountryCode",  "ProxyAddress",
      "ProxyUserName",  "SMTPServer",   "SMTPLoginName", "SMTPPassword", "Email",
      "AccountID",      "ResponseText", "Version"};
  std::string out = "1\n0\n0\n0\n\n\n\n\n\n\n\n\nVersion 1.1\n", err;
  for (const auto& [settings, message, text] : checks) {
    steps.insert(steps.end(), settings.begin(), settings.end());
    steps.insert(steps.end(),
                 {std::string("PagoraMessage(\"0412345678\", ") + message + ")", "ResponseText"});
    out += std::string(text) + "\n";
    err += "PagoraMessage -> 0x00000001\n";
  }
  ProcessResult r = Call(steps);
  EXPECT_EQ((std::tuple{r.exitCode, r.out, r.err}), (std::tuple{1, out, err}));
}

TEST_F(ZcomTest, CallReportsFailuresAndStopsAtTheFirst) {
  Register();
  ProcessResult r = Call({"Version", "Password", "Version"});  // a failed get prints nothing
  EXPECT_EQ((std::tuple{r.exitCode, r.out, r.err}),
            (std::tuple{2, std::string("Version 1.1\n"), std::string("Password -> 0x80020003\n")}));
  // A value is a text in quotes only when both quotes are there.
  EXPECT_EQ(Call({"ProxyAddress=\"half", "ProxyAddress", "ProxyAddress=\"", "ProxyAddress",
                  "ProxyAddress=\"\"", "ProxyAddress"})
                .out,
            "\"half\n\"\n\n");
  for (const auto& [step, err] :
       {std::pair<const char*, const char*>{"Version=1", "Version -> 0x80020003\n"},
        {"PagoraMessage(\"1\")", "PagoraMessage -> 0x8002000E\n"},
        {"ProxyPort=port", "ProxyPort -> 0x80020005\n"},
        {"PagoraMessage(\"1\", null)", "PagoraMessage -> 0x80020005\n"},
        {"NoSuchMember", "NoSuchMember -> 0x80020006\n"},
        {"Email=\"\xff\"", "Email -> 0x8007000E\n"}})  // not UTF-8
    EXPECT_EQ(Call({step}).err, err);

  // A registry that others may write names no library and takes no write: everything stops and
  // says why, not a bare code.
  ASSERT_EQ(chmod(registry_.Path().c_str(), 0777), 0);
  const std::string fix = "chmod go-w " + registry_.Path(),
                    refused = "the registry refused the write: " + registry_.Path() +
                              " may be changed by other users";
  for (const auto& [args, exit, said] :
       {std::tuple<std::vector<std::string>, int, std::string>{
            {"call", kProgId, "Version"}, 2, fix},
        {{"reg", "query", "HKCR\\CLSID"}, 74, fix},
        {{"reg", "add", "HKCR\\CLSID\\X", "/v", "Y"}, 74, "ERROR: the registry cannot be read: "},
        {{"reg", "add", "HKCR\\CLSID\\X", "/f"}, 74, "ERROR: " + refused},
        {{"regsvr", ZV_SERVER_PATH}, 5, refused}}) {
    r = Zcom(args);
    EXPECT_EQ(r.exitCode, exit) << args[0];
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
  chmod(registry_.Path().c_str(), 0700);

  // A settings hive that others may write could name any gateway: the send stops.
  const std::string settings = "HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings";
  ASSERT_EQ(Zcom({"reg", "add", settings, "/v", "HTTP1", "/d", "127.0.0.1:1", "/f"}).exitCode, 0);
  const std::string hive = registry_.Path() + "/HKEY_CURRENT_USER.reg";
  ASSERT_EQ(chmod(hive.c_str(), 0620), 0);
  r = Call({"Email=\"me@example.com\"", "AccountID=123456", "Password=secret",
            "PagoraMessage(\"0412345678\", \"Hi\")", "ResponseText"});
  EXPECT_NE(r.out.find("chmod go-w " + hive), std::string::npos) << r.out;
}

TEST_F(ZcomTest, CallRefusesBadStepsBeforeCreatingAnything) {
  // Not registered: a bad step is refused as such, not as a missing class (exit 2: accepted).
  auto nested = [](int levels, const std::string& open) {
    std::string text = "1";
    while (levels--) text = open + text + "]";
    return "Name(" + text + ")";
  };
  const std::pair<std::string, const char*> cases[] = {
      {"(1)", "a step must begin with a member name"},
      {"Name(", "expected Name, Name=VALUE, Name<env:VARIABLE, Name<stdin or Name(ARG, ...)"},
      {"Name(1 2)", "expected ',' between arguments at \"2\""},
      {"Name([1,)", "an argument is missing at \"\""},
      {"Name([1 2])", "expected ',' or ']' at \"2]\""},
      {"Name([2147483648: 1])", "bad lower bound at \"2147483648: 1]\""},
      {"Name([1 : 2], -)", "not an argument"},  // a lower bound, blanks before its colon; no digits
      {"Name([: 1])", "not an argument"},
      {"Name(abc)", "not an argument (texts need double quotes; numbers must fit 32 bits)"},
      {"Name([2147483646: \"a\", \"b\"])", nullptr},
      {"Name([2147483647: \"a\", \"b\"])", "the array's indexes would pass 2147483647"},
      {nested(64, "["), nullptr},
      {nested(65, "["), "arrays and references nest more than 64 levels deep"},
      {nested(32, "&["), nullptr},
      {nested(33, "&["), "arrays and references nest more than 64 levels deep"},
      {"AZaz_09=2147483647", nullptr},  // every kind of name character, and one past "Z":
      {"A^=1", "expected Name, Name=VALUE, Name<env:VARIABLE, Name<stdin or Name(ARG, ...)"},
      {"N=-", nullptr},                 // a text: no digits
      {"N=2147483648", "the number 2147483648 does not fit 32 bits"},
      {"N=-2147483649", "the number -2147483649 does not fit 32 bits"},
      {R"(Name("a\"b\\", "\\\"", "\n"))", nullptr},  // \" and \\ inside a text; any other \ stays
      {R"(Name("a\"))", "unclosed text at \"\""},    // an escaped quote closes nothing
      {"Name(\t[-10: 1],\t-2147483648 )", nullptr},
      {"Name( )", nullptr},  // no arguments at all
      {"Password<env:ZV_NOT_SET", "the environment variable ZV_NOT_SET is not set"},
      {"Password<stdin", "standard input ended before a line for Password"},  // it is empty
      {"Password<env:", "a value is taken from env:VARIABLE or stdin, not from \"env:\""},
      {"Password<env:A=B", "a value is taken from env:VARIABLE or stdin, not from \"env:A=B\""},
      {"Password<file:x", "a value is taken from env:VARIABLE or stdin, not from \"file:x\""}};
  for (const auto& [step, said] : cases) {  // said: the refusal, none when the step is accepted
    ProcessResult r = Call({step});
    EXPECT_EQ(r.exitCode, said ? 64 : 2) << step.substr(0, 80);
    EXPECT_TRUE(!said || r.err.starts_with("zcom call: step \"" + step + "\": " + said)) << r.err;
  }
  const ProcessResult r = Zcom({"call", "\xff"});
  EXPECT_EQ((std::tuple{r.exitCode, r.err}),
            (std::tuple{64, "zcom call: \"\xff\" is not valid text\n"}));
  // An error quotes at most 40 characters of the text where it stopped.
  for (const auto& [tail, quoted] : {std::pair<int, const char*>{40, "\""}, {41, "...\""}})
    EXPECT_NE(Call({"N(" + std::string(tail, '!') + ")"}).err.find(std::string(40, '!') + quoted),
              std::string::npos);
}

// A password read from the environment or standard input is on no command
// line: every process is watched while the example script's send waits for a
// slow gateway, and none shows it, though zcom call was seen among them.
TEST_F(ZcomTest, ThePasswordIsOnNoCommandLineWhileTheExampleSends) {
  Register();
  const std::string secret = "pw-kept-off-argv", input = registry_.File("input");
  WriteFile(input, "\nstdin@example.com\r\n" + secret);  // "", ..., no line end
  ProcessResult r =
      RunProcess({ZV_ZCOM_PATH, "call", kProgId, "AccountID<env:ZV_ACCOUNT", "Email<stdin",
                  "Email<stdin", "Password<stdin", "AccountID", "Email"},
                 {{"ZV_ACCOUNT", "123456"}}, std::chrono::seconds(30), input);
  EXPECT_EQ(r.out, "123456\nstdin@example.com\n") << r.err;  // the last steps: none failed

  RawListener gateway({Reply(200, "0000 Message accepted", std::chrono::seconds(2))});
  ChildProcess example;
  std::string error;
  ASSERT_TRUE(example.Start(
      {"/bin/sh", ZV_SOURCE_DIR "/examples/linux/zcom-send.sh", "-a", "123456", "-e",
       "me@example.com", "-g", gateway.Address(), "-m", ZV_SERVER_PATH, "0412345678", "Hello"},
      error, {{"ZCOM", ZV_ZCOM_PATH}, {"ZENTROVA_PASSWORD", secret}}))
      << error;
  bool sent = false, sawCall = false;
  std::set<std::string> showing;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  // Until a pass over every process ran after the request reached the gateway (which holds it).
  while (!sent && std::chrono::steady_clock::now() < deadline) {
    sent = !gateway.Requests().empty();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string argv = ReadFile(entry.path() / "cmdline");
      if (argv.find(secret) != std::string::npos) showing.insert(entry.path());
      if (sent && argv.starts_with(ZV_ZCOM_PATH) &&
          argv.find("PagoraMessage(") != std::string::npos)
        sawCall = true;
    }
    example.WaitFor("\n", std::chrono::milliseconds(5));  // a pause, unless it has ended
  }
  EXPECT_TRUE(sawCall);
  EXPECT_EQ(showing, std::set<std::string>{});
  EXPECT_TRUE(example.WaitFor("\n", std::chrono::seconds(20)));
  EXPECT_EQ(example.Output(), "\n");  // an empty ResponseText: delivered
}

}  // namespace
