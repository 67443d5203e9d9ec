// zcom call PROGID|CLSID STEP...: creates the object and makes late-bound
// calls through its IDispatch, as a script host does: the name through
// GetIDsOfNames, then Invoke with the arguments last-first.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/compat/extras.h"
#include "platform/ole_text.h"
#include "platform/printable.h"
#include "tools/zcom/steps.h"
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
    "  Name<env:VAR    puts the text of the environment variable VAR, and\n"
    "  Name<stdin      the next line of standard input: for a password, which\n"
    "                  every local user could read on a command line.\n"
    "  Name(ARG, ...)  calls a method (and prints its result, if it has one).\n"
    "An ARG is \"text\" (\\\" and \\\\ inside), an integer, [ARG, ...] (an array of\n"
    "VARIANTs from index 0), [LB: ARG, ...] (from index LB), empty, null, or &ARG,\n"
    "the by-reference form of any of these. Arrays and references nest at most 64\n"
    "levels deep.\n"
    "\n"
    "Each step that does not give S_OK is reported on standard error as\n"
    "\"Name -> 0xHHHHHHHH\". Exit status: 0 every step gave S_OK, 1 some gave S_FALSE\n"
    "and none failed, 2 a step failed (the rest are not run) or the object could\n"
    "not be created, 64 wrong command line.\n"
    "\n"
    "Example:\n"
    "  zcom call ZentrovaCOM.SMSInterface AccountID=123456 AccountID ResponseText\n";

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
      if (!platform::OleToUtf8(platform::BstrView(value.bstrVal), text))
        text = "(text not representable)";
      break;
    default: {
      char other[32];
      std::snprintf(other, sizeof other, "(VARIANT of type 0x%04X)", value.vt);
      text = other;
    }
  }
  // A text may be a gateway's reply (ResponseText): its control bytes are
  // shown, never sent to the terminal as they are.
  text = platform::Escaped(text, platform::LineEnds::kKept);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
}

// The next line of standard input without its line end; false at its end.
bool ReadLine(std::string& line) {
  line.clear();
  int c;
  while ((c = std::getc(stdin)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (c == EOF && line.empty()) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Fills in a put's text from where the step said; false, with the reason,
// when there is none.
bool TakeValue(Step& step, std::string& error) {
  if (step.source == Step::kEnvironment) {
    const char* value = std::getenv(step.variable.c_str());
    if (!value) error = "the environment variable " + step.variable + " is not set";
    if (value) step.value.text = value;
    return value != nullptr;
  }
  if (step.source == Step::kStandardInput && !ReadLine(step.value.text)) {
    error = "standard input ended before a line for " + step.name;
    return false;
  }
  return true;
}

// Runs one step; returns its HRESULT.
HRESULT Run(IDispatch* object, const Step& step) {
  platform::OleString wideName;
  platform::Utf8ToOle(step.name, wideName);
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
    if (!ParseStep(argv[i], steps[static_cast<size_t>(i - 1)], error) ||
        !TakeValue(steps[static_cast<size_t>(i - 1)], error)) {
      std::fprintf(stderr, "zcom call: step \"%s\": %s\n\n%s", argv[i], error.c_str(), kUsage);
      return kExitUsage;
    }
  }

  ComRuntime runtime;
  platform::OleString wideClass;
  if (!platform::Utf8ToOle(argv[0], wideClass)) {
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
