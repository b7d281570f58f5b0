#include "service/service_app.h"

#include <QCoreApplication>

#include <strings.h>
#include <unistd.h>

#include <cstdio>

#include "core/settings/settings_store.h"
#include "platform/paths/data_root.h"
#include "platform/services/service_host.h"
#include "platform/services/service_state.h"
#include "rules/actions/action_runner.h"
#include "rules/actions/reporting_message_boxes.h"
#include "service/service_engine.h"
#include "service/service_installer.h"
#include "service/service_user.h"
#include "service/termination_signals.h"

namespace qv {

namespace {

// Says why the service cannot run: on stderr, and for a service the manager started also in its
// state, where `qvsc start` and the viewer read it.
int FailToRun(const std::string& line) {
  std::fprintf(stderr, "dunmir: %s\n", line.c_str());
  svc::RecordServiceFailure(line);
  return 1;
}

}  // namespace

CommandWord CommandWordOf(int argc, char* argv[]) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  if (strcasecmp(tail.c_str(), "add") == 0) return CommandWord::kAdd;
  if (strcasecmp(tail.c_str(), "remove") == 0) return CommandWord::kRemove;
  if (strcasecmp(tail.c_str(), "debug") == 0) return CommandWord::kDebug;
  return CommandWord::kNormalStart;
}

bool IsUsableSyslogPort(int32_t port) { return port >= 1 && port <= 65535 && port != 32514 && port != 32515; }

int CServiceApp::Run(int argc, char* argv[]) {
  UseSharedUmask();
  if (const std::string problem = CheckDataRoot(); !problem.empty()) return FailToRun(problem);
  const CommandWord word = CommandWordOf(argc, argv);
  if (word == CommandWord::kAdd) {
    if (!AddService(kServiceDisplayName, kServiceDescription)) return 1;
    if (geteuid() == 0 && ShareDataRootWithGroup()) MakeServiceUser(kServiceGroup);
    return 0;
  }
  if (word == CommandWord::kRemove) return RemoveService() ? 0 : 1;

  const int32_t port = AppSettings().GetInt("Settings", "udpport", 514);
  if (!IsUsableSyslogPort(port)) {
    return FailToRun("udpport " + std::to_string(port) +
                     " cannot be used: the syslog port must be 1 to 65535 and not 32514 or 32515");
  }
  // Before anything else runs, and while this is the only thread.
  if (const std::string problem = DropToServiceUser(); !problem.empty()) return FailToRun(problem);

  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("dunmir");
  svc::CServiceHost host(kServiceName);
  bool stopRequested = false;
  const CTerminationSignals terminationSignals([&](int) {
    // Under the manager the first signal stops the service through its control handler, which
    // then ends the loop; a second signal, or one without the manager, ends the loop at once.
    if (!stopRequested && host.RequestStop()) {
      stopRequested = true;
      return;
    }
    QCoreApplication::quit();
  });

  if (word == CommandWord::kNormalStart) {
    // A stop request ends the event loop; the service stays stop pending until the engine has
    // handled what it accepted (Finished below).
    const auto quit = [&app] { QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection); };
    host.StartDispatcher(quit, quit);
  } else {
    std::fprintf(stderr, "dunmir: running in the foreground; data in %s\n", DataRoot().c_str());
  }

  // Without an interactive user, message boxes become local messages.
  CServiceEngine engine([](CSyslogSink& reporter) -> std::unique_ptr<CActionExecutor> {
    return std::make_unique<CActionRunner>(std::make_unique<CReportingMessageBoxes>(reporter));
  });
  if (!engine.listening()) return FailToRun(engine.failure());
  const int code = app.exec();
  engine.Stop();
  host.Finished();
  return code;
}

}  // namespace qv
