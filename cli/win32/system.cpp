// What Pagora says and returns differently on Windows: the exit code holds 32
// bits, and the registry is changed with Windows' own reg.
#include <string>

#include "cli/pagora.h"
#include "cli/request.h"
#include "gateway/result.h"

namespace zentrova::cli {
namespace {

std::string Exit(gateway::Result result) {
  return std::to_string(gateway::Describe(result).windowsExit);
}

// "-2 the HTTP request failed": the exit code and what it means.
std::string Line(gateway::Result result) {
  return Exit(result) + " " + gateway::Describe(result).meaning;
}

}  // namespace

// Batch files test %ERRORLEVEL% for the results as they are (-2, -10, 3000,
// the gateway's reply code), so a result is the exit code whole, as its row says.
int ExitStatus(int result) {
  if (auto known = gateway::Known(result)) return known->windowsExit;
  return result;
}

const char* RegistryCommand() { return "reg add"; }

std::string ExitStatusHelp() {
  using namespace gateway;
  const auto n = [](auto number) { return std::to_string(number); };
  return "\nExit status (%ERRORLEVEL%): " + n(kExitSuccess) + " the last send succeeded; " +
         n(kExitSetupFailed) + " start-up failed;\n" + n(kExitUsage) +
         " usage shown or no AccountId; " + n(kExitNoEmail) + " no Email; " + n(kExitNoPassword) +
         " no Password; " + n(kExitRecipientsRefused) + " a recipient list over " +
         n(kMaxRecipientListBytes) + " bytes,\nor a number over " + n(kMaxNumberBytes) +
         " bytes or holding a control character; " + Exit(kSettingUnusable) +
         " a value in pagora.ini\n"
         "or the registry that cannot be used as it stands (the error line names it); otherwise\n"
         "the last send's result: " +
         Line(kMissingInput) + ", " + Line(kRetryableFailure) + ", " + Exit(kMessageTooLong) +
         " a message\n"
         "over " +
         n(kMaxMessageBytes) + " bytes, " + Line(kNoUsableReplyCommandLine) + ", " +
         Line(kNoInternetSession) + ", or the gateway's reply code.\n";
}

}  // namespace zentrova::cli
