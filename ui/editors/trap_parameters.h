#pragma once
// The trap fields of a rule as the dialog "SNMP Trap Parameters" edits them, and the mail fields
// as "E-Mail Parameters" edits them.

#include <cstdint>
#include <optional>
#include <string>

#include "ui/editors/field_validation.h"

namespace qv {

class CRule;

struct TrapParameters {
  std::string community = "public";
  std::string senderOid = "1.3.6.1.4.1.0";
  uint32_t genericType = 6;
  uint32_t specificType = 0;
  std::string stringOid = "1.3.6.1.4.1.0";
  std::string text = "$all";

  static TrapParameters FromRule(const CRule& rule);
  void ApplyTo(CRule& rule) const;
  bool operator==(const TrapParameters&) const = default;
};

// The dialog's fields as typed; the two type numbers are whole numbers of 32 bits.
struct TrapParameterFields {
  std::string community;
  std::string senderOid;
  std::string genericType;
  std::string specificType;
  std::string stringOid;
  std::string text;

  enum class Field { kGenericType, kSpecificType };
  static TrapParameterFields From(const TrapParameters& parameters);
  // The values, or the first field that is not a whole number.
  std::optional<FieldError<Field>> Read(TrapParameters& parameters) const;
};

struct EmailParameters {
  std::string subject;
  std::string text;
  bool include = true;

  // Subject and text from the settings "mailsubject" and "mailtext", the include flag set.
  static EmailParameters Defaults();
  static EmailParameters FromRule(const CRule& rule);
  void ApplyTo(CRule& rule) const;
  bool operator==(const EmailParameters&) const = default;
};

}  // namespace qv
