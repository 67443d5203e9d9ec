// The identity values of the "[SENDER]" section of an automation request:
// where and how the sending machine keeps time, its locale, and the running
// number of the request.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/timezone.h"

namespace zentrova::identity {

// The key of one zone record: the bias with sign and three digits, then the
// standard and daylight change-overs as year, month, week and day of week.
int FormatTimeZoneKey(const platform::TimeZoneRecord& zone, char* buffer, std::size_t size);

// The zone values of a request's sender section, from one question to the
// system: the key of the system's own zone (empty when the system cannot tell
// it), and the C runtime's standard offset in minutes east of UTC ("600" for
// UTC+10) and daylight-saving flag (1 when the zone has a daylight-saving rule
// at all), which follow the runtime's zone where it differs from the system's.
struct SenderZone {
  char key[32] = "";
  long minutesEast = 0;
  int daylight = 0;
};
SenderZone QuerySenderZone();

// The running number of the request documents of one process. Each document
// takes the current value and moves it on in one atomic step, wrapping to 0
// after 4294967295, so no two documents share a number before it wraps. The
// counter belongs to its owner (the automation server's settings record, which
// starts it at 0 when the module loads); every access while documents may be
// composed must go through here.
inline std::uint32_t TakeSequenceNumber(std::uint32_t& counter) {
  return std::atomic_ref<std::uint32_t>(counter).fetch_add(1, std::memory_order_relaxed);
}

// A counter with its own storage, for owners that keep nothing else.
class SequenceNumber {
 public:
  explicit SequenceNumber(std::uint32_t first = 0) : counter_(first) {}
  SequenceNumber(const SequenceNumber&) = delete;
  SequenceNumber& operator=(const SequenceNumber&) = delete;

  std::uint32_t Take() { return TakeSequenceNumber(counter_); }
  std::uint32_t& Counter() { return counter_; }

 private:
  alignas(std::atomic_ref<std::uint32_t>::required_alignment) std::uint32_t counter_;
};

}  // namespace zentrova::identity
