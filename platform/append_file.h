// A text file that lines are appended to, for diagnostics: the OS side of the
// delivery trace (platform/trace.h). Each line goes to the end of the file in
// one write, even when another process appends to the same file; on Windows
// that is CreateFileA with FILE_APPEND_DATA, here open(2) with O_APPEND.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zentrova::platform {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens path for appending, creating it (readable by the user alone) when it
  // does not exist. False, with the reason in error, when it cannot, and on
  // POSIX systems also when path is a symbolic link or not a regular file, or
  // the file belongs to another user than the caller or root, or users other
  // than its owner may write it.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return handle_ >= 0; }
  // Writes line whole at the end of the file; false, with the reason, when it
  // could not be written whole, and then (on POSIX systems) none of it is
  // left in the file. A file-size limit fails the write; it raises no signal.
  bool Append(std::string_view line, std::string& error);
  void Close();

 private:
  std::intptr_t handle_ = -1;  // the descriptor or HANDLE; -1 (INVALID_HANDLE_VALUE) when closed
};

// The id of the running process, as the system's tools show it.
unsigned long CurrentProcessId();

}  // namespace zentrova::platform
