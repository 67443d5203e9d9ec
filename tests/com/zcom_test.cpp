// The automation server end to end, driven through zcom as a script host
// would drive it: registration, late-bound property calls, the texts and result
// codes a client sees, and zcom's own syntax and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/harness.h"
#include "tests/com/support.h"

namespace {

using zv_test::ProcessResult;
using zv_test::ScratchRegistry;

const char kProgId[] = "ZentrovaCOM.SMSInterface";
const char kClassKey[] = "CLSID\\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}";

const char kBadProxyType[] =
    "Error: Invalid proxy type.\n\nValid types are: \n  0 = No Proxy, 1 = IE Proxy, 2 = Specific Proxy";
const char kBadDelivery[] =
    "Error: Invalid delivery moethod.\n\nValid options are: 0 = SMTP (Email), 1 = HTTP (Web) and 2 = HTTP with "
    "SMTP fallback.";

class ZcomTest : public ::testing::Test {
 protected:
  ProcessResult Zcom(std::vector<std::string> args) {
    args.insert(args.begin(), ZV_ZCOM_PATH);
    ProcessResult result = zv_test::RunProcess(args, {{"ZENTROVA_REGISTRY", registry_.dir()}});
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  ProcessResult Call(std::vector<std::string> steps) {
    steps.insert(steps.begin(), {"call", kProgId});
    return Zcom(steps);
  }

  void Register() {
    ProcessResult r = Zcom({"regsvr", "/s", ZV_SERVER_PATH});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  ScratchRegistry registry_;
};

// ---- Registration ----------------------------------------------------------------

TEST_F(ZcomTest, RegistrationRoundTripLeavesOnlyTheClassesKey) {
  ProcessResult r = Zcom({"regsvr", ZV_SERVER_PATH});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("DllRegisterServer in "), std::string::npos);

  std::vector<std::string> keys = registry_.ClassesRootKeys();
  for (const char* expected :
       {"ZentrovaCOM.SMSInterface.1\\CLSID", "ZentrovaCOM.SMSInterface\\CurVer", "CLSID", kClassKey,
        "CLSID\\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}\\Programmable",
        "CLSID\\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}\\InprocServer32",
        "TypeLib\\{2659F52D-4F8C-474C-B259-428EBFA1D80E}\\1.0\\0\\linux",
        "Interface\\{A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF}\\TypeLib"})
    EXPECT_NE(std::find(keys.begin(), keys.end(), expected), keys.end()) << expected;
  // The registered class works by either ProgID and by CLSID.
  EXPECT_EQ(Zcom({"call", "ZentrovaCOM.SMSInterface.1", "Version"}).out, "Version 1.1\n");
  EXPECT_EQ(Zcom({"call", "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}", "Version"}).out, "Version 1.1\n");

  r = Zcom({"regsvr", "/u", ZV_SERVER_PATH});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(registry_.ClassesRootKeys(), std::vector<std::string>{"CLSID"});

  // Unregistering what is not registered is not an error.
  EXPECT_EQ(Zcom({"regsvr", "/u", "/s", ZV_SERVER_PATH}).exitCode, 0);
  r = Call({"Version"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("cannot create ZentrovaCOM.SMSInterface: 0x800401F3"), std::string::npos) << r.err;
}

TEST_F(ZcomTest, SecondRegistrationReplacesTheClassKeyAsAWhole) {
  Register();
  const std::string foreign = std::string("HKCR\\") + kClassKey + "\\Foreign";
  ASSERT_EQ(Zcom({"reg", "add", foreign, "/ve", "/d", "x", "/f"}).exitCode, 0);
  ASSERT_EQ(Zcom({"reg", "add", "HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}", "/f"}).exitCode, 0);
  Register();
  std::vector<std::string> keys = registry_.ClassesRootKeys();
  EXPECT_EQ(std::find(keys.begin(), keys.end(), std::string(kClassKey) + "\\Foreign"), keys.end());
  EXPECT_NE(std::find(keys.begin(), keys.end(), std::string(kClassKey) + "\\InprocServer32"), keys.end());

  // Another class under HKCR\CLSID is not ours to remove.
  ASSERT_EQ(Zcom({"regsvr", "/u", "/s", ZV_SERVER_PATH}).exitCode, 0);
  EXPECT_EQ(registry_.ClassesRootKeys(),
            (std::vector<std::string>{"CLSID", "CLSID\\{00000000-1111-2222-3333-444444444444}"}));
}

TEST_F(ZcomTest, LibraryExportsTheFourEntryPointsOnly) {
  // Anything else exported could be bound by the client's own symbols instead.
  ProcessResult r = zv_test::RunProcess({"/usr/bin/nm", "-D", "--defined-only", ZV_SERVER_PATH}, {});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> names;
  std::istringstream lines(r.out);
  std::string address, kind, name;
  while (lines >> address >> kind >> name) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                             "DllUnregisterServer"}));
}

