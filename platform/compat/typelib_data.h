// The description of a type library as the interface-definition reader
// builds it and the type-information objects serve it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "platform/ole_text.h"

namespace zentrova::platform::typelib {

struct ParamData {
  OleString name;  // empty for the value of a property put
  VARTYPE vt = VT_EMPTY;
  bool pointer = false;
  USHORT flags = PARAMFLAG_NONE;
};

struct FuncData {
  MEMBERID id = 0;
  INVOKEKIND kind = INVOKE_FUNC;
  OleString name;
  OleString help;
  std::vector<ParamData> params;
  unsigned slot = 0;  // vtable index
};

struct TypeData {
  TYPEKIND kind = TKIND_DISPATCH;
  GUID guid{};
  OleString name;
  OleString help;
  WORD flags = 0;
  std::vector<FuncData> funcs;
  OleString defaultInterface;  // coclass only
};

struct LibraryData {
  GUID guid{};
  OleString name;
  OleString help;
  WORD major = 0;
  WORD minor = 0;
  LCID lcid = 0;
  std::vector<TypeData> types;
};

// Reads interface-definition text into library. False with the reason (and
// where it was met) in error on a syntax error or a construct this reader
// does not know.
bool ReadIdl(std::string_view text, LibraryData& library, std::string& error);

}  // namespace zentrova::platform::typelib
