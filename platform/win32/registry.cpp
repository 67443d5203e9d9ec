// The real registry. Reads are RegOpenKeyEx and RegQueryValueEx; a batch of
// changes is applied in order with a journal of what each step replaced, and
// when a step fails the journal is played back, so that a batch is applied
// whole or not at all, as the file-backed stand-in does it (Windows itself
// has no transaction for this).
#include "platform/registry.h"

#include "platform/portable/registry_changes.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "platform/ascii.h"
#include "platform/ole_text.h"
#include "platform/win32/handles.h"

namespace zentrova::platform {
namespace {

using win32::RegKey;

// KEY_READ without a KEY_WOW64 flag: a 32-bit program on 64-bit Windows reads
// the 32-bit view of the local machine's Software, as its installer wrote it.
HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    default:
      return HKEY_CURRENT_USER;
  }
}

RegistryStatus Fail(long code, const std::string& what, const std::string& path) {
  return {code, what + " " + path + ": " + win32::ErrorText(static_cast<DWORD>(code))};
}

// Windows refuses an empty component and a name past 255 characters itself;
// a path with either would write somewhere else than it says.
bool Usable(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
      path.find("\\\\") != std::string_view::npos)
    return false;
  return path.find('\0') == std::string_view::npos;
}

std::string NameOfSubkey(HKEY key, DWORD index) {
  char name[256];
  DWORD length = sizeof name;
  if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return {};
  return std::string(name, length);
}

// One value as stored: its type and bytes.
struct Stored {
  DWORD type = REG_NONE;
  std::string data;
};

// The ANSI and the wide query alike: asks for the size, then the bytes, again
// while the value grows under us.
template <typename Char, typename Query>
long ReadStored(HKEY key, const Char* name, Stored& out, Query query) {
  DWORD size = 0;
  LONG rc = query(key, name, nullptr, &out.type, nullptr, &size);
  for (int tries = 0; rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA; ++tries) {
    out.data.resize(size);
    rc = query(key, name, nullptr, &out.type, reinterpret_cast<BYTE*>(out.data.data()), &size);
    if (rc == ERROR_SUCCESS) {
      out.data.resize(size);
      return ERROR_SUCCESS;
    }
    if (tries == 3) break;  // changing under us
  }
  return rc;
}

long ReadValue(HKEY key, const std::string& name, Stored& out) {
  return ReadStored(key, name.c_str(), out, RegQueryValueExA);
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// A text value without the terminator it was stored with.
std::string WithoutTerminator(const Stored& v) {
  if (IsText(v.type) && !v.data.empty() && v.data.back() == '\0')
    return v.data.substr(0, v.data.size() - 1);
  return v.data;
}

}  // namespace

// ---- reading ------------------------------------------------------------------

struct RegistryKey::Impl {
  RegKey key;
  std::string path;
};

RegistryStatus RegistryKey::Open(RegistryRoot root, std::string_view path) {
  Close();
  std::string p(path);
  auto impl = std::make_unique<Impl>();
  // Component by component, so that the path comes back in its stored case.
  HKEY parent = RootKey(root);
  RegKey step;
  for (std::size_t begin = 0; begin <= p.size() && !p.empty();) {
    std::size_t end = std::min(p.find('\\', begin), p.size());
    std::string name = p.substr(begin, end - begin);
    RegKey next;
    LONG rc = RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, next.out());
    if (rc != ERROR_SUCCESS) {
      if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return {kErrorFileNotFound, {}};
      return Fail(rc, "cannot open", std::string(RegistryRootName(root)) + "\\" + p);
    }
    for (DWORD i = 0;; ++i) {
      std::string stored = NameOfSubkey(parent, i);
      if (stored.empty()) break;
      if (SameName(stored, name)) {
        name = stored;
        break;
      }
    }
    impl->path += (impl->path.empty() ? "" : "\\") + name;
    step = std::move(next);
    parent = step.get();
    begin = end + 1;
  }
  if (p.empty()) {
    LONG rc = RegOpenKeyExA(parent, nullptr, 0, KEY_READ, step.out());
    if (rc != ERROR_SUCCESS) return Fail(rc, "cannot open", RegistryRootName(root));
  }
  impl->key = std::move(step);
  impl_ = impl.release();
  return {};
}

std::string RegistryKey::Path() const { return impl_ ? impl_->path : std::string(); }

void RegistryKey::Close() { delete std::exchange(impl_, nullptr); }

long RegistryKey::QueryValue(std::string_view name, void* buffer, unsigned long* size) const {
  if (!impl_ || !size) return kErrorInvalidParameter;
  Stored v;
  LONG rc = ReadValue(impl_->key.get(), std::string(name), v);
  if (rc != ERROR_SUCCESS) return rc == ERROR_FILE_NOT_FOUND ? kErrorFileNotFound : rc;
  return CopyValue(WithoutTerminator(v), IsText(v.type), buffer, size);
}

