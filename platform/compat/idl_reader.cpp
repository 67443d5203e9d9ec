// The interface-definition reader: the subset of the language that automation
// interfaces use, read into a LibraryData.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/compat/extras.h"
#include "platform/compat/typelib_data.h"

namespace zentrova::platform::typelib {
namespace {

OleString Widen(std::string_view text) {
  OleString out;
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
  return out;
}

class IdlReader {
 public:
  explicit IdlReader(std::string_view text) : text_(text) {}

  bool Read(LibraryData& library, std::string& error) {
    std::vector<TypeData> interfaces;
    bool haveLibrary = false;
    while (SkipBlank(), pos_ < text_.size()) {
      Attributes attributes;
      if (!ReadAttributes(attributes)) return Fail(error);
      std::string word = Word();
      if (word == "import") {
        if (!String() || !Expect(';')) return Fail(error);
      } else if (word == "cpp_quote") {
        if (!Expect('(') || !String() || !Expect(')')) return Fail(error);
      } else if (word == "interface") {
        TypeData type;
        if (!ReadInterface(attributes, type)) return Fail(error);
        if (!type.name.empty()) interfaces.push_back(std::move(type));
      } else if (word == "library") {
        if (haveLibrary) return Fail(error, "a second library");
        if (!ReadLibrary(attributes, library, interfaces)) return Fail(error);
        haveLibrary = true;
      } else {
        return Fail(error, "unexpected '" + word + "'");
      }
    }
    if (!haveLibrary) return Fail(error, "no library statement");
    return true;
  }

 private:
  struct Attributes {
    std::vector<std::pair<std::string, std::string>> items;  // name, raw argument
    bool Has(std::string_view name) const {
      for (const auto& item : items)
        if (item.first == name) return true;
      return false;
    }
    std::string Get(std::string_view name) const {
      for (const auto& item : items)
        if (item.first == name) return item.second;
      return {};
    }
  };

  bool Fail(std::string& error, const std::string& what = {}) {
    size_t line = 1;
    for (size_t i = 0; i < pos_ && i < text_.size(); ++i) line += text_[i] == '\n';
    error = "interface definition, line " + std::to_string(line) + ": " +
            (what.empty() ? (problem_.empty() ? std::string("syntax error") : problem_) : what);
    return false;
  }

  void SkipBlank() {
    while (pos_ < text_.size()) {
      if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        ++pos_;
      } else if (text_.compare(pos_, 2, "//") == 0) {
        pos_ = text_.find('\n', pos_);
        if (pos_ == std::string_view::npos) pos_ = text_.size();
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        pos_ = text_.find("*/", pos_ + 2);
        pos_ = pos_ == std::string_view::npos ? text_.size() : pos_ + 2;
      } else {
        break;
      }
    }
  }

  bool Peek(char c) {
    SkipBlank();
    return pos_ < text_.size() && text_[pos_] == c;
  }

  bool Expect(char c) {
    if (!Peek(c)) {
      problem_ = std::string("expected '") + c + "'";
      return false;
    }
    ++pos_;
    return true;
  }

  std::string Word() {
    SkipBlank();
    size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
      ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  // A quoted string; its text (escapes \" and \\ resolved) in last_string_.
  // One never closed is named at its opening quote: where it ends says nothing.
  bool String() {
    if (!Expect('"')) return false;
    const size_t start = pos_ - 1;
    last_string_.clear();
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
      last_string_.push_back(text_[pos_++]);
    }
    if (pos_ >= text_.size()) return (pos_ = start, problem_ = "unclosed string"), false;
    ++pos_;
    return true;
  }

  bool ReadAttributes(Attributes& attributes) {
    if (!Peek('[')) return true;
    ++pos_;
    while (true) {
      std::string name = Word();
      if (name.empty()) return (problem_ = "expected an attribute"), false;
      std::string argument;
      if (Peek('(')) {
        ++pos_;
        SkipBlank();
        if (Peek('"')) {
          if (!String()) return false;
          argument = last_string_;
        } else {
          size_t end = text_.find(')', pos_);
          if (end == std::string_view::npos) return (problem_ = "unclosed attribute"), false;
          argument = std::string(text_.substr(pos_, end - pos_));
          while (!argument.empty() && std::isspace(static_cast<unsigned char>(argument.back())))
            argument.pop_back();
          pos_ = end;
        }
        if (!Expect(')')) return false;
      }
      attributes.items.emplace_back(std::move(name), std::move(argument));
      if (Peek(']')) {
        ++pos_;
        return true;
      }
      if (!Expect(',')) return false;
    }
  }

