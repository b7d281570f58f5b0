#pragma once
// Reading the numeric fields of the option dialogs the way their users know from other
// programs: a field that is not a whole non-negative number gets "Please enter a positive
// integer.", one out of its range "Please enter an integer between <min> and <max>.".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// The field's value, or the message to show (and keep the dialog open on the field). Blanks
// around the digits are allowed; signs, other characters and numbers above 4294967295 are not.
struct UnsignedField {
  uint32_t value = 0;
  std::string error;  // empty when the field is valid
  bool ok() const { return error.empty(); }
};
UnsignedField ReadUnsignedField(std::string_view text, uint32_t min, uint32_t max);

std::string RangeMessage(uint32_t min, uint32_t max);
inline constexpr const char* kNotAPositiveInteger = "Please enter a positive integer.";

// A field that failed validation, named by the caller's own field enumeration.
template <typename Field>
struct FieldError {
  Field field;
  std::string message;
};

}  // namespace qv
