// How a call to an operating-system service ended: a code of the service's
// own, whose zero value means success, and when it failed a sentence saying
// why, for the person who reads it. One shape for every service, so that a
// caller reads each the same way.
#pragma once

#include <string>

namespace zentrova::platform {

template <typename Code>
struct Status {
  Code code{};
  std::string message;  // empty on success

  bool ok() const { return code == Code{}; }
};

}  // namespace zentrova::platform
