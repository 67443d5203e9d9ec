// Private-profile (INI) files, read the way Windows reads them: section and key
// names are case-insensitive, blanks around names and values are trimmed, a value
// is cut to the buffer size less one, and a missing file, section or key gives
// the caller's default. Nothing is cached: every call reads the file as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zentrova::platform {

// Copies the value (or defaultValue) into buffer, cut to size - 1 bytes and
// NUL-terminated; returns the number of bytes copied, without the terminator.
std::size_t ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, std::size_t size,
                              const std::string& path);

// The value read as an integer: optional blanks and sign, then the leading
// digits ("12abc" is 12, "abc" is 0). A missing key gives defaultValue.
int ReadProfileInt(std::string_view section, std::string_view key, int defaultValue,
                   const std::string& path);

}  // namespace zentrova::platform
