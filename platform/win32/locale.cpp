// Windows knows its locale identifiers itself.
#include "platform/locale.h"

#include <windows.h>

#include <atomic>

namespace zentrova::platform {
namespace {

std::atomic<unsigned long> fixedLocale{0};  // 0: none fixed

}  // namespace

void FixCurrentLocale(std::optional<unsigned long> id) { fixedLocale = id.value_or(0); }

unsigned long ThreadLocaleId() {
  unsigned long fixed = fixedLocale;
  return fixed ? fixed : GetThreadLocale();
}

}  // namespace zentrova::platform
