// What Pagora says and returns differently on Windows: the exit code holds 32
// bits, and the registry is changed with Windows' own reg.
#include <string>

#include "cli/pagora.h"
#include "cli/request.h"

namespace zentrova::cli {

// Batch files test %ERRORLEVEL% for the results as they are (-2, -10, 3000,
// the gateway's reply code), so the result is the exit code, whole.
int ExitStatus(int result) { return result; }

const char* RegistryCommand() { return "reg add"; }

std::string ExitStatusHelp() {
  return "\nExit status (%ERRORLEVEL%): 0 the last send succeeded; 1 start-up failed;\n"
         "2 usage shown or no AccountId; 3 no Email; 4 no Password; 64 a recipient list over " +
         std::to_string(kMaxRecipientListBytes) + " bytes,\nor a number over " +
         std::to_string(kMaxNumberBytes) +
         " bytes or holding a control character; 78 a value in pagora.ini\n"
         "or the registry that cannot be used as it stands (the error line names it); otherwise\n"
         "the last send's result: -1 a missing input, -2 the HTTP request failed, -10 a message\n"
         "over " +
         std::to_string(kMaxMessageBytes) +
         " bytes, 10 no usable reply, 3000 no HTTP session, or the gateway's reply code.\n";
}

}  // namespace zentrova::cli
