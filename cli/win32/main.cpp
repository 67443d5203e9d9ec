// Windows hands a program its arguments as UTF-16. They go on as UTF-8, which
// loses nothing, so that the one conversion to the ANSI code page is the
// step that finds the characters the code page cannot hold and warns.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/pagora.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    int wide = static_cast<int>(wcslen(argv[i]));
    int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], wide, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, argv[i], wide, text.data(), n, nullptr, nullptr);
    args.push_back(std::move(text));
  }
  std::vector<char*> pointers;
  for (auto& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  return zentrova::cli::RunPagora(argc, pointers.data());
}
