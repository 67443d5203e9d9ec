// The class, interface and library identifiers of ZentrovaCOM.idl, defined
// once here; the generated header only declares them.
#include "platform/com.h"
// platform/com.h first: on Windows it includes windows.h the kit's way.
#include <initguid.h>

#include "com/ZentrovaCOM_i.h"
