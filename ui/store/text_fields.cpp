#include "ui/store/text_fields.h"

namespace qv {

int NumberAtOffset(std::string_view text, std::size_t offset) {
  constexpr int kCap = 1000000;
  std::size_t i = offset;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value < kCap ? value * 10 + (text[i] - '0') : kCap;
  return negative ? -value : value;
}

}  // namespace qv
