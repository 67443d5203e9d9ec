// BSTR, VARIANT, SAFEARRAY and GUID texts: the part of OLE Automation that the
// automation server and its clients share. Every module that links this gets
// its own copy of the code, but the data formats and the allocator (the C heap)
// are the same, so a BSTR or an array made in one module is freed in another.
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/com.h"
#include "platform/compat/extras.h"
#include "platform/ole_text.h"

// ---- GUID ------------------------------------------------------------------

namespace zentrova::platform {

std::string GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool ParseGuid(std::string_view text, GUID& guid) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return false;
  uint8_t bytes[16];
  size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos] != '-') return false;
      ++pos;
    }
    int value = 0;
    for (int k = 0; k < 2; ++k) {
      char c = text[pos++];
      int digit = (c >= '0' && c <= '9')   ? c - '0'
                  : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                           : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes[i] = static_cast<uint8_t>(value);
  }
  guid.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
               bytes[3];
  guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return true;
}

}  // namespace zentrova::platform

int StringFromGUID2(REFGUID guid, LPOLESTR out, int cch) {
  if (!out || cch < 39) return 0;
  std::string text = zentrova::platform::GuidToString(guid);
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<OLECHAR>(text[i]);
  out[text.size()] = 0;
  return 39;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!text || !clsid) return E_INVALIDARG;
  std::string narrow;
  for (const OLECHAR* p = text; *p; ++p) {
    if (*p > 0x7F || narrow.size() > 40) return CO_E_CLASSSTRING;
    narrow.push_back(static_cast<char>(*p));
  }
  return zentrova::platform::ParseGuid(narrow, *clsid) && narrow.front() == '{' ? S_OK
                                                                                : CO_E_CLASSSTRING;
}

// ---- BSTR --------------------------------------------------------------------

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (UINT_MAX - 8) / sizeof(OLECHAR)) return nullptr;
  const size_t bytes = size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  BSTR result = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(result, text, bytes);
  else
    std::memset(result, 0, bytes);
  result[length] = 0;
  return result;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length]) ++length;
  return SysAllocStringLen(text, length);
}

UINT SysStringByteLen(BSTR text) {
  if (!text) return 0;
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(text) - sizeof(uint32_t), sizeof prefix);
  return prefix;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

// ---- SAFEARRAY -----------------------------------------------------------------

namespace {

// The element type is kept in front of the array record, as Windows does with
// FADF_HAVEVARTYPE.
struct ArrayBlock {
  VARTYPE vt;
  SAFEARRAY array;
};

ArrayBlock* BlockOf(SAFEARRAY* array) {
  return reinterpret_cast<ArrayBlock*>(reinterpret_cast<char*>(array) -
                                       offsetof(ArrayBlock, array));
}

size_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
      return sizeof(SHORT);
    case VT_I4:
      return sizeof(LONG);
    case VT_R8:
      return sizeof(double);
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(IUnknown*);
    default:
      return 0;
  }
}

void* ElementAt(SAFEARRAY* array, LONG index) {
  return static_cast<char*>(array->pvData) +
         static_cast<size_t>(index - array->rgsabound[0].lLbound) * array->cbElements;
}

HRESULT CheckIndex(SAFEARRAY* array, const LONG* indices) {
  if (!array || !indices) return E_INVALIDARG;
  const int64_t offset = int64_t{indices[0]} - array->rgsabound[0].lLbound;
  if (offset < 0 || offset >= int64_t{array->rgsabound[0].cElements}) return DISP_E_BADINDEX;
  return S_OK;
}

void ReleaseElement(VARTYPE vt, void* element) {
  switch (vt) {
    case VT_BSTR: {
      BSTR* text = static_cast<BSTR*>(element);
      SysFreeString(*text);
      *text = nullptr;
      break;
    }
    case VT_VARIANT:
      VariantClear(static_cast<VARIANT*>(element));
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown** unknown = static_cast<IUnknown**>(element);
      if (*unknown) (*unknown)->Release();
      *unknown = nullptr;
      break;
    }
    default:
      break;
  }
}

