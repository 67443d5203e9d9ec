// The cipher text form of the automation request document: Blowfish under the
// fixed document key in ECB mode, then printable lines of at most 45 bytes
// each (a length character and four characters per three bytes), CR LF between
// lines and one "=" behind the last.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrova::identity {

// Enciphers the first n bytes of buffer in place (n a multiple of 8) and
// returns n. Safe to call from several threads at once: the key schedule is
// constant and each call keeps its working values to itself.
std::size_t EncipherDocument(unsigned char* buffer, std::size_t n);
// The inverse, for the gateway side of the tools and for tests.
std::size_t DecipherDocument(unsigned char* buffer, std::size_t n);

// Characters EncodeLines writes for n bytes, without the NUL.
std::size_t EncodedLength(std::size_t n);

// Writes the line form of n bytes and a NUL into out, which must hold
// EncodedLength(n) + 1 characters (3 * n + 1024 is always enough), and returns
// the number of characters written, the final "=" included, the NUL not.
int EncodeLines(const unsigned char* in, std::size_t n, char* out);

// Reads the line form at the start of text back into bytes. On success *end is
// the offset just behind the "=". On failure, error says what is wrong and
// where, and false is returned. The text may differ from what EncodeLines
// writes for the bytes and still read (a backquote for 0, bits set in the
// fill of a line's last group); then *irregular, when given, says what and
// where, and it is left empty for the encoder's own form. No bytes have no
// form that reads: EncodeLines writes "=" for them, which is also how a line
// of 29 bytes begins.
bool DecodeLines(std::string_view text, std::vector<unsigned char>& out, std::size_t* end,
                 std::string& error, std::string* irregular = nullptr);

}  // namespace zentrova::identity
