// Registration on Windows, where 64-bit systems keep two registry views: 32-bit
// programs see their own HKCR\CLSID and HKCR\Interface (Wow6432Node), while the
// ProgIDs and HKCR\TypeLib are one for both. Either bitness of the DLL may be
// registered beside the other, and unregistering one must leave the other
// working, so the shared keys go only with the last registration.
//
// The type library's record is removed by hand: UnRegisterTypeLib deletes the
// interface keys whoever else still uses them.
#include "com/registration.h"

#include <windows.h>

#include "com/ZentrovaCOM_i.h"
#include "com/module.h"
#include "platform/ole_text.h"
#include "platform/win32/handles.h"

namespace zentrova::com {
namespace {

using platform::win32::RegKey;

constexpr bool k64Bit = sizeof(void*) == 8;
constexpr REGSAM kOtherView = k64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

std::wstring Text(REFGUID guid) {
  wchar_t text[40];
  return StringFromGUID2(guid, text, 40) ? text : L"";
}

// A 32-bit program has a second view only under WOW64.
bool HasOtherView() {
  if (k64Bit) return true;
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool KeyExists(const std::wstring& path, REGSAM view = 0) {
  RegKey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, key.out()) ==
         ERROR_SUCCESS;
}

// Deletes parent\name with everything under it; a missing key is no failure.
LONG DeleteTree(const std::wstring& parent, const std::wstring& name, REGSAM view = 0) {
  RegKey key;
  LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, parent.c_str(), 0, KEY_ALL_ACCESS | view, key.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteTreeW(key.get(), name.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// The names of a key's subkeys, less the ones listed in except.
DWORD SubkeysBut(const std::wstring& path, std::initializer_list<const wchar_t*> except) {
  RegKey key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS)
    return 0;
  DWORD left = 0;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return left;
    bool listed = false;
    for (const wchar_t* e : except) listed = listed || lstrcmpiW(name, e) == 0;
    left += !listed;
  }
}

const std::wstring kLibrary = Text(LIBID_ZENTROVACOM);
const std::wstring kVersionKey = L"TypeLib\\" + kLibrary + L"\\1.0";
const std::wstring kLocaleKey = kVersionKey + L"\\409";  // kTypeLibraryLocale
const wchar_t* const kPlatform = k64Bit ? L"win64" : L"win32";

}  // namespace

bool ClassRegisteredInOtherView() {
  return HasOtherView() && KeyExists(L"CLSID\\" + Text(CLSID_SMSInterface), kOtherView);
}

bool TypeLibraryRegistered() { return KeyExists(kLocaleKey + L"\\" + kPlatform); }

HRESULT RegisterTypeLibrary(const std::string& path) {
  platform::OleString wide;
  if (!platform::Utf8ToOle(path, wide)) return E_UNEXPECTED;
  ITypeLib* lib = nullptr;
  if (HRESULT hr = LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &lib); FAILED(hr)) return hr;
  HRESULT hr = RegisterTypeLib(lib, wide.data(), nullptr);
  lib->Release();
  return hr;
}

HRESULT UnregisterTypeLibrary() {
  static_assert(kTypeLibraryLocale == 0x409);
  if (LONG rc = DeleteTree(kLocaleKey, kPlatform)) return HRESULT_FROM_WIN32(rc);
  // The other platform's path (and a locale key of another language) keeps the
  // library and its interface registered.
  if (SubkeysBut(kLocaleKey, {})) return S_OK;
  if (LONG rc = DeleteTree(kVersionKey, L"409")) return HRESULT_FROM_WIN32(rc);
  if (SubkeysBut(kVersionKey, {L"FLAGS", L"HELPDIR"})) return S_OK;
  if (LONG rc = DeleteTree(L"TypeLib\\" + kLibrary, L"1.0")) return HRESULT_FROM_WIN32(rc);
  if (!SubkeysBut(L"TypeLib\\" + kLibrary, {}))
    if (LONG rc = DeleteTree(L"TypeLib", kLibrary)) return HRESULT_FROM_WIN32(rc);
  // Registering from a 32-bit program writes the interface's key into both views.
  const std::wstring iid = Text(IID_ISMSInterface);
  if (LONG rc = DeleteTree(L"Interface", iid)) return HRESULT_FROM_WIN32(rc);
  if (HasOtherView())
    if (LONG rc = DeleteTree(L"Interface", iid, kOtherView)) return HRESULT_FROM_WIN32(rc);
  return S_OK;
}

}  // namespace zentrova::com
