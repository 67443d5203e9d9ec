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
  return "\nExit status (%ERRORLEVEL%): 0 the last send succeeded; 1 start-up failed;\n"
         "2 usage shown or no AccountId; 3 no Email; 4 no Password; 64 a recipient list over " +
         std::to_string(kMaxRecipientListBytes) + " bytes,\nor a number over " +
         std::to_string(kMaxNumberBytes) + " bytes or holding a control character; " +
         Exit(kSettingUnusable) +
         " a value in pagora.ini\n"
         "or the registry that cannot be used as it stands (the error line names it); otherwise\n"
         "the last send's result: " +
         Line(kMissingInput) + ", " + Line(kRetryableFailure) + ", " + Exit(kMessageTooLong) +
         " a message\n"
         "over " +
         std::to_string(kMaxMessageBytes) + " bytes, " + Line(kNoUsableReplyCommandLine) + ", " +
         Line(kNoInternetSession) + ", or the gateway's reply code.\n";
}

}  // namespace zentrova::cli
