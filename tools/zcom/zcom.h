// The subcommands of zcom. Each takes the arguments after its own name and
// returns the exit status.
#pragma once

#include "platform/ascii.h"

namespace zentrova::zcom {

// Exit statuses shared by all subcommands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;  // the key, value or object does not exist
inline constexpr int kExitUsage = 64;    // the command line is wrong
inline constexpr int kExitCannotWrite = 74;

// A switch as Windows tools take it: "/name" or "-name", in any case.
inline bool IsSwitch(const char* arg, const char* name) {
  return (arg[0] == '/' || arg[0] == '-') && platform::SameName(arg + 1, name);
}

int RegCommand(int argc, char** argv);
int RegsvrCommand(int argc, char** argv);
int CallCommand(int argc, char** argv);

}  // namespace zentrova::zcom
