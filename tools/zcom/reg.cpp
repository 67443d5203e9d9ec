// zcom reg add|query|delete: the registry stand-in with the syntax
// administrators know from Windows.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "tools/zcom/zcom.h"

namespace zentrova::zcom {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryValue;
using platform::RegistryWriter;

const char kUsage[] =
    "Usage:\n"
    "  zcom reg add    KEY [/v NAME | /ve] [/t REG_SZ] [/d DATA] [/f]\n"
    "  zcom reg query  KEY [/v NAME | /ve] [/s]\n"
    "  zcom reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "\n"
    "KEY is ROOT\\Path\\To\\Key with ROOT one of HKCU, HKEY_CURRENT_USER, HKCR,\n"
    "HKEY_CLASSES_ROOT, HKLM or HKEY_LOCAL_MACHINE. Names are case-insensitive;\n"
    "switches may start with / or -.\n"
    "  /v NAME   the value NAME        /ve  the key's default (unnamed) value\n"
    "  /d DATA   the string to store   /va  every value of the key\n"
    "  /s        the key's subkeys too /f   no question before overwriting or deleting\n"
    "\n"
    "The hives are REGEDIT4 text files in $ZENTROVA_REGISTRY (by default\n"
    "$XDG_CONFIG_HOME/zentrova/registry, that is ~/.config/zentrova/registry).\n"
    "The directory and the hives must be yours (or root's) and not writable by group or\n"
    "others; key names hold at most 255 characters, keys nest at most 512 levels deep.\n"
    "Exit status: 0 done, 1 no such key or value (or not confirmed), 64 wrong command line,\n"
    "74 the hive could not be read or written (the message says why).\n"
    "\n"
    "Example: zcom reg add \"HKCU\\Software\\Zentrova\\SMS\\3.0\\Settings\" /v HTTP1 /d "
    "127.0.0.1:8080 /f\n";

struct Options {
  RegistryRoot root = RegistryRoot::kCurrentUser;
  std::string path;                  // below the root
  std::optional<std::string> value;  // /v NAME or /ve (empty name)
  std::optional<std::string> data;
  bool allValues = false, recursive = false, force = false;
};

int Usage(const char* problem) {
  std::fprintf(stderr, "zcom reg: %s\n\n%s", problem, kUsage);
  return kExitUsage;
}

// Parses KEY and the switches that `allowed` lists (letters as in "v ve d t f s va").
bool Parse(int argc, char** argv, std::string_view allowed, Options& o, std::string& problem) {
  if (argc < 1) {
    problem = "name a key";
    return false;
  }
  std::string_view key = argv[0];
  std::size_t slash = key.find('\\');
  if (!platform::ParseRegistryRoot(key.substr(0, slash), o.root)) {
    problem = "\"" + std::string(key) +
              "\" does not start with HKCU\\, HKCR\\ or HKLM\\ (or their long names)";
    return false;
  }
  o.path = slash == std::string_view::npos ? std::string() : std::string(key.substr(slash + 1));
  while (!o.path.empty() && o.path.back() == '\\') o.path.pop_back();
  if (o.path.empty()) {
    problem = "name a key below the root, for example HKCU\\Software\\Zentrova";
    return false;
  }
  auto allows = [&](std::string_view sw) {
    std::size_t at = 0;
    while ((at = allowed.find(sw, at)) != std::string_view::npos) {
      bool startOk = at == 0 || allowed[at - 1] == ' ';
      bool endOk = at + sw.size() == allowed.size() || allowed[at + sw.size()] == ' ';
      if (startOk && endOk) return true;
      at += sw.size();
    }
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto needsArgument = [&](const char* sw) {
      if (i + 1 >= argc) {
        problem = std::string("/") + sw + " needs an argument";
        return false;
      }
      return true;
    };
    if (IsSwitch(a, "v") && allows("v")) {
      if (!needsArgument("v")) return false;
      if (o.value) {
        problem = "give one of /v and /ve, once";
        return false;
      }
      o.value = argv[++i];
    } else if (IsSwitch(a, "ve") && allows("ve")) {
      if (o.value) {
        problem = "give one of /v and /ve, once";
        return false;
      }
      o.value = std::string();
    } else if (IsSwitch(a, "d") && allows("d")) {
      if (!needsArgument("d")) return false;
      o.data = argv[++i];
    } else if (IsSwitch(a, "t") && allows("t")) {
      if (!needsArgument("t")) return false;
      if (!platform::SameName(argv[++i], "REG_SZ")) {
        problem = std::string("only REG_SZ values can be written, not ") + argv[i];
        return false;
      }
    } else if (IsSwitch(a, "va") && allows("va")) {
      o.allValues = true;
    } else if (IsSwitch(a, "s") && allows("s")) {
      o.recursive = true;
    } else if (IsSwitch(a, "f") && allows("f")) {
      o.force = true;
    } else {
      problem = std::string("unexpected argument \"") + a + "\"";
      return false;
    }
  }
  if (o.allValues && o.value) {
    problem = "give one of /v, /ve and /va";
    return false;
  }
  return true;
}

std::string FullName(const Options& o, const std::string& path) {
  return std::string(platform::RegistryRootName(o.root)) + "\\" + path;
}

std::string DisplayName(const std::string& name) { return name.empty() ? "(Default)" : name; }

// Asks on a terminal; elsewhere the answer is no, and the user hears about /f.
bool Confirm(const std::string& question) {
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "zcom reg: %s Not confirmed: add /f to do it without asking.\n",
                 question.c_str());
    return false;
  }
  std::fprintf(stderr, "%s (Yes/No) ", question.c_str());
  char answer[16] = {};
  if (!std::fgets(answer, sizeof answer, stdin)) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}

