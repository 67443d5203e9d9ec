// The library's embedded resources: the registration script and the
// interface definition, which is the library's type library.
#include "platform/posix/embed_resource.h"

ZV_EMBED_RESOURCE("REGISTRY", 102, ZV_REGISTRATION_SCRIPT);
ZV_EMBED_RESOURCE("TYPELIB", 1, ZV_INTERFACE_DEFINITION);
