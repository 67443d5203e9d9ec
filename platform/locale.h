// The Windows locale identifier (LCID) of the locale the process runs in.
#pragma once

#include <string_view>

namespace zentrova::platform {

// The identifier of the locale named by the environment (LC_ALL, then
// LC_CTYPE, then LANG), whether or not that locale is installed. "C", "POSIX"
// and an unset locale give 1033, English (United States).
unsigned long ThreadLocaleId();

// The identifier for one locale name such as "de_DE.UTF-8", "sr_RS@latin" or
// "pt-BR". A language the table knows in another country gives that
// language's main locale; an unknown language gives 1033.
unsigned long LocaleIdForName(std::string_view name);

}  // namespace zentrova::platform
