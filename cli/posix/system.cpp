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
  return "\nExit status: 0 the last send succeeded; 1 start-up failed (or the registry is not\n"
         "private to you); 2 usage shown or no AccountId;\n"
         "3 no Email; 4 no Password; 64 a recipient list over " +
         std::to_string(kMaxRecipientListBytes) + " bytes, or a number over " +
         std::to_string(kMaxNumberBytes) +
         " bytes\n"
         "or holding a control character; " +
         Exit(kSettingUnusable) +
         " a value in pagora.ini or the registry that cannot be\n"
         "used as it stands (the error line names it); otherwise the last send's result in 8 bits\n"
         "(" +
         Exit(kMissingInput) + " for " + std::to_string(kMissingInput) + " or a multiple of 256, " +
         Exit(kRetryableFailure) + " for " + std::to_string(kRetryableFailure) + ", " +
         Exit(kMessageTooLong) + " for a message over " + std::to_string(kMaxMessageBytes) +
         " bytes, " + Exit(kNoUsableReplyCommandLine) +
         " no\n"
         "usable reply, " +
         Exit(kNoInternetSession) + " for " + std::to_string(kNoInternetSession) +
         " no HTTP session, or the gateway's reply code).\n";
}

}  // namespace zentrova::cli
