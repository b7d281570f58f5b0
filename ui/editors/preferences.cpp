#include "ui/editors/preferences.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "core/settings/settings_store.h"
#include "reception/history_files.h"
#include "ui/find/highlight_list.h"

namespace qv {
namespace {


std::string ColourName(int severity) { return "color" + std::to_string(severity); }

int Clamp(int severity) { return severity < 0 ? 0 : severity >= CSeverityColours::kCount ? CSeverityColours::kCount - 1 : severity; }

std::string Number(const CSettingsStore& store, const char* name, int32_t defaultValue) {
  return std::to_string(static_cast<uint32_t>(store.GetInt("Settings", name, defaultValue)));
}

}  // namespace

PreferencesFields CPreferences::Load() {
  const CSettingsStore& store = AppSettings();
  PreferencesFields f;
  f.maxsize = Number(store, "maxsize", 100000);
  f.dblclick = store.GetInt("Settings", "dblclick", 2);
  if (f.dblclick < 0 || f.dblclick > 2) f.dblclick = 2;
  f.resolve = store.GetInt("Settings", "resolve", 0) != 0;
  f.resolvetextip = store.GetInt("Settings", "resolvetextip", 0) != 0;
  f.timeutc = store.GetInt("Settings", "timeutc", 0) != 0;
  f.udpport = Number(store, "udpport", 514);
  f.timemark = Number(store, "timemark", 0);
  f.historysize = Number(store, "historysize", CHistoryFiles::kDefaultLimitKB);
  f.loadhistory = store.GetInt("Settings", "loadhistory", 1) != 0;
  f.msgboxtime = Number(store, "msgboxtime", 30);
  f.startHidden = store.GetInt("Settings", "hideifmini", 0) != 0;
  f.startserver = store.GetInt("Settings", "startserver", 1) != 0;
  f.promptforsave = store.GetInt("Settings", "promptforsave", 0) != 0;
  f.maildebug = store.GetInt("Settings", "maildebug", 0) != 0;
  f.reception = ReceptionFields::Load();
  return f;
}

std::optional<CPreferences::Error> CPreferences::Save(const PreferencesFields& f) {
  struct Check {
    Field field;
    const std::string& text;
    uint32_t min, max;
  };
  const Check checks[] = {
      {Field::kMaxSize, f.maxsize, 1, 10000000},    {Field::kUdpPort, f.udpport, 1, 32767},
      {Field::kTimeMark, f.timemark, 0, 60000},     {Field::kHistorySize, f.historysize, 0, UINT32_MAX},
      {Field::kMessageBoxTime, f.msgboxtime, 0, 32767},
  };
  uint32_t values[std::size(checks)] = {};
  for (std::size_t i = 0; i < std::size(checks); ++i) {
    const UnsignedField field = ReadUnsignedField(checks[i].text, checks[i].min, checks[i].max);
    if (!field.ok()) return Error{checks[i].field, field.error};
    values[i] = field.value;
  }
  // The page's fields follow the others in the same order.
  static_assert(static_cast<int>(Field::kViewerKey) - static_cast<int>(Field::kTcpPort) ==
                static_cast<int>(ReceptionField::kViewerKey));
  ReceptionValues reception;
  if (const auto error = CheckReception(f.reception, reception)) {
    return Error{static_cast<Field>(static_cast<int>(Field::kTcpPort) + static_cast<int>(error->field)), error->message};
  }
  const auto [maxsize, udpport, timemark, historysize, msgboxtime] = values;
  const CSettingsStore& store = AppSettings();
  const auto set = [&](const char* name, int64_t value) { store.SetInt("Settings", name, static_cast<int32_t>(value)); };
  set("udpport", udpport);
  set("startserver", f.startserver);
  set("loadhistory", f.loadhistory);
  set("historysize", historysize);
  set("maxsize", maxsize);
  set("resolve", f.resolve);
  set("resolvetextip", f.resolvetextip);
  set("hideifmini", f.startHidden);
  set("startminimized", f.startHidden);
  set("promptforsave", f.promptforsave);
  set("msgboxtime", msgboxtime);
  set("maildebug", f.maildebug);
  set("timeutc", f.timeutc);
  set("dblclick", f.dblclick);
  set("timemark", timemark);
  SaveReception(f.reception, reception);
  return std::nullopt;
}

uint32_t CSeverityColours::Default(int severity) { return kDefaultSeverityColours[static_cast<std::size_t>(Clamp(severity))]; }

uint32_t CSeverityColours::Get(int severity) {
  severity = Clamp(severity);
  return static_cast<uint32_t>(AppSettings().GetInt("Settings", ColourName(severity), static_cast<int32_t>(Default(severity))));
}

void CSeverityColours::Set(int severity, uint32_t colour) {
  AppSettings().SetInt("Settings", ColourName(Clamp(severity)), static_cast<int32_t>(colour));
}

uint32_t CSeverityColours::Reset(int severity) {
  Set(severity, Default(severity));
  return Default(severity);
}

EmailSettings EmailSettings::Load() {
  const CSettingsStore& store = AppSettings();
  const MailSettings mail = MailSettings::Load();
  EmailSettings settings;
  settings.server = mail.server;
  settings.from = mail.from;
  settings.domain = mail.domain;
  settings.subject = store.GetString("Settings", "mailsubject");
  settings.text = store.GetString("Settings", "mailtext");
  settings.include = store.GetInt("Settings", "includemsg", 1) != 0;
  settings.port = std::to_string(mail.port);
  settings.security = mail.security;
  settings.user = mail.user;
  settings.password = mail.password;
  settings.verify = mail.verify;
  return settings;
}

std::optional<EmailSettings::Error> EmailSettings::Read(MailSettings& mail) const {
  const UnsignedField typedPort = ReadUnsignedField(port, 1, 65535);
  if (!typedPort.ok()) return Error{Field::kPort, typedPort.error};
  mail.server = server;
  mail.from = from;
  mail.domain = domain;
  mail.port = static_cast<int32_t>(typedPort.value);
  mail.security = security;
  mail.user = user;
  mail.password = password;
  mail.verify = verify;
  mail.debug = false;
  return std::nullopt;
}

std::optional<EmailSettings::Error> EmailSettings::Save() const {
  MailSettings mail;
  if (auto error = Read(mail)) return error;
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "includemsg", include ? 1 : 0);
  store.SetString("Settings", "mailfrom", from.c_str());
  store.SetString("Settings", "maildomain", domain.c_str());
  store.SetString("Settings", "mailsubject", subject.c_str());
  store.SetString("Settings", "mailtext", text.c_str());
  store.SetString("Settings", "mailserver", server.c_str());
  store.SetInt("Settings", "mailport", mail.port);
  store.SetInt("Settings", "mailsecurity", security);
  store.SetString("Settings", "mailuser", user.c_str());
  store.SetString("Settings", "mailpassword", password.c_str());
  store.SetInt("Settings", "mailverify", verify ? 1 : 0);
  return std::nullopt;
}

std::string SuggestedMailPort(const std::string& port, int32_t security) {
  static constexpr std::string_view kUsualPorts[] = {"25", "587", "465"};  // by security
  if (security < kMailPlain || security > kMailTls) return port;
  const std::size_t start = port.find_first_not_of(' ');
  const std::string_view typed =
      start == std::string::npos ? std::string_view() : std::string_view(port).substr(start, port.find_last_not_of(' ') + 1 - start);
  const bool usual = typed.empty() || std::find(std::begin(kUsualPorts), std::end(kUsualPorts), typed) != std::end(kUsualPorts);
  return usual ? std::string(kUsualPorts[security]) : port;
}

}  // namespace qv