long RegistryKey::Values(std::vector<RegistryValue>& out) const {
  out.clear();
  if (!impl_) return kErrorInvalidParameter;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD length = sizeof name;
    LONG rc = RegEnumValueA(impl_->key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return kErrorSuccess;
    if (rc != ERROR_SUCCESS) return rc;
    Stored v;
    if (ReadValue(impl_->key.get(), std::string(name, length), v) == ERROR_SUCCESS)
      out.push_back(RegistryValue{std::string(name, length), WithoutTerminator(v)});
  }
}

long RegistryKey::Subkeys(std::vector<std::string>& out) const {
  out.clear();
  if (!impl_) return kErrorInvalidParameter;
  for (DWORD i = 0;; ++i) {
    std::string name = NameOfSubkey(impl_->key.get(), i);
    if (name.empty()) return kErrorSuccess;
    out.push_back(name);
  }
}

// ---- writing ------------------------------------------------------------------
//
// A batch's names and texts are UTF-8, the form of the kit's file names, and
// are written through the wide calls: a registered DLL's path may hold any
// character, also one the ANSI code page has not. The journal keeps what it
// replaces in the same wide form, so that an undo puts back every character.

namespace {

using Change = RegistryChange;

std::wstring Wide(const std::string& utf8) {
  OleString wide;
  Utf8ToOle(utf8, wide);  // Commit has checked that every text converts
  return wide;
}

std::wstring NameOfSubkeyW(HKEY key, DWORD index) {
  wchar_t name[256];
  DWORD length = 256;
  if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return {};
  return std::wstring(name, length);
}

long ReadValueW(HKEY key, const std::wstring& name, Stored& out) {
  return ReadStored(key, name.c_str(), out, RegQueryValueExW);
}

LONG SetValueW(HKEY key, const std::wstring& name, const Stored& v) {
  return RegSetValueExW(key, name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                        static_cast<DWORD>(v.data.size()));
}

LONG CreateKeyW(HKEY parent, const std::wstring& path, RegKey& key) {
  return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(),
                         nullptr);
}

// A key with its values and subkeys, kept to put a deleted tree back.
struct Tree {
  std::wstring name;
  std::vector<std::pair<std::wstring, Stored>> values;
  std::vector<Tree> subkeys;
};

long Snapshot(HKEY key, Tree& tree) {
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD length = 16384;
    LONG rc = RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    Stored v;
    if ((rc = ReadValueW(key, std::wstring(name, length), v)) != ERROR_SUCCESS) return rc;
    tree.values.emplace_back(std::wstring(name, length), std::move(v));
  }
  for (DWORD i = 0;; ++i) {
    std::wstring name = NameOfSubkeyW(key, i);
    if (name.empty()) break;
    RegKey sub;
    if (LONG rc = RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, sub.out())) return rc;
    tree.subkeys.push_back(Tree{name, {}, {}});
    if (long rc = Snapshot(sub.get(), tree.subkeys.back())) return rc;
  }
  return ERROR_SUCCESS;
}

void Restore(HKEY parent, const Tree& tree) {
  RegKey key;
  if (CreateKeyW(parent, tree.name, key) != ERROR_SUCCESS) return;
  for (const auto& [name, v] : tree.values) SetValueW(key.get(), name, v);
  for (const auto& sub : tree.subkeys) Restore(key.get(), sub);
}

// What one applied step replaced, to be undone in reverse order.
struct Undo {
  enum Kind { kRemoveTree, kPutValue, kRemoveValue, kPutTree } kind;
  std::wstring path;  // the key (kRemoveTree: the topmost key the step created)
  std::wstring name;
  Stored value;
  Tree tree;
};

