// The platform contract's expectations of the Linux adapters.
#include <stdlib.h>
#include <sys/stat.h>

#include "tests/platform/contract.h"

namespace zentrova::testing::os {

const char16_t kUndefinedAnsiByte[] = u"?";
const char kTooLargeProfile[] =
    "pagora.ini is 2097152 bytes long; a settings file of more than 1048576 bytes";

bool LetOthersRead(const std::filesystem::path& file) {
  chmod(file.c_str(), 0644);
  return true;  // and the kit warns about it
}

std::optional<int> SystemProfileInt(const std::string&, const std::filesystem::path&) {
  return std::nullopt;
}

void BeginRegistry(const std::filesystem::path& dir) {
  setenv("ZENTROVA_REGISTRY", (dir / "hives").c_str(), 1);
}
void EndRegistry() { unsetenv("ZENTROVA_REGISTRY"); }

}  // namespace zentrova::testing::os
