// What the registry adapters share: the batch a RegistryWriter collects before
// its Commit (each adapter defines Commit, which applies the batch whole), and
// the copying of a value out to its reader.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace zentrova::platform {

struct RegistryChange {
  enum Kind { kCreate, kSet, kDeleteValue, kDeleteTree } kind;
  std::string path, name, value;
};

struct RegistryWriter::Impl {
  RegistryRoot root;
  std::vector<RegistryChange> changes;
};

// RegistryKey::QueryValue's answer for a value found: data (without a
// terminator) copied to buffer, with a NUL after it when text is set.
long CopyValue(std::string_view data, bool text, void* buffer, unsigned long* size);

}  // namespace zentrova::platform
