// What the platform contract tests share. They are built in both trees from
// the same sources; where an OS's own behaviour differs, or a set-up only an
// OS can make, posix/os.cpp or win32/os.cpp answers (the build picks one).
#pragma once

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include "platform/registry.h"

namespace zentrova::testing {

// A folder of the case's own under the system's temporary folder, removed with it.
struct ScratchDir {
  ScratchDir() { std::filesystem::create_directories(path_); }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  const std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                      ("zv-platform-" + std::to_string(std::random_device{}()));
};

// A string value as the registry holds it, or "<none>".
inline std::string RegistryText(platform::RegistryRoot root, const std::string& key,
                                const char* value) {
  platform::RegistryKey k;
  long rc = k.Open(root, key).code;
  char buf[512];
  unsigned long size = sizeof buf;
  if (rc == platform::kErrorSuccess) rc = k.QueryValue(value, buf, &size);
  return rc == platform::kErrorSuccess ? std::string(buf, size ? size - 1 : 0) : "<none>";
}

namespace os {

// What AnsiToUtf16 makes of 0x81, a byte Windows-1252 leaves undefined.
extern const char16_t kUndefinedAnsiByte[];
// Lets users other than the owner read the file; whether the OS has that notion.
bool LetOthersRead(const std::filesystem::path& file);
// How LoadProfileFile's error for a 2 MiB pagora.ini begins.
extern const char kTooLargeProfile[];
// The OS's own reader of a profile integer, where it has one, reading text as K in [S].
std::optional<int> SystemProfileInt(const std::string& text, const std::filesystem::path& dir);
// Points the registry at a scratch one under dir (Linux), or clears the test's
// keys under HKCU\Software\ZentrovaTest of the real one (Windows); EndRegistry
// undoes it.
void BeginRegistry(const std::filesystem::path& dir);
void EndRegistry();

}  // namespace os
}  // namespace zentrova::testing
