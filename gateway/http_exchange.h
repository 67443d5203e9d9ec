// The attempt loop both builds of the transport share. Each build describes
// how it differs in a TransportVariant and opens the session itself, since
// what a failed session means differs too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "gateway/endpoints.h"
#include "gateway/result.h"
#include "platform/http.h"

namespace zentrova::gateway {

struct TransportVariant {
  int initialResult;         // an attempt without a usable reply ends with this
  int maxAttempts;           // per server, while the result is kRetryableFailure
  int extraAttemptsOnDrop;   // granted by time-outs and aborted connections, in all
  bool timeoutEndsAttempts;  // a time-out ends the attempts with initialResult
  int resultOnceSent;        // a failure after the whole request went out ends with this
  std::size_t replyLimit;    // the bytes of a reply that are judged; the rest is dropped
  const char* statusText;    // printf form for a status other than 200, with %lu
  bool zeroNeedsFourZeros;   // code 0 counts only for a reply starting "0000"
  bool codeOneAccepted;      // code 1 is returned as 0
  // The platform's error dialog on a 407 or a failed attempt. A console
  // program may run as a scheduled task, where a dialog nobody sees would
  // hold the send for ever, so only the automation server shows it.
  bool errorDialog;
};

// The console program: bounded attempts; a time-out or an aborted connection
// before the request went out earns one more try, at most two in all, so a
// send makes at most four attempts. Once the request is out, a failure ends
// the send (-2): the gateway may have taken the message, and posting it again
// could text the recipient twice.
inline constexpr TransportVariant kCommandLineVariant = {
    .initialResult = kNoUsableReplyCommandLine,
    .maxAttempts = 2,
    .extraAttemptsOnDrop = 2,
    .timeoutEndsAttempts = false,
    .resultOnceSent = kRetryableFailure,
    .replyLimit = 4096,
    .statusText = "HTTP Error %lu\r\n",
    .zeroNeedsFourZeros = false,
    .codeOneAccepted = true,
    .errorDialog = false,
};

// The automation server. A failure once the request is out ends the attempts
// on this server and leads neither to the secondary server nor (2100 is not
// retryable) to the e-mail route: the message may already be on its way.
inline constexpr TransportVariant kAutomationVariant = {
    .initialResult = kNoUsableReplyAutomation,
    .maxAttempts = 3,
    .extraAttemptsOnDrop = 0,
    .timeoutEndsAttempts = true,
    .resultOnceSent = kNoUsableReplyAutomation,
    .replyLimit = 8192,  // a longer reply is judged by its first 8,192 bytes
    .statusText = "HTTP request error %lu\r\n",
    .zeroNeedsFourZeros = true,
    .codeOneAccepted = false,
    .errorDialog = true,
};

// What to do when a proxy asks for authentication (407).
struct ProxyAuthAnswer {
  bool setCredentials = false;  // answer on the next attempt with these
  std::string userName;
  std::string password;
  // The proxy asked again after these were offered: they are never offered
  // again in this call (a directory behind the proxy may lock the account
  // after a few wrong tries), and a further 407 ends the attempts.
  bool refused = false;
};

inline constexpr const char* kObjectNameFormat = "/sms.dll?private&type=%d";
inline constexpr const char* kUserAgent = "Zentrova";
inline constexpr int kGatewayPort = 80;

// The result of one reply: its status, the first bytes of its body (at most
// the variant's replyLimit) and the count of all its body bytes. text becomes
// the result text.
int JudgeReply(const TransportVariant& variant, unsigned long status, std::string_view held,
               std::size_t bodyBytes, std::string& text);

// One request for one server: where it goes, the route that names it in the
// trace, and what is posted.
struct ServerPost {
  std::string_view server;
  const ProxySettings& proxy;  // only names the route in the trace
  int type;
  const std::string& document;
};

// What the attempts against one server came to: the result, the last reply or
// error text, and whether the message may have been delivered although the
// result says otherwise.
struct AttemptsOutcome {
  int result = kAccepted;
  std::string text;
  bool mayHaveBeenDelivered = false;
};

// Runs the attempts against one server over an open session. A 502, 503 or
// 504 through a proxy means the proxy could not reach the server: a retryable
// failure, like a server that cannot be reached directly. A failure that comes
// after the whole request went out ends the attempts, since the gateway may
// already have sent the message: mayHaveBeenDelivered then says so.
AttemptsOutcome RunAttempts(const TransportVariant& variant, const platform::HttpSession& session,
                            const ServerPost& post, ProxyAuthAnswer& on407);

// The proxy as the trace shows it: "direct", "system", or its host and port;
// never its user name or password, nor credentials written into the host.
std::string ShownProxy(const ProxySettings& proxy);

// "HTTP error: <message>\r\n"
std::string HttpErrorText(const platform::HttpError& error);

// ZENTROVA_HTTP_ATTEMPT_MS, when set to a positive number, bounds every attempt
// (and shortens its connect and stall waits) to that many milliseconds: for
// test gateways and for users who want a send to give up sooner.
// ZENTROVA_HTTP_STALL_MS, applied after it, sets the stall wait alone (how
// long a reply may bring no byte). Neither adds a wait the build does not
// have, so a test that shortens them still sees each of the build's rules.
platform::HttpTimeouts WithAttemptLimitOverride(platform::HttpTimeouts timeouts);

}  // namespace zentrova::gateway
