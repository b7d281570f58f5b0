#include "rules/rule.h"

#include <arpa/inet.h>

#include <optional>

#include "core/settings/settings_store.h"

namespace qv {

const std::array<RuleActionInfo, 13> kRuleActions = {{
    {"Message Box", "Message", kActionMessageBox, 0},
    {"Run Program", "Program", kActionRunProgram, kActionInputFileChooser},
    {"Save to file", "Filename", kActionSaveToFile, kActionInputFileChooser | kActionInputFormatList},
    {"Send to another Syslog server", "Server", kActionForward, 0},
    {"Discard message", "", kActionDiscard, 0},
    {"Highlight message", "", kActionHighlight, 0},
    {"Play sound", "Sound file", kActionPlaySound, kActionInputFileChooser},
    {"Send E-Mail", "To Address", kActionSendMail, kActionInputAdvanced},
    {"Copy to Windows Event log", "", kActionEventLog, 0},
    {"Save to Database", "SQL Statement", kActionDatabase, 0},
    {"Modify Facility", "Facility", kActionModifyFacility, kActionInputNameList},
    {"Modify Severity", "Severity", kActionModifySeverity, kActionInputNameList},
    {"Send SNMP Trap", "Server", kActionSnmpTrap, kActionInputAdvanced},
}};

const RuleActionInfo* FindRuleAction(int32_t code) {
  for (const RuleActionInfo& info : kRuleActions) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

std::string RuleSectionName(int index) { return "Rules\\rule" + std::to_string(index); }

namespace {

// Four decimal parts of 0..255 without leading zeros, the form received addresses have; nullopt
// for anything else (which may still be one of the other forms inet_aton accepts).
std::optional<uint32_t> PlainDottedAddress(std::string_view text) {
  uint32_t number = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (pos >= text.size() || text[pos++] != '.')) return std::nullopt;
    const std::size_t start = pos;
    uint32_t value = 0;
    while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[pos++] - '0');
    }
    const std::size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
    number = number << 8 | value;
  }
  if (pos != text.size()) return std::nullopt;
  return number;
}

}  // namespace

uint32_t AddressToNumber(const std::string& dottedAddress) {
  if (const auto plain = PlainDottedAddress(dottedAddress)) return *plain;
  // The classic converter: accepts the dotted forms of inet_aton, and gives all ones otherwise.
  return ntohl(inet_addr(dottedAddress.c_str()));
}

namespace {

void WriteText(std::ostream& out, std::string_view section, const char* name, const std::string& value) {
  out << "s " << section << ' ' << name << ' ' << value << "\r\n";
}

void WriteSigned(std::ostream& out, std::string_view section, const char* name, int32_t value) {
  out << "i " << section << ' ' << name << ' ' << value << "\r\n";
}

void WriteUnsigned(std::ostream& out, std::string_view section, const char* name, uint32_t value) {
  out << "i " << section << ' ' << name << ' ' << value << "\r\n";
}

}  // namespace

CRule::CRule()
    : EMailSubject(AppSettings().GetString("Settings", "mailsubject")),
      EMailText(AppSettings().GetString("Settings", "mailtext")) {}

bool CRule::Load(std::string_view section) {
  const CSettingsStore& store = AppSettings();
  ActionInt = static_cast<uint32_t>(store.GetInt(section, "ActionInt", 0));
  ThreshSecs = static_cast<uint32_t>(store.GetInt(section, "ThreshSecs", 0));
  Enabled = store.GetInt(section, "Enabled", 1);
  Name = store.GetString(section, "Name");
  IP = static_cast<uint32_t>(store.GetInt(section, "IP", 0));
  Facility = store.GetInt(section, "Facility", -1);
  Severity = store.GetInt(section, "Severity", -1);
  Hostname = store.GetString(section, "Hostname");
  Message = store.GetString(section, "Message");
  UseRegExp = store.GetInt(section, "UseRegExp", 0) != 0;
  Action = store.GetInt(section, "Action", kActionMessageBox);
  ActionValue = store.GetString(section, "ActionValue");
  Highlighted = store.GetInt(section, "Highlighted", 0) != 0;
  TimeRange = store.GetInt(section, "TimeRange", 0);
  timeRangeEnd = 0;
  if (Action == kActionSnmpTrap) {
    SNMPCommunity = store.GetString(section, "SNMPCommunity", "public");
    SNMPSenderOid = store.GetString(section, "SNMPSenderOid", "1.3.6.1.4.1.0");
    SNMPString = store.GetString(section, "SNMPString", "$all");
    SNMPStringOid = store.GetString(section, "SNMPStringOid", "1.3.6.1.4.1.0");
    SNMPSpecificType = static_cast<uint32_t>(store.GetInt(section, "SNMPSpecificType", 0));
    SNMPGenericType = static_cast<uint32_t>(store.GetInt(section, "SNMPGenericType", 6));
  }
  if (Action == kActionSendMail) {
    EMailSubject = store.GetString(section, "EMailSubject");
    EMailText = store.GetString(section, "EMailText");
    EMailInclude = store.GetInt(section, "EMailInclude", 1) != 0;
  }
  return true;
}

