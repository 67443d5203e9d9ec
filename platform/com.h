// COM and OLE Automation, as far as the automation server and its clients use
// them. This header is the one place that chooses: on Windows the system's
// headers declare them; elsewhere the kit's stand-in runtime (platform/compat/)
// does, with Windows' values and binary layout.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max stay usable
#endif
#include <windows.h>
// windows.h first: these two rely on its types.
#include <objbase.h>
#include <oleauto.h>
#else
#include "platform/compat/com_types.h"
#endif
