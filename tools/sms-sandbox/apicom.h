// The automation server's request document ("APICOM") as the gateway receives
// it: Blowfish cipher text in printable lines closed by "=", then a plain
// "[FROM]" trailer with the account ID and e-mail address. The HTTP listener
// and the mail listener both read bodies through OpenApicom.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace zentrova::sandbox {

// True when the body has the shape of an APICOM body (cipher lines, "=", and
// the "[FROM]" trailer), whether or not it then reads correctly.
bool LooksLikeApicom(const std::string& body);

// Deciphers the body, checks the padding and the trailer, and parses the
// sender section and the recipient sections into fields:
//   "SENDER": {key: value, ...} in the document's order,
//   "Reply": "0",
//   "recipients": [{"section": 1, "NUMBER", "Name", "Address", "SmsCount",
//                   "MSG": ["line 1", ...]}, ...],
//   "FROM": {"ID", "Email"},
//   "plain": the plain document without its padding, "cipher_bytes": N,
//   "irregular": what differs from the line form the kit writes, only when
//                something does (a backquote for 0, bits set in a line's fill).
// Texts are bytes as code points (Latin1ToUtf8). On failure, error says what
// is wrong and false is returned; fields may then hold what was read so far.
bool OpenApicom(const std::string& body, nlohmann::json& fields, std::string& error);

// The plain document in a body (padding removed). With requireTrailer false, a
// body of cipher lines alone is accepted too.
bool DecipherApicom(const std::string& body, bool requireTrailer, std::string& plain,
                    std::string& error);

// A plain document made into a finished body: zero padding, cipher, lines,
// "=", and the trailer. False when the plain text holds a NUL byte (the
// padding could not be told from it).
bool EncipherApicom(const std::string& plain, const std::string& accountId,
                    const std::string& email, std::string& body, std::string& error);

// The Dialect entry: false when the body is not APICOM; an APICOM body that
// does not read correctly still counts, with its error in fields["error"].
bool DecodeApicom(const std::string& body, nlohmann::json& fields, std::string& summary);

// The subcommands "decode" and "encode"; argv[0] is the subcommand's name.
int RunDecode(int argc, char** argv);
int RunEncode(int argc, char** argv);

}  // namespace zentrova::sandbox
