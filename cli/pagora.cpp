#include "cli/pagora.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/config.h"
#include "cli/request.h"
#include "gateway/commandline/transport.h"
#include "platform/codepage.h"
#include "platform/config_files.h"
#include "platform/printable.h"
#include "platform/process.h"
#include "platform/trace.h"

namespace zentrova::cli {
namespace {

// Console lines are composed in the ANSI code page, like everything the kit
// handles; the terminal gets them in the user's own character set.
void Print(std::string_view ansi, std::FILE* stream = stdout) {
  std::string text;
  if (!platform::AnsiToLocale(ansi, text)) text.assign(ansi);
  std::fwrite(text.data(), 1, text.size(), stream);
}

void Warn(const std::string& line) { std::fprintf(stderr, "Pagora: warning: %s\n", line.c_str()); }

const char* TracePath() {
  const char* path = std::getenv("ZENTROVA_TRACE");
  return path ? path : "";
}

void PrintBanner() {
  char version[128] = {};
  FileVersionReader(version, sizeof version);
  std::printf("Pagora SMS sender, version %s\nCopyright (C) Zentrova. All rights reserved.\n\n",
              version);
}

void PrintUsage() {
  std::printf("\n");
  PrintBanner();
  std::printf("Usage:    Pagora <MobileNumber> <Message>\n");
  std::printf("Example 1:  Pagora 0419000000 Test Message\n");
  std::printf("Example 2:  Pagora \"0419000000,040700001111\" SMS to multiple recipients\n\n");
  std::printf("Configuration:  Edit Pagora.ini with account details before sending messages\n");
}

void PrintHelp(const std::string& programFolder) {
  PrintUsage();
  std::printf(
      "\nSends the message to each mobile number (separate several with commas) through\n"
      "the gateway's primary server and prints one result line per number.\n"
      "\nThe account details are read from [CONFIG] AccountId, Email and Password, and an\n"
      "optional proxy from [PROXY] Server, Port, Username and Password, in the first of:\n");
  for (const auto& candidate : ConfigurationCandidates(programFolder))
    std::printf("  %s\n", candidate.c_str());
  std::printf(
      "\nThe gateway server is the registry value HTTP1 under\n  HKCU\\%s\nor, where that "
      "lacks it (for services), under\n  HKLM\\%s\nSet it with:\n"
      "  %s \"HKCU\\%s\" /v HTTP1 /d HOST[:PORT] /f\n",
      gateway::kSettingsKey, gateway::kSettingsKey, RegistryCommand(), gateway::kSettingsKey);
  std::fputs(ExitStatusHelp().c_str(), stdout);
}

}  // namespace

std::string Shown(std::string_view text, std::size_t limit) {
  std::string out = platform::Escaped(text.substr(0, limit), platform::LineEnds::kEscaped);
  if (text.size() > limit) out += "...";
  return out;
}

std::vector<std::string> SplitRecipients(std::string_view list) {
  std::vector<std::string> numbers;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    if (comma > start) numbers.emplace_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return numbers;
}

void FileVersionReader(char* buffer, std::size_t size) {
  platform::FileVersion v;
  if (!buffer || size < 19 || !platform::ReadFileVersion(v)) return;
  std::snprintf(buffer, size, "%d.%d.%d.%d", v.part[0], v.part[1], v.part[2], v.part[3]);
}

namespace {

// Help and version need no configuration: no mobile number looks like these.
// The exit status when argv asked for either, or -1.
int AnswerHelpOrVersion(int argc, char** argv, const std::string& folder) {
  if (argc != 2) return -1;
  std::string_view only = argv[1];
  if (only == "-h" || only == "--help") {
    PrintHelp(folder);
    return kExitSuccess;
  }
  if (only == "--version") {
    char version[128] = {};
    FileVersionReader(version, sizeof version);
    std::printf("Pagora %s\n", version);
    return kExitSuccess;
  }
  return -1;
}

// The configuration, and the account details before the arguments are looked
// at. kExitSuccess when a send may go ahead.
int LoadAccount(const std::string& folder, Configuration& config) {
  ConfigurationReport report;
  ReadConfiguration(folder, config, report);
  for (const auto& w : report.warnings) Warn(w);
  for (const auto& e : report.errors)
    std::printf("Error %d: %s. Nothing was sent.\n", kExitConfigurationRefused, e.c_str());
  if (!report.errors.empty()) return kExitConfigurationRefused;
  if (config.proxyServer[0])
    gateway::SetProxyDetails(config.proxyServer, config.proxyPort, config.proxyUserName,
                             config.proxyPassword);

  int code = kExitSuccess;
  if (!config.accountId[0]) code = kExitUsage;
  if (!config.email[0]) code = kExitNoEmail;
  if (!config.password[0]) code = kExitNoPassword;
  if (code == kExitSuccess) return code;
  if (config.path.empty()) {
    std::string places;
    for (const auto& c : ConfigurationCandidates(folder))
      places += (places.empty() ? "" : ", ") + c;
    Warn("no pagora.ini found; looked for " + places);
  }
  std::printf(
      "Error %d: You must configure an AccountId, Email address and password in the pagora.ini "
      "file\n",
      code);
  return code;
}

// The arguments in the ANSI code page; the user hears once if text was lost.
bool ArgumentsInAnsi(int argc, char** argv, std::vector<std::string>& args) {
  bool lossy = false;
  for (int i = 1; i < argc; ++i) {
    std::string converted;
    if (!platform::LocaleToAnsi(argv[i], converted, &lossy)) {
      std::fputs("Fatal Error: MFC initialization failed\n", stderr);
      return false;
    }
    args.push_back(std::move(converted));
  }
  if (lossy)
    Warn("code page " + std::to_string(platform::AnsiCodePage()) +
         " cannot hold some characters of the arguments; they are sent as \"?\" (" +
         platform::CodePageChoice() + ")");
  return true;
}

// A cut number would text a stranger, so a list or number that does not fit
// is refused whole. kExitSuccess when every number may be sent.
int CheckRecipients(const std::string& list, const std::vector<std::string>& numbers,
                    const std::string& message) {
  if (list.size() > kMaxRecipientListBytes) {
    std::printf(
        "Error %d: The recipient list is %zu bytes long; at most %zu fit. Nothing was sent.\n",
        kExitRecipientsRefused, list.size(), kMaxRecipientListBytes);
    return kExitRecipientsRefused;
  }
  for (const auto& number : numbers) {
    const std::string error = "Error " + std::to_string(kExitRecipientsRefused) +
                              ": The mobile number " + Shown(number, 24);
    if (number.size() > kMaxNumberBytes) {
      Print(error + " is " + std::to_string(number.size()) + " bytes long; at most " +
            std::to_string(kMaxNumberBytes) + " fit. Nothing was sent.\n");
      return kExitRecipientsRefused;
    }
    // A line break would add lines, even whole recipients, to the request.
    auto control = std::find_if(number.begin(), number.end(), IsControlByte);
    if (control != number.end()) {
      Print(error + " holds the control character " + Shown(std::string_view(&*control, 1), 1) +
            " at byte " + std::to_string(control - number.begin() + 1) +
            "; a number may hold none. Nothing was sent.\n");
      return kExitRecipientsRefused;
    }
  }
  if (message.size() > kMaxMessageBytes)
    Warn("the message is " + std::to_string(message.size()) + " bytes long; at most " +
         std::to_string(kMaxMessageBytes) + " fit in one request, so it is sent to nobody");
  return kExitSuccess;
}

// The registry names the gateway: one that other users may change is not used.
bool RegistryIsUsable() {
  for (auto root : {platform::RegistryRoot::kCurrentUser, platform::RegistryRoot::kLocalMachine}) {
    platform::RegistryKey settings;
    if (platform::RegistryStatus rc = settings.Open(root, gateway::kSettingsKey);
        !rc.ok() && rc.code != platform::kErrorFileNotFound) {
      std::fprintf(stderr, "Pagora: %s\n", rc.message.c_str());
      return false;
    }
  }
  return true;
}

// After a send that did not get through, standard error names the server and
// where its name came from: a first run against the built-in placeholder is
// told to set HTTP1. Once per server and run.
void SayWhereItWent(const gateway::GatewayServerNames& servers, std::string& told) {
  if (servers.primary.empty() || servers.primary == told) return;
  told = servers.primary;
  std::string line = "Pagora: the send went to the gateway server " + servers.primary + ", ";
  if (servers.primaryFrom == gateway::kBuiltInDefault)
    line += std::string(gateway::kBuiltInDefault) +
            ", a placeholder; name your provider's gateway with: " + RegistryCommand() +
            " \"HKCU\\" + gateway::kSettingsKey + "\" /v HTTP1 /d HOST[:PORT] /f";
  else
    line += "named by " + servers.primaryFrom;
  Print(line + "\n", stderr);
}

// One request per number; the exit status follows the last send.
int SendToEach(const Configuration& config, const std::vector<std::string>& numbers,
               const std::string& message, bool counted) {
  std::string resultText, told;
  int result = 0, sent = 0;
  for (const auto& number : numbers) {
    Print("Sending SMS to " + number + " with message " + message + "\n");
    std::fflush(stdout);
    gateway::GatewayServerNames servers;
    result = SendCommandLineRequest(config.accountId, config.email, config.password, number.c_str(),
                                    message.c_str(), resultText, &servers);
    platform::TraceLine("result number=" + platform::TraceQuoted(number) + " code=" +
                        std::to_string(result) + " text=" + platform::TraceQuoted(resultText));
    if (result == gateway::kSettingUnusable) {
      Print("Error " + std::to_string(kExitConfigurationRefused) + ": " + resultText +
            (&number == &numbers.front()
                 ? ". Nothing was sent.\n"
                 : ". The numbers from " + number + " on were not sent.\n"));
      return kExitConfigurationRefused;
    }
    if (result != 0) {
      // The result text may be the gateway's or a proxy's own: its control
      // bytes are shown, never acted on, so a reply cannot write over the
      // line it is printed on or make a failure look like a success.
      Print(platform::Escaped(resultText, platform::LineEnds::kKept) + "\n");
      std::fflush(stdout);
      if (result == gateway::kRetryableFailure) SayWhereItWent(servers, told);
    } else {
      Print("Message sent sucessfully\n");
      ++sent;
    }
    std::fflush(stdout);
  }
  if (counted) std::printf("%d Messages sent sucessfully\n", sent);
  return ExitStatus(result);
}

}  // namespace

int SendAndForget(Configuration& config, const std::vector<std::string>& numbers,
                  const std::string& message, bool counted) {
  const int status = SendToEach(config, numbers, message, counted);
  config.Forget();
  gateway::SetProxyDetails(nullptr, 0, nullptr, nullptr);
  return status;
}

int RunPagora(int argc, char** argv) {
  // 1. Process set-up: locale, code page and the HTTP library.
  platform::ProcessSetup setup;
  if (!setup.ok()) {
    std::fprintf(stderr, "Pagora: %s\n", setup.message().c_str());
    std::fputs("Fatal Error: MFC initialization failed\n", stderr);
    std::fflush(stderr);
    return kExitSetupFailed;
  }

  // 2. The program's folder becomes the current directory. A relative registry
  // directory or trace file was meant from where the user started the program.
  platform::AnchorEnvironmentPath("ZENTROVA_REGISTRY");
  platform::AnchorEnvironmentPath("ZENTROVA_TRACE");
  // An unwritable trace is said once; the sends go on as they would without it.
  platform::Trace trace(TracePath(), Warn);
  const std::string folder = platform::ProgramFolder();
  platform::ChangeCurrentDirectory(folder);
  if (int status = AnswerHelpOrVersion(argc, argv, folder); status >= 0) return status;

  // 3. Configuration and 4. the account details.
  Configuration config;
  if (int status = LoadAccount(folder, config); status != kExitSuccess) return status;

  // 5. No arguments: the usage text.
  if (argc < 2) {
    PrintUsage();
    return kExitUsage;
  }

  // 6. The arguments, the recipients and the message.
  std::vector<std::string> args;
  if (!ArgumentsInAnsi(argc, argv, args)) return kExitSetupFailed;
  std::string message;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (i > 1) message += ' ';
    message += args[i];
  }
  const std::string& list = args[0];
  std::vector<std::string> numbers = SplitRecipients(list);
  const bool counted = !numbers.empty();
  if (!counted) numbers.push_back(list);  // nothing but commas: sent as given
  if (int status = CheckRecipients(list, numbers, message); status != kExitSuccess) return status;

  // 7. The sends.
  if (!RegistryIsUsable()) return kExitSetupFailed;
  return SendAndForget(config, numbers, message, counted);
}

}  // namespace zentrova::cli
