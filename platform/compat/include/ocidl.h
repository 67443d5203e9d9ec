// The generated interface header includes this beside oaidl.h; the stand-in
// declares what both would.
#pragma once

#include "oaidl.h"
