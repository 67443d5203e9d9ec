#include "platform/printable.h"

namespace zentrova::platform {

std::string Escaped(std::string_view text, LineEnds lineEnds, char quote) {
  static const char kHex[] = "0123456789ABCDEF";
  const bool keepLineEnds = lineEnds == LineEnds::kKept;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const bool lineEnd = c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    if (keepLineEnds && lineEnd) {
      out += static_cast<char>(c);
    } else if (c == '\\' || (quote && c == static_cast<unsigned char>(quote))) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace zentrova::platform
