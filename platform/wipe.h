// Overwriting memory that held a secret (a password, a request document that
// carries one) before it is given back, so that neither a later reader of the
// heap nor a core dump finds it there.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace zentrova::platform {

// Overwrites n bytes with zeros in a way the compiler may not drop: the empty
// statement after the fill tells it that the memory is read there. A plain
// fill rather than a byte-wise volatile loop, which costs a request document
// more than composing it (an 8 KB buffer took some 3 µs).
inline void WipeBytes(void* buffer, std::size_t n) {
  if (n == 0) return;
  std::memset(buffer, 0, n);
  asm volatile("" : : "r"(buffer) : "memory");
}

// Wipes a text's bytes where they stand (its whole capacity) when the scope
// ends, on every path out of it.
class WipeOnExit {
 public:
  explicit WipeOnExit(std::string& text) : text_(text) {}
  ~WipeOnExit() { WipeBytes(text_.data(), text_.capacity()); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  std::string& text_;
};

}  // namespace zentrova::platform
