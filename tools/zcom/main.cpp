// zcom SUBCOMMAND ...: one entry per subcommand; each lives in its own file.
#include <cstdio>
#include <cstring>

#include "tools/zcom/zcom.h"

namespace {

struct Subcommand {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
};

const Subcommand kSubcommands[] = {
    {"reg", "read and change the registry stand-in (add, query, delete)", zentrova::zcom::RegCommand},
    {"regsvr", "register or unregister an in-process server (like regsvr32)", zentrova::zcom::RegsvrCommand},
    {"call", "create an object and make late-bound calls through IDispatch", zentrova::zcom::CallCommand},
};

void Usage(std::FILE* out) {
  std::fprintf(out, "Usage: zcom SUBCOMMAND [ARGUMENTS]   (zcom SUBCOMMAND --help for its own)\n\n");
  for (const auto& s : kSubcommands) std::fprintf(out, "  %-8s %s\n", s.name, s.summary);
  std::fprintf(out, "  %-8s %s\n", "--version", "the kit's version");
  std::fprintf(out, "\nExit status: 0 done, 64 wrong command line; the others are in each subcommand's --help.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return zentrova::zcom::kExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "/?")) {
    Usage(stdout);
    return zentrova::zcom::kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("zcom " ZV_PROJECT_VERSION "\n");
    return zentrova::zcom::kExitOk;
  }
  for (const auto& s : kSubcommands)
    if (!std::strcmp(argv[1], s.name)) return s.run(argc - 2, argv + 2);
  std::fprintf(stderr, "zcom: unknown subcommand \"%s\"\n\n", argv[1]);
  Usage(stderr);
  return zentrova::zcom::kExitUsage;
}
