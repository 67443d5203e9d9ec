// The recipient forms a script engine can pass but zcom call cannot write:
// typed arrays, small and floating-point numbers, VARIANTs by reference, and
// arrays the server must not read.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "com/collect_recipients.h"

namespace zentrova::com {
namespace {

using Entries = std::vector<std::pair<std::string, bool>>;  // text, is a list

Entries Collect(const VARIANT* recipients) {
  std::vector<gateway::RecipientEntry> entries;
  EXPECT_TRUE(CollectRecipients(recipients, entries));
  Entries out;
  for (const auto& e : entries) out.emplace_back(e.text, e.isList);
  return out;
}

// A VARIANT that owns what it holds.
struct Value {
  VARIANT v;
  explicit Value(VARTYPE vt = VT_EMPTY) {
    VariantInit(&v);
    v.vt = vt;
  }
  ~Value() { VariantClear(&v); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
};

void SetText(VARIANT& v, const char16_t* text) {
  v.vt = VT_BSTR;
  v.bstrVal = text ? SysAllocString(text) : nullptr;
}

// A one-dimensional array of vt from lowerBound; the filler puts element i.
template <class Fill>
SAFEARRAY* MakeArray(VARTYPE vt, LONG lowerBound, ULONG count, Fill fill) {
  SAFEARRAY* array = SafeArrayCreateVector(vt, lowerBound, count);
  for (ULONG i = 0; i < count; ++i) fill(array, lowerBound + static_cast<LONG>(i), i);
  return array;
}

TEST(CollectRecipients, NumbersOfEveryWidthAreWrittenInDecimal) {
  for (const auto& [vt, value, text] :
       {std::tuple<VARTYPE, double, const char*>{VT_I2, 12, "12"},
        {VT_I4, -412345678, "-412345678"},
        {VT_R8, 61412345678.0, "61412345678"},  // beyond 32 bits, as scripts hold it
        {VT_R8, 1e20, "100000000000000000000"},
        {VT_R8, -0.0, "0"},
        {VT_R8, 412345678.5, nullptr},  // no entry
        {VT_R8, NAN, nullptr},
        {VT_R8, INFINITY, nullptr}}) {
    Value v(vt);
    if (vt == VT_I2)
      v.v.iVal = static_cast<SHORT>(value);
    else if (vt == VT_I4)
      v.v.lVal = static_cast<LONG>(value);
    else
      v.v.dblVal = value;
    EXPECT_EQ(Collect(&v.v), (text ? Entries{{text, false}} : Entries{})) << value;
  }
}

TEST(CollectRecipients, TypedArraysGiveOneEntryPerElementFromTheirLowerBound) {
  Value texts(VT_ARRAY | VT_BSTR);
  const char16_t* items[] = {u"0412345678", nullptr, u"0411111111,0422222222"};
  texts.v.parray = MakeArray(VT_BSTR, 1, 3, [&](SAFEARRAY* a, LONG index, ULONG i) {
    BSTR text = items[i] ? SysAllocString(items[i]) : nullptr;
    SafeArrayPutElement(a, &index, text);
    SysFreeString(text);
  });
  // A null text is the empty entry; a text with separators is never cut.
  EXPECT_EQ(Collect(&texts.v),
            (Entries{{"0412345678", false}, {"", false}, {"0411111111,0422222222", false}}));
  // Number arrays are read as numbers are (zeros here); an array whose indexes
  // would pass 32 bits is not read at all, and at once.
  for (const auto& [vt, lower, count, entries] :
       {std::tuple<VARTYPE, LONG, ULONG, Entries>{VT_I4, INT32_MIN, 0, {}},
        {VT_I4, INT32_MAX, 1, {{"0", false}}},
        {VT_I2, INT32_MAX - 1, 2, {{"0", false}, {"0", false}}},
        {VT_R8, 0, 1, {{"0", false}}},
        {VT_I4, INT32_MAX, 2, {}}}) {
    Value numbers(VT_ARRAY | vt);
    numbers.v.parray = SafeArrayCreateVector(vt, lower, count);
    EXPECT_EQ(Collect(&numbers.v), entries) << lower;
  }
}

// Element access refuses every index outside the bounds, the first one past
// either end above all, so nothing is read or written beside the elements.
TEST(SafeArrayStandIn, ElementAccessStaysWithinTheBounds) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 1, 3);
  ASSERT_NE(array, nullptr);
  LONG lower = 0, upper = 0, value = 7;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower) | SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ((std::tuple{lower, upper, array->fFeatures}), (std::tuple{1, 3, FADF_HAVEVARTYPE}));
  EXPECT_EQ(
      (std::tuple{SafeArrayGetLBound(array, 2, &lower), SafeArrayGetUBound(array, 0, &upper)}),
      (std::tuple{DISP_E_BADINDEX, DISP_E_BADINDEX}));  // a vector has one dimension
  for (LONG index : {1, 3}) {
    LONG put = index * 10, back = 0;
    EXPECT_EQ(SafeArrayPutElement(array, &index, &put), S_OK) << index;
    EXPECT_EQ(SafeArrayGetElement(array, &index, &back), S_OK) << index;
    EXPECT_EQ(back, put);
  }
  for (LONG index : {0, 4, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(SafeArrayGetElement(array, &index, &value), DISP_E_BADINDEX) << index;
    EXPECT_EQ(SafeArrayPutElement(array, &index, &value), DISP_E_BADINDEX) << index;
  }
  array->cLocks = 1;  // a locked array stays
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  array->cLocks = 0;
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  SysFreeString(SysAllocString(u"12345678"));  // leaves its text where the next block may land
  BSTR blank = SysAllocStringLen(nullptr, 8);  // no text: all zeros
  EXPECT_EQ(std::u16string(blank, 9), std::u16string(9, u'\0'));
  SysFreeString(blank);
}

TEST(CollectRecipients, AVariantByReferenceIsFollowedOnce) {
  // A variable holding a text works like the text itself: a list once it holds a separator.
  for (const auto& [text, ansi, isList] :
       {std::tuple{u"0412345678;0498765432", "0412345678;0498765432", true},
        {u"0412345678,0498765432", "0412345678,0498765432", true},
        {u"04_12-34.5 6\\7\"8", "04_12-34.5 6\\7\"8", false}}) {
    Value list, once(VT_BYREF | VT_VARIANT), twice(VT_BYREF | VT_VARIANT);
    SetText(list.v, text);
    once.v.pvarVal = &list.v;
    EXPECT_EQ(Collect(&once.v), (Entries{{ansi, isList}}));
    twice.v.pvarVal = &once.v;
    EXPECT_EQ(Collect(&twice.v), Entries{});
    once.v.pvarVal = nullptr;
    EXPECT_EQ(Collect(&once.v), Entries{});
    once.v.vt = twice.v.vt = VT_EMPTY;  // borrowed, not owned
  }
}

TEST(CollectRecipients, ArraysThatCannotBeReadSafelyGiveNothing) {
  Value matrix(VT_ARRAY | VT_I4);
  matrix.v.parray = SafeArrayCreateVector(VT_I4, 0, 4);  // zeros: each would be an entry
  // The stand-in makes vectors only; a second dimension is all the server
  // may look at before refusing.
  matrix.v.parray->cDims = 2;
  EXPECT_EQ(Collect(&matrix.v), Entries{});
  matrix.v.parray->cDims = 1;

  // An array whose elements are not what its VARIANT says.
  Value mislabelled(VT_ARRAY | VT_BSTR);
  mislabelled.v.parray = SafeArrayCreateVector(VT_I4, 0, 1);
  EXPECT_EQ(Collect(&mislabelled.v), Entries{});
  mislabelled.v.vt = VT_ARRAY | VT_I4;  // cleared as what it is

  EXPECT_EQ(Collect(nullptr), Entries{});
  Value null(VT_NULL), nullText;
  EXPECT_EQ(Collect(&null.v), Entries{});
  SetText(nullText.v, nullptr);
  EXPECT_EQ(Collect(&nullText.v), (Entries{{"", false}}));
}

}  // namespace
}  // namespace zentrova::com