// Copies one element value of type vt from source to an uninitialised target.
HRESULT CopyElement(VARTYPE vt, const void* source, void* target) {
  switch (vt) {
    case VT_BSTR: {
      BSTR text = *static_cast<const BSTR*>(source);
      BSTR copy = nullptr;
      if (text && !(copy = SysAllocStringLen(text, SysStringLen(text)))) return E_OUTOFMEMORY;
      *static_cast<BSTR*>(target) = copy;
      return S_OK;
    }
    case VT_VARIANT: {
      VARIANT* out = static_cast<VARIANT*>(target);
      VariantInit(out);
      return VariantCopy(out, static_cast<const VARIANT*>(source));
    }
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      IUnknown* unknown = *static_cast<IUnknown* const*>(source);
      if (unknown) unknown->AddRef();
      *static_cast<IUnknown**>(target) = unknown;
      return S_OK;
    }
    default:
      std::memcpy(target, source, ElementSize(vt));
      return S_OK;
  }
}

}  // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  const size_t size = ElementSize(vt);
  if (!size) return nullptr;
  auto* block = new (std::nothrow) ArrayBlock{};
  if (!block) return nullptr;
  block->vt = vt;
  SAFEARRAY& array = block->array;
  array.cDims = 1;
  array.cbElements = static_cast<ULONG>(size);
  array.fFeatures = FADF_HAVEVARTYPE | (vt == VT_BSTR ? FADF_BSTR : 0) |
                    (vt == VT_VARIANT ? FADF_VARIANT : 0) | (vt == VT_UNKNOWN ? FADF_UNKNOWN : 0) |
                    (vt == VT_DISPATCH ? FADF_DISPATCH : 0);
  array.rgsabound[0] = {elements, lowerBound};
  // calloc: a zero element is the empty value of every supported type.
  array.pvData = std::calloc(elements ? elements : 1, size);
  if (!array.pvData) {
    delete block;
    return nullptr;
  }
  return &block->array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (!array) return S_OK;
  if (array->cLocks) return DISP_E_ARRAYISLOCKED;
  ArrayBlock* block = BlockOf(array);
  for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i)
    ReleaseElement(block->vt, static_cast<char*>(array->pvData) + size_t{i} * array->cbElements);
  std::free(array->pvData);
  delete block;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array ? array->cDims : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (!array || !vt) return E_INVALIDARG;
  *vt = BlockOf(array)->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (!array || !bound) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *bound = array->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (!array || !bound) return E_INVALIDARG;
  if (dim != 1) return DISP_E_BADINDEX;
  *bound =
      static_cast<LONG>(int64_t{array->rgsabound[0].lLbound} + array->rgsabound[0].cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* out) {
  if (HRESULT hr = CheckIndex(array, indices); FAILED(hr)) return hr;
  if (!out) return E_INVALIDARG;
  return CopyElement(BlockOf(array)->vt, ElementAt(array, indices[0]), out);
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
  if (HRESULT hr = CheckIndex(array, indices); FAILED(hr)) return hr;
  const VARTYPE vt = BlockOf(array)->vt;
  // The caller passes a BSTR or an interface itself, and everything else by address.
  const void* source = (vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH) ? &value : value;
  if (!source || (vt != VT_BSTR && vt != VT_UNKNOWN && vt != VT_DISPATCH && !value))
    return E_INVALIDARG;
  alignas(VARIANT) unsigned char copy[sizeof(VARIANT)];
  if (HRESULT hr = CopyElement(vt, source, copy); FAILED(hr)) return hr;
  void* element = ElementAt(array, indices[0]);
  ReleaseElement(vt, element);
  std::memcpy(element, copy, array->cbElements);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
  if (!array || !copy) return E_INVALIDARG;
  *copy = nullptr;
  const VARTYPE vt = BlockOf(array)->vt;
  SAFEARRAY* result =
      SafeArrayCreateVector(vt, array->rgsabound[0].lLbound, array->rgsabound[0].cElements);
  if (!result) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
    const size_t offset = size_t{i} * array->cbElements;
    HRESULT hr = CopyElement(vt, static_cast<char*>(array->pvData) + offset,
                             static_cast<char*>(result->pvData) + offset);
    if (FAILED(hr)) {
      SafeArrayDestroy(result);
      return hr;
    }
  }
  *copy = result;
  return S_OK;
}

// ---- VARIANT -------------------------------------------------------------------

