// Locale names as POSIX systems write them, mapped to Windows locale
// identifiers: how the POSIX adapter answers ThreadLocaleId.
#pragma once

#include <span>
#include <string_view>

namespace zentrova::platform {

// The identifier for one locale name such as "de_DE.UTF-8", "sr_RS@latin" or
// "pt-BR". A language the table knows in another country gives that
// language's main locale; an unknown language gives 1033.
unsigned long LocaleIdForName(std::string_view name);

struct LocaleName {
  const char* name;  // language_COUNTRY, with @modifier where it decides
  unsigned long id;
};

// The table itself, for tests that hold it against another source.
std::span<const LocaleName> LocaleNames();

}  // namespace zentrova::platform
