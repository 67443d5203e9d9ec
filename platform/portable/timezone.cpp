// The zone queries with the test hook in front of the system's answers.
#include "platform/timezone.h"

#include <mutex>
#include <utility>

#include "platform/portable/system_calls.h"

namespace zentrova::platform {
namespace {

struct Zones {
  std::mutex lock;  // the system's answers and the fixed zone alike
  std::optional<FixedZone> fixed;
};

Zones& State() {
  static Zones zones;
  return zones;
}

bool FixedRecord(const FixedZone& fixed, TimeZoneRecord& out, std::string& error) {
  if (!fixed.known) error = fixed.error;
  if (fixed.known) out = fixed.system;
  return fixed.known;
}

}  // namespace

void FixCurrentZone(std::optional<FixedZone> zone) {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.fixed = std::move(zone);
}

bool QuerySystemTimeZone(TimeZoneRecord& out, std::string& error) {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.fixed) return FixedRecord(*state.fixed, out, error);
  return system::SystemZone(out, error, nullptr);
}

RuntimeZone QueryRuntimeZone() {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.fixed) return state.fixed->runtime;
  return system::CurrentRuntimeZone();
}

bool QueryZones(TimeZoneRecord& system, std::string& error, RuntimeZone& runtime) {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.fixed) {
    runtime = state.fixed->runtime;
    return FixedRecord(*state.fixed, system, error);
  }
  return system::SystemZone(system, error, &runtime);
}

}  // namespace zentrova::platform
