#include "ui/store/start_up.h"

#include <algorithm>

#include "core/settings/reg.h"
#include "core/settings/settings_store.h"

namespace qv {
namespace {

constexpr const char* kRecentSection = "Recent File List";

std::string RecentValueName(int index) { return "File" + std::to_string(index + 1); }

}  // namespace

bool FirstRunDue() { return AppSettings().GetInt("Settings", "FirstTime", 1) != 0; }

void RunFirstTimeSetup(CServiceAccess& service, const std::function<bool()>& askRunAsService) {
  // A service that runs already (the package installs and starts it) needs no question.
  if (service.IsInstalled() && !service.IsRunning()) {
    if (askRunAsService()) {
      service.Start();
    } else {
      service.Stop();
      service.SetDemandStart();
    }
  }
  CReg firewall(kFirewallKey);
  firewall.SetString(kFirewallValueName, kFirewallValue);  // a failure is ignored
  AppSettings().SetInt("Settings", "FirstTime", 0);
}

bool HideIfMinimised() { return AppSettings().GetInt("Settings", "hideifmini", 0) != 0; }

CRecentFiles::CRecentFiles() {
  for (int i = 0; i < kMaxRecentFiles; ++i) {
    std::string path = AppSettings().GetString(kRecentSection, RecentValueName(i));
    if (!path.empty()) files_.push_back(std::move(path));
  }
}

void CRecentFiles::Add(const std::string& path) {
  files_.erase(std::remove(files_.begin(), files_.end(), path), files_.end());
  files_.insert(files_.begin(), path);
  if (files_.size() > static_cast<std::size_t>(kMaxRecentFiles)) files_.resize(kMaxRecentFiles);
  Save();
}

void CRecentFiles::Remove(const std::string& path) {
  files_.erase(std::remove(files_.begin(), files_.end(), path), files_.end());
  Save();
}

void CRecentFiles::Save() const {
  for (int i = 0; i < kMaxRecentFiles; ++i) {
    const auto index = static_cast<std::size_t>(i);
    const std::string name = RecentValueName(i);
    AppSettings().SetString(kRecentSection, name.c_str(), index < files_.size() ? files_[index].c_str() : nullptr);
  }
}

}  // namespace qv
