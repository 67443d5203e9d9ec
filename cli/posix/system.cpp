// What Pagora says and returns differently on POSIX systems: exit statuses
// hold 8 bits, the registry stand-in is changed with zcom, and it must be
// private to its user.
#include <string>

#include "cli/pagora.h"
#include "cli/request.h"

namespace zentrova::cli {

// A result keeps its low 8 bits (-2 is 254, 3000 is 184); a failure whose low
// 8 bits are 0 (a gateway code of 256, say) exits 255, so that a failed send
// never reads as success.
int ExitStatus(int result) {
  if (result == 0) return 0;
  int low = static_cast<int>(static_cast<unsigned>(result) & 0xFFu);
  return low != 0 ? low : 255;
}

const char* RegistryCommand() { return "zcom reg add"; }

std::string ExitStatusHelp() {
  return "\nExit status: 0 the last send succeeded; 1 start-up failed (or the registry is not\n"
         "private to you); 2 usage shown or no AccountId;\n"
         "3 no Email; 4 no Password; 64 a recipient list over " +
         std::to_string(kMaxRecipientListBytes) + " bytes, or a number over " +
         std::to_string(kMaxNumberBytes) +
         " bytes\n"
         "or holding a control character; 78 a value in pagora.ini or the registry that cannot be\n"
         "used as it stands (the error line names it); otherwise the last send's result in 8 bits\n"
         "(255 for -1 or a multiple of 256, 254 for -2, 246 for a message over " +
         std::to_string(kMaxMessageBytes) +
         " bytes, 10 no\n"
         "usable reply, 184 for 3000 no HTTP session, or the gateway's reply code).\n";
}

}  // namespace zentrova::cli
