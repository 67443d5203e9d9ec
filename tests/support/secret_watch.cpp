#include "tests/support/secret_watch.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

// Set before the watch starts and cleared after it ends.
char g_narrow[256];
char g_wide[512];
std::atomic<std::size_t> g_length{0};
std::atomic<int> g_hits{0};
// Only the watching thread's frees count: a test's peers (a listener keeping
// what it was sent) run on threads of their own.
thread_local bool t_watching = false;

void Inspect(void* block) {
  const std::size_t n = g_length.load(std::memory_order_acquire);
  if (!block || n == 0 || !t_watching) return;
  const std::size_t size = malloc_usable_size(block);
  if (memmem(block, size, g_narrow, n) || memmem(block, size, g_wide, 2 * n)) ++g_hits;
}

thread_local int t_failIn = -1;  // allocations until the one that fails
thread_local bool t_failed = false;

void* Allocate(std::size_t n) {
  if (t_failIn >= 0 && t_failIn-- == 0) {
    t_failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

// Plain malloc and free underneath, so that a sanitizer's allocator sees
// matching calls.
void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { Inspect(p), std::free(p); }
void operator delete[](void* p) noexcept { Inspect(p), std::free(p); }
void operator delete(void* p, std::size_t) noexcept { Inspect(p), std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { Inspect(p), std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Inspect(p), std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Inspect(p), std::free(p); }

namespace zentrova::testing {

SecretWatch::SecretWatch(std::string_view secret) {
  const std::size_t n = std::min(secret.size(), sizeof g_narrow);
  std::memcpy(g_narrow, secret.data(), n);
  for (std::size_t i = 0; i < n; ++i) {
    g_wide[2 * i] = secret[i];
    g_wide[2 * i + 1] = 0;
  }
  g_hits = 0;
  g_length.store(n, std::memory_order_release);
  t_watching = true;
}

SecretWatch::~SecretWatch() {
  t_watching = false;
  g_length.store(0, std::memory_order_release);
}

int SecretWatch::LeftInFreedBlocks() const { return g_hits; }

void FailAllocation(int n) { t_failIn = n, t_failed = false; }

bool AllocationFailed() {
  t_failIn = -1;
  return t_failed;
}

}  // namespace zentrova::testing