std::wstring ParentOf(const std::wstring& path) {
  std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool KeyExists(HKEY root, const std::wstring& path) {
  RegKey key;
  return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

// Creates path with its missing parents; notes the topmost key it made.
long CreatePath(HKEY root, const std::wstring& path, std::vector<Undo>& journal, RegKey& key) {
  std::wstring top;
  for (std::size_t at = 0; at != std::wstring::npos;) {
    std::size_t end = path.find(L'\\', at);
    std::wstring prefix = path.substr(0, end);
    if (!KeyExists(root, prefix)) {
      top = prefix;
      break;
    }
    at = end == std::wstring::npos ? end : end + 1;
  }
  LONG rc = CreateKeyW(root, path, key);
  if (rc != ERROR_SUCCESS) return rc;
  if (!top.empty()) journal.push_back(Undo{Undo::kRemoveTree, top, {}, {}, {}});
  return ERROR_SUCCESS;
}

long Apply(HKEY root, const Change& c, std::vector<Undo>& journal) {
  const std::wstring path = Wide(c.path), name = Wide(c.name);
  RegKey key;
  switch (c.kind) {
    case Change::kCreate:
      return CreatePath(root, path, journal, key);
    case Change::kSet: {
      if (long rc = CreatePath(root, path, journal, key)) return rc;
      Stored before;
      bool had = ReadValueW(key.get(), name, before) == ERROR_SUCCESS;
      // A string is stored with its terminator, as RegSetValueEx expects.
      const std::wstring text = Wide(c.value);
      Stored v{REG_SZ, std::string(reinterpret_cast<const char*>(text.c_str()),
                                   (text.size() + 1) * sizeof(wchar_t))};
      if (LONG rc = SetValueW(key.get(), name, v); rc != ERROR_SUCCESS) return rc;
      journal.push_back(had ? Undo{Undo::kPutValue, path, name, before, {}}
                            : Undo{Undo::kRemoveValue, path, name, {}, {}});
      return ERROR_SUCCESS;
    }
    case Change::kDeleteValue: {
      LONG rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key.out());
      if (rc != ERROR_SUCCESS) return rc;
      Stored before;
      if ((rc = ReadValueW(key.get(), name, before)) != ERROR_SUCCESS) return rc;
      if ((rc = RegDeleteValueW(key.get(), name.c_str())) != ERROR_SUCCESS) return rc;
      journal.push_back(Undo{Undo::kPutValue, path, name, before, {}});
      return ERROR_SUCCESS;
    }
    case Change::kDeleteTree: {
      LONG rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out());
      if (rc != ERROR_SUCCESS) return rc;
      // RegDeleteTree removes the key itself too, so the whole of it is kept first.
      Undo undo{Undo::kPutTree, path, {}, {}, {}};
      undo.tree.name = path.substr(path.rfind(L'\\') + 1);
      if ((rc = Snapshot(key.get(), undo.tree)) != ERROR_SUCCESS) return rc;
      key.Reset();
      rc = RegDeleteTreeW(root, path.c_str());
      journal.push_back(std::move(undo));  // on failure part of it may be gone
      return rc;
    }
  }
  return ERROR_INVALID_PARAMETER;
}

void PlayBack(HKEY root, std::vector<Undo>& journal) {
  for (auto it = journal.rbegin(); it != journal.rend(); ++it) {
    RegKey key;
    switch (it->kind) {
      case Undo::kRemoveTree:
        RegDeleteTreeW(root, it->path.c_str());
        break;
      case Undo::kRemoveValue:
        if (RegOpenKeyExW(root, it->path.c_str(), 0, KEY_ALL_ACCESS, key.out()) == ERROR_SUCCESS)
          RegDeleteValueW(key.get(), it->name.c_str());
        break;
      case Undo::kPutValue:
        if (CreateKeyW(root, it->path, key) == ERROR_SUCCESS)
          SetValueW(key.get(), it->name, it->value);
        break;
      case Undo::kPutTree: {
        RegDeleteTreeW(root, it->path.c_str());  // what a partial delete left
        std::wstring parent = ParentOf(it->path);
        RegKey above;
        if (parent.empty() ||
            RegOpenKeyExW(root, parent.c_str(), 0, KEY_ALL_ACCESS, above.out()) == ERROR_SUCCESS)
          Restore(parent.empty() ? root : above.get(), it->tree);
        break;
      }
    }
  }
  journal.clear();
}

bool ConvertsToWide(const std::string& text) {
  OleString wide;
  return Utf8ToOle(text, wide);
}

}  // namespace

RegistryStatus RegistryWriter::Commit() {
  const HKEY root = RootKey(impl_->root);
  const std::string rootName = RegistryRootName(impl_->root);
  for (const auto& c : impl_->changes) {
    if (!Usable(c.path))
      return Fail(kErrorInvalidParameter, "cannot write the key", rootName + "\\" + c.path);
    if (c.name.find('\0') != std::string::npos || c.value.find('\0') != std::string::npos)
      return Fail(kErrorInvalidParameter, "a name or text holds a NUL byte under",
                  rootName + "\\" + c.path);
    if (!ConvertsToWide(c.path) || !ConvertsToWide(c.name) || !ConvertsToWide(c.value))
      return Fail(kErrorInvalidParameter, "a name or text is not UTF-8 under",
                  rootName + "\\" + c.path);
  }
  std::vector<Undo> journal;
  for (const auto& c : impl_->changes) {
    long rc = Apply(root, c, journal);
    if (rc == ERROR_SUCCESS) continue;
    PlayBack(root, journal);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return {kErrorFileNotFound, {}};
    return Fail(rc, "cannot change", rootName + "\\" + c.path);
  }
  impl_->changes.clear();
  return {};
}

}  // namespace zentrova::platform
