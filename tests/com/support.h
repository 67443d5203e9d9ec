// Test support for the automation server: a scratch registry per test and a
// few owners for COM values.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com.h"

namespace zv_test {

// A registry directory of its own, named in ZENTROVA_REGISTRY while it lives,
// so that tests running side by side never see each other's keys.
class ScratchRegistry {
 public:
  ScratchRegistry() {
    char name[] = "/tmp/zv-com-test-XXXXXX";
    dir_ = mkdtemp(name);
    setenv("ZENTROVA_REGISTRY", dir_.c_str(), 1);
  }
  ~ScratchRegistry() {
    unsetenv("ZENTROVA_REGISTRY");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& dir() const { return dir_; }

  // The key names of the classes root as its hive file lists them, without the
  // root's own name: {"CLSID", "CLSID\\{...}", ...}.
  std::vector<std::string> ClassesRootKeys() const {
    std::ifstream in(dir_ + "/HKEY_CLASSES_ROOT.reg");
    std::vector<std::string> keys;
    std::string line;
    const std::string prefix = "[HKEY_CLASSES_ROOT\\";
    while (std::getline(in, line))
      if (line.rfind(prefix, 0) == 0 && line.back() == ']')
        keys.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    return keys;
  }

 private:
  std::string dir_;
};

// A BSTR that frees itself.
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

}  // namespace zv_test
