// The class object that makes SMSInterface objects.
#pragma once

#include <mutex>

#include "platform/com.h"

namespace zentrova::com {

class ClassFactory final : public IClassFactory {
 public:
  using InstanceMaker = HRESULT (*)(IUnknown* outer, REFIID riid, void** object);
  explicit ClassFactory(InstanceMaker maker) : maker_(maker) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  ~ClassFactory() = default;

  std::mutex mutex_;  // guards the count, which decides the module lock
  long refs_ = 0;
  InstanceMaker maker_;
};

}  // namespace zentrova::com
