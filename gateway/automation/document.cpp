#include "gateway/automation/document.h"

#include <new>

#include "identity/cipher.h"
#include "platform/locale.h"

namespace zentrova::gateway {
namespace {

constexpr std::size_t kMessageLimit = 765;
constexpr std::size_t kSinglePart = 160;
constexpr std::size_t kPartOfLong = 153;
constexpr std::size_t kShortestNumber = 8;
constexpr std::size_t kLongestNumber = 16;

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::size_t CountOtherThanLf(std::string_view s) {
  std::size_t n = s.size();  // line feeds are few: each is found by a library search
  for (std::size_t at = s.find('\n'); at != std::string_view::npos; at = s.find('\n', at + 1)) --n;
  return n;
}

template <class Text>
void AppendNumber(Text& out, unsigned long long value, bool negative = false) {
  char digits[24];
  char* p = digits + sizeof digits;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  if (negative) *--p = '-';
  out.append(p, static_cast<std::size_t>(digits + sizeof digits - p));
}

template <class Text>
void AppendSigned(Text& out, long long value) {
  AppendNumber(out, value < 0 ? 0ULL - static_cast<unsigned long long>(value) : value, value < 0);
}

}  // namespace

std::string_view CutMessage(std::string_view message) {
  if (CountOtherThanLf(message) > kMessageLimit) message = message.substr(0, kMessageLimit);
  return message;
}

void AppendSenderSection(PlainText& document, const DocumentSettings& settings,
                         std::uint32_t& sequenceCounter) {
  // The values in the order the system is asked for them: zone key, offset,
  // daylight flag, locale, and last the sequence number.
  const identity::SenderZone zone = identity::QuerySenderZone();
  const unsigned long locale = platform::ThreadLocaleId();
  const std::uint32_t number = identity::TakeSequenceNumber(sequenceCounter);

  document.append("\r\n[SENDER]\r\nTimeZoneKey=").append(zone.key);
  document.append("\r\nMobile=\r\nPREFIX=").append(settings.countryCode);
  document.append("\r\nPW=").append(settings.password);
  document.append("\r\nTZ=");
  AppendSigned(document, zone.minutesEast);
  document.append("\r\nDLS=");
  AppendSigned(document, zone.daylight);
  document.append("\r\nAC=").append(settings.accountId);
  document.append("\r\nSK=\r\nSN=");
  AppendNumber(document, number);
  document.append("\r\nLCID=");
  AppendNumber(document, locale);
  document.append("\r\nPRODUCT=APICOM\r\nMSGTYPE=N\r\n\r\n");
}

int CountSmsParts(std::string_view message) {
  const std::size_t c = CountOtherThanLf(message);
  if (c <= kSinglePart) return 1;
  return static_cast<int>(c / kPartOfLong + (c % kPartOfLong ? 1 : 0));
}

void AppendMessageLines(PlainText& section, std::string_view message) {
  section.append("SmsCount=");
  AppendSigned(section, CountSmsParts(message));
  section.push_back('\n');
  // Leading line feeds are skipped like those between lines: otherwise the
  // first run would be empty and the whole text, line feeds and all, would
  // land in one MSG value and break the section.
  std::size_t i = message.find_first_not_of('\n');
  int line = 1;
  while (i != std::string_view::npos) {
    std::size_t end = message.find('\n', i);
    if (end == std::string_view::npos) end = message.size();
    section.append("MSG");
    AppendSigned(section, line++);
    section.push_back('=');
    section.append(message.substr(i, end - i));
    section.push_back('\n');
    i = message.find_first_not_of('\n', end);
  }
}

bool AppendRecipient(std::string_view entry, RecipientSections& sections) {
  // Digits and "+" only; anything longer than a number can be is refused as
  // soon as it is seen, so no entry is ever copied beyond that length.
  char number[kLongestNumber + 1];
  std::size_t length = 0;
  for (char c : entry) {
    if ((c >= '0' && c <= '9') || c == '+') {
      if (length == kLongestNumber) return false;
      number[length++] = c;
    }
  }
  if (length < kShortestNumber) return false;
  const std::string_view filtered(number, length);

  PlainText& out = sections.document;
  out.append("\r\n[");
  AppendSigned(out, ++sections.count);
  out.append("]\r\nNUMBER=").append(filtered);
  out.append("\r\nName=").append(filtered);
  out.append("\r\nAddress=").append(filtered);
  out.append("\r\n").append(sections.messageLines);
  return true;
}

void SplitRecipientList(std::string_view list, RecipientSections& sections) {
  list = Trim(list);
  for (;;) {
    const std::size_t cut = list.find_first_of(",;");
    const std::string_view piece = Trim(list.substr(0, cut));
    if (!piece.empty()) AppendRecipient(piece, sections);
    if (cut == std::string_view::npos) break;
    list.remove_prefix(cut + 1);
  }
}

std::size_t PaddedLength(std::size_t length) {
  std::size_t n = (length / 8 + 1) * 8;
  if (n % 45 == 0) n += 8;
  return n;
}

ComposeResult ComposeAutomationDocument(const AutomationRequest& request,
                                        std::uint32_t& sequenceCounter, std::string& text) {
  try {
    PlainText lines;
    AppendMessageLines(lines, CutMessage(request.message));
    // Room for every entry as one number of the longest kind, so that a long
    // list is not copied (and wiped) again at each growth of the buffer.
    const DocumentSettings& settings = request.settings;
    constexpr std::size_t kSenderLines = 192, kRecipientLines = 48 + 3 * kLongestNumber;
    PlainText document;
    document.reserve(kSenderLines + settings.countryCode.size() + settings.password.size() +
                     settings.accountId.size() +
                     request.recipients.size() * (kRecipientLines + lines.size()));
    AppendSenderSection(document, settings, sequenceCounter);
    document.append("Reply=0\r\n\r\n");

    RecipientSections sections{document, lines};
    for (const RecipientEntry& entry : request.recipients) {
      if (entry.isList && entry.text.find_first_of(",;") != std::string::npos)
        SplitRecipientList(entry.text, sections);
      else
        AppendRecipient(entry.text, sections);
    }
    if (sections.count == 0) return ComposeResult::kNoRecipients;

    const std::size_t padded = PaddedLength(document.size());
    document.resize(padded, '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(document.data());
    identity::EncipherDocument(bytes, padded);

    constexpr std::string_view kId = "\r\n\r\n[FROM]\r\nID=", kEmail = "\r\nEmail=";
    std::string out;
    out.reserve(identity::EncodedLength(padded) + 1 + kId.size() + settings.accountId.size() +
                kEmail.size() + settings.email.size() + 4);
    out.resize(identity::EncodedLength(padded) + 1);
    const int written = identity::EncodeLines(bytes, padded, out.data());
    platform::WipeBytes(bytes, padded);
    out.resize(static_cast<std::size_t>(written));
    out.append(kId).append(settings.accountId);
    out.append(kEmail).append(settings.email).append("\r\n\r\n");
    text = std::move(out);
    return ComposeResult::kComposed;
  } catch (const std::bad_alloc&) {
    return ComposeResult::kNoMemory;
  } catch (const std::length_error&) {
    return ComposeResult::kNoMemory;
  }
}

}  // namespace zentrova::gateway
