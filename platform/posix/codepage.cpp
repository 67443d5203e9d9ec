// The ANSI code page through iconv. Conversions go character by character
// through UTF-16 so that a character the target cannot hold is known as such
// and becomes "?" instead of ending the conversion.
#include "platform/codepage.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/wipe.h"

namespace zentrova::platform {
namespace {

constexpr unsigned kDefaultCodePage = 1252;

// One iconv descriptor, closed when the owner goes.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts in[0..inLen) completely or not at all; false when the input is not
  // one whole character the target can hold.
  bool Convert(const char* in, std::size_t inLen, std::string& out) {
    char buf[16];
    char* src = const_cast<char*>(in);
    char* dst = buf;
    std::size_t left = inLen, room = sizeof buf;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &src, &left, &dst, &room) == static_cast<std::size_t>(-1) || left != 0)
      return false;
    out.append(buf, static_cast<std::size_t>(dst - buf));
    return true;
  }

  // Whether all of in converts; the output is dropped.
  bool Accepts(std::string_view in) {
    char buf[1024];
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (left > 0) {
      char* dst = buf;
      std::size_t room = sizeof buf;
      if (iconv(cd_, &src, &left, &dst, &room) == static_cast<std::size_t>(-1) && errno != E2BIG)
        return false;
    }
    return true;
  }

 private:
  iconv_t cd_;
};

