// Included before a generated header, it turns the identifiers that header
// declares into their definitions, as Windows' <initguid.h> does.
#pragma once

#include "oaidl.h"

#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  extern "C" const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
