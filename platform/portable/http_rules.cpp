#include "platform/http_rules.h"

#include <cstdio>
#include <string>

namespace zentrova::platform {

namespace {

constexpr std::size_t kMessageLimit = 511;
constexpr const char* kPortRange = "the port must be a number from 1 to 65535";

bool IsHostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsV6Char(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

// The bracketed IPv6 form: "[v6]" or "[v6]:PORT".
bool SplitV6(std::string_view server, std::string& urlHost, std::string_view& portText,
             std::string& problem) {
  std::size_t close = server.find(']');
  if (close == std::string_view::npos) {
    problem = "an IPv6 address lacks its closing ']'";
    return false;
  }
  std::string_view host = server.substr(1, close - 1);
  for (char c : host)
    if (!IsV6Char(c)) {
      problem = "only hexadecimal digits, ':' and '.' may stand between '[' and ']'";
      return false;
    }
  if (host.empty()) {
    problem = "the brackets are empty";
    return false;
  }
  std::string_view rest = server.substr(close + 1);
  if (!rest.empty()) {
    if (rest.front() != ':') {
      problem = "only \":PORT\" may follow ']'";
      return false;
    }
    portText = rest.substr(1);
    if (portText.empty()) {
      problem = "the port after ':' is missing";
      return false;
    }
  }
  urlHost = "[" + std::string(host) + "]";
  return true;
}

// A host name or IPv4 address, with an optional ":PORT".
bool SplitName(std::string_view server, std::string& urlHost, std::string_view& portText,
               std::string& problem) {
  std::string_view host = server;
  std::size_t colon = server.find(':');
  if (colon != std::string_view::npos) {
    host = server.substr(0, colon);
    portText = server.substr(colon + 1);
    if (portText.empty()) {
      problem = "the port after ':' is missing";
      return false;
    }
  }
  if (host.empty()) {
    problem = "the host name is empty";
    return false;
  }
  for (char c : host)
    if (!IsHostNameChar(c)) {
      problem = c == ' ' ? std::string("a host name holds no blank")
                         : "a host name holds no '" + Printable(std::string_view(&c, 1)) + "'";
      return false;
    }
  urlHost = std::string(host);
  return true;
}

// Splits a server name into its URL host and the text of its port ("" when it
// names none); problem says what is wrong with a name that breaks the rules.
bool SplitServerName(std::string_view server, std::string& urlHost, std::string_view& portText,
                     std::string& problem) {
  portText = {};
  if (!server.empty() && server.front() == '[') return SplitV6(server, urlHost, portText, problem);
  return SplitName(server, urlHost, portText, problem);
}

bool ReadPort(std::string_view text, int& port) {
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > 65535) return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

}  // namespace

bool Fail(HttpError& error, unsigned long code, std::string message) {
  error.code = code;
  if (message.size() > kMessageLimit) message.resize(kMessageLimit);
  error.message = std::move(message);
  return false;
}

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool ParseServerName(std::string_view server, std::string& urlHost, int& port, HttpError& error) {
  std::string problem;
  std::string_view portText;
  bool ok = SplitServerName(server, urlHost, portText, problem);
  if (ok && !portText.empty() && !ReadPort(portText, port)) {
    problem = kPortRange;
    ok = false;
  }
  if (ok) return true;
  return Fail(error, kInternetErrorInvalidUrl,
              "invalid server name \"" + Printable(server) + "\": " + problem +
                  " (give a host name or address, optionally with :PORT)");
}

bool ProxyUrl(const HttpProxy& proxy, std::string& url, HttpError& error) {
  url = "http://" + proxy.host + ":" + std::to_string(proxy.port);
  std::string urlHost;
  std::string_view portText;
  std::string problem;
  bool ok = SplitServerName(proxy.host, urlHost, portText, problem);
  if (ok && !portText.empty()) {
    problem = "the proxy's host name holds no port; the port is a setting of its own";
    ok = false;
  }
  if (ok && (proxy.port < 1 || proxy.port > 65535)) {
    problem = kPortRange;
    ok = false;
  }
  if (ok) return true;
  return Fail(error, kInternetErrorInvalidUrl,
              "invalid proxy \"" + Printable(url) + "\": " + problem);
}

}  // namespace zentrova::platform
