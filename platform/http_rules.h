// The rules every HTTP adapter applies before it hands a name to its library:
// what a server name may hold, how ":PORT" replaces the port, and how the
// proxy becomes the one URL the request goes through. They live apart from
// any adapter so that each one refuses the same names with the same words.
#pragma once

#include <string>
#include <string_view>

#include "platform/http.h"

namespace zentrova::platform {

// Fills error with code and message (cut to the 511 characters HttpError
// promises) and returns false, for `return Fail(...)` in an adapter.
bool Fail(HttpError& error, unsigned long code, std::string message);

// The text with every byte outside printable ASCII shown as "\xNN", for names
// quoted inside messages.
std::string Printable(std::string_view text);

// A server name taken literally: a host name (letters, digits, '-', '.', '_'),
// an IPv4 address or a bracketed IPv6 address, with an optional ":PORT" (1 to
// 65535) that replaces port. urlHost is the host as it goes into a URL (IPv6
// keeps its brackets). Any other character (a blank, "/", "@", "?", "#", a
// control character...) fails with kInternetErrorInvalidUrl and a message that
// says what to fix, so a name can never redirect a request.
bool ParseServerName(std::string_view server, std::string& urlHost, int& port, HttpError& error);

// The proxy as "http://HOST:PORT": its host by the rules of a server name but
// without a port of its own, and its port from 1 to 65535. Anything else
// fails with kInternetErrorInvalidUrl, so a proxy setting cannot smuggle
// credentials or a path into the URL. (A WinINet proxy list is "http=" and
// this URL.)
bool ProxyUrl(const HttpProxy& proxy, std::string& url, HttpError& error);

}  // namespace zentrova::platform
