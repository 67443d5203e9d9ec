// What the process's own state must not upset: a program started with its
// standard input closed gets descriptor 0 for the first socket or file it
// opens, and its current directory is the one it asked for.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/registry.h"
#include "platform/socket.h"
#include "tests/support/peers.h"

namespace zentrova::platform {
namespace {

// True when the last step's socket took descriptor 0.
bool OnZero() {
  struct stat st;
  return fstat(0, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Each step runs with descriptor 0 closed just before it; the result has a
// bit for each step that failed.
int StepsOnZero(const std::string& dir) {
  const Milliseconds limit(5000);
  int failed = 0;
  close(0);
  TcpListener first, second;
  if (!first.Listen("127.0.0.1", 0).ok() || !OnZero()) failed |= 1;
  if (!second.Listen("127.0.0.1", 0).ok()) failed |= 1;
  first.Close();
  TcpSocket client, later, accepted;
  if (!client.Connect("127.0.0.1", second.Port(), limit).ok() || !OnZero()) failed |= 2;
  if (!later.Connect("127.0.0.1", second.Port(), limit).ok()) failed |= 2;
  client.Close();
  std::size_t got = 0;
  char text[8], cwd[4096];
  if (!second.Accept(accepted, limit).ok() || !OnZero() ||
      accepted.Receive(text, 1, limit, got).code != SocketResult::kClosed)
    failed |= 4;
  accepted.Close();
  setenv("ZENTROVA_REGISTRY", dir.c_str(), 1);
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("K", "V", "1");
  if (w.Commit().code != kErrorSuccess) failed |= 8;
  unsigned long size = sizeof text;
  RegistryKey key;
  if (key.Open(RegistryRoot::kCurrentUser, "K").code != kErrorSuccess ||
      key.QueryValue("V", text, &size) != kErrorSuccess || std::string(text) != "1")
    failed |= 8;
  std::string message;
  if (!ChangeCurrentDirectory(dir) || !getcwd(cwd, sizeof cwd) || cwd != dir ||
      ChangeCurrentDirectory(dir + "/missing", &message) || message.empty())
    failed |= 16;
  return failed;
}

TEST(Descriptors, ZeroServesAsAListenerAConnectionAndAHiveFile) {
  zentrova::testing::TempDir dir;
  EXPECT_EXIT(std::_Exit(StepsOnZero(dir.Path())), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zentrova::platform
