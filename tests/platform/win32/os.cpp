// The platform contract's expectations of the Windows adapters, where
// Windows' own behaviour is the reference.
#include <windows.h>

#include <fstream>

#include "tests/platform/contract.h"

namespace zentrova::testing::os {

const char16_t kUndefinedAnsiByte[] = u"\u0081";  // Windows maps 1252's holes to C1 controls
const char kTooLargeProfile[] = "pagora.ini is larger than 1048576 bytes";

bool LetOthersRead(const std::filesystem::path&) { return false; }  // no such notion to warn of

std::optional<int> SystemProfileInt(const std::string& text, const std::filesystem::path& dir) {
  const std::string path = (dir / "int.ini").string();
  std::ofstream(path, std::ios::binary) << "[S]\r\nK=" << text << "\r\n";
  return static_cast<int>(GetPrivateProfileIntA("S", "K", 0, path.c_str()));
}

void BeginRegistry(const std::filesystem::path&) {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZentrovaTest");
}
void EndRegistry() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZentrovaTest"); }

}  // namespace zentrova::testing::os
