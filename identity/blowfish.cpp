#include "identity/blowfish.h"

#include "identity/blowfish_pi.h"

namespace zentrova::identity {
namespace {

constexpr std::uint32_t Round(const BlowfishSchedule& k, std::uint32_t x) {
  return ((k.s[0][x >> 24] + k.s[1][(x >> 16) & 255]) ^ k.s[2][(x >> 8) & 255]) + k.s[3][x & 255];
}

// One block on words, as the key set-up needs it (it runs at build time too).
constexpr void EncipherWords(const BlowfishSchedule& k, std::uint32_t& left, std::uint32_t& right) {
  std::uint32_t a = left, b = right;
  for (int i = 0; i < 16; i += 2) {
    a ^= k.p[i];
    b ^= Round(k, a);
    b ^= k.p[i + 1];
    a ^= Round(k, b);
  }
  left = b ^ k.p[17];
  right = a ^ k.p[16];
}

constexpr BlowfishSchedule Expand(const unsigned char* key, std::size_t length) {
  BlowfishSchedule k{};
  for (int i = 0; i < 18; ++i) k.p[i] = detail::kPiP[i];
  for (int box = 0; box < 4; ++box)
    for (int j = 0; j < 256; ++j) k.s[box][j] = detail::kPiS[box * 256 + j];

  if (length > 0) {
    std::size_t j = 0;
    for (int i = 0; i < 18; ++i) {
      std::uint32_t word = 0;
      for (int b = 0; b < 4; ++b) {
        word = (word << 8) | key[j];
        j = (j + 1) % length;
      }
      k.p[i] ^= word;
    }
  }

  std::uint32_t left = 0, right = 0;
  for (int i = 0; i < 18; i += 2) {
    EncipherWords(k, left, right);
    k.p[i] = left;
    k.p[i + 1] = right;
  }
  for (int box = 0; box < 4; ++box) {
    for (int i = 0; i < 256; i += 2) {
      EncipherWords(k, left, right);
      k.s[box][i] = left;
      k.s[box][i + 1] = right;
    }
  }
  return k;
}

// The fixed key of the request document. It only guards the document on its
// way to the gateway, which holds the same key.
constexpr unsigned char kDocumentKey[] = {'7', '3', '0', '2', '9', '1', '8', '4', '6', '5'};
constexpr BlowfishSchedule kDocumentSchedule = Expand(kDocumentKey, sizeof kDocumentKey);

inline std::uint32_t Load(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

inline void Store(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// W independent blocks side by side: each round's look-ups of one block do not
// wait for those of the others, so the processor overlaps them. Deciphering is
// the same walk with the P-array taken backwards.
template <int W, bool Decipher>
inline void Blocks(const BlowfishSchedule& k, unsigned char* data) {
  const std::uint32_t* s0 = k.s[0].data();
  const std::uint32_t* s1 = k.s[1].data();
  const std::uint32_t* s2 = k.s[2].data();
  const std::uint32_t* s3 = k.s[3].data();
  const std::uint32_t* p = k.p.data();
  auto f = [=](std::uint32_t x) {
    return ((s0[x >> 24] + s1[(x >> 16) & 255]) ^ s2[(x >> 8) & 255]) + s3[x & 255];
  };
  auto key = [p](int i) { return Decipher ? p[17 - i] : p[i]; };

  std::uint32_t a[W], b[W];
#pragma GCC unroll 8
  for (int w = 0; w < W; ++w) {
    a[w] = Load(data + 8 * w);
    b[w] = Load(data + 8 * w + 4);
  }
#pragma GCC unroll 16
  for (int i = 0; i < 16; i += 2) {
    const std::uint32_t ka = key(i), kb = key(i + 1);
#pragma GCC unroll 8
    for (int w = 0; w < W; ++w) a[w] ^= ka;
#pragma GCC unroll 8
    for (int w = 0; w < W; ++w) b[w] ^= f(a[w]) ^ kb;
#pragma GCC unroll 8
    for (int w = 0; w < W; ++w) a[w] ^= f(b[w]);
  }
  const std::uint32_t kl = key(17), kr = key(16);
#pragma GCC unroll 8
  for (int w = 0; w < W; ++w) {
    Store(data + 8 * w, b[w] ^ kl);
    Store(data + 8 * w + 4, a[w] ^ kr);
  }
}

template <bool Decipher>
void Run(const BlowfishSchedule& k, unsigned char* data, std::size_t n) {
  constexpr int kWide = 4;
  std::size_t blocks = n / 8;
  for (; blocks >= kWide; blocks -= kWide, data += 8 * kWide) Blocks<kWide, Decipher>(k, data);
  for (; blocks > 0; --blocks, data += 8) Blocks<1, Decipher>(k, data);
}

}  // namespace

BlowfishSchedule ExpandBlowfishKey(const unsigned char* key, std::size_t length) {
  return Expand(key, length);
}

const BlowfishSchedule& DocumentKeySchedule() { return kDocumentSchedule; }

void BlowfishEncipher(const BlowfishSchedule& schedule, unsigned char* data, std::size_t n) {
  Run<false>(schedule, data, n);
}

void BlowfishDecipher(const BlowfishSchedule& schedule, unsigned char* data, std::size_t n) {
  Run<true>(schedule, data, n);
}

}  // namespace zentrova::identity
