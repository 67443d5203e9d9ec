// What the stand-in runtime offers beyond Windows' own API: GUID texts for its
// registry entries, the type-library loader's text entry point, and the reason
// of a failed activation. Only the stand-in, its tools and their tests use these.
#pragma once

#include <string>
#include <string_view>

#include "platform/com.h"

namespace zentrova::platform {

// "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}": upper-case hex in braces.
std::string GuidToString(const GUID& guid);
bool ParseGuid(std::string_view text, GUID& guid);  // with or without the braces

// Builds a type library from interface-definition text (the form in which a
// module embeds it as resource "TYPELIB" 1). On a syntax error or a construct
// this loader does not know, TYPE_E_CANTLOADLIBRARY with the reason in *error.
HRESULT LoadTypeLibFromText(std::string_view idl, ITypeLib** lib, std::string* error = nullptr);

// Why the last activation call of this thread failed, in words (for example the
// loader's message), or empty.
std::string ActivationErrorText();

}  // namespace zentrova::platform
