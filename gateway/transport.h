// The results of posting a request document to a gateway web server, common
// to both builds of the transport. The functions of each build are declared
// in its own header (gateway/commandline/transport.h,
// gateway/automation/transport.h), so that calling the other build's variant
// fails at the include.
#pragma once

namespace zentrova::gateway {

// The gateway accepted the request.
inline constexpr int kAccepted = 0;
// A retryable failure: the proxy asked for authentication, an operation of the
// HTTP client failed, or (automation server) no internet session.
inline constexpr int kRetryableFailure = -2;
// The gateway's own reply code for "busy"; the result text then says so.
inline constexpr int kServerNotResponding = 99;
// The attempt ended without a usable reply.
inline constexpr int kNoUsableReplyCommandLine = 10;
inline constexpr int kNoUsableReplyAutomation = 2100;
// Command-line build: the internet session cannot be created.
inline constexpr int kNoInternetSession = 3000;

}  // namespace zentrova::gateway
