// Hive text: whatever parses is written and read back to the same keys, values
// and kept lines, and writing it again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/hive.h"

using namespace zentrova::platform;

namespace {

// Every key with its values and subkeys in order, then every kept line in file order.
std::string Describe(const hive::Hive& h) {
  std::string out;
  std::vector<std::uint32_t> pending{0};
  while (!pending.empty()) {
    std::uint32_t id = pending.back();
    pending.pop_back();
    const hive::Node& n = h.nodes()[id];
    out += "[" + h.PathOf(id) + "]\n";
    for (const hive::Value& v : n.values)
      if (v.live) out += (v.isString ? "s " : "b ") + v.name + "=" + v.data + "\n";
    for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) pending.push_back(*it);
  }
  out += "--\n";
  for (const hive::Section& s : h.sections())
    for (const auto& e : s.entries)
      if (e.value < 0) out += e.text + "\n";
  if (!h.tail().empty()) out += h.tail() + "\n";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RegistryRoot root = size && (data[0] & 1) ? RegistryRoot::kClassesRoot
                                                  : RegistryRoot::kCurrentUser;
  hive::Hive first(root), second(root);
  std::string error;
  if (!first.Parse(std::string_view(reinterpret_cast<const char*>(data), size), error)) return 0;
  const std::string written = first.Serialize();
  if (!second.Parse(written, error)) std::abort();
  if (Describe(first) != Describe(second)) std::abort();
  if (second.Serialize() != written) std::abort();
  return 0;
}
