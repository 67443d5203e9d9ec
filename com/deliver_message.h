// The delivery step of PagoraMessage, called once its validation has passed.
#pragma once

#include <string>
#include <vector>

#include "com/settings.h"
#include "gateway/automation/document.h"

namespace zentrova::com {

// Composes the request for the recipients and hands it to the gateway by the
// route DeliveryMethod names; returns 1 when delivered, 0 when not, with the
// reason written to response. The sequence number is the module's own, taken
// under its lock.
int DeliverMessage(const SharedSettings& settings, std::vector<gateway::RecipientEntry> recipients,
                   const std::string& message, std::string& response);

}  // namespace zentrova::com
