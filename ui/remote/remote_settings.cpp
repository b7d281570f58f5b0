#include "ui/remote/remote_settings.h"

#include <algorithm>

#include "core/settings/settings_store.h"

namespace qv {
namespace {

constexpr const char* kPins = "RemotePins";

}  // namespace

RemoteTarget WithStoredTrust(RemoteTarget target) {
  const CSettingsStore& store = AppSettings();
  target.pinnedFingerprint = store.GetString(kPins, target.host.c_str(), "");
  target.backfill = static_cast<uint32_t>(std::max(store.GetInt("Settings", "maxsize", 100000), 0));
  if (target.backfill == 0) target.backfill = 100000;  // as the store reads it
  return target;
}

RemoteTarget LastRemoteTarget() {
  const CSettingsStore& store = AppSettings();
  RemoteTarget target;
  target.host = store.GetString("Settings", "remotehost", "");
  target.port = store.GetInt("Settings", "remoteport", 6515);
  target.certificateFile = store.GetString("Settings", "remotecert", "");
  return WithStoredTrust(target);
}

void RememberRemoteTarget(const RemoteTarget& target) {
  const CSettingsStore& store = AppSettings();
  store.SetString("Settings", "remotehost", target.host.c_str());
  store.SetInt("Settings", "remoteport", target.port);
  store.SetString("Settings", "remotecert", target.certificateFile.c_str());
}

void PinRemoteFingerprint(const std::string& host, const std::string& fingerprint) {
  AppSettings().SetString(kPins, host.c_str(), fingerprint.c_str());
}

bool RemoteWasActive() {
  return AppSettings().GetInt("Settings", "remoteactive", 0) != 0 && !LastRemoteTarget().host.empty();
}

void RememberRemoteActive(bool active) { AppSettings().SetInt("Settings", "remoteactive", active ? 1 : 0); }

}  // namespace qv
