// The attempt loop both builds of the transport share. Each build describes
// how it differs in a TransportVariant and opens the session itself, since
// what a failed session means differs too.
#pragma once

#include <cstddef>
#include <string>

#include "platform/http.h"

namespace zentrova::gateway {

struct TransportVariant {
  int initialResult;         // an attempt without a usable reply ends with this
  int maxAttempts;           // per server, while the result is retryable (-2)
  int extraAttemptsOnDrop;   // granted by time-outs and aborted connections, in all
  bool timeoutEndsAttempts;  // a time-out ends the attempts with initialResult
  int resultOnceSent;        // a failure after the whole request went out ends with this
  std::size_t replyLimit;    // the bytes of a reply that are judged; the rest is dropped
  const char* statusText;    // printf form for a status other than 200, with %lu
  bool zeroNeedsFourZeros;   // code 0 counts only for a reply starting "0000"
};

// What to do when a proxy asks for authentication (407).
struct ProxyAuthAnswer {
  bool setCredentials = false;  // answer on the next attempt with these
  std::string userName;
  std::string password;
};

inline constexpr const char* kObjectNameFormat = "/sms.dll?private&type=%d";
inline constexpr const char* kUserAgent = "Zentrova";
inline constexpr int kGatewayPort = 80;

// Runs the attempts against one server over an open session and returns the
// result; resultText holds the last reply or error text. A failure that comes
// after the whole request went out ends the attempts, since the gateway may
// already have sent the message: mayHaveBeenDelivered then says so.
int RunAttempts(const TransportVariant& variant, const platform::HttpSession& session,
                const char* server, int type, const std::string& document, std::string& resultText,
                const ProxyAuthAnswer& on407, bool& mayHaveBeenDelivered);

// "HTTP error: <message>\r\n"
std::string HttpErrorText(const platform::HttpError& error);

// ZENTROVA_HTTP_ATTEMPT_MS, when set to a positive number, bounds every attempt
// (and its connect and stall waits) to that many milliseconds: for test
// gateways and for users who want a send to give up sooner.
// ZENTROVA_HTTP_STALL_MS, applied after it, sets the stall wait alone (how
// long a reply may bring no byte).
platform::HttpTimeouts WithAttemptLimitOverride(platform::HttpTimeouts timeouts);

}  // namespace zentrova::gateway
