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

ZoneStatus FixedRecord(const FixedZone& fixed, TimeZoneRecord& out) {
  if (!fixed.known) return {ZoneResult::kUnknown, fixed.error};
  out = fixed.system;
  return {};
}

}  // namespace

void FixCurrentZone(std::optional<FixedZone> zone) {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  state.fixed = std::move(zone);
}

ZoneStatus QuerySystemTimeZone(TimeZoneRecord& out) {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.fixed) return FixedRecord(*state.fixed, out);
  return system::SystemZone(out, nullptr);
}

RuntimeZone QueryRuntimeZone() {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.fixed) return state.fixed->runtime;
  return system::CurrentRuntimeZone();
}

ZoneStatus QueryZones(TimeZoneRecord& system, RuntimeZone& runtime) {
  Zones& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.fixed) {
    runtime = state.fixed->runtime;
    return FixedRecord(*state.fixed, system);
  }
  return system::SystemZone(system, &runtime);
}

}  // namespace zentrova::platform
