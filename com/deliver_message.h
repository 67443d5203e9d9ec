// The delivery step of PagoraMessage, called once its validation has passed.
#pragma once

#include <string>

#include "platform/com.h"

namespace zentrova::com {

// Delivers message to the recipients; returns 1 when delivered, 0 when not,
// with the reason written to response.
int DeliverMessage(VARIANT* recipients, const std::string& message, std::string& response);

}  // namespace zentrova::com
