// Windows knows its locale identifiers itself.
#include <windows.h>

#include "platform/portable/system_calls.h"

namespace zentrova::platform::system {

unsigned long CurrentLocaleId() { return GetThreadLocale(); }

}  // namespace zentrova::platform::system
