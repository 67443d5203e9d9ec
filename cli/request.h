// The request document of the console program (the APIEXE dialect) and the one
// call that sends it for one recipient.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "gateway/endpoints.h"

namespace zentrova::cli {

// The longest message text, in bytes of the ANSI code page, before escaping.
inline constexpr std::size_t kMaxMessageBytes = 765;

// SendCommandLineRequest's own refusals (nothing is sent, the result text is untouched).
using gateway::kMessageTooLong;
using gateway::kMissingInput;
using gateway::kUnsafeValue;

// A byte below 0x20, or 0x7F.
inline bool IsControlByte(char c) {
  return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F;
}

// Letters, digits, '*', '-' and '_' stay; a blank becomes '+', LF "%0A", CR is
// dropped and every other byte becomes "%XX" in upper-case hexadecimal.
std::string EscapeMessageText(std::string_view text);

std::string ComposeRequestDocument(std::string_view email, std::string_view accountId,
                                   std::string_view password, std::string_view escapedMessage,
                                   std::string_view number);

// The account a request is sent for; a null text is a missing input.
struct Account {
  const char* accountId;
  const char* email;
  const char* password;
};

// Composes the document for one number and posts it to the primary gateway
// server (type 0). Returns 0 when the gateway accepted it, kMissingInput,
// kMessageTooLong, kUnsafeValue, gateway::kSettingUnusable (resultText names
// the registry value), or the transport's result; resultText then holds the
// gateway's reply or the transport's error text. servers, when given, gets the
// names the send was made with and where the primary came from.
int SendCommandLineRequest(const Account& account, const char* number, const char* message,
                           std::string& resultText, gateway::GatewayServerNames* servers = nullptr);

}  // namespace zentrova::cli
