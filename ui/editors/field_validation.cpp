#include "ui/editors/field_validation.h"

namespace qv {

std::string RangeMessage(uint32_t min, uint32_t max) {
  return "Please enter an integer between " + std::to_string(min) + " and " + std::to_string(max) + ".";
}

UnsignedField ReadUnsignedField(std::string_view text, uint32_t min, uint32_t max) {
  const std::size_t first = text.find_first_not_of(" \t");
  const std::size_t last = text.find_last_not_of(" \t");
  UnsignedField field;
  if (first == std::string_view::npos) {
    field.error = kNotAPositiveInteger;
    return field;
  }
  uint64_t value = 0;
  for (std::size_t i = first; i <= last; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9' || value > UINT32_MAX) {
      field.error = kNotAPositiveInteger;
      return field;
    }
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) {
    field.error = kNotAPositiveInteger;
  } else if (value < min || value > max) {
    field.error = RangeMessage(min, max);
  } else {
    field.value = static_cast<uint32_t>(value);
  }
  return field;
}

}  // namespace qv
