#include "com/collect_recipients.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/ole_text.h"

namespace zentrova::com {
namespace {

using Entries = std::vector<gateway::RecipientEntry>;

// Owners of the element copies SafeArrayGetElement hands out.
struct TextCopy {
  BSTR text = nullptr;
  ~TextCopy() { SysFreeString(text); }
};
struct VariantCopy {
  VARIANT value;
  VariantCopy() { VariantInit(&value); }
  ~VariantCopy() { VariantClear(&value); }
};

bool AddText(BSTR text, bool mayBeList, Entries& entries) {
  std::string ansi;
  if (!platform::OleToAnsi(platform::BstrView(text), ansi)) return false;
  const bool isList = mayBeList && ansi.find_first_of(",;") != std::string::npos;
  entries.push_back({std::move(ansi), isList});
  return true;
}

void AddNumber(long value, Entries& entries) { entries.push_back({std::to_string(value), false}); }

// Scripts hold numbers beyond 32 bits (a mobile number written without its
// leading zero, 61412345678) as doubles: a whole one is written in full, in
// decimal and without a fraction; any other is no number of a phone.
void AddDouble(double value, Entries& entries) {
  if (!std::isfinite(value) || std::trunc(value) != value) return;
  char digits[320];  // the largest double has 309 digits
  std::snprintf(digits, sizeof digits, "%.0f", value == 0 ? 0.0 : value);
  entries.push_back({digits, false});
}

std::size_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_I4:
      return sizeof(LONG);
    case VT_I2:
      return sizeof(SHORT);
    case VT_R8:
      return sizeof(double);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

bool CollectValue(const VARIANT& value, bool topLevel, bool mayFollow, Entries& entries);

// Visits every element of a one-dimensional array from its lower bound. An
// array whose own element type is not the one its VARIANT claims is not read
// at all: its elements could not be copied safely.
bool CollectArray(SAFEARRAY* array, VARTYPE elementType, Entries& entries) {
  const std::size_t size = ElementSize(elementType);
  if (!array || size == 0 || SafeArrayGetDim(array) != 1 || array->cbElements != size) return true;
  VARTYPE actual = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(array, &actual)) && actual != elementType) return true;
  LONG lower = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower))) return true;
  // The count comes from the array itself: an upper bound wraps when the
  // indexes pass 32 bits, and the walk would then cover billions of indexes
  // (an empty array from -2^31) or none. Such an array is refused as a whole.
  const std::int64_t end = std::int64_t{lower} + array->rgsabound[0].cElements;
  if (end - 1 > INT32_MAX) return true;

  for (std::int64_t i = lower; i < end; ++i) {
    LONG index = static_cast<LONG>(i);
    HRESULT hr = S_OK;
    switch (elementType) {
      case VT_BSTR: {
        TextCopy copy;
        hr = SafeArrayGetElement(array, &index, &copy.text);
        if (SUCCEEDED(hr) && !AddText(copy.text, false, entries)) return false;
        break;
      }
      case VT_I4: {
        LONG number = 0;
        hr = SafeArrayGetElement(array, &index, &number);
        if (SUCCEEDED(hr)) AddNumber(number, entries);
        break;
      }
      case VT_I2: {
        SHORT number = 0;
        hr = SafeArrayGetElement(array, &index, &number);
        if (SUCCEEDED(hr)) AddNumber(number, entries);
        break;
      }
      case VT_R8: {
        double number = 0;
        hr = SafeArrayGetElement(array, &index, &number);
        if (SUCCEEDED(hr)) AddDouble(number, entries);
        break;
      }
      default: {  // VT_VARIANT
        VariantCopy copy;
        hr = SafeArrayGetElement(array, &index, &copy.value);
        if (SUCCEEDED(hr) && !CollectValue(copy.value, false, true, entries)) return false;
        break;
      }
    }
    if (hr == E_OUTOFMEMORY) return false;
  }
  return true;
}

// topLevel: the argument itself (a text may be a list, an array is walked),
// not an element of an array. mayFollow: a VARIANT by reference is still to be
// followed (once only).
bool CollectValue(const VARIANT& value, bool topLevel, bool mayFollow, Entries& entries) {
  switch (value.vt) {
    case VT_BSTR:
      return AddText(value.bstrVal, topLevel, entries);
    // A text by reference is one entry even as the argument itself.
    case VT_BYREF | VT_BSTR:
      return AddText(value.pbstrVal ? *value.pbstrVal : nullptr, false, entries);
    case VT_I4:
      AddNumber(value.lVal, entries);
      return true;
    case VT_I2:
      AddNumber(value.iVal, entries);
      return true;
    case VT_R8:
      AddDouble(value.dblVal, entries);
      return true;
    case VT_BYREF | VT_I4:
      if (value.plVal) AddNumber(*value.plVal, entries);
      return true;
    case VT_BYREF | VT_I2:
      if (value.piVal) AddNumber(*value.piVal, entries);
      return true;
    case VT_BYREF | VT_R8:
      if (value.pdblVal) AddDouble(*value.pdblVal, entries);
      return true;
    case VT_BYREF | VT_VARIANT:
      if (!mayFollow || !value.pvarVal) return true;
      return CollectValue(*value.pvarVal, topLevel, false, entries);
    default:
      break;
  }
  if (!topLevel || !(value.vt & VT_ARRAY) || (value.vt & ~(VT_BYREF | VT_ARRAY | VT_TYPEMASK)))
    return true;
  SAFEARRAY* array =
      value.vt & VT_BYREF ? (value.pparray ? *value.pparray : nullptr) : value.parray;
  return CollectArray(array, static_cast<VARTYPE>(value.vt & VT_TYPEMASK), entries);
}

}  // namespace

bool CollectRecipients(const VARIANT* recipients, Entries& entries) {
  if (!recipients) return true;
  return CollectValue(*recipients, true, true, entries);
}

}  // namespace zentrova::com
