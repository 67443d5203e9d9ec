// The name HELO carries. Strict mail servers refuse a bare host name ("vm")
// or one with "_", so the session sends the host name only when it is a fully
// qualified domain name, else the canonical name the resolver gives for it,
// else an address literal of this end of the connection (RFC 5321, 4.1.3).
#pragma once

#include <string>
#include <string_view>

namespace zentrova::smtp {

// True for a domain name as RFC 5321 (4.1.2) writes one, with at least two
// labels: letters, digits and inner "-" in labels of 1 to 63 characters, 253 in
// all, no trailing "."; a last label of digits alone (an address) does not count.
bool IsFullyQualifiedDomain(std::string_view name);

// "[192.0.2.7]" or "[IPv6:2001:db8::7]" for a numeric address.
std::string AddressLiteral(std::string_view address, bool ipv6);

// The first of hostName and canonicalName that is fully qualified, else the
// literal (which the caller makes from its own address).
std::string ChooseHeloName(std::string_view hostName, std::string_view canonicalName,
                           std::string_view literal);

}  // namespace zentrova::smtp
