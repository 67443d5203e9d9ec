// Loading a type library from a module file or from its registration, and
// registering one: what OLE Automation records under HKEY_CLASSES_ROOT\TypeLib
// and HKEY_CLASSES_ROOT\Interface for a library and its automation interfaces.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/compat/extras.h"
#include "platform/compat/typelib_data.h"
#include "platform/ole_text.h"
#include "platform/registry.h"
#include "platform/resource.h"

namespace zentrova::platform {
namespace {

// The platform key under a library's language key; Windows has "win32" and "win64" there.
constexpr char kPlatformKey[] = "linux";
constexpr char kAutomationMarshaler[] = "{00020424-0000-0000-C000-000000000046}";

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string LibraryKey(const GUID& libid) { return "TypeLib\\" + GuidToString(libid); }

bool KeyExists(const std::string& path) {
  RegistryKey key;
  return key.Open(RegistryRoot::kClassesRoot, path).ok();
}

std::vector<std::string> SubkeysOf(const std::string& path) {
  std::vector<std::string> names;
  RegistryKey key;
  if (key.Open(RegistryRoot::kClassesRoot, path).ok()) key.Subkeys(names);
  return names;
}

bool ReadDefault(const std::string& path, std::string& value) {
  RegistryKey key;
  if (!key.Open(RegistryRoot::kClassesRoot, path).ok()) return false;
  std::vector<RegistryValue> values;
  if (key.Values(values) != kErrorSuccess) return false;
  for (const RegistryValue& v : values)
    if (v.name.empty()) {
      value = v.data;
      while (!value.empty() && value.back() == '\0') value.pop_back();
      return true;
    }
  return false;
}

bool EqualKeyName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The registered version key that serves a request for major.minor: the same
// major version and the highest minor version not below the one asked for.
bool FindVersionKey(const GUID& libid, WORD major, WORD minor, std::string& versionKey) {
  long best = -1;
  for (const std::string& name : SubkeysOf(LibraryKey(libid))) {
    char* end = nullptr;
    unsigned long maj = std::strtoul(name.c_str(), &end, 16);
    if (*end != '.') continue;
    unsigned long min = std::strtoul(end + 1, &end, 16);
    if (*end || maj != major || min < minor || static_cast<long>(min) <= best) continue;
    best = static_cast<long>(min);
    versionKey = LibraryKey(libid) + "\\" + name;
  }
  return best >= 0;
}

bool FindPath(const std::string& versionKey, LCID lcid, std::string& path) {
  for (unsigned language : {unsigned(lcid), unsigned(lcid & 0x3FF), 0u})
    if (ReadDefault(versionKey + "\\" + Hex(language) + "\\" + kPlatformKey, path) && !path.empty())
      return true;
  return false;
}

}  // namespace
}  // namespace zentrova::platform

