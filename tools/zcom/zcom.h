// The subcommands of zcom. Each takes the arguments after its own name and
// returns the exit status.
#pragma once

namespace zentrova::zcom {

// Exit statuses shared by all subcommands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;  // the key, value or object does not exist
inline constexpr int kExitUsage = 64;    // the command line is wrong
inline constexpr int kExitCannotWrite = 74;

int RegCommand(int argc, char** argv);
int RegsvrCommand(int argc, char** argv);
int CallCommand(int argc, char** argv);

}  // namespace zentrova::zcom
