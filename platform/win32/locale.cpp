// Windows knows its locale identifiers itself.
#include "platform/locale.h"

#include <windows.h>

#include <string>

namespace zentrova::platform {

unsigned long ThreadLocaleId() { return GetThreadLocale(); }

unsigned long LocaleIdForName(std::string_view name) {
  constexpr unsigned long kEnglishUnitedStates = 1033;
  // "de_DE.UTF-8" and "sr_RS@latin" in the form Windows names them: "de-DE".
  std::size_t end = name.find_first_of(".@");
  std::wstring wide;
  for (char c : name.substr(0, end)) wide += static_cast<wchar_t>(c == '_' ? '-' : c);
  if (wide.empty() || wide == L"C" || wide == L"POSIX") return kEnglishUnitedStates;
  LCID id = LocaleNameToLCID(wide.c_str(), 0);
  if (id == 0) {  // a language in a country Windows does not pair it with
    std::size_t dash = wide.find(L'-');
    if (dash != std::wstring::npos) id = LocaleNameToLCID(wide.substr(0, dash).c_str(), 0);
  }
  // A neutral language ("de") stands for its main locale, as the table elsewhere does.
  if (id != 0 && SUBLANGID(LANGIDFROMLCID(id)) == SUBLANG_NEUTRAL)
    id = MAKELCID(MAKELANGID(PRIMARYLANGID(LANGIDFROMLCID(id)), SUBLANG_DEFAULT), SORT_DEFAULT);
  return (id == 0 || id == LOCALE_CUSTOM_UNSPECIFIED) ? kEnglishUnitedStates : id;
}

}  // namespace zentrova::platform
