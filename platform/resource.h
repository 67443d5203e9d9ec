// Resources a module carries in its file: texts (its registration script, its
// type library) that can be read without loading the module. On Windows these
// are the file's resource section; elsewhere the records that
// platform/posix/embed_resource.h puts into the library.
#pragma once

#include <string>
#include <string_view>

namespace zentrova::platform {

// Reads resource `type` number `number` from the shared library or program at
// `path` (UTF-8). False with the reason in *error when the file cannot be read
// or holds no such resource.
bool LoadModuleResource(const std::string& path, std::string_view type, unsigned number,
                        std::string& data, std::string* error = nullptr);

// The full path (UTF-8) of the loaded module (shared library or program) that
// holds `address`; empty when it cannot be told.
std::string ModulePathOf(const void* address);

}  // namespace zentrova::platform
