// The SMTP reply reader on bytes as a server may send them: one reply is all
// lines up to the first without the "ddd-" mark, whatever the bytes, and
// however the receives cut them.
#include <cstdint>
#include <string_view>

#include "smtp/session.h"
#include "tests/fuzz/require.h"

namespace {

bool Continues(std::string_view line) {
  return line.size() >= 4 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' && line[1] <= '9' &&
         line[2] >= '0' && line[2] <= '9' && line[3] == '-';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  zentrova::smtp::ReplyReader whole;
  const std::size_t taken = whole.Take(bytes);
  Require(taken <= size);
  Require(whole.Code() >= -1 && whole.Code() <= 999);

  // Every line taken continues the reply but the last of a reply read whole.
  std::size_t start = 0;
  for (std::size_t end = bytes.find('\n'); end != std::string_view::npos && end < taken;
       end = bytes.find('\n', start)) {
    const bool last = whole.Done() && end + 1 == taken;
    Require(Continues(bytes.substr(start, end - start)) != last);
    start = end + 1;
  }
  Require(whole.Done() ? start == taken : taken == size);
  if (whole.Done()) Require(whole.Take(bytes.substr(taken)) == 0);

  // The same bytes in pieces, as receives deliver them, read the same reply.
  zentrova::smtp::ReplyReader pieces;
  const std::size_t step = size ? data[0] % 7 + 1 : 1;
  std::size_t at = 0;
  while (at < size && !pieces.Done()) at += pieces.Take(bytes.substr(at, step));
  Require(pieces.Done() == whole.Done() && at == taken && pieces.Code() == whole.Code());
  return 0;
}
