// Reading the gateway's reply: a four-character decimal code, then a reason.
#pragma once

#include <string_view>

namespace zentrova::gateway {

// The decimal number the first four characters of reply start with: white
// space first is skipped, a sign is allowed and the digits end at the first
// other character; no digits give 0. Characters past the fourth never count.
int ReadReplyCode(std::string_view reply);

}  // namespace zentrova::gateway
