// Calling a member of an interface by its vtable slot, the one step of
// IDispatch::Invoke that depends on the machine's calling convention.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com.h"

namespace zentrova::platform::typelib {

// Calls slot `slot` of instance's vtable with instance and the n machine words
// in a (at most five); DISP_E_BADPARAMCOUNT for more.
HRESULT CallSlot(void* instance, unsigned slot, const uintptr_t* a, size_t n);

}  // namespace zentrova::platform::typelib
