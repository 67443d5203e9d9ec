// The registry contract, held by the hive files on Linux and by the real
// registry on Windows, in keys of the test's own under Software\ZentrovaTest.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/contract.h"

using namespace zentrova::platform;
using zentrova::testing::RegistryText;

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { zentrova::testing::os::BeginRegistry(dir_.Path()); }
  void TearDown() override { zentrova::testing::os::EndRegistry(); }
  static std::string Read(const char* key, const char* value) {
    return RegistryText(RegistryRoot::kCurrentUser, key, value);
  }
  zentrova::testing::ScratchDir dir_;
};

TEST_F(Registry, ValuesRoundTripInAnyCaseAndKeysKeepTheirStoredCase) {
  RegistryWriter w(RegistryRoot::kCurrentUser);
  w.SetString("Software\\ZentrovaTest\\SMS\\3.0\\Settings", "HTTP1", "127.0.0.1:8080");
  w.SetString("Software\\ZentrovaTest\\SMS\\3.0\\Settings", "", "default");
  w.CreateKey("Software\\ZentrovaTest\\SMS\\3.0\\Settings\\Sub");
  const RegistryStatus written = w.Commit();
  ASSERT_EQ(written.code, kErrorSuccess) << written.message;

  const char* key = "software\\ZENTROVATEST\\sms\\3.0\\settings";
  EXPECT_EQ(Read(key, "http1"), "127.0.0.1:8080");
  EXPECT_EQ(Read(key, ""), "default");
  RegistryKey k;
  ASSERT_EQ(k.Open(RegistryRoot::kCurrentUser, key).code, kErrorSuccess);
  EXPECT_EQ(k.Path(), "Software\\ZentrovaTest\\SMS\\3.0\\Settings");
  char small[14] = "untouched";  // one short of the text and its terminator: nothing written
  unsigned long size = sizeof small;
  EXPECT_EQ(k.QueryValue("HTTP1", small, &size), kErrorMoreData);
  EXPECT_EQ(size, 15u);
  EXPECT_STREQ(small, "untouched");
  EXPECT_EQ(k.QueryValue("missing", small, &size), kErrorFileNotFound);
  std::vector<std::string> subkeys;
  ASSERT_EQ(k.Subkeys(subkeys), kErrorSuccess);
  EXPECT_EQ(subkeys, std::vector<std::string>{"Sub"});
}

// A batch is applied whole or not at all: a step that fails leaves the
// registry as it was (Windows has no transaction for it: the steps before are
// undone), so a registration is there whole or not at all.
TEST_F(Registry, AFailingBatchLeavesTheRegistryAsItWas) {
  RegistryWriter before(RegistryRoot::kCurrentUser);
  before.SetString("Software\\ZentrovaTest\\Keep", "Value", "old");
  before.SetString("Software\\ZentrovaTest\\Keep", "Twice", "1");
  before.SetString("Software\\ZentrovaTest\\Mid\\Tree\\Leaf", "Inner", "kept");
  ASSERT_EQ(before.Commit().code, kErrorSuccess);

  RegistryWriter batch(RegistryRoot::kCurrentUser);
  batch.SetString("Software\\ZentrovaTest\\Keep", "Value", "new");
  batch.SetString("Software\\ZentrovaTest\\New\\Deep", "Value", "x");
  batch.DeleteTree("Software\\ZentrovaTest\\Mid\\Tree");
  batch.DeleteValue("Software\\ZentrovaTest\\Keep", "NoSuchValue");
  EXPECT_EQ(batch.Commit().code, kErrorFileNotFound);

  EXPECT_EQ(Read("Software\\ZentrovaTest\\Keep", "Value"), "old");
  EXPECT_EQ(Read("Software\\ZentrovaTest\\Mid\\Tree\\Leaf", "Inner"), "kept");
  EXPECT_EQ(RegistryKey().Open(RegistryRoot::kCurrentUser, "Software\\ZentrovaTest\\New").code,
            kErrorFileNotFound);

  RegistryWriter removal(RegistryRoot::kCurrentUser);
  removal.DeleteTree("software\\zentrovatest\\mid\\tree");
  removal.SetString("Software\\ZentrovaTest\\Mid\\Tree\\Leaf", "Again", "new");  // made anew
  removal.DeleteValue("Software\\ZentrovaTest\\Keep", "Value");
  removal.DeleteValue("Software\\ZentrovaTest\\Keep", "Twice");
  removal.SetString("Software\\ZentrovaTest\\Keep", "Twice", "2");  // set again after its delete
  ASSERT_EQ(removal.Commit().code, kErrorSuccess);
  EXPECT_EQ(Read("Software\\ZentrovaTest\\Keep", "Twice"), "2");
  EXPECT_EQ(Read("Software\\ZentrovaTest\\Mid\\Tree\\Leaf", "Inner"), "<none>");  // the tree went
  EXPECT_EQ(Read("Software\\ZentrovaTest\\Mid\\Tree\\Leaf", "Again"), "new");
  EXPECT_EQ(Read("Software\\ZentrovaTest\\Keep", "Value"), "<none>");
  EXPECT_TRUE(RegistryKey().Open(RegistryRoot::kCurrentUser, "Software\\ZentrovaTest\\Mid").ok());
  removal.CreateKey("Software\\ZentrovaTest\\Mid");  // what was committed is not applied again
  EXPECT_EQ(removal.Commit().code, kErrorSuccess);
  removal.DeleteTree("Software\\ZentrovaTest\\Nowhere");
  EXPECT_EQ(removal.Commit().code, kErrorFileNotFound);
}

}  // namespace
