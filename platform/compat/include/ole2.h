// The generated interface header includes windows.h and ole2.h before its
// declarations; on Linux they bring the stand-in and the header's macros, and
// nothing else of Windows.
#pragma once

#include "oaidl.h"
