// What Pagora says and returns differently on POSIX systems: exit statuses
// hold 8 bits, the registry stand-in is changed with zcom, and it must be
// private to its user.
#include <string>

#include "cli/pagora.h"
#include "cli/request.h"
#include "gateway/result.h"

namespace zentrova::cli {
namespace {

std::string Exit(gateway::Result result) {
  return std::to_string(gateway::Describe(result).posixExit);
}

}  // namespace

// A known result exits as its row says; the gateway's reply code keeps its
// low 8 bits, and a failure whose low 8 bits are 0 (a gateway code of 256,
// say) exits 255, so that a failed send never reads as success.
int ExitStatus(int result) {
  if (auto known = gateway::Known(result)) return known->posixExit;
  int low = static_cast<int>(static_cast<unsigned>(result) & 0xFFu);
  return low != 0 ? low : 255;
}

const char* RegistryCommand() { return "zcom reg add"; }

std::string ExitStatusHelp() {
  using namespace gateway;
  const auto n = [](auto number) { return std::to_string(number); };
  return "\nExit status: " + n(kExitSuccess) + " the last send succeeded; " + n(kExitSetupFailed) +
         " start-up failed (or the registry is not\nprivate to you); " + n(kExitUsage) +
         " usage shown or no AccountId;\n" + n(kExitNoEmail) + " no Email; " + n(kExitNoPassword) +
         " no Password; " + n(kExitRecipientsRefused) + " a recipient list over " +
         n(kMaxRecipientListBytes) + " bytes, or a number over " + n(kMaxNumberBytes) +
         " bytes\n"
         "or holding a control character; " +
         Exit(kSettingUnusable) +
         " a value in pagora.ini or the registry that cannot be\n"
         "used as it stands (the error line names it); otherwise the last send's result in 8 bits\n"
         "(" +
         Exit(kMissingInput) + " for " + n(kMissingInput) + " or a multiple of 256, " +
         Exit(kRetryableFailure) + " for " + n(kRetryableFailure) + ", " + Exit(kMessageTooLong) +
         " for a message over " + n(kMaxMessageBytes) + " bytes, " +
         Exit(kNoUsableReplyCommandLine) +
         " no\n"
         "usable reply, " +
         Exit(kNoInternetSession) + " for " + n(kNoInternetSession) +
         " no HTTP session, or the gateway's reply code).\n";
}

}  // namespace zentrova::cli
