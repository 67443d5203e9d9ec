// Embedding resources in an ELF file, the stand-in for Windows' resource
// section: each module compiles its resources in with ZV_EMBED_RESOURCE; the
// records land in one section of the file, which LoadModuleResource
// (platform/resource.h) reads back by type and number.
#pragma once

#define ZV_RESOURCE_STR2(x) #x
#define ZV_RESOURCE_STR(x) ZV_RESOURCE_STR2(x)

// The section that holds the records.
#define ZV_RESOURCE_SECTION "zv_resources"

// Record: "ZVRS", 32-bit number, 32-bit size, NUL-terminated type, padding to 4,
// the file's bytes, padding to 4. `type` and `file` are string literals.
#define ZV_EMBED_RESOURCE(type, number, file) \
  asm(".pushsection " ZV_RESOURCE_SECTION ",\"a\",%progbits\n"      \
      ".balign 4\n"                                                 \
      ".ascii \"ZVRS\"\n"                                           \
      ".long " ZV_RESOURCE_STR(number) "\n"                         \
      ".long 2f - 1f\n"                                             \
      ".asciz \"" type "\"\n"                                       \
      ".balign 4\n"                                                 \
      "1: .incbin \"" file "\"\n"                                   \
      "2: .balign 4\n"                                              \
      ".popsection\n")
