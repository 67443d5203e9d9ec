// Text at the automation boundary for the stand-in runtime, whose OLECHAR is
// char16_t: UTF-16 to and from the ANSI code page and UTF-8.
#include "platform/ole_text.h"

#include <iconv.h>

#include <bit>
#include <cstring>

#include "platform/codepage.h"

static_assert(sizeof(OLECHAR) == 2, "the stand-in's OLECHAR is UTF-16");

namespace zentrova::platform {
namespace {

// One conversion through iconv; the descriptor is closed on every path.
bool Convert(const char* to, const char* from, const char* in, size_t inBytes, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(inBytes * 2 + 8, '\0');
  char* source = const_cast<char*>(in);
  char* target = out.data();
  size_t left = out.size();
  bool ok = iconv(cd, &source, &inBytes, &target, &left) != static_cast<size_t>(-1) &&
            iconv(cd, nullptr, nullptr, &target, &left) != static_cast<size_t>(-1);
  iconv_close(cd);
  out.resize(out.size() - left);
  return ok;
}

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

}  // namespace

bool Utf8ToOle(std::string_view in, OleString& out) {
  std::string bytes;
  if (!Convert(kUtf16, "UTF-8", in.data(), in.size(), bytes)) return false;
  out.assign(bytes.size() / 2, u'\0');
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return true;
}

bool OleToUtf8(OleStringView in, std::string& out) {
  return Convert("UTF-8", kUtf16, reinterpret_cast<const char*>(in.data()), in.size() * 2, out);
}

}  // namespace zentrova::platform

namespace zentrova::platform {

bool OleToAnsi(OleStringView in, std::string& out, bool* lossy) {
  return Utf16ToAnsi(in, out, lossy);
}

bool AnsiToOle(std::string_view in, OleString& out) { return AnsiToUtf16(in, out); }

}  // namespace zentrova::platform
