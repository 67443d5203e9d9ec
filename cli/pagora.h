// The console program: start-up, configuration check, usage text, the sends
// and the exit status.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zentrova::cli {

// Exit statuses of the program's own (the others come from the last send).
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitSetupFailed = 1;
inline constexpr int kExitUsage = 2;  // also: "AccountId" is empty
inline constexpr int kExitNoEmail = 3;
inline constexpr int kExitNoPassword = 4;
// The list or one number does not fit, or a number holds a control character;
// nothing sent.
inline constexpr int kExitRecipientsRefused = 64;
// pagora.ini or a registry value cannot be used as it stands; nothing sent.
inline constexpr int kExitConfigurationRefused = 78;

// What fits: the recipient list's work buffer and one number's buffer, less the terminator.
inline constexpr std::size_t kMaxRecipientListBytes = 2047;
inline constexpr std::size_t kMaxNumberBytes = 127;

// text as one console line shows it: control bytes as \n, \r, \t or \xNN,
// and cut after limit bytes with "..." (enough for a person to recognise it).
std::string Shown(std::string_view text, std::size_t limit);

// The numbers of a comma-separated list; empty fields give none.
std::vector<std::string> SplitRecipients(std::string_view list);

// A send's result as the process's exit status: whole on Windows, whose exit
// codes hold 32 bits; elsewhere its low 8 bits, and 255 for a failure whose
// low 8 bits are 0 (a gateway code of 256, say), so that it still reads as a
// failure. One source per system (cli/posix, cli/win32).
int ExitStatus(int result);

// The command that sets a registry value on this system ("reg add", or zcom's
// on systems without a registry), and the help text's exit-status paragraph.
const char* RegistryCommand();
std::string ExitStatusHelp();

// "%d.%d.%d.%d" of the program's version into buffer; nothing when the buffer
// holds fewer than 19 bytes or the version cannot be read.
void FileVersionReader(char* buffer, std::size_t size);

struct Configuration;

// Sends message to each number with the account of config, printing a
// progress and a result line for each (and the count line when counted), then
// wipes the account and proxy values, here and in the transport. Returns the
// exit status.
int SendAndForget(Configuration& config, const std::vector<std::string>& numbers,
                  const std::string& message, bool counted);

int RunPagora(int argc, char** argv);

}  // namespace zentrova::cli
