#include "platform/clock.h"

namespace zentrova::platform {

bool UtcCalendarTime(std::time_t when, std::tm& out) {
  std::tm result{};
  if (gmtime_s(&result, &when) != 0) return false;
  out = result;
  return true;
}

}  // namespace zentrova::platform
