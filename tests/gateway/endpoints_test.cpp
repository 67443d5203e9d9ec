#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

#include "fixture.h"
#include "platform/time_limits.h"

namespace zentrova::testing {
namespace {

using platform::RegistryRoot;

class Endpoints : public TransportTest {};

TEST_F(Endpoints, RegistryStringReadsKeepOrEmptyTheBufferAsTheRegistryDoes) {
  char buffer[16];
  auto read = [&](const char* key, const char* value) {
    return gateway::ReadRegistryString(RegistryRoot::kCurrentUser, key, value, buffer, 15);
  };
  // No key: the buffer is emptied and the error comes back.
  std::strcpy(buffer, "previous");
  EXPECT_EQ((std::tuple{read("Software\\Nowhere", "X"), std::string(buffer)}),
            (std::tuple{platform::kErrorFileNotFound, ""}));

  platform::RegistryWriter writer(RegistryRoot::kCurrentUser);
  writer.SetString("Software\\T", "Short", "abc");
  writer.SetString("Software\\T", "Long", "0123456789abcdef");
  ASSERT_EQ(writer.Commit().code, 0);
  // The key opens but the value is missing or too long: 0, buffer untouched.
  for (const char* value : {"Missing", "Long"}) {
    std::strcpy(buffer, "previous");
    EXPECT_EQ(read("Software\\T", value), 0);
    EXPECT_STREQ(buffer, "previous") << value;
  }
  EXPECT_EQ((std::tuple{read("software\\t", "short"), std::string(buffer)}),
            (std::tuple{0, "abc"}));
  // Bytes come without a terminator: the text ends after them, nothing of the last one shows,
  // and bytes that fill the room given get none written past it.
  std::ofstream(registry_.File("HKEY_CURRENT_USER.reg"), std::ios::app)
      << "\"Bin\"=hex:61,62\n\"Full\"=hex:31,32,33,34,35,36,37,38,39,61,62,63,64,65,66\n";
  std::strcpy(buffer, "previous");
  EXPECT_EQ((std::tuple{read("Software\\T", "Bin"), std::string(buffer)}), (std::tuple{0, "ab"}));
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ((std::tuple{read("Software\\T", "Full"), std::string(buffer, sizeof buffer)}),
            (std::tuple{0, "123456789abcdefx"}));
}

TEST_F(Endpoints, NamesFallBackToDefaultsAndFollowTheRegistry) {
  std::string error;
  auto read = [&](gateway::GatewayServers which) {
    auto names = gateway::ReadGatewayServers(which, error);
    EXPECT_TRUE(names);
    return names.value_or(gateway::GatewayServerNames{});
  };
  auto names = read(gateway::GatewayServers::kBoth);
  EXPECT_EQ(names.primary + " " + names.secondary, "sms1.zentrova.example sms2.zentrova.example");
  EXPECT_EQ(gateway::ReadGatewayMailbox(error), "sms@zentrova.example");

  SetServers("127.0.0.1:8080");
  names = read(gateway::GatewayServers::kBoth);
  EXPECT_EQ(names.primary + " " + names.secondary, "127.0.0.1:8080 sms2.zentrova.example");

  // An empty value counts as missing, and so does one deleted since the last
  // send: the process sends nowhere the registry no longer names.
  SetServers("");
  EXPECT_EQ(read(gateway::GatewayServers::kPrimary).primary, "sms1.zentrova.example");
  SetServers("127.0.0.1:8080", "127.0.0.1:8081");
  platform::RegistryWriter set(RegistryRoot::kCurrentUser), remove(RegistryRoot::kCurrentUser);
  set.SetString(gateway::kSettingsKey, "DebugGateway", "m@example.com");
  ASSERT_EQ(set.Commit().code, 0);
  read(gateway::GatewayServers::kBoth);
  for (const char* value : {"HTTP1", "HTTP2", "DebugGateway"})
    remove.DeleteValue(gateway::kSettingsKey, value);
  ASSERT_EQ(remove.Commit().code, 0);
  EXPECT_EQ(gateway::ReadGatewayMailbox(error), "sms@zentrova.example");
  names = read(gateway::GatewayServers::kBoth);
  EXPECT_EQ(names.primary + " " + names.secondary, "sms1.zentrova.example sms2.zentrova.example");
  EXPECT_EQ((std::tuple{names.primaryFrom, error}), (std::tuple{"the built-in default", ""}));
  // A hive that cannot be read (a link to nothing) may hold any name: no other name stands in.
  std::filesystem::remove(registry_.File("HKEY_LOCAL_MACHINE.reg"));
  std::filesystem::create_symlink("nowhere", registry_.File("HKEY_LOCAL_MACHINE.reg"));
  EXPECT_FALSE(gateway::ReadGatewayServers(gateway::GatewayServers::kBoth, error));
  EXPECT_NE(error.find("is a symbolic link to nothing"), std::string::npos) << error;
}

// A service's own current user has no key: the local machine's values reach
// it, and where both roots hold a value that is not empty the user's wins.
TEST_F(Endpoints, EachSettingFallsBackFromTheUserToTheMachine) {
  const std::string key = gateway::kSettingsKey;
  platform::RegistryWriter machine(RegistryRoot::kLocalMachine);
  for (const char* name : {"HTTP1", "HTTP2", "DebugGateway", "TraceFile"})
    machine.SetString(key, name, std::string("m-") + name);
  ASSERT_EQ(machine.Commit().code, 0);
  std::string error;
  for (bool userKey : {false, true}) {
    if (userKey) {
      platform::RegistryWriter user(RegistryRoot::kCurrentUser);
      user.SetString(key, "HTTP1", "u-HTTP1");
      user.SetString(key, "TraceFile", "");  // empty counts as missing
      ASSERT_EQ(user.Commit().code, 0);
    }
    auto names = gateway::ReadGatewayServers(gateway::GatewayServers::kBoth, error);
    ASSERT_TRUE(names) << error;
    EXPECT_EQ(names->primary, userKey ? "u-HTTP1" : "m-HTTP1");
    EXPECT_EQ(names->primaryFrom, std::string("HTTP1 under ") +
                                      (userKey ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\") +
                                      key);
    EXPECT_EQ(names->secondary, "m-HTTP2");
    EXPECT_EQ(gateway::ReadGatewayMailbox(error).value_or(""), "m-DebugGateway");
    EXPECT_EQ(gateway::ReadSettingText("TraceFile", 1023), "m-TraceFile");
  }
  // The machine's over-long value is named where it is.
  machine.SetString(key, "HTTP2", std::string(254, 'h'));
  ASSERT_EQ(machine.Commit().code, 0);
  EXPECT_FALSE(gateway::ReadGatewayServers(gateway::GatewayServers::kBoth, error));
  EXPECT_EQ(error.substr(0, 30), "HTTP2 under HKEY_LOCAL_MACHINE");
}

TEST_F(Endpoints, ValuesTooLongForTheirBuffersAreErrorsNotDefaults) {
  enum Read { kPrimary, kBoth, kMailbox, kTrace };
  const std::tuple<const char*, std::size_t, Read, bool> cases[] = {
      {"HTTP1", 253, kPrimary, true},       {"HTTP1", 254, kBoth, false},
      {"HTTP2", 254, kBoth, false},         {"HTTP2", 254, kPrimary, true},  // not its concern
      {"DebugGateway", 62, kMailbox, true}, {"DebugGateway", 63, kMailbox, false},
      {"TraceFile", 1023, kTrace, true},    {"TraceFile", 1024, kTrace, false},
  };
  for (const auto& [value, length, read, ok] : cases) {
    platform::RegistryWriter writer(RegistryRoot::kCurrentUser);
    for (auto [name, text] : {std::pair{"HTTP1", "h1"}, {"HTTP2", "h2"}, {"DebugGateway", "m"}})
      writer.SetString(gateway::kSettingsKey, name, text);
    writer.SetString(gateway::kSettingsKey, value, std::string(length, 'h'));
    ASSERT_EQ(writer.Commit().code, 0);
    std::string error;
    std::optional<std::string> mailbox;
    std::optional<gateway::GatewayServerNames> servers;
    if (read == kTrace)
      mailbox = gateway::ReadSettingText(value, 1023);
    else if (read == kMailbox)
      mailbox = gateway::ReadGatewayMailbox(error);
    else
      servers = gateway::ReadGatewayServers(
          read == kBoth ? gateway::GatewayServers::kBoth : gateway::GatewayServers::kPrimary,
          error);
    EXPECT_EQ(mailbox || servers, read == kTrace || ok) << value << " " << length;
    if (!ok && read != kTrace) {
      EXPECT_EQ(error, std::string(value) + " under HKEY_CURRENT_USER\\" + gateway::kSettingsKey +
                           " is " + std::to_string(length) + " bytes long, over its limit of " +
                           std::to_string(length - 1) + "; shorten it");
    } else if (mailbox) {
      EXPECT_EQ(*mailbox, ok ? std::string(length, 'h') : "");
    } else {
      EXPECT_EQ(servers->primary, length == 253 ? std::string(253, 'h') : "h1");
    }
  }
}

// The numbers in each cell of README's table row that begins with `first`, in
// milliseconds where they carry a unit ("10 s", "1 minute").
std::vector<std::vector<long>> ReadmeRow(const std::string& first) {
  std::ifstream in(ZV_SOURCE_DIR "/README.md");
  std::string line;
  std::size_t at = std::string::npos;
  while (at == std::string::npos && std::getline(in, line)) at = line.find("| " + first + " |");
  std::stringstream row(at == std::string::npos ? "" : line.substr(at + first.size() + 4));
  std::vector<std::vector<long>> cells;
  for (std::string cell; std::getline(row, cell, '|');) {
    // Words of letters and digits alone: "(10 s + 4 s send" is 10, s, 4, s, send.
    for (char& c : cell) c = std::isalnum(static_cast<unsigned char>(c)) ? c : ' ';
    std::istringstream text(cell);
    const std::vector<std::string> words{std::istream_iterator<std::string>(text), {}};
    auto& numbers = cells.emplace_back();
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (words[i].find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string unit = i + 1 < words.size() ? words[i + 1] : "";
      numbers.push_back(std::stol(words[i]) * (unit == "s"                  ? 1000
                                               : unit.starts_with("minute") ? 60000
                                                                            : 1));
    }
  }
  return cells;
}

// The tests shorten every wait, so only this keeps the shipped values to
// what README promises.
TEST(ShippedLimits, AreTheOnesReadmeStates) {
  using namespace platform::limits;
  const auto attempt = [](const platform::HttpTimeouts& t) {
    return std::vector<long>{t.connectMs + t.sendMs + t.receiveMs, t.connectMs, t.sendMs,
                             t.receiveMs};
  };
  using Cells = std::vector<std::vector<long>>;
  const auto& [pagora, server] = std::pair{kCommandLineHttp, kAutomationHttp};
  EXPECT_EQ(ReadmeRow("connect time-out"), (Cells{{pagora.connectMs}, {server.connectMs}}));
  EXPECT_EQ(ReadmeRow("one attempt in all (connect, send, reply)"),
            (Cells{attempt(pagora), attempt(server)}));
  EXPECT_EQ(ReadmeRow("a reply that stalls"), (Cells{{pagora.receiveMs}, {server.receiveMs}}));
  EXPECT_EQ(ReadmeRow("connect retries (Windows)"), (Cells{{}, {long(server.connectRetries)}}));
  for (auto [row, limit] :
       {std::pair{"connecting, per address of the server name", kSmtpConnect},
        {"the server's greeting (220)", kSmtpGreeting},
        {"the replies to HELO, MAIL, RCPT and QUIT", kSmtpCommand},
        {"the reply to DATA (354)", kSmtpDataStart},
        {"handing the header block and the body to the network", kSmtpDataBlock},
        {"the reply after the end of the data (250)", kSmtpDataEnd}})
    EXPECT_EQ(ReadmeRow(row), Cells{{limit.count()}}) << row;
}

}  // namespace
}  // namespace zentrova::testing
