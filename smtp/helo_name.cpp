#include "smtp/helo_name.h"

namespace zentrova::smtp {
namespace {

bool IsLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

bool IsFullyQualifiedDomain(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  int labels = 0;
  bool lastAllDigits = false;
  while (true) {
    const std::size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    if (label.empty() || label.size() > 63) return false;
    if (!IsLetterOrDigit(label.front()) || !IsLetterOrDigit(label.back())) return false;
    lastAllDigits = true;
    for (char c : label) {
      if (!IsLetterOrDigit(c) && c != '-') return false;
      if (c < '0' || c > '9') lastAllDigits = false;
    }
    ++labels;
    if (dot == std::string_view::npos) break;
    name.remove_prefix(dot + 1);
  }
  return labels >= 2 && !lastAllDigits;
}

std::string AddressLiteral(std::string_view address, bool ipv6) {
  return (ipv6 ? "[IPv6:" : "[") + std::string(address) + "]";
}

std::string ChooseHeloName(std::string_view hostName, std::string_view canonicalName,
                           std::string_view literal) {
  if (IsFullyQualifiedDomain(hostName)) return std::string(hostName);
  if (IsFullyQualifiedDomain(canonicalName)) return std::string(canonicalName);
  return std::string(literal);
}

}  // namespace zentrova::smtp
