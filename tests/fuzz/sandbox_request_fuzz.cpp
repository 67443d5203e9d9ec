// The sandbox's request decoders on any body: they never crash or throw, the
// journal entry they fill always serializes, and an APICOM body that reads
// without remark is exactly what the kit's enciphering makes of what it read.
#include <cstdint>
#include <string>

#include "apicom.h"
#include "sandbox.h"
#include "tests/fuzz/require.h"

namespace {

// The inverse of Latin1ToUtf8: each code point back to its byte.
std::string Bytes(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      Require((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size());
      out += static_cast<char>((c & 3) << 6 | (static_cast<unsigned char>(utf8[++i]) & 63));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zentrova::sandbox;
  const std::string body(reinterpret_cast<const char*>(data), size);

  // Each dialect of the table DecodeDocument tries. dump() throws, and so
  // fails, on text that is not UTF-8.
  nlohmann::json fields = nlohmann::json::object();
  std::string summary;
  if (DecodeApiexe(body, fields, summary)) fields.dump();

  fields = nlohmann::json::object();
  if (!DecodeApicom(body, fields, summary)) return 0;
  fields.dump();
  if (fields.contains("error") || fields.contains("irregular")) return 0;
  std::string again, error;
  Require(EncipherApicom(Bytes(fields["plain"]), Bytes(fields["FROM"]["ID"]),
                         Bytes(fields["FROM"]["Email"]), again, error));
  Require(again == body);
  return 0;
}
