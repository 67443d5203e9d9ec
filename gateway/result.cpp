#include "gateway/result.h"

namespace zentrova::gateway {

std::optional<ResultInfo> Known(int number) {
  // Linux keeps a result's low 8 bits (a failure whose low 8 bits are 0 exits
  // 255, so it never reads as success); Windows keeps the result whole.
  switch (static_cast<Result>(number)) {
    case kAccepted:
      return ResultInfo{"accepted", "the gateway accepted the request", 0, 0,
                        "Message sent sucessfully"};
    case kRetryableFailure:
      return ResultInfo{"retryable failure", "the HTTP request failed", 254, -2, nullptr};
    case kServerNotResponding:
      return ResultInfo{"server not responding", "the gateway is busy", 99, 99,
                        "Server not responding"};
    case kNoUsableReplyCommandLine:
      return ResultInfo{"no usable reply", "no usable reply", 10, 10, nullptr};
    case kNoUsableReplyAutomation:
      return ResultInfo{"no usable reply (automation)", "no usable reply", 52, 2100, nullptr};
    case kNoInternetSession:
      return ResultInfo{"no internet session", "no HTTP session", 184, 3000, nullptr};
    case kSettingUnusable:
      // Pagora names the value and exits as for any configuration it refuses.
      return ResultInfo{"setting unusable", "a registry value or hive that cannot be used", 78, 78,
                        nullptr};
    case kMissingInput:
      return ResultInfo{"missing input", "a missing input", 255, -1, nullptr};
    case kMessageTooLong:
      return ResultInfo{"message too long", "a message over 765 bytes", 246, -10, nullptr};
    case kUnsafeValue:
      return ResultInfo{"unsafe value", "a value that would add lines to the request", 245, -11,
                        nullptr};
  }
  return std::nullopt;
}

}  // namespace zentrova::gateway
