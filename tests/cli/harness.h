// The automation server's tests still include this name for the process
// helpers, which now live with the other test peers.
#pragma once

#include "tests/support/peers.h"

namespace zv_test {
using zentrova::testing::DeadPort;
using zentrova::testing::ProcessResult;
using zentrova::testing::RunProcess;
}  // namespace zv_test
