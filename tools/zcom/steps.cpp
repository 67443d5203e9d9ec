#include "tools/zcom/steps.h"

#include <cstdint>

#include "platform/ole_text.h"

namespace zentrova::zcom {
namespace {

constexpr std::size_t kQuoted = 40;  // how much of the rest an error message quotes

bool ParseNumber(std::string_view text, LONG& number) {
  size_t i = text.size() && text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return false;
  }
  if (text[0] == '-') value = -value;
  if (value > 2147483647LL) return false;
  number = static_cast<LONG>(value);
  return true;
}

class ArgReader {
 public:
  explicit ArgReader(std::string_view text) : text_(text) {}

  // The whole text as a list of ARGs separated by commas.
  bool ReadList(std::vector<Arg>& args, std::string& error) {
    Skip();
    if (pos_ == text_.size()) return true;
    while (true) {
      Arg arg;
      if (!Read(arg, 0, error)) return false;
      args.push_back(std::move(arg));
      Skip();
      if (pos_ == text_.size()) return true;
      if (text_[pos_] != ',') return Fail(error, "expected ',' between arguments");
      ++pos_;
    }
  }

 private:
  bool Fail(std::string& error, const std::string& what) {
    const std::string_view rest = text_.substr(pos_);
    error = what + " at \"" + std::string(rest.substr(0, kQuoted)) +
            (rest.size() > kQuoted ? "...\"" : "\"");
    return false;
  }

  void Skip() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  // depth: the arrays and references around this ARG.
  bool Read(Arg& arg, int depth, std::string& error) {
    Skip();
    if (pos_ == text_.size()) return Fail(error, "an argument is missing");
    const char c = text_[pos_];
    if ((c == '&' || c == '[') && depth == kMaxNesting)
      return Fail(error, "arrays and references nest more than " + std::to_string(kMaxNesting) +
                             " levels deep");
    if (c == '"') {
      arg.kind = Arg::kText;
      for (++pos_; pos_ < text_.size() && text_[pos_] != '"'; ++pos_) {
        if (text_[pos_] == '\\' && pos_ + 1 < text_.size() &&
            (text_[pos_ + 1] == '"' || text_[pos_ + 1] == '\\'))
          ++pos_;
        arg.text.push_back(text_[pos_]);
      }
      if (pos_ == text_.size()) return Fail(error, "unclosed text");
      ++pos_;
      return true;
    }
    if (c == '&') {
      ++pos_;
      arg.kind = Arg::kReference;
      arg.target = std::make_shared<Arg>();
      return Read(*arg.target, depth + 1, error);
    }
    if (c == '[') return ReadArray(arg, depth, error);
    size_t end = pos_;
    while (end < text_.size() && text_[end] != ',' && text_[end] != ']' && text_[end] != ' ') ++end;
    std::string_view word = text_.substr(pos_, end - pos_);
    if (word == "empty") {
      arg.kind = Arg::kEmpty;
    } else if (word == "null") {
      arg.kind = Arg::kNull;
    } else if (ParseNumber(word, arg.number)) {
      arg.kind = Arg::kNumber;
    } else {
      return Fail(error, "not an argument (texts need double quotes; numbers must fit 32 bits)");
    }
    pos_ = end;
    return true;
  }

