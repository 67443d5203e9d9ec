#include "platform/posix/hive.h"

#include <cstdio>
#include <cstring>

#include "platform/posix/support.h"

namespace zentrova::platform::hive {
namespace {

using posix::SameName;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// "A\\\\B\\" -> {"A", "B"}, within the bounds. forWriting also refuses the
// characters that would break the file's lines.
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts, bool forWriting,
               std::string& problem) {
  parts.clear();
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '\\') ++i;
    std::size_t j = i;
    while (j < path.size() && path[j] != '\\') ++j;
    if (j == i) break;
    std::string_view name = path.substr(i, j - i);
    if (name.size() > kMaxKeyNameLength) {
      problem = "a key name is " + std::to_string(name.size()) + " characters long; at most " +
                std::to_string(kMaxKeyNameLength) + " are allowed";
      return false;
    }
    if (parts.size() == kMaxDepth) {
      problem = "a key is nested more than " + std::to_string(kMaxDepth) + " levels deep";
      return false;
    }
    if (forWriting && name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
      problem = "a key name holds a line break or a NUL";
      return false;
    }
    parts.push_back(name);
    i = j;
  }
  return true;
}

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
  c = posix::LowerAscii(c);
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

// "dword:2a", "hex:01,02", "hex(N):..." -> the bytes a reader gets; false for any other text.
bool DecodeTyped(Value& v) {
  std::string_view raw = v.raw;
  v.isString = false;
  if (raw.starts_with("dword:")) {
    std::string_view digits = raw.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    unsigned long n = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return false;
      n = n * 16 + static_cast<unsigned>(d);
    }
    v.data.clear();
    for (int i = 0; i < 4; ++i) v.data += static_cast<char>((n >> (8 * i)) & 0xff);
    return true;
  }
  if (!raw.starts_with("hex")) return false;
  std::size_t colon = raw.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view type = raw.substr(3, colon - 3);
  if (!type.empty()) {
    if (type.size() < 3 || type.size() > 10 || type.front() != '(' || type.back() != ')')
      return false;
    for (char c : type.substr(1, type.size() - 2))
      if (HexDigit(c) < 0) return false;
  }
  if (!ParseHexBytes(raw.substr(colon + 1), v.data)) return false;
  if (type == "(1)") {
    // A string holding line breaks: REGEDIT4 has no escape for them, so it is
    // written as bytes with its terminator and read back as a string.
    if (!v.data.empty() && v.data.back() == '\0') v.data.pop_back();
    v.isString = true;
  }
  return true;
}

// `"name"=data` or `@=data`; false when the line is anything else.
bool ParseValue(std::string_view t, Value& v, std::size_t& dataAt) {
  std::size_t pos = 0;
  v = Value{};
  if (!t.empty() && t[0] == '@') {
    pos = 1;
  } else if (!Unquote(t, pos, v.name)) {
    return false;
  }
  while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
  if (pos >= t.size() || t[pos] != '=') return false;
  ++pos;
  while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
  dataAt = pos;
  return true;
}

bool ParseData(std::string_view t, std::size_t pos, Value& v) {
  if (pos < t.size() && t[pos] == '"') return Unquote(t, pos, v.data) && pos == t.size();
  v.raw = std::string(t.substr(pos));
  return DecodeTyped(v);
}

}  // namespace

std::uint32_t NameIndex::Hash(std::uint32_t owner, std::string_view name) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (int i = 0; i < 4; ++i) h = (h ^ ((owner >> (8 * i)) & 0xff)) * 1099511628211ull;
  for (char c : name) h = (h ^ static_cast<unsigned char>(posix::LowerAscii(c))) * 1099511628211ull;
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

void NameIndex::Reserve(std::size_t count) {
  std::size_t size = 16;
  while (size < 2 * count) size *= 2;
  if (size <= slots_.size()) return;
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(size, Slot{});
  used_ = 0;
  for (const Slot& s : old)
    if (s.ref != kEmpty && s.ref != kGone) Insert(s.hash, s.ref);
}

void NameIndex::Insert(std::uint32_t hash, std::uint64_t ref) {
  if (2 * (used_ + 1) > slots_.size()) Reserve(used_ + 1);
  std::size_t i = hash & (slots_.size() - 1);
  while (slots_[i].ref != kEmpty) i = (i + 1) & (slots_.size() - 1);
  slots_[i] = Slot{ref, hash};
  ++used_;
}

void NameIndex::Erase(std::uint32_t hash, std::uint64_t ref) {
  if (slots_.empty()) return;
  for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
    if (slots_[i].ref == kEmpty) return;
    if (slots_[i].ref == ref) {
      slots_[i].ref = kGone;
      return;
    }
  }
}

Hive::Hive(RegistryRoot root) : root_(root) { nodes_.emplace_back(); }

