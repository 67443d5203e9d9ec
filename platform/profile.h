// Private-profile (INI) text, read the way Windows reads it: section and key
// names are case-insensitive, blanks around names and values are trimmed, a
// value in matching quotes loses them, and lines starting with ';' are comments.
// A line ends at CR, LF or CR LF, so no value can hold a line break. The text is
// parsed from bytes in memory; LoadProfileFile reads a file with one opening.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrova::platform {

class Profile {
 public:
  struct Entry {
    std::string section, key, value;
  };
  enum class Lookup {
    kMissing,
    kFound,
    // The value holds a NUL byte. Windows' reader would end it there and
    // hand out the front part as the whole, so it is refused instead.
    kHoldsNul,
  };

  explicit Profile(std::string_view bytes);
  ~Profile();  // the values, passwords among them, are wiped

  // The value of key from the first line, in file order, that defines it in a
  // section called section; value is empty unless the result is kFound.
  Lookup Find(std::string_view section, std::string_view key, std::string& value) const;

  // Every key line in file order, values as they stand (NUL bytes included).
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

// A value read as an integer the way Windows reads one: optional blanks and
// sign, an optional "0x", "0o" or "0b" for base 16, 8 or 2, then the leading
// digits ("12abc" is 12, "abc" is 0). Beyond the range of int it is clamped,
// where Windows would wrap around.
int ProfileInt(std::string_view value);

struct ProfileFile {
  std::string bytes;
  bool othersCanRead = false;  // someone besides its owner (its group, every user) may read it
};
enum class ProfileLoad { kRead, kMissing, kFailed };

// Reads the regular file at path whole. kMissing when nothing (or no regular
// file) is there; kFailed with the reason in error when it exists but cannot
// be read, or when it is too large to be a profile.
ProfileLoad LoadProfileFile(const std::string& path, ProfileFile& file, std::string& error);

}  // namespace zentrova::platform
