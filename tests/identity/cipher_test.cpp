#include "identity/cipher.h"

#include <gtest/gtest.h>
#include <openssl/blowfish.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "identity/blowfish.h"
#include "tests/support/peers.h"

namespace zentrova::identity {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Hex(const char* text) {
  Bytes out;
  for (std::size_t i = 0; text[i] && text[i + 1]; i += 2) {
    unsigned v = 0;
    std::sscanf(text + i, "%2x", &v);
    out.push_back(static_cast<unsigned char>(v));
  }
  return out;
}

// The document cipher reads each half little-endian; the published vectors and
// OpenSSL's BF_ecb_encrypt read them big-endian.
void ReverseHalves(unsigned char* data, std::size_t n) {
  for (std::size_t i = 0; i + 4 <= n; i += 4) {
    std::swap(data[i], data[i + 3]);
    std::swap(data[i + 1], data[i + 2]);
  }
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

TEST(Blowfish, PublishedVectorsHoldThroughTheByteOrderRule) {
  const std::tuple<const char*, const char*, const char*> vectors[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
      {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
  };
  for (const auto& [hexKey, plain, cipher] : vectors) {
    SCOPED_TRACE(hexKey);
    const Bytes key = Hex(hexKey);
    const BlowfishSchedule schedule = ExpandBlowfishKey(key.data(), key.size());
    auto bigEndian = [&](auto cipher, Bytes block) {
      ReverseHalves(block.data(), 8);
      cipher(schedule, block.data(), 8);
      ReverseHalves(block.data(), 8);
      return block;
    };
    EXPECT_EQ(bigEndian(BlowfishEncipher, Hex(plain)), Hex(cipher));
    EXPECT_EQ(bigEndian(BlowfishDecipher, Hex(cipher)), Hex(plain));
  }
}

TEST(Blowfish, DocumentCipherEqualsOpenSslOnRandomBuffers) {
  const unsigned char documentKey[] = "7302918465";
  BF_KEY reference;
  BF_set_key(&reference, 10, documentKey);
  std::mt19937 rng(20261206);
  // Lengths around the four-block stride, and a document-sized one.
  for (std::size_t n : {8u, 16u, 24u, 32u, 40u, 56u, 64u, 72u, 4096u, 8200u}) {
    SCOPED_TRACE(n);
    const Bytes plain = RandomBytes(rng, n);
    Bytes ours = plain;
    EXPECT_EQ(EncipherDocument(ours.data(), n), n);

    Bytes theirs = plain;
    ReverseHalves(theirs.data(), n);
    for (std::size_t i = 0; i < n; i += 8)
      BF_ecb_encrypt(theirs.data() + i, theirs.data() + i, &reference, BF_ENCRYPT);
    ReverseHalves(theirs.data(), n);
    EXPECT_EQ(ours, theirs);

    DecipherDocument(ours.data(), n);
    EXPECT_EQ(ours, plain);
  }
}

// Decodes each line with Python's binascii.a2b_uu, an independent decoder of
// the same line format, and returns the bytes.
Bytes DecodeWithPython(const std::string& encoded) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("lines"), encoded);
  const testing::ProcessResult r = testing::RunProcess(
      {"/usr/bin/python3", "-c",
       "import binascii,sys\n"
       "t=open(sys.argv[1],'rb').read()\n"
       "assert t.endswith(b'=')\n"
       "sys.stdout.write(b''.join(binascii.a2b_uu(l) for l in t[:-1].split(b'\\r\\n')).hex())",
       dir.File("lines")},
      {}, std::chrono::seconds(30));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return Hex(r.out.c_str());
}

TEST(LineEncoding, MatchesAnIndependentDecoder) {
  std::mt19937 rng(45);
  for (std::size_t n : {1u, 2u, 3u, 8u, 44u, 45u, 46u, 48u, 90u, 352u, 368u, 1000u}) {
    SCOPED_TRACE(n);
    const Bytes data = RandomBytes(rng, n);
    std::string text(3 * n + 1024, '\x7f');
    const int count = EncodeLines(data.data(), n, text.data());
    ASSERT_EQ(static_cast<std::size_t>(count), EncodedLength(n));
    EXPECT_EQ(text[count], '\0');
    text.resize(count);
    for (char c : text) EXPECT_TRUE((c >= ' ' && c <= '_') || c == '\r' || c == '\n') << int(c);
    EXPECT_EQ(DecodeWithPython(text), data);

    Bytes back;
    std::size_t end = 0;
    std::string error;
    ASSERT_TRUE(DecodeLines(text + "\r\n\r\n[FROM]", back, &end, error)) << error;
    EXPECT_EQ((std::tuple{end, back}), (std::tuple{text.size(), data}));
  }
}

// What reads but is not the encoder's form is named; the encoder's own form is
// not, and it is what the encoder writes; damaged text is refused, with the reason.
TEST(LineEncoding, DecodeNamesIrregularTextAndRefusesDamagedText) {
  const struct {
    std::string text;
    Bytes bytes = {};  // none: refused
    bool irregular = false;
    std::size_t end = 0;  // 0: the whole text
  } cases[] = {
      {"#04)#=", {'A', 'B', 'C'}},
      {"(" + std::string(12, ' ') + "=", Bytes(8, 0)},
      {"M" + std::string(60, ' ') + "\r\n#" + std::string(4, ' ') + "=", Bytes(48, 0)},
      {"!00  =", {'A'}},
      {"!01  =", {'A'}, true},  // fill bits set
      {"\"04( =", {'A', 'B'}},
      {"\"04(!=", {'A', 'B'}, true},
      {"(`" + std::string(11, ' ') + "=", Bytes(8, 0), true},
      {"M" + std::string(60, ' ') + "=X", Bytes(45, 0), false, 62},  // the rest is the caller's
      {""},                                                          // nothing at all
      {"(" + std::string(12, ' ')},                                  // no "="
      {"(" + std::string(8, ' ')},                                   // line cut short
      {"(" + std::string(11, ' ') + "\x01="},  // character outside the alphabet
      {"#    \r\n#    ="},                     // short line before another line
      {"M" + std::string(60, ' ') + "\nM"},    // a full line, then no CR LF
      {"a    ="},                              // length character out of range
      {" ="},                                  // a line of no bytes
      {"(" + std::string(11, ' ') + "a="},     // one past the backquote, the alphabet's last
      {"N" + std::string(64, ' ') + "="},      // 46 bytes: one past a line's most
  };
  for (const auto& c : cases) {
    Bytes out;
    std::string error, irregular = "stale";
    std::size_t end = 0;
    const bool ok = DecodeLines(c.text, out, &end, error, &irregular);
    EXPECT_EQ(ok, !c.bytes.empty()) << c.text << ": " << error;
    EXPECT_EQ(error.empty(), ok) << c.text;
    if (ok) {
      EXPECT_EQ(out, c.bytes) << c.text;
      EXPECT_EQ(end, c.end ? c.end : c.text.size()) << c.text;
      EXPECT_EQ(!irregular.empty(), c.irregular) << c.text << ": " << irregular;
      std::string text(1024, '\0');
      const int n = EncodeLines(c.bytes.data(), c.bytes.size(), text.data());
      EXPECT_TRUE(c.irregular || (n == int(end) && text.c_str() == c.text.substr(0, end)));
    }
  }  // The "=" just past the end of the view given is not the text's.
  Bytes out;
  std::string error;
  EXPECT_FALSE(DecodeLines(std::string_view("#04)#=").substr(0, 5), out, nullptr, error));
}
}  // namespace
}  // namespace zentrova::identity
