#pragma once
// The background service as the windowed program sees it: whether it is installed and running,
// and starting and stopping it. CSystemServiceAccess drives the real service through
// CServiceControl; tests give the document a service of their own making.
//
// The calls block like CServiceControl's (Start about 5 s, Stop about 10 s at most) and are made
// on the user-interface thread.

#include <string>

#include "service/control/service_control.h"

namespace qv {

class CServiceAccess {
 public:
  virtual ~CServiceAccess() = default;
  virtual bool IsInstalled() const = 0;
  virtual bool IsRunning() const = 0;
  virtual bool Start() = 0;
  virtual bool Stop() = 0;
  virtual bool SetDemandStart() = 0;
  // The service's own line on why its last start failed; "" when none.
  virtual std::string Failure() const { return {}; }
};

// The service "Quorvel" under the service manager.
class CSystemServiceAccess final : public CServiceAccess {
 public:
  bool IsInstalled() const override { return control_.IsInstalled(); }
  bool IsRunning() const override { return control_.IsRunning(); }
  bool Start() override { return control_.Start(); }
  bool Stop() override { return control_.Stop(); }
  bool SetDemandStart() override { return control_.SetDemandStart(); }
  std::string Failure() const override { return control_.Failure(); }

 private:
  CServiceControl control_;
};

}  // namespace qv
