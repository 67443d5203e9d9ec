// The INI reader and the reading of pagora.ini on arbitrary bytes. Besides not
// crashing: every key the text defines is found, either with a value free of
// NUL and line breaks or refused for its NUL, and when the whole text is UTF-8
// so is every value (they are cut from it at ASCII bytes).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "cli/config.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "tests/fuzz/require.h"

using zentrova::platform::Profile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Profile profile(bytes);
  const bool utf8 = zentrova::platform::IsUtf8(bytes);
  std::string value;
  // The first keys are enough: a lookup walks the list, and checking every key
  // of a long input would make each run quadratic.
  const auto& entries = profile.Entries();
  for (std::size_t i = 0; i < entries.size() && i < 64; ++i) {
    const auto& entry = entries[i];
    const Profile::Lookup found = profile.Find(entry.section, entry.key, value);
    Require(found != Profile::Lookup::kMissing);
    Require(found == Profile::Lookup::kHoldsNul
                ? value.empty()
                : value.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos &&
                      (!utf8 || zentrova::platform::IsUtf8(value)));
  }

  zentrova::cli::Configuration config;
  zentrova::cli::ConfigurationReport report;
  zentrova::cli::ParseConfiguration(bytes, "pagora.ini", config, report);
  for (const char* text : {config.accountId, config.password, config.email})
    Require(strnlen(text, sizeof config.accountId) < sizeof config.accountId);
  return 0;
}
