// The delivery trace: one timestamped line per step of a send, appended to the
// file the user names, so that a failed delivery in a script can be followed
// afterwards. A line reads
//   2026-12-07T23:59:59.123Z pid 1234 http attempt server=gw.example proxy=direct ...
// (UTC, milliseconds; the process id; then the step and its fields, name=value
// with text values quoted). Writing it never changes or fails a send.
//
// The trace is process-wide: one Trace object owns it, made and ended
// explicitly by the program or the loaded library, and every line is written
// under its lock, from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/append_file.h"

namespace zentrova::platform {

// Told once, when the trace file cannot be opened or written, with a sentence
// that names the file and the reason; called under the trace's lock, so it
// must not trace. The trace then stays off.
using TraceFailureReport = void (*)(const std::string& message);

class Trace {
 public:
  // Starts the process's trace into path; an empty path starts none. While
  // another Trace owns the process's trace this one stays inert. The file is
  // opened by the first line and kept open to the end.
  Trace(std::string path, TraceFailureReport report);
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

 private:
  friend bool Tracing();
  friend void TraceLine(std::string_view step);
  void Write(std::string_view step);  // under the process's trace lock

  std::string path_;
  TraceFailureReport report_;
  AppendFile file_;
  bool failed_ = false;
};

// Whether a trace is being written: callers skip composing lines otherwise.
bool Tracing();
// Appends one line, "<time> pid <id> <step>", when a trace is being written.
void TraceLine(std::string_view step);

// text as a quoted trace value: at most limit bytes, escaped as Escaped
// (platform/printable.h) does with line ends and quotes escaped too, and "..."
// after the quote when text was longer.
std::string TraceQuoted(std::string_view text, std::size_t limit = 200);

}  // namespace zentrova::platform
