#include "com/registrar.h"

#include <cctype>
#include <memory>
#include <set>
#include <vector>

#include "platform/registry.h"

namespace zentrova::com {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryWriter;

struct Value {
  std::string name;  // empty: the key's default value
  std::string data;
};

struct Key {
  std::string name;
  enum Mode { kNormal, kNoRemove, kForceRemove, kDelete } mode = kNormal;
  bool hasDefault = false;
  std::string defaultValue;
  std::vector<Value> values;
  std::vector<Key> subkeys;
};

struct Root {
  RegistryRoot root;
  std::vector<Key> keys;
};

class ScriptReader {
 public:
  ScriptReader(std::string_view text, const std::map<std::string, std::string>& replacements)
      : text_(text), replacements_(replacements) {}

  bool Read(std::vector<Root>& roots, std::string& error) {
    std::string token;
    while (Next(token)) {
      Root root;
      if (!platform::ParseRegistryRoot(token, root.root))
        return Fail(error, "unknown root key '" + token + "'");
      if (!Expect("{", error) || !ReadBlock(root.keys, nullptr, error)) return false;
      roots.push_back(std::move(root));
    }
    return error_.empty() || Fail(error, error_);
  }

 private:
  bool Fail(std::string& error, const std::string& what) {
    size_t line = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) line += text_[i] == '\n';
    error = "registration script, line " + std::to_string(line) + ": " + what;
    return false;
  }

  // The next token: a quoted text (quotes removed, '' is one quote) or a run of
  // non-blank characters. quoted_ tells which, since a quoted '{' is a name.
  bool Next(std::string& token) {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ >= text_.size()) return false;
    token.clear();
    quoted_ = text_[pos_] == '\'';
    if (quoted_) {
      ++pos_;
      while (true) {
        if (pos_ >= text_.size()) {
          error_ = "unclosed quoted text";
          return false;
        }
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            token.push_back('\'');
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        token.push_back(text_[pos_++]);
      }
    } else {
      while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])))
        token.push_back(text_[pos_++]);
    }
    return Replace(token);
  }

  bool Replace(std::string& token) {
    std::string out;
    for (size_t i = 0; i < token.size(); ++i) {
      if (token[i] != '%') {
        out.push_back(token[i]);
        continue;
      }
      size_t end = token.find('%', i + 1);
      if (end == std::string::npos) {
        error_ = "unmatched '%' in '" + token + "'";
        return false;
      }
      std::string name = token.substr(i + 1, end - i - 1);
      if (name.empty()) {
        out.push_back('%');
      } else {
        auto it = replacements_.find(name);
        if (it == replacements_.end()) {
          error_ = "unknown replacement %" + name + "%";
          return false;
        }
        out += it->second;
      }
      i = end;
    }
    token = std::move(out);
    return true;
  }

  bool Is(const std::string& token, const char* word) const { return !quoted_ && token == word; }

  static bool SameWord(const std::string& a, const char* b) {
    std::string_view v(b);
    if (a.size() != v.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(v[i])))
        return false;
    return true;
  }

  bool Expect(const char* word, std::string& error) {
    std::string token;
    if (!Next(token) || !Is(token, word))
      return Fail(error, error_.empty() ? std::string("expected '") + word + "'" : error_);
    return true;
  }

  // "= s 'text'": the type letter and the value.
  bool ReadAssignment(std::string& value, std::string& error) {
    std::string type;
    if (!Next(type)) return Fail(error, "value type missing");
    if (quoted_ || !SameWord(type, "s"))
      return Fail(error, "unsupported value type '" + type + "'");
    if (!Next(value)) return Fail(error, "value missing");
    return true;
  }

  // Keys and values up to the closing '}'. parent is null at the root level,
  // where values cannot stand.
  bool ReadBlock(std::vector<Key>& keys, Key* parent, std::string& error) {
    std::string token;
    while (true) {
      if (!Next(token)) return Fail(error, error_.empty() ? "missing '}'" : error_);
      if (Is(token, "}")) return true;
      if (!quoted_ && SameWord(token, "val")) {
        if (!parent) return Fail(error, "a value outside any key");
        Value value;
        if (!Next(value.name) || !Expect("=", error) || !ReadAssignment(value.data, error))
          return error.empty() ? Fail(error, "incomplete value") : false;
        parent->values.push_back(std::move(value));
        continue;
      }
      Key key;
      if (!quoted_ && SameWord(token, "NoRemove")) key.mode = Key::kNoRemove;
      if (!quoted_ && SameWord(token, "ForceRemove")) key.mode = Key::kForceRemove;
      if (!quoted_ && SameWord(token, "Delete")) key.mode = Key::kDelete;
      if (key.mode != Key::kNormal && !Next(token)) return Fail(error, "key name missing");
      if (!quoted_ && (token == "{" || token == "}" || token == "="))
        return Fail(error, "key name missing");
      key.name = token;
      size_t mark = pos_;
      if (!Next(token)) token.clear();
      if (Is(token, "=")) {
        if (!ReadAssignment(key.defaultValue, error)) return false;
        key.hasDefault = true;
        mark = pos_;
        if (!Next(token)) token.clear();
      }
      if (Is(token, "{")) {
        if (!ReadBlock(key.subkeys, &key, error)) return false;
      } else {
        pos_ = mark;  // not ours: the next key or the closing brace
      }
      keys.push_back(std::move(key));
    }
  }

  std::string_view text_;
  const std::map<std::string, std::string>& replacements_;
  size_t pos_ = 0;
  bool quoted_ = false;
  std::string error_;
};

