// The automation server's tests: a registry of their own, an owner for BSTRs
// and the server's creation, beside the peers every area shares.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "com/ZentrovaCOM_i.h"
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
  Bstr(const char16_t* text, UINT length) : text_(SysAllocStringLen(text, length)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* operator&() {  // for an out parameter: what it held goes first
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }
  BSTR get() const { return text_; }
  std::u16string str() const {
    return text_ ? std::u16string(text_, SysStringLen(text_)) : std::u16string();
  }

 private:
  BSTR text_ = nullptr;
};

// A library's real path: the one its registration records.
inline std::string RealPath(const char* library) {
  char full[PATH_MAX];
  return realpath(library, full) ? full : library;
}

// Calls one of a server library's registration exports, as regsvr does.
inline HRESULT CallExport(const char* library, const char* name) {
  void* handle = dlopen(RealPath(library).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return E_FAIL;
  auto function = reinterpret_cast<HRESULT (*)()>(dlsym(handle, name));
  HRESULT hr = function ? function() : E_FAIL;
  dlclose(handle);
  return hr;
}

inline ISMSInterface* Create() {
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_SMSInterface, nullptr, CLSCTX_INPROC_SERVER, IID_ISMSInterface,
                             &object),
            S_OK);
  return static_cast<ISMSInterface*>(object);
}

}  // namespace zentrova::testing
