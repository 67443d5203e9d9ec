// zcom call's step parser on arbitrary text, and the VARIANTs made from what it
// accepts. Properties: an accepted step nests no deeper than the bound, its
// array indexes fit 32 bits, and the VARIANTs mirror the parsed values.
#include <cstdint>
#include <string_view>

#include "tests/fuzz/require.h"
#include "tools/zcom/steps.h"

namespace {

using zentrova::zcom::Arg;

// The nesting of arg: 0 for a plain value.
int Depth(const Arg& arg) {
  int deepest = 0;
  if (arg.kind == Arg::kReference) deepest = Depth(*arg.target) + 1;
  if (arg.kind == Arg::kArray) {
    for (const Arg& item : arg.items) deepest = std::max(deepest, Depth(item));
    ++deepest;
  }
  return deepest;
}

// value is what Values::Make made of arg.
void Mirror(const Arg& arg, const VARIANT& value) {
  switch (arg.kind) {
    case Arg::kEmpty:
      return Require(value.vt == VT_EMPTY);
    case Arg::kNull:
      return Require(value.vt == VT_NULL);
    case Arg::kNumber:
      return Require(value.vt == VT_I4 && value.lVal == arg.number);
    case Arg::kText:
      return Require(value.vt == VT_BSTR);
    case Arg::kArray: {
      Require(value.vt == (VT_ARRAY | VT_VARIANT));
      LONG lower = 0, upper = 0;
      Require(SUCCEEDED(SafeArrayGetLBound(value.parray, 1, &lower)) &&
              SUCCEEDED(SafeArrayGetUBound(value.parray, 1, &upper)));
      Require(lower == arg.lowerBound &&
              std::int64_t{upper} - lower + 1 == static_cast<std::int64_t>(arg.items.size()));
      const auto* elements = static_cast<const VARIANT*>(value.parray->pvData);
      for (std::size_t i = 0; i < arg.items.size(); ++i) Mirror(arg.items[i], elements[i]);
      return;
    }
    case Arg::kReference: {
      Require((value.vt & VT_BYREF) != 0);
      const Arg& target = *arg.target;
      if (value.vt == (VT_BYREF | VT_VARIANT)) return Mirror(target, *value.pvarVal);
      VARIANT direct;  // the by-reference value seen as a plain one
      direct.vt = static_cast<VARTYPE>(value.vt & ~VT_BYREF);
      direct.llVal = *static_cast<const std::int64_t*>(value.byref);
      return Mirror(target, direct);
    }
  }
  Require(false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zentrova::zcom::Step step;
  std::string error;
  if (!zentrova::zcom::ParseStep(text, step, error)) {
    Require(!error.empty());
    return 0;
  }
  const std::vector<Arg>& args =
      step.kind == zentrova::zcom::Step::Kind::kPut ? std::vector<Arg>{step.value} : step.args;
  zentrova::zcom::Values values;
  for (const Arg& arg : args) {
    Require(Depth(arg) <= zentrova::zcom::kMaxNesting);
    VARIANT value;
    if (values.Make(arg, value)) Mirror(arg, value);
    VariantClear(&value);
  }
  return 0;
}
