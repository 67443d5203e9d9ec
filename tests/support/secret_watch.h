// Counts the heap blocks given back to operator delete while they still hold
// a watched text (as UTF-8 or UTF-16) on the thread that watches, so a test sees a secret left
// behind in freed memory without ever reading freed memory. Link secret_watch.cpp into the test
// program itself: it replaces the program's operator new and delete. It can also make one
// allocation on this thread fail, so a test reaches each out-of-memory path in turn.
#pragma once

#include <string_view>

namespace zentrova::testing {

class SecretWatch {
 public:
  explicit SecretWatch(std::string_view secret);  // ASCII
  ~SecretWatch();
  SecretWatch(const SecretWatch&) = delete;
  SecretWatch& operator=(const SecretWatch&) = delete;

  // Blocks this thread freed since the watch began that still held the secret.
  int LeftInFreedBlocks() const;
};

// The n-th throwing operator new on this thread from now on (0: the next) throws bad_alloc.
void FailAllocation(int n);
// Whether that failure happened; either way no further allocation fails.
bool AllocationFailed();

}  // namespace zentrova::testing
