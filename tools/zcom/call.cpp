// zcom call PROGID|CLSID STEP...: creates the object and makes late-bound
// calls through its IDispatch, as a script host does: the name through
// GetIDsOfNames, then Invoke with the arguments last-first.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com.h"
#include "tools/zcom/zcom.h"

namespace zentrova::zcom {
namespace {

constexpr int kExitSomeFalse = 1;  // a step gave S_FALSE (or another success code)
constexpr int kExitStepFailed = 2;

const char kUsage[] =
    "Usage: zcom call PROGID|CLSID STEP...\n"
    "\n"
    "Creates the object (for example ZentrovaCOM.SMSInterface) and runs each STEP\n"
    "through its IDispatch, in order. One STEP is one argument (quote it for the shell):\n"
    "  Name=VALUE      puts a property. -?DIGITS is a number (VT_I4), \"text\" with\n"
    "                  its quotes is a text, anything else is a text as written.\n"
    "  Name            gets a property and prints its value and a line end.\n"
    "  Name(ARG, ...)  calls a method (and prints its result, if it has one).\n"
    "An ARG is \"text\" (\\\" and \\\\ inside), an integer, [ARG, ...] (an array of\n"
    "VARIANTs from index 0), [LB: ARG, ...] (from index LB), empty, null, or &ARG,\n"
    "the by-reference form of any of these.\n"
    "\n"
    "Each step that does not give S_OK is reported on standard error as\n"
    "\"Name -> 0xHHHHHHHH\". Exit status: 0 every step gave S_OK, 1 some gave S_FALSE\n"
    "and none failed, 2 a step failed (the rest are not run) or the object could\n"
    "not be created, 64 wrong command line.\n"
    "\n"
    "Example:\n"
    "  zcom call ZentrovaCOM.SMSInterface AccountID=123456 AccountID ResponseText\n";

// ---- Steps as written -------------------------------------------------------------

struct Arg {
  enum Kind { kText, kNumber, kArray, kEmpty, kNull, kReference } kind = kEmpty;
  std::string text;
  LONG number = 0;
  LONG lowerBound = 0;
  std::vector<Arg> items;
  std::shared_ptr<Arg> target;  // kReference
};

struct Step {
  enum Kind { kGet, kPut, kCall } kind = kGet;
  std::string name;
  Arg value;              // kPut
  std::vector<Arg> args;  // kCall
};

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
      if (!Read(arg, error)) return false;
      args.push_back(std::move(arg));
      Skip();
      if (pos_ == text_.size()) return true;
      if (text_[pos_] != ',') return Fail(error, "expected ',' between arguments");
      ++pos_;
    }
  }

 private:
  bool Fail(std::string& error, const std::string& what) {
    error = what + " at \"" + std::string(text_.substr(pos_)) + "\"";
    return false;
  }

  void Skip() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  bool Read(Arg& arg, std::string& error) {
    Skip();
    if (pos_ == text_.size()) return Fail(error, "an argument is missing");
    const char c = text_[pos_];
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
      return Read(*arg.target, error);
    }
    if (c == '[') {
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
        Arg item;
        if (!Read(item, error)) return false;
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
  if (text[n] == '(' && text.back() == ')') {
    step.kind = Step::kCall;
    return ArgReader(text.substr(n + 1, text.size() - n - 2)).ReadList(step.args, error);
  }
  error = "expected Name, Name=VALUE or Name(ARG, ...)";
  return false;
}

// ---- Arguments as VARIANTs ------------------------------------------------------------

// Owns every value made for one step, including the targets of references.
class Values {
 public:
  ~Values() {
    for (VARIANT& v : owned_) VariantClear(&v);
  }

  // Makes arg into out (which the caller clears); false when out of memory or
  // when a text is not valid UTF-8.
  bool Make(const Arg& arg, VARIANT& out) {
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
        std::u16string wide;
        if (!platform::Utf8ToUtf16(arg.text, wide)) return false;
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
        for (size_t i = 0; i < arg.items.size(); ++i) {
          VARIANT item;
          if (!Make(arg.items[i], item)) return false;
          LONG index = arg.lowerBound + static_cast<LONG>(i);
          HRESULT hr = SafeArrayPutElement(array, &index, &item);
          VariantClear(&item);
          if (FAILED(hr)) return false;
        }
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

 private:
  std::deque<VARIANT> owned_;  // a deque keeps its elements in place
};

void Print(const VARIANT& value) {
  std::string text;
  switch (value.vt) {
    case VT_EMPTY:
      break;
    case VT_NULL:
      text = "null";
      break;
    case VT_I2:
      text = std::to_string(value.iVal);
      break;
    case VT_I4:
      text = std::to_string(value.lVal);
      break;
    case VT_R8: {
      char number[64];
      std::snprintf(number, sizeof number, "%.15g", value.dblVal);
      text = number;
      break;
    }
    case VT_BOOL:
      text = value.boolVal ? "true" : "false";
      break;
    case VT_BSTR:
      if (!platform::Utf16ToUtf8(
              std::u16string_view(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal)),
              text))
        text = "(text not representable)";
      break;
    default: {
      char other[32];
      std::snprintf(other, sizeof other, "(VARIANT of type 0x%04X)", value.vt);
      text = other;
    }
  }
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
}

