// The recipient collector on VARIANTs built from the input: texts, numbers,
// their by-reference forms (null pointers among them), nested references and
// one-dimensional arrays of every element type with any lower bound, also
// arrays whose VARIANT claims another element type than they hold.
// Properties: collecting succeeds, and gives no more entries than the values
// built (a list text counts once: it is cut up later).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "com/collect_recipients.h"

namespace {

class Builder {
 public:
  Builder(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // Every text, array and boxed value is owned here once; the VARIANTs only
  // point at them, so none of them is cleared.
  ~Builder() {
    for (BSTR text : texts_) SysFreeString(text);
    for (SAFEARRAY* array : arrays_) SafeArrayDestroy(array);
  }

  // Builds one value into out (owned by the builder); counts its leaves.
  void Value(VARIANT& out, int depth) {
    VariantInit(&out);
    const int kind = Byte() % 16;
    leaves_ += kind <= 8 && kind != 4;  // a text or a number, by value or by reference
    switch (kind) {
      case 0:
        out.vt = VT_BSTR, out.bstrVal = Text();
        break;
      case 1:
        out.vt = VT_I4, out.lVal = static_cast<LONG>(Word());
        break;
      case 2:
        out.vt = VT_I2, out.iVal = static_cast<SHORT>(Word());
        break;
      case 3:
        out.vt = VT_R8, out.dblVal = Double();
        break;
      case 4:
        out.vt = Byte() & 1 ? VT_NULL : VT_BOOL;
        break;
      case 5:
        out.vt = VT_BYREF | VT_BSTR, out.pbstrVal = Byte() & 1 ? nullptr : &Own(Text());
        break;
      case 6:
        out.vt = VT_BYREF | VT_I4,
        out.plVal = Byte() & 1 ? nullptr : &Own(static_cast<LONG>(Word()));
        break;
      case 7:
        out.vt = VT_BYREF | VT_I2,
        out.piVal = Byte() & 1 ? nullptr : &Own(static_cast<SHORT>(Word()));
        break;
      case 8:
        out.vt = VT_BYREF | VT_R8, out.pdblVal = Byte() & 1 ? nullptr : &Own(Double());
        break;
      case 9:
      case 10:
        out.vt = VT_BYREF | VT_VARIANT;
        if (depth < 4 && Byte() % 4 != 0) {
          variants_.emplace_back();
          Value(variants_.back(), depth + 1);
          out.pvarVal = &variants_.back();
        } else {
          out.pvarVal = nullptr;
        }
        break;
      default: {  // an array, by value or by reference, its claim right or wrong
        static constexpr VARTYPE kTypes[] = {VT_BSTR, VT_I4, VT_I2, VT_R8, VT_VARIANT};
        const VARTYPE held = kTypes[Byte() % 5];
        SAFEARRAY* array = Array(held, depth);
        const VARTYPE claimed = Byte() % 4 ? held : kTypes[Byte() % 5];
        if (Byte() & 1) {
          out.vt = VT_ARRAY | claimed;
          out.parray = array;
        } else {
          out.vt = VT_BYREF | VT_ARRAY | claimed;
          out.pparray = Byte() & 1 ? nullptr : &Own(array);
        }
      }
    }
  }

  size_t Leaves() const { return leaves_; }

 private:
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = w << 8 | Byte();
    return w;
  }
  double Double() {
    uint64_t bits = uint64_t{Word()} << 32 | Word();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  // A text of up to 31 UTF-16 units, or null.
  BSTR Text() {
    const size_t n = Byte() % 33;
    if (n == 32) return nullptr;
    std::u16string text;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = Byte();
      // Mostly digits and separators, sometimes anything.
      text.push_back(b < 200 ? u"0123456789+,; a"[b % 15] : static_cast<char16_t>(Word()));
    }
    BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(n));
    texts_.push_back(result);
    return result;
  }
  template <class T>
  T& Own(T value) {
    auto* box = new T(value);
    boxes_.emplace_back(box, [](void* p) { delete static_cast<T*>(p); });
    return *box;
  }

  SAFEARRAY* Array(VARTYPE vt, int depth) {
    const LONG lower = static_cast<LONG>(Word());
    const ULONG count = Byte() % 6;
    SAFEARRAY* array = SafeArrayCreateVector(vt, lower, count);
    if (!array) std::abort();
    arrays_.push_back(array);
    leaves_ += count;
    for (ULONG i = 0; i < count; ++i) {
      // Written in place: the array owns its elements from here on.
      void* at = static_cast<char*>(array->pvData) + size_t{i} * array->cbElements;
      switch (vt) {
        case VT_BSTR: {
          BSTR text = Text();
          *static_cast<BSTR*>(at) = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
          break;
        }
        case VT_I4:
          *static_cast<LONG*>(at) = static_cast<LONG>(Word());
          break;
        case VT_I2:
          *static_cast<SHORT*>(at) = static_cast<SHORT>(Word());
          break;
        case VT_R8:
          *static_cast<double*>(at) = Double();
          break;
        default: {
          // The array holds its own copy of the element (and of an array in it).
          VARIANT element;
          if (depth < 4) {
            Value(element, depth + 1);
            if (FAILED(VariantCopy(static_cast<VARIANT*>(at), &element))) std::abort();
          }
        }
      }
    }
    return array;
  }

  const uint8_t* data_;
  size_t size_, pos_ = 0, leaves_ = 0;
  std::deque<VARIANT> variants_;
  std::vector<BSTR> texts_;
  std::vector<SAFEARRAY*> arrays_;
  std::vector<std::unique_ptr<void, void (*)(void*)>> boxes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Builder builder(data, size);
  VARIANT recipients;
  builder.Value(recipients, 0);
  std::vector<zentrova::gateway::RecipientEntry> entries;
  if (!zentrova::com::CollectRecipients(&recipients, entries)) std::abort();
  if (entries.size() > builder.Leaves()) std::abort();
  return 0;
}
