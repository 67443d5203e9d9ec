// Facts about the running program and its process.
#pragma once

#include <string>

namespace zentrova::platform {

// The full path of the program's own executable file; false when it cannot be told.
bool ExecutablePath(std::string& path);

// Makes directory the process's current directory; false (with errno's text in
// *message when given) when it cannot.
bool ChangeCurrentDirectory(const std::string& directory, std::string* message = nullptr);

// When the environment variable name holds a relative path, makes it absolute
// against the current directory, so that it names the same place after the
// process changes directory. False when it cannot.
bool AnchorEnvironmentPath(const char* name);

// The product version the program was built with, four 16-bit parts
// (major, minor, patch, build): what Windows keeps in a file's version resource.
struct FileVersion {
  unsigned short part[4] = {};
};
bool ReadFileVersion(FileVersion& version);

// The process-wide set-up a console program makes before anything else: no
// core dumps (where the system makes them: the program holds a password), the
// user's locale, a usable ANSI code page and the HTTP library's global state.
// main makes one and keeps it to the end; when ok() is false the program cannot
// run and message() says why.
class ProcessSetup {
 public:
  ProcessSetup();
  ~ProcessSetup();
  ProcessSetup(const ProcessSetup&) = delete;
  ProcessSetup& operator=(const ProcessSetup&) = delete;
  bool ok() const { return ok_; }
  const std::string& message() const { return message_; }

 private:
  bool ok_ = false;
  bool httpReady_ = false;
  std::string message_;
};

}  // namespace zentrova::platform