  bool ReadArray(Arg& arg, int depth, std::string& error) {
    ++pos_;
    arg.kind = Arg::kArray;
    Skip();
    // "[LB: ...]": a number followed by a colon gives the lower bound.
    size_t mark = pos_;
    size_t end = pos_;
    while (end < text_.size() && (text_[end] == '-' || (text_[end] >= '0' && text_[end] <= '9')))
      ++end;
    size_t colon = end;
    while (colon < text_.size() && text_[colon] == ' ') ++colon;
    if (end > pos_ && colon < text_.size() && text_[colon] == ':') {
      if (!ParseNumber(text_.substr(pos_, end - pos_), arg.lowerBound))
        return Fail(error, "bad lower bound");
      pos_ = colon + 1;
    } else {
      pos_ = mark;
    }
    Skip();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    while (true) {
      // The last index must fit 32 bits like the first.
      if (std::int64_t{arg.lowerBound} + static_cast<std::int64_t>(arg.items.size()) > INT32_MAX)
        return Fail(error, "the array's indexes would pass 2147483647 (lower the bound)");
      Arg item;
      if (!Read(item, depth + 1, error)) return false;
      arg.items.push_back(std::move(item));
      Skip();
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return true;
      }
      if (pos_ == text_.size() || text_[pos_] != ',') return Fail(error, "expected ',' or ']'");
      ++pos_;
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// Decimal digits with an optional minus sign.
bool IsInteger(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

bool ParseStep(std::string_view text, Step& step, std::string& error) {
  size_t n = 0;
  while (n < text.size() && IsNameChar(text[n])) ++n;
  step.name = std::string(text.substr(0, n));
  if (step.name.empty()) {
    error = "a step must begin with a member name";
    return false;
  }
  if (n == text.size()) {
    step.kind = Step::kGet;
    return true;
  }
  if (text[n] == '=') {
    step.kind = Step::kPut;
    std::string_view value = text.substr(n + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      step.value.kind = Arg::kText;
      step.value.text = std::string(value.substr(1, value.size() - 2));
    } else if (IsInteger(value)) {
      step.value.kind = Arg::kNumber;
      if (!ParseNumber(value, step.value.number)) {
        error = "the number " + std::string(value) + " does not fit 32 bits";
        return false;
      }
    } else {
      step.value.kind = Arg::kText;
      step.value.text = std::string(value);
    }
    return true;
  }
  if (text[n] == '<') {
    step.kind = Step::kPut;
    step.value.kind = Arg::kText;
    const std::string_view from = text.substr(n + 1);
    if (from == "stdin") {
      step.source = Step::kStandardInput;
      return true;
    }
    if (from.starts_with("env:") && from.size() > 4 && from.find('=') == std::string_view::npos) {
      step.source = Step::kEnvironment;
      step.variable = std::string(from.substr(4));
      return true;
    }
    error = "a value is taken from env:VARIABLE or stdin, not from \"" +
            std::string(from.substr(0, kQuoted)) + "\"";
    return false;
  }
  if (text[n] == '(' && text.back() == ')') {
    step.kind = Step::kCall;
    return ArgReader(text.substr(n + 1, text.size() - n - 2)).ReadList(step.args, error);
  }
  error = "expected Name, Name=VALUE, Name<env:VARIABLE, Name<stdin or Name(ARG, ...)";
  return false;
}

Values::~Values() {
  for (VARIANT& v : owned_) VariantClear(&v);
}

bool Values::Make(const Arg& arg, VARIANT& out) {
  VariantInit(&out);
  switch (arg.kind) {
    case Arg::kEmpty:
      return true;
    case Arg::kNull:
      out.vt = VT_NULL;
      return true;
    case Arg::kNumber:
      out.vt = VT_I4;
      out.lVal = arg.number;
      return true;
    case Arg::kText: {
      platform::OleString wide;
      if (!platform::Utf8ToOle(arg.text, wide)) return false;
      out.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      out.vt = VT_BSTR;
      return out.bstrVal != nullptr;
    }
    case Arg::kArray: {
      SAFEARRAY* array =
          SafeArrayCreateVector(VT_VARIANT, arg.lowerBound, static_cast<ULONG>(arg.items.size()));
      if (!array) return false;
      out.vt = VT_ARRAY | VT_VARIANT;
      out.parray = array;
      // Each item is made in its place: copying it in would copy every array
      // below it once per level.
      auto* elements = static_cast<VARIANT*>(array->pvData);
      for (size_t i = 0; i < arg.items.size(); ++i)
        if (!Make(arg.items[i], elements[i])) return false;
      return true;
    }
    case Arg::kReference: {
      owned_.emplace_back();
      VARIANT& target = owned_.back();
      if (!Make(*arg.target, target)) return false;
      const VARTYPE vt = target.vt;
      if (vt == VT_BSTR || vt == VT_I4 || vt == (VT_ARRAY | VT_VARIANT)) {
        out.vt = VT_BYREF | vt;
        out.byref = &target.llVal;  // the value inside the owned VARIANT
      } else {
        out.vt = VT_BYREF | VT_VARIANT;  // empty, null and references: the VARIANT itself
        out.pvarVal = &target;
      }
      return true;
    }
  }
  return false;
}

}  // namespace zentrova::zcom
