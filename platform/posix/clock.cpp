#include "platform/clock.h"

namespace zentrova::platform {

bool UtcCalendarTime(std::time_t when, std::tm& out) {
  std::tm tm{};
  if (!gmtime_r(&when, &tm)) return false;
  out = tm;
  return true;
}

}  // namespace zentrova::platform