TEST_F(ZcomTest, RegsvrReportsWhatWentWrong) {
  ProcessResult r = Zcom({"regsvr", "/nonexistent/libX.so"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;
  r = Zcom({"regsvr", ZV_ZCOM_PATH});  // a program, not a library
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(Zcom({"regsvr"}).exitCode, 64);
  EXPECT_EQ(Zcom({"regsvr", "/x", ZV_SERVER_PATH}).exitCode, 64);
  EXPECT_EQ(Zcom({"regsvr", "--help"}).exitCode, 0);
}

// ---- Properties ---------------------------------------------------------------------

TEST_F(ZcomTest, FreshLibraryReadsItsDefaults) {
  Register();
  ProcessResult r = Call({"DeliveryMethod", "ProxyType", "ProxyPort", "CountryCode", "ProxyAddress",
                          "ProxyUserName", "SMTPServer", "SMTPLoginName", "SMTPPassword", "Email", "AccountID",
                          "ResponseText", "Version"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "1\n0\n0\n0\n\n\n\n\n\n\n\n\nVersion 1.1\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(ZcomTest, NumberPropertiesAcceptTheirRangeAndKeepTheValueOtherwise) {
  Register();
  ProcessResult r = Call({"ProxyType=3", "ProxyType", "ResponseText", "ProxyType=-1", "ProxyType=2", "ProxyType",
                          "ProxyType=0", "ProxyType=1", "ProxyType"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "0\n" + std::string(kBadProxyType) + "\n2\n1\n");
  EXPECT_EQ(r.err, "ProxyType -> 0x00000001\nProxyType -> 0x00000001\n");

  r = Call({"ProxyPort=70000", "ProxyPort", "ProxyPort=-1", "ResponseText", "ProxyPort", "ProxyPort=0", "ProxyPort"});
  EXPECT_EQ(r.out, "70000\nError: Invalid proxy port\n70000\n0\n");
  EXPECT_EQ(r.err, "ProxyPort -> 0x00000001\n");

  r = Call({"DeliveryMethod=3", "ResponseText", "DeliveryMethod", "DeliveryMethod=0", "DeliveryMethod",
            "DeliveryMethod=2", "DeliveryMethod"});
  EXPECT_EQ(r.out, std::string(kBadDelivery) + "\n1\n0\n2\n");
  EXPECT_EQ(r.err, "DeliveryMethod -> 0x00000001\n");

  r = Call({"CountryCode=61", "CountryCode", "CountryCode=1000", "ResponseText", "CountryCode", "CountryCode=-1",
            "CountryCode", "CountryCode=999", "CountryCode", "CountryCode=0", "CountryCode"});
  EXPECT_EQ(r.out, "61\nError: Invalid country code\n61\n61\n999\n0\n");
  EXPECT_EQ(r.err, "CountryCode -> 0x00000001\nCountryCode -> 0x00000001\n");
}

TEST_F(ZcomTest, AccountIdAcceptsOnlyItsTwoForms) {
  Register();
  std::vector<std::string> steps;
  std::string expected;
  int rejections = 0;
  // Each rejected id must leave the last accepted one in place.
  const std::pair<const char*, bool> cases[] = {
      {"12345", true},        {"1234", false},         {"123456", true},       {"1234567", false},
      {"12a45", false},       {"CI123456", true},      {"CI1234567890", true}, {"CI12345", false},
      {"CI12345678901", false}, {"CI12345X", false},   {"ci123456", false},    {"", false},
  };
  std::string current;
  for (const auto& [id, accepted] : cases) {
    steps.push_back(std::string("AccountID=\"") + id + "\"");
    steps.push_back("AccountID");
    if (accepted) current = id;
    rejections += !accepted;
    expected += current + "\n";
  }
  steps.push_back("ResponseText");
  expected += "Error: Invalid Account ID\n";
  ProcessResult r = Call(steps);
  EXPECT_EQ(r.out, expected);
  std::string errors;
  for (int i = 0; i < rejections; ++i) errors += "AccountID -> 0x00000001\n";
  EXPECT_EQ(r.err, errors);
}

TEST_F(ZcomTest, SettingsAreSharedAndAnAcceptedValueKeepsTheLastRejection) {
  Register();
  // One process, one object at a time: a later object sees what earlier ones left.
  ProcessResult r = Call({"ProxyType=7", "Email=a@b.com", "ProxyAddress=\"proxy.example\"", "ResponseText",
                          "Email", "ProxyAddress", "ProxyType=2", "ResponseText"});
  EXPECT_EQ(r.out, std::string(kBadProxyType) + "\na@b.com\nproxy.example\n" + kBadProxyType + "\n");
}

TEST_F(ZcomTest, TextPropertiesRefuseWhatTheirBuffersCannotHold) {
  Register();
  const std::string fits(63, 'p'), tooLong(64, 'q');
  ProcessResult r = Call({"Password=" + fits, "SMTPServer=mail.example", "SMTPServer=" + tooLong, "SMTPServer",
                          "ResponseText", "Email=\"\"", "Email", "ProxyUserName=Ωmega", "ProxyUserName",
                          "ResponseText", "SMTPLoginName=café", "SMTPLoginName"});
  EXPECT_EQ(r.out,
            "mail.example\n"
            "Error: The SMTPServer text is too long: at most 63 characters are allowed.\n"
            "\n"
            "\n"
            "Error: The ProxyUserName text holds characters that the system code page (1252) cannot represent.\n"
            "café\n");
  EXPECT_EQ(r.err, "SMTPServer -> 0x00000001\nProxyUserName -> 0x00000001\n");
}

// ---- PagoraMessage ---------------------------------------------------------------------

TEST_F(ZcomTest, PagoraMessageChecksTheSettingsInOrder) {
  Register();
  const std::string send = "PagoraMessage(\"0412345678\", \"Hello\")";
  ProcessResult r = Call({send, "ResponseText",                                        // nothing set
                          "Email=ab@cdefg", send, "ResponseText",                     // no '.'
                          "Email=a@b.com", "DeliveryMethod=0", "SMTPServer=mail", send, "ResponseText",
                          "DeliveryMethod=1", send, "ResponseText",                   // SMTP not needed now
                          "AccountID=12345", send, "ResponseText",
                          "Password=secret", "PagoraMessage(\"0412345678\", \"\")", "ResponseText",
                          "PagoraMessage(\"0412345678\", empty)", "ResponseText"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out,
            "Error: You must supply an email address\n"
            "Error: You must supply an email address\n"
            "Error: You have specified SMTP but no SMTP settings.\n"
            "Your must specifify an Account ID\n"
            "Error: Your must specifify an Password\n"
            "Error: There is no message text to send\n"
            "Error: There is no message text to send\n");
  std::string errors;
  for (int i = 0; i < 7; ++i) errors += "PagoraMessage -> 0x00000001\n";
  EXPECT_EQ(r.err, errors);
}

// ---- zcom call's own rules ---------------------------------------------------------------

TEST_F(ZcomTest, CallReportsFailuresAndStopsAtTheFirst) {
  Register();
  ProcessResult r = Call({"Version", "NoSuchMember", "Version"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "Version 1.1\n");
  EXPECT_EQ(r.err, "NoSuchMember -> 0x80020006\n");

  // Letter case does not matter to late binding.
  EXPECT_EQ(Call({"version", "VERSION"}).out, "Version 1.1\nVersion 1.1\n");

  r = Call({"Version=1"});  // read-only
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "Version -> 0x80020003\n");
  r = Call({"PagoraMessage(\"1\")"});
  EXPECT_EQ(r.err, "PagoraMessage -> 0x8002000E\n");
  r = Call({"ProxyPort=port"});
  EXPECT_EQ(r.err, "ProxyPort -> 0x80020005\n");
  r = Call({"PagoraMessage(\"1\", null)"});
  EXPECT_EQ(r.err, "PagoraMessage -> 0x80020005\n");
}

TEST_F(ZcomTest, CallRefusesBadStepsBeforeCreatingAnything) {
  // Not registered: a bad step must be reported as such, not as a missing class.
  for (const char* step : {"(1)", "Name(", "Name(\"x)", "Name(1 2)", "Name([1,)", "N=99999999999", "Name(abc)"}) {
    ProcessResult r = Call({step});
    EXPECT_EQ(r.exitCode, 64) << step;
    EXPECT_NE(r.err.find("zcom call: step"), std::string::npos) << step;
  }
  EXPECT_EQ(Zcom({"call"}).exitCode, 64);
  EXPECT_EQ(Zcom({"call", "--help"}).exitCode, 0);
}

}  // namespace
