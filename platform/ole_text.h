// Text at the automation boundary: OLECHAR and BSTR as the platform defines
// them (wchar_t on Windows, char16_t in the stand-in runtime), to and from the
// kit's 8-bit texts. The core never names the character type itself.
#pragma once

#include <string>
#include <string_view>

#include "platform/com.h"

namespace zentrova::platform {

using OleString = std::basic_string<OLECHAR>;
using OleStringView = std::basic_string_view<OLECHAR>;

// A BSTR's characters by its length prefix (embedded NULs included); a null
// BSTR is the empty text, as COM treats it.
inline OleStringView BstrView(BSTR text) {
  return text ? OleStringView(text, SysStringLen(text)) : OleStringView();
}

// A NUL-terminated OLE text; null is the empty text.
inline OleStringView OleView(LPCOLESTR text) {
  return text ? OleStringView(text) : OleStringView();
}

// To and from the ANSI code page (see platform/codepage.h). Characters the
// code page cannot hold become "?" and set *lossy (when given). False only
// when the conversion itself cannot run.
bool OleToAnsi(OleStringView in, std::string& out, bool* lossy = nullptr);
bool AnsiToOle(std::string_view in, OleString& out);

// To and from UTF-8, the form of the kit's file names (ModulePathOf) and of
// the tools' command lines. Invalid input gives false.
bool OleToUtf8(OleStringView in, std::string& out);
bool Utf8ToOle(std::string_view in, OleString& out);

// A new BSTR holding ANSI text, for getters that hand one out; null when the
// text cannot be converted or there is no memory.
inline BSTR AllocBstrFromAnsi(std::string_view text) {
  OleString wide;
  if (!AnsiToOle(text, wide)) return nullptr;
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace zentrova::platform
