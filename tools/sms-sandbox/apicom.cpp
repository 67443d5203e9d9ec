#include "apicom.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <iterator>
#include <vector>

#include "identity/cipher.h"
#include "sandbox.h"

namespace zentrova::sandbox {
namespace {

constexpr const char* kTrailerStart = "\r\n\r\n[FROM]\r\nID=";
// The key order of the sender section, PREFIX included.
const std::vector<std::string>& SenderOrder() {
  static const std::vector<std::string> order = {"TimeZoneKey", "Mobile", "PREFIX",  "PW",
                                                 "TZ",          "DLS",    "AC",      "SK",
                                                 "SN",          "LCID",   "PRODUCT", "MSGTYPE"};
  return order;
}

// Padded length the kit uses: the next multiple of 8 above the text, 8 more
// when that is a multiple of 45.
std::size_t PaddedLength(std::size_t length) {
  std::size_t n = (length / 8 + 1) * 8;
  if (n % 45 == 0) n += 8;
  return n;
}

// Reads "\r\n\r\n[FROM]\r\nID=...\r\nEmail=...\r\n\r\n" at the start of rest.
bool ParseTrailer(std::string_view rest, std::string& id, std::string& email, std::string& error) {
  const std::string_view start = kTrailerStart;
  if (rest.substr(0, start.size()) != start) {
    error = "the cipher text is not followed by \"\\r\\n\\r\\n[FROM]\\r\\nID=\"";
    return false;
  }
  rest.remove_prefix(start.size());
  const std::size_t idEnd = rest.find("\r\n");
  if (idEnd == std::string_view::npos || rest.substr(idEnd, 8) != "\r\nEmail=") {
    error = "the [FROM] trailer has no \"Email=\" line after its ID line";
    return false;
  }
  id = rest.substr(0, idEnd);
  rest.remove_prefix(idEnd + 8);
  const std::size_t emailEnd = rest.find("\r\n");
  if (emailEnd == std::string_view::npos || rest.substr(emailEnd) != "\r\n\r\n") {
    error = "the [FROM] trailer does not end with \"\\r\\n\\r\\n\" after its Email line";
    return false;
  }
  email = rest.substr(0, emailEnd);
  return true;
}

bool Decipher(const std::string& body, std::string& plain, std::size_t& cipherBytes,
              std::size_t& end, std::string& error, std::string* irregular = nullptr) {
  std::vector<unsigned char> bytes;
  if (!identity::DecodeLines(body, bytes, &end, error, irregular)) {
    error = "not a valid cipher text: " + error;
    return false;
  }
  cipherBytes = bytes.size();
  if (bytes.size() % 8 != 0) {
    error = "the cipher text holds " + std::to_string(bytes.size()) +
            " bytes, not a whole number of 8-byte blocks";
    return false;
  }
  identity::DecipherDocument(bytes.data(), bytes.size());
  const auto nul = std::find(bytes.begin(), bytes.end(), 0);
  plain.assign(bytes.begin(), nul);
  if (std::any_of(nul, bytes.end(), [](unsigned char b) { return b != 0; })) {
    error = "the deciphered text has non-zero bytes after its end (wrong key or damaged)";
    return false;
  }
  if (bytes.size() != PaddedLength(plain.size())) {
    error = "a plain document of " + std::to_string(plain.size()) + " bytes is padded to " +
            std::to_string(PaddedLength(plain.size())) + " bytes, not " +
            std::to_string(bytes.size());
    return false;
  }
  return true;
}

// Takes one line ending in CR LF from text at pos; false at the end.
bool CrLfLine(const std::string& text, std::size_t& pos, std::string& line) {
  const std::size_t end = text.find("\r\n", pos);
  if (end == std::string::npos) return false;
  line = text.substr(pos, end - pos);
  pos = end + 2;
  return true;
}

bool ParsePlain(const std::string& plain, nlohmann::json& fields, std::string& error) {
  std::size_t pos = 0;
  std::string line;
  if (plain.compare(0, 12, "\r\n[SENDER]\r\n") != 0) {
    error = "the document does not begin with \"\\r\\n[SENDER]\\r\\n\"";
    return false;
  }
  pos = 12;
  nlohmann::json sender = nlohmann::json::object();
  for (const std::string& key : SenderOrder()) {
    if (!CrLfLine(plain, pos, line) || line.compare(0, key.size() + 1, key + "=") != 0) {
      error = "the sender section lacks its \"" + key + "=\" line, in its place: \"" +
              Latin1ToUtf8(line) + "\"";
      return false;
    }
    sender[key] = Latin1ToUtf8(line.substr(key.size() + 1));
  }
  fields["SENDER"] = std::move(sender);
  std::string blank, reply, blank2;
  if (!CrLfLine(plain, pos, blank) || !blank.empty() || !CrLfLine(plain, pos, reply) ||
      reply.compare(0, 6, "Reply=") != 0 || !CrLfLine(plain, pos, blank2) || !blank2.empty()) {
    error = "the sender section is not followed by an empty line, \"Reply=...\" and an empty line";
    return false;
  }
  fields["Reply"] = Latin1ToUtf8(reply.substr(6));

  nlohmann::json recipients = nlohmann::json::array();
  for (int n = 1; pos < plain.size(); ++n) {
    const std::string head = "\r\n[" + std::to_string(n) + "]\r\n";
    if (plain.compare(pos, head.size(), head) != 0) {
      error =
          "expected recipient section [" + std::to_string(n) + "] at offset " + std::to_string(pos);
      return false;
    }
    pos += head.size();
    nlohmann::json section = {{"section", n}};
    for (const char* key : {"NUMBER", "Name", "Address"}) {
      const std::string prefix = std::string(key) + "=";
      if (!CrLfLine(plain, pos, line) || line.compare(0, prefix.size(), prefix) != 0) {
        error = "recipient section [" + std::to_string(n) + "] lacks its \"" + prefix + "\" line";
        return false;
      }
      section[key] = Latin1ToUtf8(line.substr(prefix.size()));
    }
    // The message lines end with LF alone.
    auto lfLine = [&](std::string& out) {
      const std::size_t end = plain.find('\n', pos);
      if (end == std::string::npos) return false;
      out = plain.substr(pos, end - pos);
      pos = end + 1;
      return true;
    };
    if (!lfLine(line) || line.compare(0, 9, "SmsCount=") != 0) {
      error = "recipient section [" + std::to_string(n) + "] lacks its \"SmsCount=\" line";
      return false;
    }
    section["SmsCount"] = Latin1ToUtf8(line.substr(9));
    nlohmann::json messages = nlohmann::json::array();
    for (int m = 1; plain.compare(pos, 3, "MSG") == 0; ++m) {
      const std::string prefix = "MSG" + std::to_string(m) + "=";
      if (!lfLine(line) || line.compare(0, prefix.size(), prefix) != 0) {
        error = "recipient section [" + std::to_string(n) + "]: expected \"" + prefix + "\"";
        return false;
      }
      messages.push_back(Latin1ToUtf8(line.substr(prefix.size())));
    }
    section["MSG"] = std::move(messages);
    recipients.push_back(std::move(section));
  }
  fields["recipients"] = std::move(recipients);
  return true;
}

std::string ReadAll(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

bool LooksLikeApicom(const std::string& body) {
  return body.find(std::string("=") + kTrailerStart) != std::string::npos;
}

bool DecipherApicom(const std::string& body, bool requireTrailer, std::string& plain,
                    std::string& error) {
  std::size_t cipherBytes = 0, end = 0;
  if (!Decipher(body, plain, cipherBytes, end, error)) return false;
  const std::string_view rest = std::string_view(body).substr(end);
  if (!requireTrailer && rest.find_first_not_of("\r\n") == std::string_view::npos) return true;
  std::string id, email;
  return ParseTrailer(rest, id, email, error);
}

bool OpenApicom(const std::string& body, nlohmann::json& fields, std::string& error) {
  std::string plain, id, email, irregular;
  std::size_t cipherBytes = 0, end = 0;
  if (!Decipher(body, plain, cipherBytes, end, error, &irregular)) return false;
  // The kit never writes this; the body still reads, but someone should know.
  if (!irregular.empty())
    fields["irregular"] = "the kit writes these cipher lines otherwise: " + irregular;
  fields["cipher_bytes"] = cipherBytes;
  fields["plain"] = Latin1ToUtf8(plain);
  if (!ParseTrailer(std::string_view(body).substr(end), id, email, error)) return false;
  fields["FROM"] = {{"ID", Latin1ToUtf8(id)}, {"Email", Latin1ToUtf8(email)}};
  return ParsePlain(plain, fields, error);
}

bool EncipherApicom(const std::string& plain, const std::string& accountId,
                    const std::string& email, std::string& body, std::string& error) {
  if (plain.find('\0') != std::string::npos) {
    error = "the plain document holds a NUL byte, which the padding could not be told from";
    return false;
  }
  std::vector<unsigned char> bytes(plain.begin(), plain.end());
  bytes.resize(PaddedLength(plain.size()), 0);
  identity::EncipherDocument(bytes.data(), bytes.size());
  body.assign(identity::EncodedLength(bytes.size()) + 1, '\0');
  body.resize(
      static_cast<std::size_t>(identity::EncodeLines(bytes.data(), bytes.size(), body.data())));
  body += kTrailerStart + accountId + "\r\nEmail=" + email + "\r\n\r\n";
  return true;
}

bool DecodeApicom(const std::string& body, nlohmann::json& fields, std::string& summary) {
  if (!LooksLikeApicom(body)) return false;
  std::string error;
  if (!OpenApicom(body, fields, error)) {
    fields["error"] = Latin1ToUtf8(error);
    summary = "APICOM, unreadable: " + Latin1ToUtf8(error);
    return true;
  }
  std::string numbers;
  for (const auto& r : fields["recipients"])
    numbers += (numbers.empty() ? "" : ", ") + r["NUMBER"].get<std::string>();
  summary = "APICOM from " + fields["FROM"]["ID"].get<std::string>() +
            " SN=" + fields["SENDER"]["SN"].get<std::string>() + " to " + numbers;
  return true;
}

int RunDecode(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::cout << "Usage: sms-sandbox decode < BODY > DOCUMENT\n\n"
                   "Reads a finished APICOM body (cipher lines, \"=\", and the [FROM] trailer,\n"
                   "which may be left off) on standard input and writes the plain document,\n"
                   "without its padding, to standard output. Exit status 1 when the body is not\n"
                   "a valid cipher text.\n";
      return 0;
    }
    std::cerr << "sms-sandbox decode: unknown argument " << argv[i] << "\n";
    return 64;
  }
  const std::string body = ReadAll(std::cin);
  std::string plain, error;
  if (!DecipherApicom(body, false, plain, error)) {
    std::cerr << "sms-sandbox decode: " << error << "\n";
    return 1;
  }
  std::cout.write(plain.data(), static_cast<std::streamsize>(plain.size()));
  return std::cout.flush() ? 0 : 1;
}

int RunEncode(int argc, char** argv) {
  std::string account, email;
  bool haveAccount = false, haveEmail = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << "Usage: sms-sandbox encode --account ID --email ADDRESS < DOCUMENT > BODY\n\n"
                   "Reads a plain APICOM document on standard input and writes the finished body\n"
                   "the kit would send: zero padding, cipher, printable lines, \"=\", and the\n"
                   "[FROM] trailer with ID and ADDRESS.\n";
      return 0;
    }
    if ((arg == "--account" || arg == "--email") && i + 1 < argc) {
      (arg == "--account" ? account : email) = argv[++i];
      (arg == "--account" ? haveAccount : haveEmail) = true;
      continue;
    }
    std::cerr << "sms-sandbox encode: "
              << (arg == "--account" || arg == "--email" ? arg + " needs a value"
                                                         : "unknown argument " + arg)
              << " (see sms-sandbox encode --help)\n";
    return 64;
  }
  if (!haveAccount || !haveEmail) {
    std::cerr << "sms-sandbox encode: give both --account ID and --email ADDRESS "
                 "(see sms-sandbox encode --help)\n";
    return 64;
  }
  const std::string plain = ReadAll(std::cin);
  std::string body, error;
  if (!EncipherApicom(plain, account, email, body, error)) {
    std::cerr << "sms-sandbox encode: " << error << "\n";
    return 1;
  }
  std::cout.write(body.data(), static_cast<std::streamsize>(body.size()));
  return std::cout.flush() ? 0 : 1;
}

}  // namespace zentrova::sandbox
