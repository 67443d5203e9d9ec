// The console program's request document: plain sections, the message escaped
// with letters, digits and "*-_" as themselves, "+" for a blank and "%XX" for
// every other byte.
#include "sandbox.h"

namespace zentrova::sandbox {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Anything malformed is kept as it came, so the log shows what was sent.
std::string UnescapeMessage(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

bool DecodeApiexe(const std::string& body, nlohmann::json& fields, std::string& summary) {
  auto sections = ParseSections(body);
  bool isApiexe = false;
  for (const auto& [name, keys] : sections)
    for (const auto& [key, value] : keys)
      if (name == "SENDER" && key == "Product" && value == "APIEXE") isApiexe = true;
  if (!isApiexe) return false;

  std::string number, message;
  for (const auto& [name, keys] : sections) {
    nlohmann::json& section = fields[Latin1ToUtf8(name)];
    section = nlohmann::json::object();
    for (const auto& [key, value] : keys) {
      std::string text = key == "Message" ? UnescapeMessage(value) : value;
      section[Latin1ToUtf8(key)] = Latin1ToUtf8(text);
      if (key == "Number") number = value;
      if (key == "Message") message = text;
    }
  }
  summary = "APIEXE to " + Latin1ToUtf8(number) + ": \"" + Latin1ToUtf8(message) + "\"";
  return true;
}

}  // namespace zentrova::sandbox
