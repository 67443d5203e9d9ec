// One root's hive in memory, read from and written to REGEDIT4 text held in a
// byte buffer (the registry stand-in does the file work around it).
//
// A writer rewrites the whole file from this model, so the model keeps every
// line it does not understand (comments, other roots' sections, malformed
// values) verbatim in the section where it stood. Parsing is one pass over the
// bytes and never recurses per key level; key names and depth are bounded as
// on Windows, and a hive beyond a bound is refused with the line that breaks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace zentrova::platform::hive {

inline constexpr std::size_t kMaxKeyNameLength = 255;  // one level of a key path
inline constexpr std::size_t kMaxDepth = 512;          // levels below the root
inline constexpr std::size_t kMaxValueNameLength = 16383;
inline constexpr std::uint32_t kNone = UINT32_MAX;

struct Value {
  std::string name;
  std::string data;  // the bytes a reader gets (strings without a terminator)
  bool isString = true;
  bool live = true;  // false once deleted
  std::string raw;   // other types: the text after '=' as read, written back unchanged
};

struct Node {
  std::string name;  // as stored; the root node's is empty
  std::uint32_t parent = kNone;
  std::uint32_t section = kNone;  // its own place in the file
  std::uint32_t last = kNone;     // its last section: a repeated header opens another
  std::vector<std::uint32_t> children;
  std::vector<Value> values;
  bool written = false;  // has a header of its own (a parent implied by a child has none)
  bool deleted = false;
};

// A stretch of the file: a key's header and lines, or (node == kNone) lines
// that belong to no key of this root, kept as they stand.
struct Section {
  struct Entry {
    std::int64_t value = -1;  // an index into the node's values, or -1: text
    std::string text;         // verbatim lines, joined by '\n'
  };
  std::uint32_t node = kNone;
  std::vector<Entry> entries;
};

// Names under their owner (a key's subkeys, a key's values), found by hash with
// open addressing: one flat table, so a hive of many keys reads quickly. The
// table holds references; the caller's match tells whether one is the name sought.
class NameIndex {
 public:
  static constexpr std::uint64_t kMissing = UINT64_MAX;
  static std::uint32_t Hash(std::uint32_t owner, std::string_view name);

  template <class Match>
  std::uint64_t Find(std::uint32_t hash, Match match) const {
    if (slots_.empty()) return kMissing;
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& s = slots_[i];
      if (s.ref == kEmpty) return kMissing;
      if (s.ref != kGone && s.hash == hash && match(s.ref)) return s.ref;
    }
  }
  void Insert(std::uint32_t hash, std::uint64_t ref);
  void Erase(std::uint32_t hash, std::uint64_t ref);
  void Reserve(std::size_t count);

 private:
  static constexpr std::uint64_t kEmpty = UINT64_MAX, kGone = UINT64_MAX - 1;
  struct Slot {
    std::uint64_t ref = kEmpty;
    std::uint32_t hash = 0;
  };
  std::vector<Slot> slots_;  // a power of two long, at most half in use
  std::size_t used_ = 0;     // live and gone
};

class Hive {
 public:
  explicit Hive(RegistryRoot root);

  // Replaces the content with what bytes hold. False when the hive breaks a
  // bound; then error names the line and the bound.
  bool Parse(std::string_view bytes, std::string& error);
  std::string Serialize() const;

  // A key by its path below the root (any case, stray separators allowed).
  std::uint32_t Find(std::string_view path) const;
  std::string PathOf(std::uint32_t node) const;  // its names in stored case

  // Creates the key with any missing parents and gives it a header of its own.
  // kNone when the path breaks a bound or holds a line break (problem says which).
  std::uint32_t Create(std::string_view path, std::string& problem);
  void SetString(std::uint32_t node, std::string_view name, std::string_view data);
  bool DeleteValue(std::uint32_t node, std::string_view name);
  void DeleteTree(std::uint32_t node);  // not the root

  const std::vector<Node>& nodes() const { return nodes_; }
  const std::vector<Section>& sections() const { return sections_; }
  const std::string& tail() const { return tail_; }

 private:
  std::uint32_t Child(std::uint32_t parent, std::string_view name) const;
  std::uint32_t AddChild(std::uint32_t parent, std::string_view name);  // or the existing one
  void AddValue(std::uint32_t node, Value v, std::uint32_t section);

  RegistryRoot root_;
  std::vector<Node> nodes_;
  std::vector<Section> sections_;
  std::string tail_;                   // a continued line cut off by the end of the file
  std::uint32_t tailSection_ = kNone;  // the key it was cut off in: always written
  std::uint64_t FindValue(std::uint32_t node, std::string_view name) const;

  NameIndex children_;  // node ids by parent and name
  NameIndex values_;    // (node id << 32 | value index) by node and name
};

}  // namespace zentrova::platform::hive
