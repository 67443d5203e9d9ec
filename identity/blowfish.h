// Blowfish (64-bit blocks, 16 rounds) in ECB mode, with the block halves read
// as little-endian words: bytes 0-3 are the left half and bytes 4-7 the right,
// byte 0 (or 4) least significant. That is the order the gateway deciphers in;
// the published test vectors, written with big-endian halves, hold once each
// 4-byte half is reversed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zentrova::identity {

struct BlowfishSchedule {
  std::array<std::uint32_t, 18> p;
  std::array<std::array<std::uint32_t, 256>, 4> s;
};

// The standard key schedule for a key of 1 to 56 bytes (longer keys are cut).
BlowfishSchedule ExpandBlowfishKey(const unsigned char* key, std::size_t length);

// The schedule of the fixed document key. It is worked out when the program is
// built, so no document pays for the 521 encipherments of a key set-up and no
// cipher state is shared or written at run time.
const BlowfishSchedule& DocumentKeySchedule();

// ECB in place over the first n bytes; n must be a multiple of 8 (a trailing
// partial block is left alone). Independent blocks are processed four at a time
// so that their table look-ups overlap.
void BlowfishEncipher(const BlowfishSchedule& schedule, unsigned char* data, std::size_t n);
void BlowfishDecipher(const BlowfishSchedule& schedule, unsigned char* data, std::size_t n);

}  // namespace zentrova::identity
