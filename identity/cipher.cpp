#include "identity/cipher.h"

#include <array>
#include <cstring>

#include "identity/blowfish.h"

namespace zentrova::identity {
namespace {

constexpr std::size_t kLineBytes = 45;

constexpr char Sextet(unsigned v) { return static_cast<char>(32 + (v & 63)); }

// The two characters of every 12 bits, so that three bytes take two look-ups.
constexpr auto kPairs = [] {
  std::array<std::array<char, 2>, 4096> pairs{};
  for (unsigned v = 0; v < 4096; ++v) pairs[v] = {Sextet(v >> 6), Sextet(v)};
  return pairs;
}();

// Accepts the space and, as line decoders traditionally do, the backquote for 0.
int SextetValue(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u == '`') return 0;
  if (u < 32 || u > 95) return -1;
  return u - 32;
}

std::string At(std::size_t offset) { return " at offset " + std::to_string(offset); }

}  // namespace

std::size_t EncipherDocument(unsigned char* buffer, std::size_t n) {
  BlowfishEncipher(DocumentKeySchedule(), buffer, n);
  return n;
}

std::size_t DecipherDocument(unsigned char* buffer, std::size_t n) {
  BlowfishDecipher(DocumentKeySchedule(), buffer, n);
  return n;
}

std::size_t EncodedLength(std::size_t n) {
  const std::size_t full = n / kLineBytes, rest = n % kLineBytes;
  const std::size_t lines = full + (rest ? 1 : 0);
  std::size_t length = full * (1 + 4 * (kLineBytes / 3)) + (rest ? 1 + 4 * ((rest + 2) / 3) : 0);
  if (lines > 1) length += 2 * (lines - 1);
  return length + 1;  // "="
}

int EncodeLines(const unsigned char* in, std::size_t n, char* out) {
  char* o = out;
  for (std::size_t done = 0; done < n;) {
    const std::size_t k = n - done < kLineBytes ? n - done : kLineBytes;
    if (done > 0) {
      *o++ = '\r';
      *o++ = '\n';
    }
    *o++ = static_cast<char>(32 + k);
    const unsigned char* line = in + done;
    const std::size_t whole = k / 3 * 3;
    for (std::size_t i = 0; i < whole; i += 3) {
      const unsigned v = unsigned(line[i]) << 16 | unsigned(line[i + 1]) << 8 | line[i + 2];
      std::memcpy(o, kPairs[v >> 12].data(), 2);
      std::memcpy(o + 2, kPairs[v & 4095].data(), 2);
      o += 4;
    }
    if (whole < k) {  // the last group of a short line, filled with zero bytes
      const unsigned b0 = line[whole];
      const unsigned b1 = whole + 1 < k ? line[whole + 1] : 0;
      o[0] = Sextet(b0 >> 2);
      o[1] = Sextet((b0 << 4) | (b1 >> 4));
      o[2] = Sextet(b1 << 2);
      o[3] = Sextet(0);
      o += 4;
    }
    done += k;
  }
  *o++ = '=';
  *o = '\0';
  return static_cast<int>(o - out);
}

bool DecodeLines(std::string_view text, std::vector<unsigned char>& out, std::size_t* end,
                 std::string& error, std::string* irregular) {
  out.clear();
  if (irregular) irregular->clear();
  auto note = [&](const char* what, std::size_t at) {
    if (irregular && irregular->empty()) *irregular = what + At(at);
  };
  std::size_t pos = 0;
  for (;;) {
    if (pos >= text.size()) {
      error = "the cipher text ends without its closing \"=\"";
      return false;
    }
    const int k = SextetValue(text[pos]);
    if (k <= 0 || static_cast<std::size_t>(k) > kLineBytes) {
      error = "bad line length character" + At(pos) + " (expected \"!\" to \"M\")";
      return false;
    }
    ++pos;
    const std::size_t groups = (static_cast<std::size_t>(k) + 2) / 3;
    if (text.size() - pos < 4 * groups) {
      error = "a line of the cipher text is cut short" + At(pos);
      return false;
    }
    unsigned char bytes[48];
    for (std::size_t g = 0; g < groups; ++g) {
      int v[4];
      for (int j = 0; j < 4; ++j) {
        v[j] = SextetValue(text[pos + j]);
        if (v[j] < 0) {
          error = "character outside the line alphabet" + At(pos + j);
          return false;
        }
        if (text[pos + j] == '`') note("a backquote for 0", pos + j);
      }
      bytes[3 * g] = static_cast<unsigned char>(v[0] << 2 | v[1] >> 4);
      bytes[3 * g + 1] = static_cast<unsigned char>(v[1] << 4 | v[2] >> 2);
      bytes[3 * g + 2] = static_cast<unsigned char>(v[2] << 6 | v[3]);
      pos += 4;
    }
    // The fill of a short last group is zero bytes in the encoder's form.
    for (std::size_t i = static_cast<std::size_t>(k); i < 3 * groups; ++i)
      if (bytes[i] != 0) note("bits set in the fill of a line's last group", pos - 4);
    out.insert(out.end(), bytes, bytes + k);
    if (pos < text.size() && text[pos] == '=') {
      if (end) *end = pos + 1;
      return true;
    }
    if (static_cast<std::size_t>(k) != kLineBytes) {
      error = "expected \"=\" after the last, short line" + At(pos);
      return false;
    }
    if (text.substr(pos, 2) != "\r\n") {
      error = "expected CR LF between lines" + At(pos);
      return false;
    }
    pos += 2;
  }
}

}  // namespace zentrova::identity
