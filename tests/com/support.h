// The automation server's tests: a registry of their own and an owner for BSTRs,
// beside the peers every area shares.
#pragma once

#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/com.h"
#include "tests/support/peers.h"

namespace zentrova::testing {

// Named in ZENTROVA_REGISTRY while it lives, so that tests running side by side
// never see each other's keys.
class ScratchRegistry : public TempDir {
 public:
  ScratchRegistry() { setenv("ZENTROVA_REGISTRY", Path().c_str(), 1); }
  ~ScratchRegistry() { unsetenv("ZENTROVA_REGISTRY"); }

  // The classes root's key names as its hive file lists them, without the
  // root's own name: {"CLSID", "CLSID\\{...}", ...}.
  std::vector<std::string> ClassesRootKeys() const {
    std::istringstream in(ReadFile(File("HKEY_CLASSES_ROOT.reg")));
    std::vector<std::string> keys;
    const std::string prefix = "[HKEY_CLASSES_ROOT\\";
    for (std::string line; std::getline(in, line);)
      if (line.starts_with(prefix) && line.ends_with(']'))
        keys.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    return keys;
  }
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const char16_t* text) : text_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* operator&() { return &text_; }
  BSTR get() const { return text_; }
  std::u16string str() const {
    return text_ ? std::u16string(text_, SysStringLen(text_)) : std::u16string();
  }

 private:
  BSTR text_ = nullptr;
};

}  // namespace zentrova::testing
