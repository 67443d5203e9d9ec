// File-backed registry: one REGEDIT4 text file per root, so an administrator can
// read and edit it with any text editor.
//
// Readers parse the file as it stands; a writer takes an exclusive flock on a lock
// file beside the hives, re-reads the hive under it, applies its batch and renames
// a complete new file into place. Readers therefore see either the old or the new
// file, never half of one, and two writers never lose each other's keys.
#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace zentrova::platform {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// "\\A\\\\B\\" -> "A\\B": key paths as typed may carry stray or doubled separators.
std::string NormalisePath(std::string_view path) {
  std::string out;
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '\\') ++i;
    std::size_t j = i;
    while (j < path.size() && path[j] != '\\') ++j;
    if (j > i) {
      if (!out.empty()) out += '\\';
      out.append(path.substr(i, j - i));
    }
    i = j;
  }
  return out;
}

std::string ParentOf(const std::string& path) {
  std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

struct Value {
  std::string name;
  std::string data;  // the bytes a reader gets (strings without a terminator)
  bool isString = true;
  std::string raw;  // for other types: the text after '=' exactly as read
};

struct Key {
  std::string path;  // below the root, without the root's name
  std::vector<Value> values;
};

// One root's keys in file order. Parents are implied by their children: a key
// written by hand as [HKEY_CURRENT_USER\A\B] also makes A exist.
struct Hive {
  std::vector<Key> keys;

  Key* Find(std::string_view path) {
    for (auto& k : keys)
      if (SameName(k.path, path)) return &k;
    return nullptr;
  }
  Key& Create(const std::string& path) {
    if (Key* k = Find(path)) return *k;
    std::string parent = ParentOf(path);
    if (!parent.empty()) Create(parent);
    keys.push_back(Key{path, {}});
    return keys.back();
  }
  bool IsBelow(const std::string& path, std::string_view ancestor) const {
    return path.size() > ancestor.size() && path[ancestor.size()] == '\\' &&
           SameName(std::string_view(path).substr(0, ancestor.size()), ancestor);
  }
};

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the closing quote.
bool Unquote(std::string_view line, std::size_t& pos, std::string& out) {
  out.clear();
  if (pos >= line.size() || line[pos] != '"') return false;
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '\\' && pos + 1 < line.size()) {
      out += line[++pos];
    } else if (c == '"') {
      ++pos;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "01,02,ff" -> bytes; false on anything else.
bool ParseHexBytes(std::string_view text, std::string& out) {
  out.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
    if (i >= text.size()) break;
    if (i + 1 >= text.size()) return false;
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string HexBytes(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
    if (i) out += ',';
    out += buf;
  }
  return out;
}

// The data a reader gets from a value of another type; raw is kept for writing back.
void DecodeTyped(Value& v) {
  v.isString = false;
  v.data.clear();
  const std::string& raw = v.raw;
  if (raw.rfind("dword:", 0) == 0) {
    unsigned long n = std::strtoul(raw.c_str() + 6, nullptr, 16);
    for (int i = 0; i < 4; ++i) v.data += static_cast<char>((n >> (8 * i)) & 0xff);
  } else if (raw.rfind("hex(1):", 0) == 0) {
    // A string holding line breaks: REGEDIT4 has no escape for them, so it is
    // written as bytes with its terminator and read back as a string.
    if (ParseHexBytes(std::string_view(raw).substr(7), v.data)) {
      while (!v.data.empty() && v.data.back() == '\0') v.data.pop_back();
      v.isString = true;
    }
  } else if (raw.rfind("hex", 0) == 0) {
    std::size_t colon = raw.find(':');
    if (colon != std::string::npos) ParseHexBytes(std::string_view(raw).substr(colon + 1), v.data);
  }
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

void ParseHive(const std::string& text, RegistryRoot root, Hive& hive) {
  hive.keys.clear();
  const std::string rootName = RegistryRootName(root);
  Key* current = nullptr;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    // Long binary values continue on the next line after a trailing backslash.
    std::string t = Trim(line);
    std::string next;
    while (!t.empty() && t.back() == '\\' && std::getline(in, next)) {
      t.pop_back();
      t += Trim(next);
    }
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      current = nullptr;
      std::size_t close = t.rfind(']');
      if (close == std::string::npos) continue;
      std::string full = t.substr(1, close - 1);
      std::size_t slash = full.find('\\');
      std::string head = full.substr(0, slash);
      RegistryRoot parsed;
      if (!ParseRegistryRoot(head, parsed) || parsed != root) continue;  // another root's section
      std::string path =
          slash == std::string::npos ? std::string() : NormalisePath(full.substr(slash + 1));
      if (path.empty()) continue;
      current = &hive.Create(path);
      continue;
    }
    if (!current) continue;
    Value v;
    std::size_t pos = 0;
    if (t[0] == '@') {
      pos = 1;
    } else if (!Unquote(t, pos, v.name)) {
      continue;
    }
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
    if (pos >= t.size() || t[pos] != '=') continue;
    ++pos;
    while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
    if (pos < t.size() && t[pos] == '"') {
      if (!Unquote(t, pos, v.data)) continue;
    } else if (pos < t.size() && t[pos] == '-') {
      continue;  // a deletion mark of a merge file: nothing to hold
    } else {
      v.raw = t.substr(pos);
      DecodeTyped(v);
    }
    bool replaced = false;
    for (auto& existing : current->values) {
      if (SameName(existing.name, v.name)) {
        existing = v;
        replaced = true;
        break;
      }
    }
    if (!replaced) current->values.push_back(std::move(v));
  }
}

std::string FormatHive(const Hive& hive, RegistryRoot root) {
  std::string out = "REGEDIT4\n";
  for (const auto& k : hive.keys) {
    out += "\n[";
    out += RegistryRootName(root);
    out += '\\';
    out += k.path;
    out += "]\n";
    for (const auto& v : k.values) {
      out += v.name.empty() ? std::string("@") : Quote(v.name);
      out += '=';
      if (!v.raw.empty()) {
        out += v.raw;
      } else if (v.data.find_first_of("\r\n") != std::string::npos) {
        out += "hex(1):" + HexBytes(v.data + std::string(1, '\0'));
      } else {
        out += Quote(v.data);
      }
      out += '\n';
    }
  }
  return out;
}

std::string HivePath(RegistryRoot root) {
  return RegistryDirectory() + "/" + RegistryRootName(root) + ".reg";
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

void LoadHive(RegistryRoot root, Hive& hive) {
  std::string text;
  hive.keys.clear();
  if (ReadWholeFile(HivePath(root), text)) ParseHive(text, root, hive);
}

// mkdir -p, private to the user: the hives may name internal servers.
bool MakeDirectories(const std::string& dir) {
  std::string partial;
  std::size_t i = 0;
  while (i <= dir.size()) {
    std::size_t j = dir.find('/', i);
    if (j == std::string::npos) j = dir.size();
    partial = dir.substr(0, j);
    if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    i = j + 1;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string RegistryDirectory() {
  if (const char* dir = std::getenv("ZENTROVA_REGISTRY"); dir && *dir) return dir;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    base = std::string(home ? home : "") + "/.config";
  }
  return base + "/zentrova/registry";
}

bool ParseRegistryRoot(std::string_view name, RegistryRoot& root) {
  if (SameName(name, "HKEY_CURRENT_USER") || SameName(name, "HKCU")) {
    root = RegistryRoot::kCurrentUser;
    return true;
  }
  if (SameName(name, "HKEY_CLASSES_ROOT") || SameName(name, "HKCR")) {
    root = RegistryRoot::kClassesRoot;
    return true;
  }
  return false;
}

const char* RegistryRootName(RegistryRoot root) {
  return root == RegistryRoot::kClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

// ---- reading ----------------------------------------------------------------

struct RegistryKey::Impl {
  Key key;  // a snapshot taken at Open
  std::vector<std::string> subkeys;
};

RegistryKey::RegistryKey() : impl_(nullptr) {}
RegistryKey::~RegistryKey() { Close(); }
RegistryKey::RegistryKey(RegistryKey&& other) noexcept : impl_(other.impl_) {
  other.impl_ = nullptr;
}
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    impl_ = other.impl_;
    other.impl_ = nullptr;
  }
  return *this;
}

long RegistryKey::Open(RegistryRoot root, std::string_view path) {
  Close();
  std::string wanted = NormalisePath(path);
  if (wanted.empty()) return kErrorInvalidParameter;
  Hive hive;
  LoadHive(root, hive);
  Key* key = hive.Find(wanted);
  if (!key) return kErrorFileNotFound;
  auto impl = std::make_unique<Impl>();
  impl->key = *key;
  for (const auto& k : hive.keys)
    if (hive.IsBelow(k.path, key->path) &&
        k.path.find('\\', key->path.size() + 1) == std::string::npos)
      impl->subkeys.push_back(k.path.substr(key->path.size() + 1));
  impl_ = impl.release();
  return kErrorSuccess;
}

bool RegistryKey::IsOpen() const { return impl_ != nullptr; }

std::string RegistryKey::Path() const { return impl_ ? impl_->key.path : std::string(); }

void RegistryKey::Close() {
  delete impl_;
  impl_ = nullptr;
}

long RegistryKey::QueryValue(std::string_view name, void* buffer, unsigned long* size) const {
  if (!impl_ || !size) return kErrorInvalidParameter;
  for (const auto& v : impl_->key.values) {
    if (!SameName(v.name, name)) continue;
    unsigned long needed = static_cast<unsigned long>(v.data.size() + (v.isString ? 1 : 0));
    if (!buffer) {
      *size = needed;
      return kErrorSuccess;
    }
    if (*size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    std::memcpy(buffer, v.data.data(), v.data.size());
    if (v.isString) static_cast<char*>(buffer)[v.data.size()] = '\0';
    *size = needed;
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

long RegistryKey::Values(std::vector<RegistryValue>& out) const {
  out.clear();
  if (!impl_) return kErrorInvalidParameter;
  for (const auto& v : impl_->key.values) out.push_back(RegistryValue{v.name, v.data});
  return kErrorSuccess;
}

long RegistryKey::Subkeys(std::vector<std::string>& out) const {
  out.clear();
  if (!impl_) return kErrorInvalidParameter;
  out = impl_->subkeys;
  return kErrorSuccess;
}

// ---- writing ----------------------------------------------------------------

namespace {
struct Change {
  enum Kind { kCreate, kSet, kDeleteValue, kDeleteTree } kind;
  std::string path, name, value;
};
}  // namespace

struct RegistryWriter::Impl {
  RegistryRoot root;
  std::vector<Change> changes;
};

RegistryWriter::RegistryWriter(RegistryRoot root) : impl_(new Impl{root, {}}) {}
RegistryWriter::~RegistryWriter() { delete impl_; }

void RegistryWriter::CreateKey(std::string_view path) {
  impl_->changes.push_back({Change::kCreate, NormalisePath(path), {}, {}});
}
void RegistryWriter::SetString(std::string_view path, std::string_view name,
                               std::string_view value) {
  impl_->changes.push_back(
      {Change::kSet, NormalisePath(path), std::string(name), std::string(value)});
}
void RegistryWriter::DeleteValue(std::string_view path, std::string_view name) {
  impl_->changes.push_back({Change::kDeleteValue, NormalisePath(path), std::string(name), {}});
}
void RegistryWriter::DeleteTree(std::string_view path) {
  impl_->changes.push_back({Change::kDeleteTree, NormalisePath(path), {}, {}});
}

long RegistryWriter::Commit() {
  for (const auto& c : impl_->changes)
    if (c.path.empty()) return kErrorInvalidParameter;

  const std::string dir = RegistryDirectory();
  if (!MakeDirectories(dir)) return kErrorAccessDenied;
  FileDescriptor lock(open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return kErrorAccessDenied;
  while (flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return kErrorAccessDenied;
  }

  // Under the lock: what other writers committed meanwhile is in the file now.
  Hive hive;
  LoadHive(impl_->root, hive);
  for (const auto& c : impl_->changes) {
    switch (c.kind) {
      case Change::kCreate:
        hive.Create(c.path);
        break;
      case Change::kSet: {
        Key& key = hive.Create(c.path);
        Value* target = nullptr;
        for (auto& v : key.values)
          if (SameName(v.name, c.name)) target = &v;
        if (!target) {
          key.values.push_back(Value{c.name, {}, true, {}});
          target = &key.values.back();
        }
        target->data = c.value;
        target->isString = true;
        target->raw.clear();
        break;
      }
      case Change::kDeleteValue: {
        Key* key = hive.Find(c.path);
        if (!key) return kErrorFileNotFound;
        auto& vals = key->values;
        std::size_t before = vals.size();
        std::erase_if(vals, [&](const Value& v) { return SameName(v.name, c.name); });
        if (vals.size() == before) return kErrorFileNotFound;
        break;
      }
      case Change::kDeleteTree: {
        Key* key = hive.Find(c.path);
        if (!key) return kErrorFileNotFound;
        std::string gone = key->path;
        std::erase_if(hive.keys, [&](const Key& k) {
          return SameName(k.path, gone) || hive.IsBelow(k.path, gone);
        });
        break;
      }
    }
  }

  const std::string target = HivePath(impl_->root);
  const std::string temp = target + ".tmp." + std::to_string(getpid());
  {
    FileDescriptor out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0) return kErrorAccessDenied;
    if (!WriteAll(out.get(), FormatHive(hive, impl_->root)) || fsync(out.get()) != 0) {
      unlink(temp.c_str());
      return kErrorAccessDenied;
    }
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return kErrorAccessDenied;
  }
  impl_->changes.clear();
  return kErrorSuccess;
}

}  // namespace zentrova::platform