int NotFound() {
  std::fprintf(stderr,
               "ERROR: The system was unable to find the specified registry key or value.\n");
  return kExitNotFound;
}

constexpr const char* kCannotRead = "the registry cannot be read";

// A hive that may not or cannot be used stops every command with what failed and why.
int Refused(const platform::RegistryStatus& status, const char* what) {
  std::string why = status.message;
  if (why.empty()) why = "error " + std::to_string(status.code);
  std::fprintf(stderr, "ERROR: %s: %s\n", what, why.c_str());
  return status.code == platform::kErrorInvalidParameter ? kExitUsage : kExitCannotWrite;
}

// Opens the key; false with *exit set when it is missing or the hive is refused.
bool OpenKey(RegistryKey& key, const Options& o, const std::string& path, int* exit) {
  platform::RegistryStatus rc = key.Open(o.root, path);
  if (rc.ok()) return true;
  *exit = rc.code == platform::kErrorFileNotFound ? NotFound() : Refused(rc, kCannotRead);
  return false;
}

int Commit(RegistryWriter& writer) {
  platform::RegistryStatus rc = writer.Commit();
  if (rc.ok()) {
    std::printf("The operation completed successfully.\n");
    return kExitOk;
  }
  return rc.code == platform::kErrorFileNotFound ? NotFound()
                                                 : Refused(rc, "the registry refused the write");
}

// 1 when the value exists, 0 when not, -1 when the hive is refused (*exit set).
int ValueExists(const Options& o, const std::string& name, int* exit) {
  RegistryKey key;
  platform::RegistryStatus rc = key.Open(o.root, o.path);
  if (rc.code == platform::kErrorFileNotFound) return 0;
  if (!rc.ok()) {
    *exit = Refused(rc, kCannotRead);
    return -1;
  }
  unsigned long size = 0;
  return key.QueryValue(name, nullptr, &size) == platform::kErrorSuccess;
}

int Add(int argc, char** argv) {
  Options o;
  std::string problem;
  if (!Parse(argc, argv, "v ve t d f", o, problem)) return Usage(problem.c_str());
  if (o.data && !o.value) o.value = std::string();  // reg sets the default value then
  RegistryWriter writer(o.root);
  if (!o.value) {
    writer.CreateKey(o.path);
  } else {
    int exit = kExitOk;
    int exists = o.force ? 0 : ValueExists(o, *o.value, &exit);
    if (exists < 0) return exit;
    if (exists && !Confirm("Value " + DisplayName(*o.value) + " exists, overwrite?"))
      return kExitNotFound;
    writer.SetString(o.path, *o.value, o.data.value_or(std::string()));
  }
  return Commit(writer);
}

