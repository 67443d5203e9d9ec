// The automation server's request document ("APICOM"): a "[SENDER]" section,
// "Reply=0", and one numbered section per accepted recipient with the message
// lines, enciphered and line-encoded as a whole, then a plain "[FROM]" trailer
// naming the account.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "identity/sender.h"
#include "platform/wipe.h"

namespace zentrova::gateway {

// Releases its memory only after overwriting it, for the buffers that hold
// the plain document (the password among it) while it is built.
template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) {}
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) {
    platform::WipeBytes(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  bool operator==(const WipingAllocator&) const { return true; }
};
using PlainText = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// One recipient as the caller has it: a plain text given as the recipients
// argument is a list, cut at "," and ";"; every other text (an array element,
// a text by reference, a number already written in decimal) is one entry.
struct RecipientEntry {
  std::string text;
  bool isList = false;
};

// The settings the document carries, as the automation server holds them.
struct DocumentSettings {
  std::string accountId;    // AC, and ID in the trailer
  std::string email;        // Email in the trailer
  std::string password;     // PW
  std::string countryCode;  // PREFIX: decimal text, empty until set
};

struct AutomationRequest {
  DocumentSettings settings;
  std::vector<RecipientEntry> recipients;
  std::string message;
};

enum class ComposeResult {
  kComposed = 0,
  kNoRecipients,  // no entry passed the number filter
  kNoMemory,
};

// Builds the finished text (cipher lines, "=", trailer) into text. The
// sequence number (the owner's counter, see identity::TakeSequenceNumber)
// moves on once the sender section is written, whether or not a recipient is
// then accepted.
ComposeResult ComposeAutomationDocument(const AutomationRequest& request,
                                        std::uint32_t& sequenceCounter, std::string& text);
inline ComposeResult ComposeAutomationDocument(const AutomationRequest& request,
                                               identity::SequenceNumber& sequence,
                                               std::string& text) {
  return ComposeAutomationDocument(request, sequence.Counter(), text);
}

// The pieces, for the composition above and for tests.

// The message as sent: cut after its first 765 bytes when it holds more than
// 765 characters other than LF.
std::string_view CutMessage(std::string_view message);

void AppendSenderSection(PlainText& document, const DocumentSettings& settings,
                         std::uint32_t& sequenceCounter);

// The recipient sections so far and the message lines each of them carries
// (AppendMessageLines of the cut message, the same in every section).
struct RecipientSections {
  PlainText& document;
  std::string_view messageLines;
  int count = 0;
};

void SplitRecipientList(std::string_view list, RecipientSections& sections);
// False (and no effect) when the entry's number does not pass the filter.
bool AppendRecipient(std::string_view entry, RecipientSections& sections);

int CountSmsParts(std::string_view message);
void AppendMessageLines(PlainText& section, std::string_view message);

// Padded length of a plain document of length bytes: the smallest multiple of
// 8 above it, moved on by 8 when it is a multiple of 45 (so the last cipher
// line is never a full one).
std::size_t PaddedLength(std::size_t length);

}  // namespace zentrova::gateway