std::uint32_t Hive::Child(std::uint32_t parent, std::string_view name) const {
  std::uint64_t found = children_.Find(NameIndex::Hash(parent, name), [&](std::uint64_t id) {
    const Node& n = nodes_[id];
    return n.parent == parent && SameName(n.name, name);
  });
  return found == NameIndex::kMissing ? kNone : static_cast<std::uint32_t>(found);
}

std::uint64_t Hive::FindValue(std::uint32_t node, std::string_view name) const {
  return values_.Find(NameIndex::Hash(node, name), [&](std::uint64_t ref) {
    return ref >> 32 == node && SameName(nodes_[node].values[ref & 0xffffffff].name, name);
  });
}

std::uint32_t Hive::AddChild(std::uint32_t parent, std::string_view name) {
  if (std::uint32_t existing = Child(parent, name); existing != kNone) return existing;
  const auto id = static_cast<std::uint32_t>(nodes_.size());
  Node node;
  node.name = std::string(name);
  node.parent = parent;
  node.section = node.last = static_cast<std::uint32_t>(sections_.size());
  nodes_.push_back(std::move(node));
  sections_.push_back(Section{id, {}});
  nodes_[parent].children.push_back(id);
  children_.Insert(NameIndex::Hash(parent, name), id);
  return id;
}

void Hive::AddValue(std::uint32_t node, Value v, std::uint32_t section) {
  std::vector<Value>& values = nodes_[node].values;
  if (std::uint64_t found = FindValue(node, v.name); found != NameIndex::kMissing) {
    // A later line for the same name wins; the value keeps its first place.
    Value& old = values[found & 0xffffffff];
    old.data = std::move(v.data);
    old.isString = v.isString;
    old.raw = std::move(v.raw);
    return;
  }
  values_.Insert(NameIndex::Hash(node, v.name), std::uint64_t{node} << 32 | values.size());
  sections_[section].entries.push_back({static_cast<std::int64_t>(values.size()), {}});
  values.push_back(std::move(v));
}

bool Hive::Parse(std::string_view text, std::string& error) {
  *this = Hive(root_);
  std::size_t pos = 0, lineNo = 0;
  auto nextLine = [&](std::string_view& line) {
    if (pos >= text.size()) return false;
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++lineNo;
    return true;
  };
  auto fail = [&](const std::string& problem) {
    error = "line " + std::to_string(lineNo) + ": " + problem;
    return false;
  };
  // A key with a value takes some 50 bytes: room for that many saves moving them.
  nodes_.reserve(text.size() / 48);
  sections_.reserve(text.size() / 48);
  children_.Reserve(text.size() / 64);
  values_.Reserve(text.size() / 64);
  std::uint32_t current = kNone;  // the section lines go to
  bool first = true;
  std::vector<std::string_view> parts;
  std::string_view line;
  while (nextLine(line)) {
    std::string_view t = Trim(line);
    if (t.empty()) continue;
    if (first) {
      first = false;
      if (t == "REGEDIT4") continue;
    }
    if (t[0] == '[') {
      std::string_view full = t.substr(1, t.size() - 1);
      std::uint32_t node = kNone;
      if (t.size() > 1 && t.back() == ']') {
        full.remove_suffix(1);
        std::size_t slash = full.find('\\');
        RegistryRoot parsed;
        std::string problem;
        if (ParseRegistryRoot(full.substr(0, slash), parsed) && parsed == root_ &&
            slash != std::string_view::npos) {
          if (!SplitPath(full.substr(slash + 1), parts, false, problem)) return fail(problem);
          if (!parts.empty()) {
            node = 0;
            for (std::string_view name : parts) node = AddChild(node, name);
          }
        }
      }
      if (node == kNone) {
        // Another root's section or a header this root cannot take: kept whole.
        current = static_cast<std::uint32_t>(sections_.size());
        sections_.push_back(Section{kNone, {{-1, std::string(line)}}});
      } else if (!nodes_[node].written) {
        nodes_[node].written = true;
        current = nodes_[node].section;
      } else {
        current = nodes_[node].last = static_cast<std::uint32_t>(sections_.size());
        sections_.push_back(Section{node, {}});
      }
      continue;
    }
    if (current == kNone) {  // lines before the first header
      current = static_cast<std::uint32_t>(sections_.size());
      sections_.push_back(Section{kNone, {}});
    }
    Section& section = sections_[current];
    if (section.node == kNone) {
      section.entries.push_back({-1, std::string(line)});
      continue;
    }
    Value v;
    std::size_t dataAt = 0;
    bool isValue = ParseValue(t, v, dataAt);
    std::string joined, lines;
    if (isValue && t.substr(dataAt).starts_with("hex") && t.back() == '\\') {
      lines = line;
      // Long binary values go on over the following lines after a trailing backslash.
      joined = std::string(t);
      std::string_view next;
      while (!joined.empty() && joined.back() == '\\' && nextLine(next)) {
        joined.pop_back();
        joined += Trim(next);
        lines += '\n';
        lines += next;
      }
      if (!joined.empty() && joined.back() == '\\') {
        // Cut off by the end of the file: it stays last, where nothing can follow it.
        tail_ = std::move(lines);
        tailSection_ = current;
        if (current + 1 != sections_.size()) {  // a key written earlier: repeat its header last
          const std::uint32_t node = section.node;
          tailSection_ = nodes_[node].last = static_cast<std::uint32_t>(sections_.size());
          sections_.push_back(Section{node, {}});
        }
        break;
      }
      t = Trim(joined);  // as the line would read if it were written on one
    }
    if (isValue && v.name.size() > kMaxValueNameLength)
      return fail("a value name is " + std::to_string(v.name.size()) +
                  " characters long; at most " + std::to_string(kMaxValueNameLength) +
                  " are allowed");
    if (isValue && ParseData(t, dataAt, v))
      AddValue(section.node, std::move(v), current);
    else
      sections_[current].entries.push_back({-1, lines.empty() ? std::string(line) : lines});
  }
  return true;
}