using namespace zentrova::platform;

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib) {
  if (!file || !lib) return E_INVALIDARG;
  *lib = nullptr;
  std::string path, text;
  if (!OleToUtf8(OleView(file), path) || !LoadModuleResource(path, "TYPELIB", 1, text))
    return TYPE_E_CANTLOADLIBRARY;
  try {
    return LoadTypeLibFromText(text, lib);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  if (!lib) return E_INVALIDARG;
  *lib = nullptr;
  try {
    std::string versionKey, path;
    if (!FindVersionKey(libid, major, minor, versionKey) || !FindPath(versionKey, lcid, path))
      return TYPE_E_LIBNOTREGISTERED;
    OleString wide;
    if (!Utf8ToOle(path, wide)) return TYPE_E_CANTLOADLIBRARY;
    return LoadTypeLib(wide.c_str(), lib);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  if (!lib || !fullPath) return E_INVALIDARG;
  try {
    std::string path, help;
    if (!OleToUtf8(OleView(fullPath), path)) return E_INVALIDARG;
    if (helpDir) {
      if (!OleToUtf8(OleView(helpDir), help)) return E_INVALIDARG;
    } else {
      help = path.substr(0, path.find_last_of('/') + 1);
    }
    TLIBATTR* attr = nullptr;
    if (HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr)) return hr;
    const GUID libid = attr->guid;
    const LCID lcid = attr->lcid;
    const std::string version = Hex(attr->wMajorVerNum) + "." + Hex(attr->wMinorVerNum);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    if (HRESULT hr = lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr); FAILED(hr))
      return hr;
    std::string title;
    OleToUtf8(OleView(SysStringLen(doc) ? doc : name), title);
    SysFreeString(name);
    SysFreeString(doc);

    RegistryWriter writer(RegistryRoot::kClassesRoot);
    const std::string versionKey = LibraryKey(libid) + "\\" + version;
    writer.CreateKey(versionKey);
    writer.SetString(versionKey, "", title);
    // Under the locale the library declares, as Windows does: a loader asked
    // for another locale falls back to the neutral one only.
    writer.SetString(versionKey + "\\" + Hex(lcid) + "\\" + kPlatformKey, "", path);
    writer.SetString(versionKey + "\\FLAGS", "", "0");
    writer.SetString(versionKey + "\\HELPDIR", "", help);

    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
      ITypeInfo* info = nullptr;
      if (FAILED(lib->GetTypeInfo(i, &info))) continue;
      TYPEATTR* type = nullptr;
      BSTR typeName = nullptr;
      if (SUCCEEDED(info->GetTypeAttr(&type)) &&
          (type->typekind == TKIND_DISPATCH || type->typekind == TKIND_INTERFACE) &&
          (type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) &&
          SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr))) {
        std::string narrow;
        OleToUtf8(OleView(typeName), narrow);
        const std::string key = "Interface\\" + GuidToString(type->guid);
        writer.SetString(key, "", narrow);
        writer.SetString(key + "\\ProxyStubClsid32", "", kAutomationMarshaler);
        writer.SetString(key + "\\TypeLib", "", GuidToString(libid));
        writer.SetString(key + "\\TypeLib", "Version", version);
      }
      SysFreeString(typeName);
      if (type) info->ReleaseTypeAttr(type);
      info->Release();
    }
    return writer.Commit().ok() ? S_OK : TYPE_E_REGISTRYACCESS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND) {
  try {
    const std::string libraryKey = LibraryKey(libid);
    const std::string versionKey = libraryKey + "\\" + Hex(major) + "." + Hex(minor);
    // Nothing registered is nothing to undo.
    if (!KeyExists(versionKey)) return S_OK;

    RegistryWriter writer(RegistryRoot::kClassesRoot);
    // The interfaces come from the registered library itself; those that another
    // library has taken over since are left to it.
    std::string path;
    OleString wide;
    ITypeLib* lib = nullptr;
    size_t interfacesRemoved = 0;
    if (FindPath(versionKey, lcid, path) && Utf8ToOle(path, wide) &&
        SUCCEEDED(LoadTypeLib(wide.c_str(), &lib))) {
      for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info))) continue;
        TYPEATTR* type = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&type))) {
          const std::string key = "Interface\\" + GuidToString(type->guid);
          std::string owner;
          if (ReadDefault(key + "\\TypeLib", owner) && EqualKeyName(owner, GuidToString(libid))) {
            writer.DeleteTree(key);
            ++interfacesRemoved;
          }
          info->ReleaseTypeAttr(type);
        }
        info->Release();
      }
      lib->Release();
    }
    writer.DeleteTree(versionKey);
    // Parent keys that this registration leaves empty go as well.
    bool libraryEmpty = SubkeysOf(libraryKey).size() == 1;
    if (libraryEmpty) {
      writer.DeleteTree(libraryKey);
      if (SubkeysOf("TypeLib").size() == 1) writer.DeleteTree("TypeLib");
    }
    if (interfacesRemoved && SubkeysOf("Interface").size() == interfacesRemoved)
      writer.DeleteTree("Interface");
    return writer.Commit().ok() ? S_OK : TYPE_E_REGISTRYACCESS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