  bool Uuid(const Attributes& attributes, GUID& guid) {
    if (!ParseGuid(attributes.Get("uuid"), guid))
      return (problem_ = "missing or malformed uuid"), false;
    return true;
  }

  static bool Type(const std::string& word, VARTYPE& vt) {
    if (word == "BSTR")
      vt = VT_BSTR;
    else if (word == "long" || word == "LONG" || word == "int" || word == "INT")
      vt = VT_I4;
    else if (word == "short" || word == "SHORT")
      vt = VT_I2;
    else if (word == "double" || word == "DOUBLE")
      vt = VT_R8;
    else if (word == "VARIANT")
      vt = VT_VARIANT;
    else if (word == "VARIANT_BOOL")
      vt = VT_BOOL;
    else if (word == "IDispatch")
      vt = VT_DISPATCH;
    else if (word == "IUnknown")
      vt = VT_UNKNOWN;
    else
      return false;
    return true;
  }

  bool ReadInterface(const Attributes& attributes, TypeData& type) {
    std::string name = Word();
    if (name.empty()) return (problem_ = "interface without a name"), false;
    if (Peek(';')) {  // a forward declaration
      ++pos_;
      return true;
    }
    unsigned firstSlot = 3;
    if (Peek(':')) {
      ++pos_;
      std::string base = Word();
      if (base == "IDispatch")
        firstSlot = 7;
      else if (base != "IUnknown")
        return (problem_ = "unsupported base interface " + base), false;
    }
    if (!Uuid(attributes, type.guid)) return false;
    type.kind = TKIND_DISPATCH;
    type.name = Widen(name);
    type.help = Widen(attributes.Get("helpstring"));
    if (attributes.Has("dual"))
      type.flags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    if (attributes.Has("oleautomation")) type.flags |= TYPEFLAG_FOLEAUTOMATION;
    if (!Expect('{')) return false;
    while (!Peek('}')) {
      FuncData func;
      if (!ReadMember(func)) return false;
      func.slot = firstSlot + static_cast<unsigned>(type.funcs.size());
      type.funcs.push_back(std::move(func));
    }
    ++pos_;
    if (Peek(';')) ++pos_;
    return true;
  }

  bool ReadMember(FuncData& func) {
    Attributes attributes;
    if (!ReadAttributes(attributes)) return false;
    if (Word() != "HRESULT") return (problem_ = "members must return HRESULT"), false;
    func.name = Widen(Word());
    if (func.name.empty()) return (problem_ = "member without a name"), false;
    std::string id = attributes.Get("id");
    char* end = nullptr;
    func.id = static_cast<MEMBERID>(std::strtol(id.c_str(), &end, 0));
    if (id.empty() || *end) return (problem_ = "member without an id"), false;
    func.kind = attributes.Has("propget")      ? INVOKE_PROPERTYGET
                : attributes.Has("propput")    ? INVOKE_PROPERTYPUT
                : attributes.Has("propputref") ? INVOKE_PROPERTYPUTREF
                                               : INVOKE_FUNC;
    func.help = Widen(attributes.Get("helpstring"));
    if (!Expect('(')) return false;
    if (!Peek(')')) {
      size_t mark = pos_;
      if (Word() != "void" || !Peek(')')) {
        pos_ = mark;
        while (true) {
          ParamData param;
          if (!ReadParam(param)) return false;
          func.params.push_back(std::move(param));
          if (Peek(')')) break;
          if (!Expect(',')) return false;
        }
      }
    }
    ++pos_;
    // The type library keeps no name for the value of a property put.
    if ((func.kind == INVOKE_PROPERTYPUT || func.kind == INVOKE_PROPERTYPUTREF) &&
        !func.params.empty())
      func.params.back().name.clear();
    return Expect(';');
  }

