// This assumes the x86-64 System V calling convention: the object pointer and
// every argument go in integer registers (rdi, rsi, rdx, rcx, r8, r9), and a
// 32- or 16-bit integer parameter is read from the low bits of its register.
// Every parameter type the reader accepts (pointers, 32- and 16-bit integers)
// is passed that way, so a member is called as a function of the object
// pointer and up to five machine words, whatever its declared parameter types.
// Another target needs its own version of this file.
#include "platform/compat/vtable_call.h"

#if !defined(__x86_64__) || defined(_WIN32)
#error "CallSlot assumes the x86-64 System V calling convention"
#endif

namespace zentrova::platform::typelib {

HRESULT CallSlot(void* instance, unsigned slot, const uintptr_t* a, size_t n) {
  using Fn = void (*)();
  Fn fn = (*reinterpret_cast<Fn**>(instance))[slot];
  switch (n) {
    case 0:
      return reinterpret_cast<HRESULT (*)(void*)>(fn)(instance);
    case 1:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t)>(fn)(instance, a[0]);
    case 2:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t)>(fn)(instance, a[0], a[1]);
    case 3:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t, uintptr_t)>(fn)(
          instance, a[0], a[1], a[2]);
    case 4:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t, uintptr_t, uintptr_t)>(fn)(
          instance, a[0], a[1], a[2], a[3]);
    case 5:
      return reinterpret_cast<HRESULT (*)(void*, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                          uintptr_t)>(fn)(instance, a[0], a[1], a[2], a[3], a[4]);
    default:
      return DISP_E_BADPARAMCOUNT;
  }
}

}  // namespace zentrova::platform::typelib
