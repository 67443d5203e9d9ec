// The ANSI code page is the system's own (GetACP). Conversions go one
// character at a time, so that a character the code page cannot hold costs
// one "?" and is reported, as WideCharToMultiByte reports it through its
// used-default flag.
#include "platform/codepage.h"

#include <windows.h>

namespace zentrova::platform {
namespace {

// Length in UTF-16 units of the character starting at in[i] (1 or 2).
std::size_t Utf16Unit(std::u16string_view in, std::size_t i) {
  char16_t c = in[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF)
    return 2;
  return 1;
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// One character (1 or 2 units) to code page cp; false when cp cannot hold it.
bool ConvertOne(unsigned cp, const char16_t* unit, std::size_t units, std::string& out) {
  char buf[8];
  BOOL usedDefault = FALSE;
  // UTF-7 and UTF-8 take no default character; every ANSI code page does.
  int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, reinterpret_cast<LPCWCH>(unit),
                              static_cast<int>(units), buf, sizeof buf, "?", &usedDefault);
  if (n <= 0 || usedDefault) return false;
  out.append(buf, static_cast<std::size_t>(n));
  return true;
}

bool WideFrom(unsigned cp, DWORD flags, std::string_view in, std::u16string& out) {
  out.clear();
  if (in.empty()) return true;
  int n = MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()),
                             reinterpret_cast<LPWSTR>(out.data()), n) == n;
}

}  // namespace

unsigned AnsiCodePage() { return GetACP(); }

bool Utf16ToAnsi(std::u16string_view in, std::string& out, bool* lossy) {
  out.clear();
  const unsigned cp = CP_ACP;
  for (std::size_t i = 0; i < in.size();) {
    char16_t c = in[i];
    std::size_t units = Utf16Unit(in, i);
    if (c < 0x80) {
      out += static_cast<char>(c);  // every Windows code page agrees on ASCII
    } else if ((units == 1 && IsSurrogate(c)) || !ConvertOne(cp, in.data() + i, units, out)) {
      out += '?';
      if (lossy) *lossy = true;
    }
    i += units;
  }
  return true;
}

bool AnsiToUtf16(std::string_view in, std::u16string& out) { return WideFrom(CP_ACP, 0, in, out); }

// Windows gives programs their arguments in UTF-16; the program's entry point
// hands them on as UTF-8 (cli/win32/main.cpp), which is what arrives here.
bool LocaleToAnsi(std::string_view in, std::string& out, bool* lossy) {
  return Utf8ToAnsi(in, out, lossy);
}

// Console lines stay in the ANSI code page, as Windows programs write them.
bool AnsiToLocale(std::string_view in, std::string& out) {
  out.assign(in);
  return true;
}

bool Utf8ToAnsi(std::string_view in, std::string& out, bool* lossy) {
  std::u16string wide;  // invalid bytes become U+FFFD, which no code page holds
  if (!WideFrom(CP_UTF8, 0, in, wide)) return false;
  return Utf16ToAnsi(wide, out, lossy);
}

bool IsUtf8(std::string_view text) {
  if (text.empty()) return true;
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

}  // namespace zentrova::platform
