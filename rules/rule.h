#pragma once
// One rule: conditions on the fields of a syslog record and one action with its parameters.
// The same record selects messages for custom filters, the filter and find dialogs and the
// highlighting entries; those fill only the condition fields.
//
// Rules are stored one section per rule ("Rules\rule0", "Rules\rule1", ...) in the settings
// store, with "rulescount" in section "Settings". Stored integers are 32-bit registry numbers;
// flags are 0 or 1 and any non-zero value reads back as set.
//
// A rule is a plain value except for two caches that `Matches` builds: the compiled pattern of a
// regular-expression rule and the upper-cased text of a plain one. Both are remade when
// `Message` has changed since they were built, so callers may change any field between matches.
// A copy never shares the compiled pattern: it compiles its own on first use. A rule is not
// locked; one thread at a time may match with it.

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "core/message/syslog_message.h"
#include "rules/caseless_search.h"
#include "rules/pattern_matcher.h"

namespace qv {

// Action codes of `CRule::Action`.
enum RuleAction : int32_t {
  kActionRunProgram = 0,
  kActionSaveToFile = 1,
  kActionForward = 2,
  kActionDiscard = 3,
  kActionPlaySound = 4,
  kActionSendMail = 5,
  kActionMessageBox = 6,
  kActionHighlight = 7,
  kActionEventLog = 8,
  kActionDatabase = 9,
  kActionModifyFacility = 10,
  kActionModifySeverity = 11,
  kActionSnmpTrap = 12,
};

// How the rule editor takes an action's parameter.
inline constexpr uint32_t kActionInputFileChooser = 1u << 0;
inline constexpr uint32_t kActionInputNameList = 1u << 8;  // facility or severity names -> ActionInt
inline constexpr uint32_t kActionInputFormatList = 1u << 9;  // file formats beside the value -> ActionInt
inline constexpr uint32_t kActionInputAdvanced = 1u << 16;  // a dialog for the extra fields

struct RuleActionInfo {
  const char* name;       // as listed in the rule editor
  const char* parameter;  // caption of the value field; empty when the action takes none
  int32_t code;
  uint32_t input;         // kActionInput* bits
};

// Every action, in the order the rule editor lists them.
extern const std::array<RuleActionInfo, 13> kRuleActions;

// The entry of an action code, or null for a code no action has.
const RuleActionInfo* FindRuleAction(int32_t code);

// The section of rule `index` (counting from 0): "Rules\rule<index>".
std::string RuleSectionName(int index);

// A dotted IPv4 address as a number in host byte order; a text that is not an address (such as
// "Unknown") gives 0xFFFFFFFF.
uint32_t AddressToNumber(const std::string& dottedAddress);

class CRule {
 public:
  // Conditions all "any"; the e-mail subject and text are the current settings "mailsubject"
  // and "mailtext". Enabled 1, action 6 (Message Box), ActionInt 0: the values a rule loaded
  // from an empty section has.
  CRule();

  // Reads the rule from a section of the program's settings store; values that are missing
  // keep their defaults. The SNMP values are read only for action 12 and the e-mail values only
  // for action 5; the other group keeps its construction values. Always true.
  bool Load(std::string_view section);

  // Writes the rule to a section. Nothing is deleted, so values of another action written by
  // an earlier save stay behind (and are ignored by Load).
  void Save(std::string_view section) const;

  // Appends the rule's lines for the settings export file, each ending in CR LF. Texts are
  // written as held, without quoting. False when the stream has failed.
  bool WriteSettingsLines(std::ostream& out, std::string_view section) const;

  // True when the record meets every condition (facility, severity, address, time window,
  // contents, host name, highlight, tested in that order).
  bool Matches(const SyslogMessage& message);

  // Whether a compiled pattern is held (built by the first pattern match).
  bool HasCompiledPattern() const { return cache_.pattern != nullptr; }

  int32_t Enabled = 1;
  int32_t Severity = -1;      // -1 any; 0..7 exactly; 8..15 that severity or more urgent (<= n-8)
  std::string Name;
  std::string Hostname;       // empty = any; else equal to the record's host name, with case
  uint32_t IP = 0;            // sender address in host byte order; 0 = any
  int32_t Facility = -1;      // -1 = any
  int32_t Action = kActionMessageBox;
  std::string ActionValue;
  uint32_t ActionInt = 0;     // new facility or severity of the modify actions; file format of
                              // "Save to file" (RecordFormat, record_formats.h)
  uint32_t ThreshSecs = 0;    // quiet time per sender after firing; 0 = none
  std::string Message;        // contents: plain text (any case), or a pattern with UseRegExp
  bool Highlighted = false;   // only highlighted records match
  bool UseRegExp = false;
  // Stored: seconds ("Time received within"). While matching, TimeRange and timeRangeEnd are
  // the lower and upper bound of timeReceived, set by the filter code; 0 = no condition.
  int32_t TimeRange = 0;
  int32_t timeRangeEnd = 0;
  // An upper bound that no time passes: a window open towards the future, which the viewer
  // moves with the clock.
  static constexpr int32_t kTimeRangeEndOpen = 0x7FFFFFFF;
  std::string SNMPCommunity = "public";
  std::string SNMPSenderOid = "1.3.6.1.4.1.0";
  uint32_t SNMPSpecificType = 0;
  uint32_t SNMPGenericType = 6;
  std::string SNMPString = "$all";
  std::string SNMPStringOid = "1.3.6.1.4.1.0";
  std::string EMailSubject;
  std::string EMailText;
  bool EMailInclude = true;

 private:
  // What Matches derives from Message. Copying it leaves the compiled pattern behind.
  struct MatchCache {
    MatchCache() = default;
    MatchCache(const MatchCache& other) : caseless(other.caseless) {}
    MatchCache& operator=(const MatchCache& other) {
      caseless = other.caseless;
      pattern.reset();
      patternSource.clear();
      return *this;
    }
    MatchCache(MatchCache&&) noexcept = default;
    MatchCache& operator=(MatchCache&&) noexcept = default;
    ~MatchCache() = default;

    PatternPtr pattern;
    std::string patternSource;  // the Message that `pattern` was compiled from
    CCaselessSearch caseless;   // Message prepared for plain matching
  };

  bool ContentsMatch(const std::string& text);

  MatchCache cache_;
};

}  // namespace qv
