// Resources embedded in a shared library, the stand-in for Windows' resource
// section: a library carries texts (its registration script, its type library)
// that can be read from the file without loading it. Each module compiles its
// resources in with ZV_EMBED_RESOURCE; the records land in one section of the
// file, which LoadModuleResource reads back by type and number.
#pragma once

#include <string>
#include <string_view>

#define ZV_RESOURCE_STR2(x) #x
#define ZV_RESOURCE_STR(x) ZV_RESOURCE_STR2(x)

// Record: "ZVRS", 32-bit number, 32-bit size, NUL-terminated type, padding to 4,
// the file's bytes, padding to 4. `type` and `file` are string literals.
#define ZV_EMBED_RESOURCE(type, number, file) \
  asm(".pushsection zv_resources,\"a\",%progbits\n"                 \
      ".balign 4\n"                                                 \
      ".ascii \"ZVRS\"\n"                                           \
      ".long " ZV_RESOURCE_STR(number) "\n"                         \
      ".long 2f - 1f\n"                                             \
      ".asciz \"" type "\"\n"                                       \
      ".balign 4\n"                                                 \
      "1: .incbin \"" file "\"\n"                                   \
      "2: .balign 4\n"                                              \
      ".popsection\n")

namespace zentrova::platform {

// Reads resource `type` number `number` from the shared library or program at
// `path`. False with the reason in *error when the file cannot be read or holds
// no such resource.
bool LoadModuleResource(const std::string& path, std::string_view type, unsigned number,
                        std::string& data, std::string* error = nullptr);

// The full path of the loaded module (shared library or program) that holds
// `address`; empty when it cannot be told.
std::string ModulePathOf(const void* address);

}  // namespace zentrova::platform
