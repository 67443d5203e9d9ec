// What the registry adapters share: a key's ownership (each adapter defines
// its Impl, Open and Close), collecting a batch (each adapter's Commit
// applies it), and handing a value to its reader.
#include <cstring>
#include <utility>

#include "platform/portable/registry_changes.h"

namespace zentrova::platform {

RegistryKey::RegistryKey() : impl_(nullptr) {}
RegistryKey::~RegistryKey() { Close(); }
RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : impl_(std::exchange(other.impl_, nullptr)) {}
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    impl_ = std::exchange(other.impl_, nullptr);
  }
  return *this;
}
bool RegistryKey::IsOpen() const { return impl_ != nullptr; }

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

long CopyValue(std::string_view data, bool text, void* buffer, unsigned long* size) {
  const unsigned long needed = static_cast<unsigned long>(data.size() + (text ? 1 : 0));
  if (buffer && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (buffer) {
    std::memcpy(buffer, data.data(), data.size());
    if (text) static_cast<char*>(buffer)[data.size()] = '\0';
  }
  *size = needed;
  return kErrorSuccess;
}

}  // namespace zentrova::platform
