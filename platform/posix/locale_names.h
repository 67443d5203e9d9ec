// Locale names as POSIX systems write them, mapped to Windows locale
// identifiers: how the POSIX adapter answers ThreadLocaleId.
#pragma once

#include <string_view>

namespace zentrova::platform {

// The identifier for one locale name such as "de_DE.UTF-8", "sr_RS@latin" or
// "pt-BR". A language the table knows in another country gives that
// language's main locale; an unknown language gives 1033.
unsigned long LocaleIdForName(std::string_view name);

}  // namespace zentrova::platform
