#include "ui/store/data_root_choice.h"

#include <QSettings>

#include <cstdlib>

#include "platform/paths/data_root.h"

namespace qv {

namespace {

constexpr const char* kOwnRootKey = "ownDataRootInsteadOf";

std::string EnvironmentFolder(const char* variable, const char* fallbackBelowHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && *value != '\0') return value;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + fallbackBelowHome;
}

}  // namespace

CDataRootChoice::CDataRootChoice(QString settingsFile) : settingsFile_(std::move(settingsFile)) {
  if (settingsFile_.isEmpty()) {
    settingsFile_ = QString::fromStdString(EnvironmentFolder("XDG_CONFIG_HOME", "/.config") + "/quorvel/viewer.ini");
  }
}

std::string CDataRootChoice::OwnDataRoot() { return EnvironmentFolder("XDG_DATA_HOME", "/.local/share") + "/quorvel"; }

std::string CDataRootChoice::QuestionText(const std::string& problem) {
  return "Quorvel cannot use its data folder:\n" + problem +
         "\n\nTo share the service's messages and settings, join the group quorvel "
         "(sudo usermod -aG quorvel $USER, then log in again), or set QUORVEL_HOME to another folder.\n\n"
         "Run now with a data folder of your own, " + OwnDataRoot() +
         "? The viewer then receives by itself and does not see the service's messages. "
         "This choice is remembered.";
}

CDataRootChoice::Outcome CDataRootChoice::Resolve(const std::function<bool(const std::string&)>& ask,
                                                  std::string* problem) const {
  *problem = CheckDataRoot();
  if (problem->empty()) return Outcome::kUsable;
  const std::string refused = DataRoot();
  const std::string own = OwnDataRoot();
  if (refused == own) return Outcome::kRefused;
  QSettings remembered(settingsFile_, QSettings::IniFormat);
  if (remembered.value(kOwnRootKey).toString().toStdString() != refused) {
    if (!ask(QuestionText(*problem))) return Outcome::kDeclined;
    remembered.setValue(kOwnRootKey, QString::fromStdString(refused));
    remembered.sync();
  }
  setenv("QUORVEL_HOME", own.c_str(), 1);
  *problem = CheckDataRoot();
  return problem->empty() ? Outcome::kOwnRoot : Outcome::kRefused;
}

}  // namespace qv
