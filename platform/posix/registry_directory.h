// Where the file-backed registry keeps its hive files: $ZENTROVA_REGISTRY, by
// default $XDG_CONFIG_HOME/zentrova/registry (~/.config/zentrova/registry).
// The real registry has no such place, so only this adapter and the tools and
// tests written for it ask.
#pragma once

#include <string>

namespace zentrova::platform {

std::string RegistryDirectory();

}  // namespace zentrova::platform
