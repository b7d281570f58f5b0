#include "platform/services/systemd_unit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/paths/data_root.h"
#include "platform/services/service_state.h"

namespace qv::svc {

namespace {

constexpr const char* kWantsFolder = "multi-user.target.wants";

// A double-quoted word of a unit file: backslash and quote escaped, '%' doubled (specifiers)
// and, where the line expands variables, '$' doubled as well.
std::string Quoted(std::string_view text, bool expandsVariables) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '%') quoted += '%';
    if (c == '$' && expandsVariables) quoted += '$';
    quoted += c;
  }
  return quoted + "\"";
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::string WantsLink(const std::string& folder, std::string_view serviceName) {
  return folder + "/" + kWantsFolder + "/" + SystemdUnitName(serviceName);
}

}  // namespace

std::optional<std::string> SystemdUnitFolder() {
  const char* overridden = std::getenv("QUORVEL_SYSTEMD_UNIT_DIR");
  if (overridden != nullptr && *overridden != '\0') return std::string(overridden);
  struct stat info {};
  if (stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode)) return std::string("/etc/systemd/system");
  return std::nullopt;
}

std::optional<std::string> PackagedUnitPath(std::string_view serviceName) {
  const char* overridden = std::getenv("QUORVEL_SYSTEMD_PACKAGE_UNIT_DIR");
  std::vector<std::string> folders{"/usr/lib/systemd/system", "/lib/systemd/system"};
  if (overridden != nullptr && *overridden != '\0') folders = {overridden};
  for (const std::string& folder : folders) {
    const std::string path = folder + "/" + SystemdUnitName(serviceName);
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) return path;
  }
  return std::nullopt;
}

std::string SystemdUnitName(std::string_view serviceName) {
  std::string name(serviceName);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name + ".service";
}

std::optional<std::string> SystemdUnitText(const ServiceConfig& config, const std::string& dataRoot) {
  if (HasLineBreak(config.imagePath) || HasLineBreak(dataRoot) || HasLineBreak(config.displayName)) {
    return std::nullopt;
  }
  std::string text;
  text += "# Written by Quorvel's service manager when the service \"" + config.name +
          "\" was added; removed with it.\n";
  std::string description;
  for (const char c : config.displayName) description += c == '%' ? std::string("%%") : std::string(1, c);
  text += "[Unit]\nDescription=" + description + "\n";
  text += "Wants=network-online.target\nAfter=network-online.target\n\n";
  text += "[Service]\nType=simple\n";
  text += "Environment=" + Quoted("QUORVEL_HOME=" + dataRoot, false) + "\n";
  const std::string mark = std::string(kStartMarkVariable) + "=" + config.name + ":" + kSystemdStartToken;
  text += "Environment=" + Quoted(mark, false) + "\n";
  text += "ExecStart=" + Quoted(config.imagePath, true) + "\n";
  // A stop is reported pending for up to 35 seconds before the service must have ended.
  text += "TimeoutStopSec=40\n\n";
  text += "[Install]\nWantedBy=multi-user.target\n";
  return text;
}

bool InstallSystemdUnit(const ServiceConfig& config) {
  const auto folder = SystemdUnitFolder();
  if (!folder) return true;
  if (PackagedUnitPath(config.name)) {
    return config.startType != kAutoStart || SetSystemdUnitEnabled(config.name, true);
  }
  std::error_code error;
  const auto text = SystemdUnitText(config, std::filesystem::absolute(DataRoot(), error).string());
  if (!text || error) return false;
  const std::string path = *folder + "/" + SystemdUnitName(config.name);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << *text;
    out.close();
    if (!out) {
      std::filesystem::remove(path, error);
      return false;
    }
  }
  if (config.startType == kAutoStart && !SetSystemdUnitEnabled(config.name, true)) {
    std::filesystem::remove(path, error);
    return false;
  }
  return true;
}

bool SetSystemdUnitEnabled(std::string_view serviceName, bool enabled) {
  const auto folder = SystemdUnitFolder();
  if (!folder) return true;
  const std::string link = WantsLink(*folder, serviceName);
  std::error_code error;
  std::filesystem::remove(link, error);
  if (!enabled) return !error;
  // A service added on a host without systemd has no unit to enable.
  std::string unit = *folder + "/" + SystemdUnitName(serviceName);
  if (!std::filesystem::exists(unit, error)) {
    const auto packaged = PackagedUnitPath(serviceName);
    if (!packaged) return true;
    unit = *packaged;
  }
  std::filesystem::create_directories(*folder + "/" + kWantsFolder, error);
  if (error) return false;
  std::filesystem::create_symlink(unit, link, error);
  return !error;
}

bool RemoveSystemdUnit(std::string_view serviceName) {
  const auto folder = SystemdUnitFolder();
  if (!folder) return true;
  std::error_code linkError;
  std::error_code unitError;
  std::filesystem::remove(WantsLink(*folder, serviceName), linkError);
  // Beside the package's unit, a unit of that name here is the administrator's full override.
  if (!PackagedUnitPath(serviceName)) std::filesystem::remove(*folder + "/" + SystemdUnitName(serviceName), unitError);
  return !linkError && !unitError;
}

}  // namespace qv::svc