// Runs one step; returns its HRESULT.
HRESULT Run(IDispatch* object, const Step& step) {
  std::u16string wideName;
  platform::Utf8ToUtf16(step.name, wideName);
  LPOLESTR name = wideName.data();
  DISPID id = DISPID_UNKNOWN;
  if (HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr))
    return hr;

  Values values;
  std::vector<VARIANT> args;
  const std::vector<Arg> single{step.value};
  const std::vector<Arg>& written = step.kind == Step::kPut ? single : step.args;
  args.resize(written.size());
  for (VARIANT& v : args) VariantInit(&v);
  HRESULT hr = S_OK;
  // Last argument first, as Invoke expects them.
  for (size_t i = 0; i < written.size() && SUCCEEDED(hr); ++i)
    if (!values.Make(written[i], args[written.size() - 1 - i])) hr = E_OUTOFMEMORY;

  VARIANT result;
  VariantInit(&result);
  if (SUCCEEDED(hr)) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    WORD flags = DISPATCH_METHOD;
    if (step.kind == Step::kPut) {
      params.rgdispidNamedArgs = &named;
      params.cNamedArgs = 1;
      flags = DISPATCH_PROPERTYPUT;
    } else if (step.kind == Step::kGet) {
      flags = DISPATCH_PROPERTYGET;
    }
    EXCEPINFO exception{};
    UINT argError = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, &exception,
                        &argError);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }
  if (SUCCEEDED(hr) && (step.kind == Step::kGet || result.vt != VT_EMPTY)) Print(result);
  VariantClear(&result);
  for (VARIANT& v : args) VariantClear(&v);
  return hr;
}

// The runtime from CoInitializeEx to CoUninitialize, which unloads the servers.
struct ComRuntime {
  ComRuntime() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComRuntime() { CoUninitialize(); }
};

}  // namespace

int CallCommand(int argc, char** argv) {
  if (argc >= 1 && (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h") ||
                    !std::strcmp(argv[0], "/?"))) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (argc < 1) {
    std::fprintf(stderr, "zcom call: the PROGID or CLSID is missing\n\n%s", kUsage);
    return kExitUsage;
  }
  std::vector<Step> steps(static_cast<size_t>(argc - 1));
  for (int i = 1; i < argc; ++i) {
    std::string error;
    if (!ParseStep(argv[i], steps[static_cast<size_t>(i - 1)], error)) {
      std::fprintf(stderr, "zcom call: step \"%s\": %s\n\n%s", argv[i], error.c_str(), kUsage);
      return kExitUsage;
    }
  }

  ComRuntime runtime;
  std::u16string wideClass;
  if (!platform::Utf8ToUtf16(argv[0], wideClass)) {
    std::fprintf(stderr, "zcom call: \"%s\" is not valid text\n", argv[0]);
    return kExitUsage;
  }
  CLSID clsid;
  HRESULT hr = argv[0][0] == '{' ? CLSIDFromString(wideClass.c_str(), &clsid)
                                 : CLSIDFromProgID(wideClass.c_str(), &clsid);
  IDispatch* object = nullptr;
  if (SUCCEEDED(hr)) {
    void* created = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &created);
    object = static_cast<IDispatch*>(created);
  }
  if (FAILED(hr)) {
    std::string reason = platform::ActivationErrorText();
    std::fprintf(stderr, "zcom call: cannot create %s: 0x%08X%s%s\n", argv[0],
                 static_cast<unsigned>(hr), reason.empty() ? "" : ": ", reason.c_str());
    return kExitStepFailed;
  }

  int status = kExitOk;
  for (const Step& step : steps) {
    hr = Run(object, step);
    if (hr == S_OK) continue;
    std::fflush(stdout);
    std::fprintf(stderr, "%s -> 0x%08X\n", step.name.c_str(), static_cast<unsigned>(hr));
    if (FAILED(hr)) {
      status = kExitStepFailed;
      break;
    }
    status = kExitSomeFalse;
  }
  object->Release();
  std::fflush(stdout);
  return status;
}

}  // namespace zentrova::zcom
