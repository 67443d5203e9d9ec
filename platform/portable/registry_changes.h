// The batch a RegistryWriter collects before its Commit: the same on every
// OS. Each registry adapter defines Commit, which applies the batch whole.
#pragma once

#include <string>
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

}  // namespace zentrova::platform
