// zcom call's steps: the text of one STEP argument parsed into a member name
// and its values, and those values made into VARIANTs. Kept apart from the
// command so that a fuzzer reaches the parser without a process.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"

namespace zentrova::zcom {

// Arrays and references nest at most this deep: deeper is a usage error, not
// a stack overflow.
inline constexpr int kMaxNesting = 64;

struct Arg {
  enum Kind { kText, kNumber, kArray, kEmpty, kNull, kReference } kind = kEmpty;
  std::string text;
  LONG number = 0;
  LONG lowerBound = 0;
  std::vector<Arg> items;
  std::shared_ptr<Arg> target;  // kReference
};

struct Step {
  enum Kind { kGet, kPut, kCall } kind = kGet;
  // Where a put's text comes from: the step itself, or (for a secret, which
  // every local user could read on a command line) an environment variable
  // or a line of standard input, which the caller reads into value.text.
  enum Source { kWritten, kEnvironment, kStandardInput } source = kWritten;
  std::string name;
  Arg value;              // kPut
  std::string variable;   // kEnvironment
  std::vector<Arg> args;  // kCall
};

// Parses one STEP (Name, Name=VALUE, Name<env:VARIABLE, Name<stdin or
// Name(ARG, ...)); on failure error says what is wrong and where.
bool ParseStep(std::string_view text, Step& step, std::string& error);

// Owns every value made for one step, including the targets of references.
class Values {
 public:
  Values() = default;
  ~Values();
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;

  // Makes arg into out (which the caller clears); false when out of memory or
  // when a text is not valid UTF-8.
  bool Make(const Arg& arg, VARIANT& out);

 private:
  std::deque<VARIANT> owned_;  // a deque keeps its elements in place
};

}  // namespace zentrova::zcom
