// Every result a send ends with, in one table: its name, number and meaning,
// the exit status Pagora gives it on each system, and its text where the
// result has a fixed one. The transport, the console program, its help text
// and the tests all read the numbers from here. A result that is none of
// these is the gateway's own reply code.
#pragma once

#include <optional>

namespace zentrova::gateway {

// Unscoped, so that a result reads as the int it travels as: the gateway's
// own reply codes come back in the same int.
enum Result : int {
  // The gateway accepted the request.
  kAccepted = 0,
  // A retryable failure: the proxy asked for authentication, an operation of
  // the HTTP client failed, or (automation server) no internet session.
  kRetryableFailure = -2,
  // The gateway's own reply code for "busy"; the result text then says so.
  kServerNotResponding = 99,
  // The attempt ended without a usable reply.
  kNoUsableReplyCommandLine = 10,
  kNoUsableReplyAutomation = 2100,
  // Command-line build: the internet session cannot be created.
  kNoInternetSession = 3000,
  // The gateway settings cannot be used: a registry value too long for its
  // buffer, or a settings hive the registry refuses to read. Nothing is sent,
  // and the result text names the value and its limit, or the hive and the fix.
  kSettingUnusable = -3,
  // The console program's refusals before anything is sent (the result text is
  // left as it was): an input missing, a message over its limit, and a number
  // holding a control character or another value holding a line break, either
  // of which would add lines of its own making to the request.
  kMissingInput = -1,
  kMessageTooLong = -10,
  kUnsafeValue = -11,
};

struct ResultInfo {
  const char* name;
  const char* meaning;
  int posixExit;     // Pagora's exit status on Linux, which holds 8 bits
  int windowsExit;   // Pagora's exit code on Windows (%ERRORLEVEL%)
  const char* text;  // the fixed result text, or null where it names more (an error, a reply)
};

// The row of a number that is one of the results above; none for another
// number, which is the gateway's reply code. A switch with no default, so
// that a result added above without a row is a compiler warning (an error in
// CI).
std::optional<ResultInfo> Known(int number);

// The row of a result.
inline ResultInfo Describe(Result result) { return *Known(result); }

}  // namespace zentrova::gateway