void VariantInit(VARIANTARG* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v) {
  if (!v) return E_INVALIDARG;
  if (!(v->vt & VT_BYREF)) {
    if (v->vt & VT_ARRAY) {
      if (HRESULT hr = SafeArrayDestroy(v->parray); FAILED(hr)) return hr;
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) {
      v->punkVal->Release();
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (!(src->vt & VT_BYREF)) {
    if (src->vt & VT_ARRAY) {
      if (src->parray) {
        if (HRESULT hr = SafeArrayCopy(src->parray, &copy.parray); FAILED(hr)) return hr;
      }
    } else if (src->vt == VT_BSTR && src->bstrVal) {
      copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal) {
      src->punkVal->AddRef();
    }
  }
  if (HRESULT hr = VariantClear(dest); FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
  if (!src->byref) return E_INVALIDARG;
  const VARTYPE base = src->vt & ~VT_BYREF;
  if (base == VT_VARIANT) return VariantCopy(dest, src->pvarVal);
  VARIANT value;
  VariantInit(&value);
  value.vt = base;
  if (base & VT_ARRAY) {
    value.parray = *src->pparray;
  } else {
    switch (base) {
      case VT_I2:
        value.iVal = *src->piVal;
        break;
      case VT_I4:
        value.lVal = *src->plVal;
        break;
      case VT_R8:
        value.dblVal = *src->pdblVal;
        break;
      case VT_BSTR:
        value.bstrVal = *src->pbstrVal;
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        value.punkVal = *src->ppunkVal;
        break;
      default:
        return DISP_E_BADVARTYPE;
    }
  }
  return VariantCopy(dest, &value);  // deep copy of the referenced value
}

namespace {

bool IsSpace(OLECHAR c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A decimal number written in a BSTR: optional sign, digits, optional fraction
// and exponent, surrounding blanks allowed. Locale-neutral (a '.' separator).
HRESULT ParseNumber(BSTR text, double& value) {
  std::string narrow;
  const UINT length = SysStringLen(text);
  for (UINT i = 0; i < length; ++i) {
    if (text[i] > 0x7F) return DISP_E_TYPEMISMATCH;
    narrow.push_back(static_cast<char>(text[i]));
  }
  size_t begin = 0, end = narrow.size();
  while (begin < end && IsSpace(narrow[begin])) ++begin;
  while (end > begin && IsSpace(narrow[end - 1])) --end;
  narrow = narrow.substr(begin, end - begin);
  if (narrow.empty()) return DISP_E_TYPEMISMATCH;
  for (char c : narrow)  // strtod would also take "inf", "nan" and hex numbers
    if (!(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E')
      return DISP_E_TYPEMISMATCH;
  char* stop = nullptr;
  errno = 0;
  value = std::strtod(narrow.c_str(), &stop);
  if (stop != narrow.c_str() + narrow.size()) return DISP_E_TYPEMISMATCH;
  if (errno == ERANGE && std::isinf(value)) return DISP_E_OVERFLOW;
  return S_OK;
}

// Rounds half to even, as automation does when it narrows a real to an integer.
HRESULT ToInteger(double value, double low, double high, int64_t& out) {
  if (std::isnan(value)) return DISP_E_TYPEMISMATCH;
  const double rounded = std::nearbyint(value);  // the default rounding mode is to nearest even
  if (rounded < low || rounded > high) return DISP_E_OVERFLOW;
  out = static_cast<int64_t>(rounded);
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, WORD, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT value;
  VariantInit(&value);
  if (HRESULT hr = VariantCopyInd(&value, src); FAILED(hr)) return hr;

  VARIANT result;
  VariantInit(&result);
  HRESULT hr = S_OK;
  const VARTYPE from = value.vt;
  if (from == vt) {
    result = value;
    VariantInit(&value);
  } else if (vt == VT_BSTR) {  // null, arrays and interfaces meet no case: a type mismatch
    char text[64] = "";
    switch (from) {
      case VT_EMPTY:
        break;
      case VT_I2:
        std::snprintf(text, sizeof text, "%d", value.iVal);
        break;
      case VT_I4:
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value.lVal));
        break;
      case VT_R8:
        std::snprintf(text, sizeof text, "%.15g", value.dblVal);
        break;
      default:
        hr = DISP_E_TYPEMISMATCH;
        break;
    }
    if (SUCCEEDED(hr)) {
      OLECHAR wide[64];
      size_t n = 0;
      for (; text[n]; ++n) wide[n] = static_cast<OLECHAR>(text[n]);
      result.vt = VT_BSTR;
      result.bstrVal = SysAllocStringLen(wide, static_cast<UINT>(n));
      if (!result.bstrVal) hr = E_OUTOFMEMORY;
    }
  } else if (vt == VT_I2 || vt == VT_I4 || vt == VT_R8) {
    double number = 0;
    switch (from) {
      case VT_EMPTY:
        break;
      case VT_I2:
        number = value.iVal;
        break;
      case VT_I4:
        number = value.lVal;
        break;
      case VT_R8:
        number = value.dblVal;
        break;
      case VT_BSTR:
        hr = ParseNumber(value.bstrVal, number);
        break;
      default:
        hr = DISP_E_TYPEMISMATCH;
        break;
    }
    int64_t integer = 0;
    if (SUCCEEDED(hr) && vt == VT_I2) hr = ToInteger(number, SHRT_MIN, SHRT_MAX, integer);
    if (SUCCEEDED(hr) && vt == VT_I4) hr = ToInteger(number, INT32_MIN, INT32_MAX, integer);
    if (SUCCEEDED(hr)) {
      result.vt = vt;
      if (vt == VT_I2) result.iVal = static_cast<SHORT>(integer);
      if (vt == VT_I4) result.lVal = static_cast<LONG>(integer);
      if (vt == VT_R8) result.dblVal = number;
    }
  } else {
    hr = DISP_E_TYPEMISMATCH;
  }
  VariantClear(&value);
  if (FAILED(hr)) return hr;
  VariantClear(dest);  // also right when dest is src: its value has been copied
  *dest = result;
  return S_OK;
}