  bool ReadParam(ParamData& param) {
    Attributes attributes;
    if (!ReadAttributes(attributes)) return false;
    std::string type = Word();
    if (!Type(type, param.vt))
      return (problem_ = "unsupported parameter type '" + type + "'"), false;
    int stars = 0;
    while (Peek('*')) ++pos_, ++stars;
    // Interfaces are always passed by pointer: one star is the value itself.
    if (param.vt == VT_DISPATCH || param.vt == VT_UNKNOWN) --stars;
    if (stars < 0 || stars > 1)
      return (problem_ = "unsupported indirection of '" + type + "'"), false;
    param.pointer = stars == 1;
    param.name = Widen(Word());
    if (attributes.Has("in")) param.flags |= PARAMFLAG_FIN;
    if (attributes.Has("out")) param.flags |= PARAMFLAG_FOUT;
    if (attributes.Has("retval")) param.flags |= PARAMFLAG_FRETVAL;
    if (attributes.Has("optional")) param.flags |= PARAMFLAG_FOPT;
    if ((param.flags & PARAMFLAG_FRETVAL) && !param.pointer)
      return (problem_ = "retval must be a pointer"), false;
    return true;
  }

  bool ReadCoclass(const Attributes& attributes, TypeData& type) {
    type.kind = TKIND_COCLASS;
    type.name = Widen(Word());
    type.help = Widen(attributes.Get("helpstring"));
    type.flags = TYPEFLAG_FCANCREATE;
    if (type.name.empty() || !Uuid(attributes, type.guid) || !Expect('{')) return false;
    while (!Peek('}')) {
      Attributes member;
      if (!ReadAttributes(member)) return false;
      if (Word() != "interface") return (problem_ = "expected 'interface' in coclass"), false;
      OleString name = Widen(Word());
      if (type.defaultInterface.empty() || member.Has("default")) type.defaultInterface = name;
      if (!Expect(';')) return false;
    }
    ++pos_;
    if (Peek(';')) ++pos_;
    return true;
  }

  bool ReadLibrary(const Attributes& attributes, LibraryData& library,
                   std::vector<TypeData>& interfaces) {
    library.name = Widen(Word());
    library.help = Widen(attributes.Get("helpstring"));
    if (library.name.empty() || !Uuid(attributes, library.guid)) return false;
    std::string version = attributes.Get("version");
    char* end = nullptr;
    library.major = static_cast<WORD>(std::strtoul(version.c_str(), &end, 10));
    if (*end == '.') library.minor = static_cast<WORD>(std::strtoul(end + 1, &end, 10));
    if (version.empty() || *end) return (problem_ = "library without a version"), false;
    std::string lcid = attributes.Get("lcid");
    library.lcid = static_cast<LCID>(std::strtoul(lcid.c_str(), nullptr, 0));
    if (!Expect('{')) return false;
    std::vector<TypeData> coclasses;
    while (!Peek('}')) {
      Attributes inner;
      if (!ReadAttributes(inner)) return false;
      std::string word = Word();
      if (word == "importlib") {
        if (!Expect('(') || !String() || !Expect(')') || !Expect(';')) return false;
      } else if (word == "coclass") {
        TypeData type;
        if (!ReadCoclass(inner, type)) return false;
        coclasses.push_back(std::move(type));
      } else if (word == "interface") {
        TypeData type;
        if (!ReadInterface(inner, type)) return false;
        if (!type.name.empty()) interfaces.push_back(std::move(type));
      } else {
        return (problem_ = "unexpected '" + word + "' in library"), false;
      }
    }
    ++pos_;
    if (Peek(';')) ++pos_;
    // Interfaces first, in the order of definition, then the classes.
    library.types = std::move(interfaces);
    for (auto& type : coclasses) library.types.push_back(std::move(type));
    interfaces.clear();
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string last_string_;
  std::string problem_;
};

}  // namespace

bool ReadIdl(std::string_view text, LibraryData& library, std::string& error) {
  return IdlReader(text).Read(library, error);
}

}  // namespace zentrova::platform::typelib
