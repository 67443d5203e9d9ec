#include "gateway/reply.h"

namespace zentrova::gateway {

int ReadReplyCode(std::string_view reply) {
  std::string_view code = reply.substr(0, 4);
  std::size_t i = 0;
  while (i < code.size() && (code[i] == ' ' || (code[i] >= '\t' && code[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < code.size() && (code[i] == '+' || code[i] == '-')) negative = code[i++] == '-';
  int value = 0;
  for (; i < code.size() && code[i] >= '0' && code[i] <= '9'; ++i)
    value = value * 10 + (code[i] - '0');
  return negative ? -value : value;
}

}  // namespace zentrova::gateway