// Opening a descriptor costs more than most conversions (the library looks the
// pair up and may load a module for it), so the ones opened are kept and lent
// out, each to one user at a time; Convert and Accepts reset the state before
// every use. The pool is a static, not thread-local storage: a thread-local
// object with a destructor would keep the automation server's library from
// being unloaded.
class Lease {
 public:
  Lease(const std::string& to, const std::string& from) : key_(to, from) {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    auto& idle = pool.idle[key_];
    if (!idle.empty()) {
      converter_ = std::move(idle.back());
      idle.pop_back();
    }
    if (!converter_) converter_ = std::make_unique<Converter>(to.c_str(), from.c_str());
  }
  ~Lease() {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.idle[key_].push_back(std::move(converter_));
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  Converter* operator->() const { return converter_.get(); }

 private:
  using Key = std::pair<std::string, std::string>;
  struct Pool {
    std::mutex mutex;
    std::map<Key, std::vector<std::unique_ptr<Converter>>> idle;
  };
  static Pool& ThePool() {
    static Pool pool;
    return pool;
  }
  Key key_;
  std::unique_ptr<Converter> converter_;
};

// iconv knows most of Windows' code pages as "CPnnnn"; the ones below it knows
// only by the standard's own name, and as "CPnnnn" it would refuse them all.
std::string IconvName(unsigned codePage) {
  static constexpr std::pair<unsigned, const char*> kByName[] = {
      {20127, "US-ASCII"},    {20866, "KOI8-R"},      {21866, "KOI8-U"},     {20932, "EUC-JP"},
      {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"},
      {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"},
      {28599, "ISO-8859-9"},  {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {51932, "EUC-JP"},
      {51936, "EUC-CN"},      {51949, "EUC-KR"},      {54936, "GB18030"},    {10000, "MACINTOSH"},
      {65001, "UTF-8"}};
  for (const auto& [number, name] : kByName)
    if (number == codePage) return name;
  return "CP" + std::to_string(codePage);
}

// The user's locale character set. The C/POSIX locale claims ASCII, but on
// Linux a program started without a locale still gets UTF-8 arguments from
// every current terminal and shell, so that is what ASCII is taken to mean.
std::string LocaleCharset() {
  const char* cs = nl_langinfo(CODESET);
  if (!cs || !*cs || std::strcmp(cs, "ANSI_X3.4-1968") == 0 || std::strcmp(cs, "ASCII") == 0)
    return "UTF-8";
  return cs;
}

// Length in bytes of the UTF-16LE character starting at in[i] (2 or 4).
std::size_t Utf16Unit(std::u16string_view in, std::size_t i) {
  char16_t c = in[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF)
    return 2;
  return 1;
}

}  // namespace

const char* CodePageChoice() { return "ZENTROVA_CODEPAGE names another code page"; }

unsigned AnsiCodePage() {
  const char* env = std::getenv("ZENTROVA_CODEPAGE");
  if (!env || !*env) return kDefaultCodePage;
  // Accept "1251", "cp1251" and "windows-1251": the number is what counts.
  const char* digits = env;
  while (*digits && (*digits < '0' || *digits > '9')) ++digits;
  char* end = nullptr;
  unsigned long n = std::strtoul(digits, &end, 10);
  if (digits == end || *end != '\0' || n == 0 || n > 65535) return 0;  // names no code page
  return static_cast<unsigned>(n);
}

bool Utf16ToAnsi(std::u16string_view in, std::string& out, bool* lossy) {
  out.clear();
  out.reserve(2 * in.size());  // no code page takes more; no partial copy left behind
  unsigned cp = AnsiCodePage();
  if (cp == 0) return false;
  Lease conv(IconvName(cp), "UTF-16LE");
  if (!conv->ok()) return false;
  for (std::size_t i = 0; i < in.size();) {
    char16_t c = in[i];
    std::size_t units = Utf16Unit(in, i);
    if (c < 0x80) {
      out += static_cast<char>(c);  // every Windows code page agrees on ASCII
    } else if (!conv->Convert(reinterpret_cast<const char*>(in.data() + i), units * 2, out)) {
      out += '?';
      if (lossy) *lossy = true;
    }
    i += units;
  }
  return true;
}

bool AnsiToUtf16(std::string_view in, std::u16string& out) {
  out.clear();
  unsigned cp = AnsiCodePage();
  if (cp == 0) return false;
  Lease conv("UTF-16LE", IconvName(cp));
  if (!conv->ok()) return false;
  std::string bytes;
  for (char ch : in) {
    if (static_cast<unsigned char>(ch) < 0x80) {
      out += static_cast<char16_t>(ch);
      continue;
    }
    bytes.clear();
    if (conv->Convert(&ch, 1, bytes) && bytes.size() == 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(bytes[0]) |
                                   (static_cast<unsigned char>(bytes[1]) << 8));
    } else {
      out += u'?';  // the few byte values a code page leaves undefined
    }
  }
  return true;
}

namespace {

// Text in charset to the ANSI code page.
bool ToAnsi(const char* charset, std::string_view in, std::string& out, bool* lossy) {
  out.clear();
  Lease toUtf16("UTF-16LE", charset);
  if (!toUtf16->ok()) return false;
  // Character by character, so that an invalid byte costs one "?" and not the rest.
  // The text may be a password read from a file: its UTF-16 copy is made in
  // one block (never more units than bytes) and wiped, as the caller's are.
  std::u16string wide;
  wide.reserve(in.size());
  std::string unit;
  std::size_t i = 0;
  while (i < in.size()) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      wide += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    bool done = false;
    for (std::size_t len = 1; len <= 6 && i + len <= in.size() && !done; ++len) {
      unit.clear();
      if (toUtf16->Convert(in.data() + i, len, unit)) {
        for (std::size_t k = 0; k + 1 < unit.size(); k += 2)
          wide += static_cast<char16_t>(static_cast<unsigned char>(unit[k]) |
                                        (static_cast<unsigned char>(unit[k + 1]) << 8));
        i += len;
        done = true;
      }
    }
    if (!done) {
      wide += u'\xFFFD';  // not a character of the charset: cannot be held either
      ++i;
    }
  }
  const bool converted = Utf16ToAnsi(wide, out, lossy);
  WipeBytes(wide.data(), wide.capacity() * sizeof(char16_t));
  return converted;
}

}  // namespace

bool LocaleToAnsi(std::string_view in, std::string& out, bool* lossy) {
  return ToAnsi(LocaleCharset().c_str(), in, out, lossy);
}

bool Utf8ToAnsi(std::string_view in, std::string& out, bool* lossy) {
  return ToAnsi("UTF-8", in, out, lossy);
}

bool IsUtf8(std::string_view text) {
  std::size_t ascii = 0;
  while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  if (ascii == text.size()) return true;
  Lease decoder("UTF-16LE", "UTF-8");
  return decoder->ok() && decoder->Accepts(text.substr(ascii));
}

bool AnsiToLocale(std::string_view in, std::string& out) {
  out.clear();
  std::u16string wide;
  if (!AnsiToUtf16(in, wide)) return false;
  Lease toLocale(LocaleCharset(), "UTF-16LE");
  if (!toLocale->ok()) return false;
  for (std::size_t i = 0; i < wide.size();) {
    std::size_t units = Utf16Unit(wide, i);
    if (wide[i] < 0x80) {
      out += static_cast<char>(wide[i]);
    } else if (!toLocale->Convert(reinterpret_cast<const char*>(wide.data() + i), units * 2, out)) {
      out += '?';
    }
    i += units;
  }
  return true;
}

}  // namespace zentrova::platform
