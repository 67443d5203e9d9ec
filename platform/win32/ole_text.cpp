// OLECHAR is wchar_t on Windows, UTF-16 like the code-page layer's text.
#include "platform/ole_text.h"

#include <windows.h>

#include "platform/codepage.h"

namespace zentrova::platform {
namespace {

std::u16string_view AsUtf16(OleStringView text) {
  return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

}  // namespace

bool OleToAnsi(OleStringView in, std::string& out, bool* lossy) {
  return Utf16ToAnsi(AsUtf16(in), out, lossy);
}

bool AnsiToOle(std::string_view in, OleString& out) {
  std::u16string wide;
  if (!AnsiToUtf16(in, wide)) return false;
  out.assign(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
  return true;
}

bool OleToUtf8(OleStringView in, std::string& out) {
  out.clear();
  if (in.empty()) return true;
  int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                              nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                             out.data(), n, nullptr, nullptr) == n;
}

bool Utf8ToOle(std::string_view in, OleString& out) {
  out.clear();
  if (in.empty()) return true;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                              nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                             out.data(), n) == n;
}

}  // namespace zentrova::platform
