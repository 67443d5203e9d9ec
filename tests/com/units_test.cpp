// The server's format tests and its registrar.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/registrar.h"
#include "com/validation.h"
#include "platform/registry.h"
#include "tests/com/support.h"

namespace {

using zentrova::com::IsValidAccountId;
using zentrova::com::IsValidEmailAddress;
using zentrova::com::RunRegistrationScript;
using zentrova::testing::ScratchRegistry;

TEST(Validation, EmailAddress) {
  for (const char* good : {"a@b.com", "fi_r-st.l\\ast@example.org", "ab.c@defg", "x@y.z.example"})
    EXPECT_TRUE(IsValidEmailAddress(good)) << good;
  for (const char* bad :
       {"a@b.co",      // 6 characters
        "@ab.com",     // begins with the @
        "a@b@c.com",   // two @
        "abc.com@",    // ends with the @
        "ab@cdefg",    // no '.'
        ".a@b.com",    // begins with the '.'
        "a@bcd.com.",  // ends with the '.'
        "a b@c.com", "a/b@c.com", "a\"b@c.com", "a'b@c.com", "a{b@c.com", "a}b@c.com", "a[b@c.com",
        "a]b@c.com", "a;b@c.com", "a(b@c.com", "a)b@c.com", ""})
    EXPECT_FALSE(IsValidEmailAddress(bad)) << bad;
}

TEST(Validation, AccountId) {
  for (const char* good : {"12345", "123456", "CI123456", "CI1234567890"})
    EXPECT_TRUE(IsValidAccountId(good)) << good;
  for (const char* bad : {"1234", "1234567", "12a45", "CI12345", "CI12345678901", "CI12345X",
                          "ci123456", "CI", "CIABCDEF", "", "12/45", "12:45"})
    EXPECT_FALSE(IsValidAccountId(bad)) << bad;
}

class Registrar : public ::testing::Test {
 protected:
  static std::string Default(const std::string& path) {
    zentrova::platform::RegistryKey key;
    if (key.Open(zentrova::platform::RegistryRoot::kClassesRoot, path).code != 0)
      return "(missing)";
    std::vector<zentrova::platform::RegistryValue> values;
    key.Values(values);
    for (const auto& v : values)
      if (v.name.empty()) return v.data;
    return "(no default)";
  }

  ScratchRegistry registry_;
};

// The server's own script is run end to end by registration; this one holds
// what that script does not: quotes in values and the module's path, quoted
// keywords as key names, and a NoRemove key that somebody else's keys share.
const char kScript[] = R"(HKCR
{
	NoRemove CLSID
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
		{
			InprocServer32 = s '%MODULE%'
			'NoRemove' { 'ForceRemove' { 'Delete' { 'val' = s 'it''s 100%% quoted' } } }
		}
	}
	NOREMOVE Shared
	{
		val '' = s 'goes'
		Kept = s 'kept unless empty'
		Delete Stale
	}
})";

TEST_F(Registrar, InstallsAndRemovesWhatTheScriptSays) {
  const std::string thing = "CLSID\\{11111111-2222-3333-4444-555555555555}";
  zentrova::platform::RegistryWriter writer(zentrova::platform::RegistryRoot::kClassesRoot);
  writer.SetString("Shared\\Stale\\Sub", "", "old");
  ASSERT_EQ(writer.Commit().code, 0);
  ASSERT_EQ(RunRegistrationScript(kScript, true, {{"MODULE", "/opt/it's/lib.so"}}), S_OK);
  EXPECT_EQ(Default(thing + "\\InprocServer32"), "/opt/it's/lib.so");
  EXPECT_EQ(Default(thing + "\\NoRemove\\ForceRemove\\Delete\\val"), "it's 100% quoted");
  EXPECT_EQ(Default("Shared\\Stale"), "(missing)");  // Delete removes a key and makes none

  writer.SetString("Shared\\Kept\\Other", "", "foreign");
  writer.SetString(thing + "\\Added", "", "foreign");       // a ForceRemove key goes whole
  writer.SetString("Shared\\Stale\\Again", "", "foreign");  // a Delete key made again
  ASSERT_EQ(writer.Commit().code, 0);
  // While the other bitness has the class, only the keys of this view go.
  ASSERT_EQ(RunRegistrationScript(kScript, false, {{"MODULE", "/x"}}, nullptr,
                                  zentrova::com::Removal::kOwnViewOnly),
            S_OK);
  EXPECT_EQ(Default(thing) + " " + Default("Shared\\Kept"), "(missing) kept unless empty");
  ASSERT_EQ(RunRegistrationScript(kScript, false, {{"MODULE", "/x"}}), S_OK);
  // A plain key stays while others use it; a Delete key goes whole, made again or not.
  EXPECT_EQ(Default("Shared\\Kept\\Other") + " " + Default("Shared\\Stale"), "foreign (missing)");
  EXPECT_EQ(Default("Shared"), "(no default)");  // a kept key's values go
  EXPECT_EQ(RunRegistrationScript(kScript, false, {{"MODULE", "/x"}}), S_OK);  // and stay gone
  std::string error;
  for (const auto& [script, says] : std::initializer_list<std::pair<const char*, const char*>>{
           {"HKCR\n{\n\tK = x 'v'\n}", "line 3: unsupported value type 'x'"},
           {"HKCR\n{\n\tK = 's' 'v'\n}", "line 3: unsupported value type 's'"},
           {"HKCR\n{\n\t'K\n}", "line 4: unclosed quoted text"},
           {"HKCR\n{\n\tK%\n}", "line 3: unmatched '%' in 'K%'"},
           {"HKCR\n{\n\t%K%\n}", "line 3: unknown replacement %K%"},
           {"HKCR\n{\n\tK\n\t{\n\t\tval", "line 5: incomplete value"},
           {"HKCR\n{\n\tval V = s 'v'\n}", "line 3: a value outside any key"},
           {"HKCR\n{\n\tK = s 'v' NoRemove", "line 3: key name missing"},
           {"HKCR\n{\n\t= s 'v'\n}", "line 3: key name missing"},
           {"HKCR\n{\n\tK", "line 3: missing '}'"}}) {
    EXPECT_EQ(RunRegistrationScript(script, true, {}, &error), E_UNEXPECTED);
    EXPECT_EQ(error, std::string("registration script, ") + says);
  }
}

}  // namespace
