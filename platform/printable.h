// Text that came from outside (a gateway's reply, a value of a file) shown to a
// person on a terminal or written into a one-line record. Every control byte
// becomes a visible escape, so that such text cannot move the cursor, retitle
// the terminal, or return to the start of a line and write over what the
// program said there. The console, the trace and the sandbox all show text
// this one way.
#pragma once

#include <string>
#include <string_view>

namespace zentrova::platform {

enum class LineEnds {
  kKept,     // a LF, and a CR right before a LF, stay as they are: console lines
  kEscaped,  // shown as \n and \r: one-line records
};

// text with each control byte (0x00-0x1F, 0x7F) written as an escape: \t, \n
// and \r by name, any other as \xHH (upper-case hexadecimal); the backslash
// that starts an escape as \\, so the escaped text reads back one way only;
// and quote, when given, as a backslash and itself. Bytes from 0x80 up are
// characters of the code page and stay as they are.
std::string Escaped(std::string_view text, LineEnds lineEnds, char quote = '\0');

}  // namespace zentrova::platform
