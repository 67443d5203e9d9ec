// Collecting a registry batch; the adapters' Commit applies it.
#include "platform/portable/registry_changes.h"

namespace zentrova::platform {

RegistryWriter::RegistryWriter(RegistryRoot root) : impl_(new Impl{root, {}}) {}
RegistryWriter::~RegistryWriter() { delete impl_; }

void RegistryWriter::CreateKey(std::string_view path) {
  impl_->changes.push_back({RegistryChange::kCreate, std::string(path), {}, {}});
}
void RegistryWriter::SetString(std::string_view path, std::string_view name,
                               std::string_view value) {
  impl_->changes.push_back(
      {RegistryChange::kSet, std::string(path), std::string(name), std::string(value)});
}
void RegistryWriter::DeleteValue(std::string_view path, std::string_view name) {
  impl_->changes.push_back(
      {RegistryChange::kDeleteValue, std::string(path), std::string(name), {}});
}
void RegistryWriter::DeleteTree(std::string_view path) {
  impl_->changes.push_back({RegistryChange::kDeleteTree, std::string(path), {}, {}});
}

}  // namespace zentrova::platform
