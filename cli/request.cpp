#include "cli/request.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "gateway/commandline/transport.h"
#include "platform/wipe.h"

namespace zentrova::cli {

std::string EscapeMessageText(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
        c == '-' || c == '_') {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else if (c == '\n') {
      out += "%0A";
    } else if (c == '\r') {
      // CR LF and a lone LF both end up as one "%0A".
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string ComposeRequestDocument(std::string_view email, std::string_view accountId,
                                   std::string_view password, std::string_view escapedMessage,
                                   std::string_view number) {
  std::string doc;
  doc.reserve(96 + email.size() + accountId.size() + password.size() + escapedMessage.size() +
              number.size());
  doc.append("[FROM]\nEmail=").append(email);
  doc.append("\n\n[SENDER]\nID=").append(accountId);
  doc.append("\nPW=").append(password);
  doc.append("\nProduct=APIEXE\n\n");
  doc.append("\n[1]\nMessage=").append(escapedMessage);
  doc.append("\nNumber=").append(number).append("\n");
  return doc;
}

int SendCommandLineRequest(const Account& account, const char* number, const char* message,
                           std::string& resultText, gateway::GatewayServerNames* servers) {
  const auto& [accountId, email, password] = account;
  if (!accountId || !email || !password || !number || !message) return kMissingInput;
  if (std::strlen(message) > kMaxMessageBytes) return kMessageTooLong;
  if (std::any_of(number, number + std::strlen(number), IsControlByte) ||
      std::strpbrk(accountId, "\r\n") || std::strpbrk(email, "\r\n") ||
      std::strpbrk(password, "\r\n"))
    return kUnsafeValue;
  // The document carries the password in plain text: wiped once it is sent.
  std::string document;
  platform::WipeOnExit wipeDocument(document);
  try {
    document =
        ComposeRequestDocument(email, accountId, password, EscapeMessageText(message), number);
  } catch (const std::bad_alloc&) {
    return kMissingInput;
  }
  // Re-read before every send, so a changed registry value counts at once.
  auto names = gateway::ReadGatewayServers(gateway::GatewayServers::kPrimary, resultText);
  if (!names) return gateway::kSettingUnusable;
  if (servers) *servers = *names;
  return gateway::SendHttpRequest(names->primary, 0, document, resultText);
}

}  // namespace zentrova::cli
