// Where a program's settings file is looked for, and where the program itself
// lives: both are the system's convention, not the program's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zentrova::platform {

// The folder holding the running program's executable file; "." when it
// cannot be told.
std::string ProgramFolder();

// The places, in the order they are tried, where the settings file called
// name (lower case, "pagora.ini") of application ("pagora") is looked for. The
// program's folder comes first everywhere. On Windows it is the only place,
// and the name matches whatever its case. Elsewhere the folder is tried for
// the name and for it with a capital initial (as Windows would find it), then
// the user's configuration folder ($XDG_CONFIG_HOME, by default ~/.config)
// and the system's (/etc), each in a folder named after the application.
std::vector<std::string> ConfigFilePlaces(const std::string& programFolder,
                                          std::string_view application, std::string_view name);

}  // namespace zentrova::platform
