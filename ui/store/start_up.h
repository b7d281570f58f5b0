#pragma once
// The decisions of the program's start that need no window: the first-run set-up and the list of
// recently used document files.

#include <functional>
#include <string>
#include <vector>

#include "ui/store/service_access.h"

namespace qv {

inline constexpr const char* kAboutText = "Quorvel version 1.8";
inline constexpr const char* kFirstRunCaption = "Inital Setup";
inline constexpr const char* kFirstRunQuestion =
    "Would you like to set Quorvel to run as a service so it is active whenever the PC is on?\r\n"
    "The User Interface can be activated at any time for a real time view of messages\r\n";
// Where the first run records the open syslog port, as data of the program's own settings tree
// (this platform has no such firewall key; the host's firewall is never touched).
inline constexpr const char* kFirewallKey =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile\\GloballyOpenPorts"
    "\\List";
inline constexpr const char* kFirewallValueName = "514:UDP";
inline constexpr const char* kFirewallValue = "514:UDP:*:Enabled:Syslog";

// True while "FirstTime" (default 1) is non-zero.
bool FirstRunDue();

// The first-run set-up: when the service is installed but not running, asks `askRunAsService`
// (the question above); yes starts the service, no stops it and makes it start on demand. A
// service that already runs (as the package leaves it) is left as it is. Then writes the
// firewall value and "FirstTime" = 0, whatever happened before.
void RunFirstTimeSetup(CServiceAccess& service, const std::function<bool()>& askRunAsService);

// "hideifmini" (default 0).
bool HideIfMinimised();

// The recently used document files, newest first, at most kMaxRecentFiles, kept in section
// "Recent File List" as "File1".."File4". Paths are compared as given.
class CRecentFiles {
 public:
  static constexpr int kMaxRecentFiles = 4;

  // Reads the stored list.
  CRecentFiles();
  const std::vector<std::string>& Files() const { return files_; }
  // Puts `path` first (moving it when listed), drops the fifth, and stores the list.
  void Add(const std::string& path);
  // Drops `path` (a file that could not be opened) and stores the list.
  void Remove(const std::string& path);

 private:
  void Save() const;
  std::vector<std::string> files_;
};

}  // namespace qv
