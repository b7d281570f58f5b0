#pragma once
// What the store's tests share: a service whose state the test sets, and a frame that records
// what the document tells it.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <memory>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/rule.h"
#include "ui/store/doc_frame.h"
#include "ui/store/service_access.h"

namespace qv::testing {

// The event loop the document's sockets and timers need; made once per test program.
inline void EnsureCoreApplication() {
  static int argc = 1;
  static char name[] = "quorvel_test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
}

struct FakeService final : CServiceAccess {
  bool installed = true;
  bool running = false;
  int starts = 0, stops = 0, demandStarts = 0;
  bool startFails = false;  // Start is accepted but the service stops at once, saying `failure`
  std::string failure;
  bool IsInstalled() const override { return installed; }
  bool IsRunning() const override { return installed && running; }
  bool Start() override { ++starts; running = installed && !startFails; return installed; }
  bool Stop() override { ++stops; const bool was = running; running = false; return was; }
  bool SetDemandStart() override { ++demandStarts; return installed; }
  std::string Failure() const override { return failure; }
};

// A service that is not installed: the viewer then does the service's work itself.
inline std::unique_ptr<FakeService> NoService() {
  auto service = std::make_unique<FakeService>();
  service->installed = false;
  return service;
}

struct RecordingFrame : CDocFrame {
  std::string listenText, listenTip;
  int refreshRequests = 0, viewUpdates = 0, timeMarkStarts = 0, timeMarkStops = 0, forgets = 0;
  bool historyLoadable = true;
  std::vector<std::string> addresses, hostNames;
  std::vector<int32_t> facilities;
  std::optional<ShownPosition> selected;
  bool selectionCleared = false;

  void SetListenText(const std::string& text) override { listenText = text; }
  void SetListenTip(const std::string& tip) override { listenTip = tip; }
  void RequestRefresh() override { ++refreshRequests; }
  void UpdateAllViews() override { ++viewUpdates; }
  void StartTimeMark() override { ++timeMarkStarts; }
  void StopTimeMark() override { ++timeMarkStops; }
  void SetHistoryLoadable(bool loadable) override { historyLoadable = loadable; }
  void AddAddress(const std::string& address) override { addresses.push_back(address); }
  void AddHostName(const std::string& hostName) override { hostNames.push_back(hostName); }
  void AddFacility(int32_t facility) override { facilities.push_back(facility); }
  void ForgetEntries() override { ++forgets; addresses.clear(); hostNames.clear(); facilities.clear(); }
  std::optional<ShownPosition> SelectedPosition() const override { return selected; }
  void ClearSelection() override {
    selected.reset();
    selectionCleared = true;
  }
  void EnsureSelected(ShownPosition position) override { selected = position; }
};

// Stores rule `index` ("Rules\rule<index>") with `action` for messages holding `text`, and
// makes it the last counted rule.
inline void SaveRule(int index, const char* name, int32_t action, const char* text) {
  CRule rule;
  rule.Name = name;
  rule.Action = action;
  rule.Message = text;
  rule.Save(RuleSectionName(index));
  AppSettings().SetInt("Settings", "rulescount", index + 1);
}

// Runs the event loop until `done` holds or `ms` milliseconds have passed.
template <typename Condition>
bool ProcessEventsUntil(Condition done, int ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(1);
  }
  return true;
}

}  // namespace qv::testing
