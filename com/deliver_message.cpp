#include "com/deliver_message.h"

namespace zentrova::com {

// This build has no gateway route yet: a validated request is refused plainly
// rather than reported as sent.
int DeliverMessage(VARIANT*, const std::string&, std::string& response) {
  response = "Error: Delivery is not available in this build";
  return 0;
}

}  // namespace zentrova::com
