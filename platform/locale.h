// The Windows locale identifier (LCID) of the locale the process runs in.
#pragma once

#include <optional>

namespace zentrova::platform {

// The current locale's identifier. The POSIX adapter reads the locale named by
// the environment (LC_ALL, then LC_CTYPE, then LANG), whether or not it is
// installed; "C", "POSIX" and an unset locale give 1033, English (United
// States).
unsigned long ThreadLocaleId();

// For tests: the identifier ThreadLocaleId gives while one is fixed, in place
// of the system's; std::nullopt gives the system's answer back.
void FixCurrentLocale(std::optional<unsigned long> id);

}  // namespace zentrova::platform
