// What the interface header that widl generates asks of the system's headers,
// where there is no Windows: the stand-in's types (platform/compat/com_types.h)
// and the declaration macros the header is written in, as Windows' headers
// define them. Only the targets that include a generated header see this folder.
#pragma once

#include "platform/compat/com_types.h"

#define interface struct
#define MIDL_INTERFACE(id) struct
#define DECLSPEC_UUID(id)
#define __RPC_USER

// As on Windows: each identifier is declared wherever the header is included,
// and defined in the one file that includes <initguid.h> first.
#ifndef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) extern "C" const GUID name
#endif
