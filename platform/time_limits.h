// Every wait the kit ships with, named in one place: README's tables of
// limits state these numbers, and a test reads both so they cannot drift.
// The tests shorten the waits (ZENTROVA_HTTP_ATTEMPT_MS, SmtpSession::SetLimits);
// these are what a user gets.
#pragma once

#include "platform/http.h"
#include "platform/socket.h"

namespace zentrova::platform::limits {

// Pagora: connect 10 s, the request out within 4 s more, then 25 s without a
// byte of the reply (as long as the automation server waits), 39 s in all.
inline constexpr HttpTimeouts kCommandLineHttp = {
    .connectMs = 10000, .sendMs = 4000, .receiveMs = 25000, .attemptMs = 0};

// ZentrovaCOM: connect 2 s, send 4 s, then 25 s without a byte of the reply;
// the whole attempt is bounded by their sum. WinINet makes two connection
// attempts (the POSIX client has no such setting and tries every address once).
inline constexpr HttpTimeouts kAutomationHttp = {
    .connectMs = 2000, .sendMs = 4000, .receiveMs = 25000, .attemptMs = 0, .connectRetries = 2};

// SMTP, after the client time-outs RFC 5321 (4.5.3.2) recommends; connecting
// has none there, and a minute per address is ample for any mail server that is up.
inline constexpr Milliseconds kSmtpConnect{60'000};     // per address of the server's name
inline constexpr Milliseconds kSmtpGreeting{300'000};   // the 220 after connecting
inline constexpr Milliseconds kSmtpCommand{300'000};    // replies to HELO, MAIL, RCPT and QUIT
inline constexpr Milliseconds kSmtpDataStart{120'000};  // the 354 after DATA
inline constexpr Milliseconds kSmtpDataBlock{180'000};  // sending the header block, and the body
inline constexpr Milliseconds kSmtpDataEnd{600'000};    // the 250 after the end of data

}  // namespace zentrova::platform::limits
