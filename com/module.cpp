#include "com/module.h"

#include <cstdlib>
#include <new>

#include "com/ZentrovaCOM_i.h"
#include "com/class_factory.h"
#include "com/sms_interface.h"
#include "gateway/endpoints.h"

namespace zentrova::com {
namespace {

Module* g_module = nullptr;

std::string TracePath() {
  if (const char* path = std::getenv("ZENTROVA_TRACE"); path && *path) return path;
  return gateway::ReadSettingText("TraceFile", 1023);
}

}  // namespace

Module::Module(std::string path)
    : path_(std::move(path)),
      typeInfo_(IID_ISMSInterface, LIBID_ZENTROVACOM, 1, 0, kTypeLibraryLocale) {}

Module::~Module() {
  if (classObject_) classObject_->Release();
}

HRESULT Module::GetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(clsid == CLSID_SMSInterface)) return CLASS_E_CLASSNOTAVAILABLE;
  // Every object comes from the class object, so every send is traced.
  std::call_once(traceOnce_, [this] {
    trace_.reset(new (std::nothrow) platform::Trace(TracePath(), nullptr));
  });
  IUnknown* cached;
  {
    std::lock_guard<std::mutex> lock(classObjectMutex_);
    if (!classObject_) {
      auto* factory = new (std::nothrow) ClassFactory(&SMSInterface::CreateInstance);
      if (!factory) return E_OUTOFMEMORY;
      void* unknown = nullptr;
      factory->QueryInterface(IID_IUnknown, &unknown);  // the cache's reference: count 1
      classObject_ = static_cast<IUnknown*>(unknown);
    }
    cached = classObject_;
  }
  return cached->QueryInterface(riid, object);
}

Module* CurrentModule() { return g_module; }

bool StartModule(std::string path) {
  g_module = new (std::nothrow) Module(std::move(path));
  return g_module != nullptr;
}

void EndModule() {
  Module* module = g_module;
  g_module = nullptr;
  delete module;
}

}  // namespace zentrova::com
