// The parts of self-registration that differ by OS: the type library's record
// and, on 64-bit Windows, the second registry view that 32-bit programs see.
#pragma once

#include <string>

#include "platform/com.h"

namespace zentrova::com {

// Whether programs of the other bitness have the class registered: 64-bit
// Windows keeps a class key for each. False where there is one view.
bool ClassRegisteredInOtherView();

// Whether the type library is registered for this module's platform.
bool TypeLibraryRegistered();

// Records the type library of the module file at path (UTF-8) and its dual
// interface.
HRESULT RegisterTypeLibrary(const std::string& path);

// Removes this platform's record of the type library. The library's key and
// its interface's keys, which the other bitness shares, go with the last
// platform that used them.
HRESULT UnregisterTypeLibrary();

}  // namespace zentrova::com