std::string Hive::Serialize() const {
  std::string out = "REGEDIT4\n";
  auto emit = [&](std::uint32_t s) {
    const Section& section = sections_[s];
    const Node* node = section.node == kNone ? nullptr : &nodes_[section.node];
    bool any = s == tailSection_;  // so that the tail is read in its key again
    for (const auto& e : section.entries)
      if (e.value < 0 || node->values[static_cast<std::size_t>(e.value)].live) any = true;
    if (node && (node->deleted || (node->section == s ? !node->written : !any))) return;
    if (!node && !any) return;
    // Lines kept as they stood follow on directly: a blank line before them would
    // be the one thing a second reading adds where a cut-off line moved them.
    if (node) out += '\n';
    if (node) {
      out += '[';
      out += RegistryRootName(root_);
      out += '\\';
      out += PathOf(section.node);
      out += "]\n";
    }
    for (const auto& e : section.entries) {
      if (e.value < 0) {
        out += e.text;
        out += '\n';
        continue;
      }
      const Value& v = node->values[static_cast<std::size_t>(e.value)];
      if (!v.live) continue;
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
  };
  // The cut-off line's section goes last, after any key added since, so the
  // tail is read in its own key again.
  for (std::uint32_t s = 0; s < sections_.size(); ++s)
    if (s != tailSection_) emit(s);
  if (tailSection_ != kNone) emit(tailSection_);
  if (!tail_.empty() && !nodes_[sections_[tailSection_].node].deleted) {
    out += tail_;
    out += '\n';
  }
  return out;
}

std::uint32_t Hive::Find(std::string_view path) const {
  std::vector<std::string_view> parts;
  std::string problem;
  if (!SplitPath(path, parts, false, problem) || parts.empty()) return kNone;
  std::uint32_t node = 0;
  for (std::string_view name : parts)
    if ((node = Child(node, name)) == kNone) return kNone;
  return node;
}

std::string Hive::PathOf(std::uint32_t node) const {
  std::vector<std::uint32_t> chain;
  for (std::uint32_t n = node; n != 0 && n != kNone; n = nodes_[n].parent) chain.push_back(n);
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!out.empty()) out += '\\';
    out += nodes_[*it].name;
  }
  return out;
}

std::uint32_t Hive::Create(std::string_view path, std::string& problem) {
  std::vector<std::string_view> parts;
  if (!SplitPath(path, parts, true, problem)) return kNone;
  if (parts.empty()) {
    problem = "name a key below the root";
    return kNone;
  }
  std::uint32_t node = 0;
  for (std::string_view name : parts) node = AddChild(node, name);
  nodes_[node].written = true;
  return node;
}

void Hive::SetString(std::uint32_t node, std::string_view name, std::string_view data) {
  nodes_[node].written = true;
  AddValue(node, Value{std::string(name), std::string(data), true, true, {}}, nodes_[node].last);
}

bool Hive::DeleteValue(std::uint32_t node, std::string_view name) {
  std::uint64_t found = FindValue(node, name);
  if (found == NameIndex::kMissing) return false;
  nodes_[node].values[found & 0xffffffff].live = false;
  values_.Erase(NameIndex::Hash(node, name), found);
  return true;
}

void Hive::DeleteTree(std::uint32_t node) {
  const std::uint32_t parent = nodes_[node].parent;
  // The parent stays a key of its own even when it was only implied by this one.
  if (parent != 0) nodes_[parent].written = true;
  std::erase(nodes_[parent].children, node);
  std::vector<std::uint32_t> pending{node};
  while (!pending.empty()) {
    std::uint32_t n = pending.back();
    pending.pop_back();
    Node& gone = nodes_[n];
    gone.deleted = true;
    children_.Erase(NameIndex::Hash(gone.parent, gone.name), n);
    for (std::uint32_t child : gone.children) pending.push_back(child);
    for (std::size_t i = 0; i < gone.values.size(); ++i)
      if (gone.values[i].live)
        values_.Erase(NameIndex::Hash(n, gone.values[i].name), std::uint64_t{n} << 32 | i);
  }
}

}  // namespace zentrova::platform::hive
