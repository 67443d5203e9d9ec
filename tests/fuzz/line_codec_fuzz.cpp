// The line form of the cipher text: the input encoded reads back as itself in
// the encoder's form, and the input read as text either encodes back to exactly
// the text read or is named irregular by the decoder.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "identity/cipher.h"
#include "tests/fuzz/require.h"

namespace {

std::string Encode(const unsigned char* bytes, std::size_t n) {
  std::string text(zentrova::identity::EncodedLength(n) + 1, '\x7f');
  const int count = zentrova::identity::EncodeLines(bytes, n, text.data());
  Require(count >= 0 && static_cast<std::size_t>(count) + 1 == text.size() && text.back() == '\0');
  text.resize(static_cast<std::size_t>(count));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using zentrova::identity::DecodeLines;
  std::vector<unsigned char> back;
  std::string error, irregular;
  std::size_t end = 0;

  // No bytes encode to "=", which reads as the start of a 29-byte line.
  if (size > 0) {
    const std::string text = Encode(data, size);
    Require(DecodeLines(text, back, &end, error, &irregular));
    Require(end == text.size() && irregular.empty() && back.size() == size);
    Require(std::equal(back.begin(), back.end(), data));
  }

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!DecodeLines(input, back, &end, error, &irregular)) {
    Require(!error.empty());
    return 0;
  }
  Require(end >= 1 && end <= size && input[end - 1] == '=');
  Require((Encode(back.data(), back.size()) == input.substr(0, end)) == irregular.empty());
  return 0;
}
