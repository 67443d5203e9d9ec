#include "platform/trace.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/clock.h"
#include "platform/printable.h"

namespace zentrova::platform {
namespace {

std::mutex& TraceMutex() {
  static std::mutex mutex;
  return mutex;
}
Trace* g_owner = nullptr;  // guarded by TraceMutex()

std::string Timestamp() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto ms = now.time_since_epoch().count() % 1000;
  std::tm utc{};
  char text[40] = "0000-00-00T00:00:00";
  if (UtcCalendarTime(system_clock::to_time_t(now), utc))
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char line[64];
  std::snprintf(line, sizeof line, "%s.%03dZ", text, static_cast<int>(ms < 0 ? 0 : ms));
  return line;
}

}  // namespace

Trace::Trace(std::string path, TraceFailureReport report)
    : path_(std::move(path)), report_(report) {
  if (path_.empty()) return;
  std::lock_guard<std::mutex> lock(TraceMutex());
  if (!g_owner) g_owner = this;
}

Trace::~Trace() {
  std::lock_guard<std::mutex> lock(TraceMutex());
  if (g_owner == this) g_owner = nullptr;
}

void Trace::Write(std::string_view step) {
  if (failed_) return;
  std::string error;
  std::string line = Timestamp() + " pid " + std::to_string(CurrentProcessId()) + " ";
  line.append(step).append("\n");
  if ((file_.IsOpen() || file_.Open(path_, error)) && file_.Append(line, error)) return;
  failed_ = true;
  file_.Close();
  if (report_)
    report_("cannot write the trace file " + path_ + " (" + error +
            "); the sends go on without a trace");
}

bool Tracing() {
  std::lock_guard<std::mutex> lock(TraceMutex());
  return g_owner && !g_owner->failed_;
}

void TraceLine(std::string_view step) {
  std::lock_guard<std::mutex> lock(TraceMutex());
  if (g_owner) g_owner->Write(step);
}

std::string TraceQuoted(std::string_view text, std::size_t limit) {
  std::string out = "\"" + Escaped(text.substr(0, limit), LineEnds::kEscaped, '"') + "\"";
  if (text.size() > limit) out += "...";
  return out;
}

}  // namespace zentrova::platform
