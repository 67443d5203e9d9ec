// Calendar time without the C library's shared, unguarded result buffer.
#pragma once

#include <ctime>

namespace zentrova::platform {

// when as a UTC calendar date and time of day; false (and out untouched) when
// the system cannot represent it.
bool UtcCalendarTime(std::time_t when, std::tm& out);

}  // namespace zentrova::platform