void CRule::Save(std::string_view section) const {
  const CSettingsStore& store = AppSettings();
  store.SetInt(section, "Enabled", Enabled);
  store.SetString(section, "Name", Name.c_str());
  store.SetInt(section, "IP", static_cast<int32_t>(IP));
  store.SetInt(section, "Facility", Facility);
  store.SetInt(section, "Severity", Severity);
  store.SetString(section, "Hostname", Hostname.c_str());
  store.SetString(section, "Message", Message.c_str());
  store.SetInt(section, "UseRegExp", UseRegExp ? 1 : 0);
  store.SetInt(section, "Action", Action);
  store.SetString(section, "ActionValue", ActionValue.c_str());
  store.SetInt(section, "Highlighted", Highlighted ? 1 : 0);
  store.SetInt(section, "TimeRange", TimeRange);
  store.SetInt(section, "ActionInt", static_cast<int32_t>(ActionInt));
  store.SetInt(section, "ThreshSecs", static_cast<int32_t>(ThreshSecs));
  if (Action == kActionSnmpTrap) {
    store.SetString(section, "SNMPCommunity", SNMPCommunity.c_str());
    store.SetString(section, "SNMPSenderOid", SNMPSenderOid.c_str());
    store.SetString(section, "SNMPString", SNMPString.c_str());
    store.SetString(section, "SNMPStringOid", SNMPStringOid.c_str());
    store.SetInt(section, "SNMPSpecificType", static_cast<int32_t>(SNMPSpecificType));
    store.SetInt(section, "SNMPGenericType", static_cast<int32_t>(SNMPGenericType));
  }
  if (Action == kActionSendMail) {
    store.SetString(section, "EMailSubject", EMailSubject.c_str());
    store.SetString(section, "EMailText", EMailText.c_str());
    store.SetInt(section, "EMailInclude", EMailInclude ? 1 : 0);
  }
}

bool CRule::WriteSettingsLines(std::ostream& out, std::string_view section) const {
  WriteText(out, section, "Name", Name);
  WriteText(out, section, "Hostname", Hostname);
  WriteText(out, section, "Message", Message);
  WriteText(out, section, "ActionValue", ActionValue);
  WriteSigned(out, section, "Enabled", Enabled);
  WriteUnsigned(out, section, "IP", IP);
  WriteSigned(out, section, "Facility", Facility);
  WriteSigned(out, section, "Severity", Severity);
  WriteSigned(out, section, "UseRegExp", UseRegExp ? 1 : 0);
  WriteSigned(out, section, "Action", Action);
  WriteSigned(out, section, "Highlighted", Highlighted ? 1 : 0);
  WriteUnsigned(out, section, "TimeRange", static_cast<uint32_t>(TimeRange));
  WriteUnsigned(out, section, "ThreshSecs", ThreshSecs);
  WriteUnsigned(out, section, "ActionInt", ActionInt);
  if (Action == kActionSnmpTrap) {
    WriteText(out, section, "SNMPCommunity", SNMPCommunity);
    WriteText(out, section, "SNMPSenderOid", SNMPSenderOid);
    WriteText(out, section, "SNMPString", SNMPString);
    WriteText(out, section, "SNMPStringOid", SNMPStringOid);
    WriteUnsigned(out, section, "SNMPSpecificType", SNMPSpecificType);
    WriteUnsigned(out, section, "SNMPGenericType", SNMPGenericType);
  }
  if (Action == kActionSendMail) {
    WriteText(out, section, "EMailSubject", EMailSubject);
    WriteText(out, section, "EMailText", EMailText);
    WriteUnsigned(out, section, "EMailInclude", EMailInclude ? 1 : 0);
  }
  return out.good();
}

bool CRule::Matches(const SyslogMessage& message) {
  if (Facility >= 0 && message.facility != Facility) return false;
  if (Severity >= 0 && Severity <= 7 && message.severity != Severity) return false;
  if (Severity >= 8 && message.severity > Severity - 8) return false;
  // An IPv6 sender never matches an IPv4 condition (its text would convert to all ones).
  if (IP != 0 && (message.ipAddress.find(':') != std::string::npos || AddressToNumber(message.ipAddress) != IP)) {
    return false;
  }
  if (TimeRange != 0 && (message.timeReceived < TimeRange || message.timeReceived > timeRangeEnd)) return false;
  if (!Message.empty() && !ContentsMatch(message.message)) return false;
  if (!Hostname.empty() && Hostname != message.hostName) return false;
  if (Highlighted && !message.highlighted) return false;
  return true;
}

bool CRule::ContentsMatch(const std::string& text) {
  if (UseRegExp) {
    if (cache_.pattern == nullptr || cache_.patternSource != Message) {
      cache_.pattern.reset(CompilePattern(Message));
      cache_.patternSource = cache_.pattern != nullptr ? Message : std::string();
    }
    // A pattern that does not compile is looked for as plain text, with case; compiling is
    // tried again next time.
    if (cache_.pattern == nullptr) return text.find(Message) != std::string::npos;
    return MatchPattern(cache_.pattern.get(), text, 0, nullptr, kPatternCaseSensitive);
  }
  if (cache_.caseless.needle() != Message) cache_.caseless = CCaselessSearch(Message);
  return cache_.caseless.FoundIn(text);
}

}  // namespace qv