// Plans the changes against the registry as it is now; the writer applies
// them in one step. deleted_ holds the keys the plan already removes, so that
// nothing is deleted twice and emptiness is judged as it will be.
class Planner {
 public:
  Planner(RegistryRoot root, RegistryWriter& writer) : root_(root), writer_(writer) {}

  void Install(const std::vector<Key>& keys, const std::string& parent) {
    for (const Key& key : keys) {
      const std::string path = Join(parent, key.name);
      if (key.mode == Key::kForceRemove || key.mode == Key::kDelete) Delete(path);
      if (key.mode == Key::kDelete) continue;
      writer_.CreateKey(path);
      if (key.hasDefault) writer_.SetString(path, "", key.defaultValue);
      for (const Value& value : key.values) writer_.SetString(path, value.name, value.data);
      Install(key.subkeys, path);
    }
  }

  void Uninstall(const std::vector<Key>& keys, const std::string& parent, bool ownViewOnly) {
    for (const Key& key : keys) {
      const std::string path = Join(parent, key.name);
      if (ownViewOnly && !IsPerView(path)) continue;
      if (!Exists(path)) continue;
      if (key.mode == Key::kForceRemove || key.mode == Key::kDelete) {
        Delete(path);
        continue;
      }
      Uninstall(key.subkeys, path, false);
      if (key.mode == Key::kNoRemove) {
        for (const Value& value : key.values)
          if (HasValue(path, value.name)) writer_.DeleteValue(path, value.name);
        continue;
      }
      if (RemainingSubkeys(path) == 0) Delete(path);
    }
  }

 private:
  // The classes root's keys that each bitness has its own of (see Removal).
  bool IsPerView(const std::string& path) const {
    return root_ == RegistryRoot::kClassesRoot &&
           (Lower(path) == "clsid" || Lower(path) == "interface");
  }

  static std::string Join(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "\\" + name;
  }

  static std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }

  bool IsDeleted(const std::string& path) const {
    const std::string lower = Lower(path);
    for (const std::string& gone : deleted_)
      if (lower == gone || lower.compare(0, gone.size() + 1, gone + "\\") == 0) return true;
    return false;
  }

  bool Exists(const std::string& path) const {
    if (IsDeleted(path)) return false;
    RegistryKey key;
    return key.Open(root_, path).ok();
  }

  bool HasValue(const std::string& path, const std::string& name) const {
    RegistryKey key;
    std::vector<platform::RegistryValue> values;
    if (!key.Open(root_, path).ok() || key.Values(values) != platform::kErrorSuccess) return false;
    for (const auto& value : values)
      if (Lower(value.name) == Lower(name)) return true;
    return false;
  }

  size_t RemainingSubkeys(const std::string& path) const {
    RegistryKey key;
    std::vector<std::string> names;
    if (!key.Open(root_, path).ok()) return 0;
    key.Subkeys(names);
    size_t left = 0;
    for (const std::string& name : names) left += !IsDeleted(Join(path, name));
    return left;
  }

  void Delete(const std::string& path) {
    if (!Exists(path)) return;
    writer_.DeleteTree(path);
    deleted_.insert(Lower(path));
  }

  RegistryRoot root_;
  RegistryWriter& writer_;
  std::set<std::string> deleted_;
};

}  // namespace

HRESULT RunRegistrationScript(std::string_view script, bool install,
                              const std::map<std::string, std::string>& replacements,
                              std::string* error, Removal removal) {
  try {
    std::vector<Root> roots;
    std::string reason;
    if (!ScriptReader(script, replacements).Read(roots, reason)) {
      if (error) *error = reason;
      return E_UNEXPECTED;
    }
    for (const Root& root : roots) {
      RegistryWriter writer(root.root);
      Planner planner(root.root, writer);
      if (install)
        planner.Install(root.keys, "");
      else
        planner.Uninstall(root.keys, "", removal == Removal::kOwnViewOnly);
      if (platform::RegistryStatus status = writer.Commit(); !status.ok()) {
        if (error)
          *error = std::string("cannot write the registry (") +
                   platform::RegistryRootName(root.root) + "), error " +
                   std::to_string(status.code);
        return HRESULT_FROM_WIN32(status.code);
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace zentrova::com
