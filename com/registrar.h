// A registrar for registration scripts in the template library's text format:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {GUID} = s 'Description'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Register mode creates every key and value; a ForceRemove key is first deleted
// with everything under it. Unregister mode deletes ForceRemove keys with
// everything under them, and other keys once none of their subkeys is left;
// NoRemove keys are never deleted. Only string values ("s") are supported.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/com.h"

namespace zentrova::com {

// What an unregistration removes. 64-bit Windows keeps HKCR\CLSID and
// HKCR\Interface apart for 32-bit and 64-bit programs (two views), while the
// ProgIDs and the rest of the classes root are one for both: while the other
// bitness still has the class registered, only this view's keys may go.
enum class Removal { kAll, kOwnViewOnly };

// %NAME% in names and values is replaced from replacements ("%%" is a "%").
// All changes of one run are applied together or not at all. On failure the
// reason is in *error.
HRESULT RunRegistrationScript(std::string_view script, bool install,
                              const std::map<std::string, std::string>& replacements,
                              std::string* error = nullptr, Removal removal = Removal::kAll);

}  // namespace zentrova::com
