// Turning PagoraMessage's recipients argument into recipient entries.
#pragma once

#include <vector>

#include "gateway/automation/document.h"
#include "platform/com.h"

namespace zentrova::com {

// Appends the entries of recipients (may be null) to entries, in order:
//   a text                        a list when it holds "," or ";", else one entry
//   a text by reference           one entry, never cut
//   a number (VT_I4, VT_I2, a VT_R8 holding a whole number; also by reference)
//                                 its decimal form, one entry
//   a one-dimensional array of texts, numbers or VARIANTs (also by reference)
//                                 each element as one entry, never cut; a VARIANT
//                                 element that is neither a text nor a number
//                                 is skipped
//   a VARIANT by reference        followed once, then as above
// Anything else (empty, null, objects, arrays of more dimensions) gives no
// entries. A null text is the empty text. Returns false only when a text
// cannot be converted (no memory); entries may then be incomplete.
bool CollectRecipients(const VARIANT* recipients, std::vector<gateway::RecipientEntry>& entries);

}  // namespace zentrova::com
