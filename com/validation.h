// The two format tests that the properties and PagoraMessage share.
#pragma once

#include <string_view>

namespace zentrova::com {

// At least 7 characters, exactly one '@' neither first nor last, a '.' that is
// neither first nor last, and none of  " ' { } [ ] ; ( ) /  or the space.
bool IsValidEmailAddress(std::string_view text);

// 5 or 6 digits, or "CI" followed by 6 to 10 digits.
bool IsValidAccountId(std::string_view text);

}  // namespace zentrova::com
