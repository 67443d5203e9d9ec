// The registry: what the kit reads (gateway overrides under the current user) and
// what the automation server writes when it registers itself (classes root).
//
// On Windows this is the real registry. Elsewhere it is a file-backed stand-in:
// one REGEDIT4 text file per root in one directory (platform/posix/
// registry_directory.h), so an administrator can read and edit it. Key paths are backslash-separated and case-insensitive; value names are
// case-insensitive and the empty name is the key's default value.
//
// The classes root names the libraries that activation loads, so the stand-in
// trusts its directory and hive files only when they belong to the current user
// (or root) and nobody else may write them; otherwise every read and write is
// refused with kErrorAccessDenied and a message that names the path and the fix.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace zentrova::platform {

// Win32 error numbers, so callers compare results the same way everywhere.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;  // no such key or value
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;  // value larger than the caller's buffer
// The hive cannot be used: not a regular file, too large, beyond a bound on key
// names or depth, or unreadable.
inline constexpr long kErrorBadDatabase = 1009;

// The local machine's root holds settings that reach every account, services
// included; on Windows each bitness reads its own view of it.
enum class RegistryRoot { kCurrentUser, kClassesRoot, kLocalMachine };

// "HKEY_CURRENT_USER" / "HKCU", "HKEY_CLASSES_ROOT" / "HKCR" and
// "HKEY_LOCAL_MACHINE" / "HKLM" (any case).
bool ParseRegistryRoot(std::string_view name, RegistryRoot& root);
const char* RegistryRootName(RegistryRoot root);  // the long form

// How an Open or a Commit ended: one of the numbers above and, when it failed
// with something other than kErrorFileNotFound, a sentence naming the path and
// what to do about it.
using RegistryStatus = Status<long>;

struct RegistryValue {
  std::string name;  // empty: the default value
  std::string data;  // bytes as stored, without a terminator
};

// A key opened for reading: the shape of RegOpenKey, RegQueryValueEx, RegCloseKey.
// A missing directory or hive reads as empty.
class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(RegistryKey&&) noexcept;
  RegistryKey& operator=(RegistryKey&&) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // kErrorSuccess, kErrorFileNotFound when the key does not exist, or
  // kErrorAccessDenied or kErrorBadDatabase when the hive may not or cannot be read.
  RegistryStatus Open(RegistryRoot root, std::string_view path);
  bool IsOpen() const;
  void Close();
  // The key's path as stored (its names in their stored case); empty when closed.
  std::string Path() const;

  // Copies the value's bytes as stored, plus a terminating NUL for strings, into
  // buffer. *size holds the room on entry and the bytes copied on return.
  // kErrorFileNotFound for a missing value; kErrorMoreData when it does not fit,
  // and then nothing is written to buffer.
  long QueryValue(std::string_view name, void* buffer, unsigned long* size) const;

  // For tools: the key's values and the names of its direct subkeys, in stored order.
  long Values(std::vector<RegistryValue>& out) const;
  long Subkeys(std::vector<std::string>& out) const;

 private:
  struct Impl;
  Impl* impl_;
};

// A batch of changes to one root, applied as one step by Commit. The stand-in
// takes a file lock, re-reads the hive, applies the changes and renames a new
// file into place, so concurrent writers never lose each other's keys. Lines of
// the hive it does not understand are written back as they stood; a hive that is
// a symbolic link has its target replaced, and the link stays. Names and texts
// are UTF-8 (as the kit's file names are), stored as such by the stand-in and
// as UTF-16 by Windows, so that a registered path may hold any character.
class RegistryWriter {
 public:
  explicit RegistryWriter(RegistryRoot root);
  ~RegistryWriter();
  RegistryWriter(const RegistryWriter&) = delete;
  RegistryWriter& operator=(const RegistryWriter&) = delete;

  void CreateKey(std::string_view path);  // with any missing parents
  void SetString(std::string_view path, std::string_view name, std::string_view value);
  void DeleteValue(std::string_view path, std::string_view name);
  void DeleteTree(std::string_view path);  // the key with all its subkeys and values

  // Applies the changes in order. kErrorSuccess or a Win32 error code; deleting
  // something that does not exist is reported as kErrorFileNotFound, and then
  // nothing of the batch is applied. A name with a line break or beyond a bound
  // gives kErrorInvalidParameter; other failures kErrorAccessDenied or
  // kErrorBadDatabase. The message tells why, except for a missing key.
  RegistryStatus Commit();

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace zentrova::platform
