// The locale query with the test hook in front of the system's answer.
#include "platform/locale.h"

#include <atomic>

#include "platform/portable/system_calls.h"

namespace zentrova::platform {
namespace {

// Zero: none fixed (no locale has identifier 0).
std::atomic<unsigned long> fixedLocale{0};

}  // namespace

void FixCurrentLocale(std::optional<unsigned long> id) { fixedLocale = id.value_or(0); }

unsigned long ThreadLocaleId() {
  if (unsigned long fixed = fixedLocale) return fixed;
  return system::CurrentLocaleId();
}

}  // namespace zentrova::platform