void PrintValue(const RegistryValue& v) {
  std::printf("    %s    REG_SZ    %s\n", DisplayName(v.name).c_str(), v.data.c_str());
}

// Prints the key and its values; with recursive, its subkeys after it.
// Returns how many values matched `only` (all values when only is empty), or -1
// with *exit set when the hive was refused.
int PrintKey(const Options& o, const std::string& typed, bool recursive,
             const std::optional<std::string>& only, int* exit) {
  RegistryKey key;
  if (platform::RegistryStatus rc = key.Open(o.root, typed); !rc.ok()) {
    if (rc.code == platform::kErrorFileNotFound) return 0;  // gone meanwhile
    *exit = Refused(rc, kCannotRead);
    return -1;
  }
  const std::string path = key.Path();  // as stored, not as typed
  std::vector<RegistryValue> values;
  key.Values(values);
  int matched = 0;
  std::vector<const RegistryValue*> shown;
  for (const auto& v : values)
    if (!only || platform::SameName(v.name, *only)) shown.push_back(&v);
  if (!only || !shown.empty()) {
    std::printf("\n%s\n", FullName(o, path).c_str());
    for (const auto* v : shown) PrintValue(*v);
    matched += static_cast<int>(shown.size());
  }
  std::vector<std::string> subkeys;
  key.Subkeys(subkeys);
  if (recursive) {
    for (const auto& s : subkeys) {
      int more = PrintKey(o, path + "\\" + s, true, only, exit);
      if (more < 0) return -1;
      matched += more;
    }
  } else if (!only) {
    for (const auto& s : subkeys) std::printf("\n%s\n", FullName(o, path + "\\" + s).c_str());
  }
  return matched;
}

int Query(int argc, char** argv) {
  Options o;
  std::string problem;
  if (!Parse(argc, argv, "v ve s", o, problem)) return Usage(problem.c_str());
  RegistryKey key;
  int exit = kExitOk;
  if (!OpenKey(key, o, o.path, &exit)) return exit;
  int matched = PrintKey(o, o.path, o.recursive, o.value, &exit);
  if (matched < 0) return exit;
  if (o.value && matched == 0) return NotFound();
  std::printf("\n");
  return kExitOk;
}

int Delete(int argc, char** argv) {
  Options o;
  std::string problem;
  if (!Parse(argc, argv, "v ve va f", o, problem)) return Usage(problem.c_str());
  RegistryWriter writer(o.root);
  std::string question;
  if (o.allValues) {
    RegistryKey key;
    int exit = kExitOk;
    if (!OpenKey(key, o, o.path, &exit)) return exit;
    std::vector<RegistryValue> values;
    key.Values(values);
    for (const auto& v : values) writer.DeleteValue(o.path, v.name);
    question = "Delete all values under the registry key " + FullName(o, o.path) + "?";
  } else if (o.value) {
    writer.DeleteValue(o.path, *o.value);
    question = "Delete the registry value " + DisplayName(*o.value) + "?";
  } else {
    writer.DeleteTree(o.path);
    question = "Permanently delete the registry key " + FullName(o, o.path) + "?";
  }
  if (!o.force && !Confirm(question)) return kExitNotFound;
  return Commit(writer);
}

}  // namespace

int RegCommand(int argc, char** argv) {
  if (argc < 1) return Usage("name an operation: add, query or delete");
  std::string_view op = argv[0];
  if (op == "--help" || op == "-h" || op == "/?") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "/?")) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
  }
  if (platform::SameName(argv[0], "add")) return Add(argc - 1, argv + 1);
  if (platform::SameName(argv[0], "query")) return Query(argc - 1, argv + 1);
  if (platform::SameName(argv[0], "delete")) return Delete(argc - 1, argv + 1);
  return Usage(("unknown operation \"" + std::string(op) + "\"; use add, query or delete").c_str());
}

}  // namespace zentrova::zcom
