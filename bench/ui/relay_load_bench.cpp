// The viewer under relay load: a real dunmir under the service manager receives 50,000 syslog
// messages a second for 10 s (qvloadgen) and relays each to a document listening on the relay,
// whose list model is updated as the frame would update it. Reports what the service relayed
// (its history lines), what the document stored, and the longest the document's event loop
// went without answering a 10 ms timer.
//
// The kernel queues at most net.unix.max_dgram_qlen datagrams on the relay socket. Distributions
// set it to 512; a network namespace starts with the kernel's own 10, which no receiver can keep
// up with at this rate. Run as root, the benchmark works in a network namespace of its own with
// the distributions' 512 (the machine's setting is not touched); otherwise it uses the machine's.
// The value used is reported as max_dgram_qlen.
// Run by hand: build/bench/ui/qv_ui_relay_load_bench

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/settings/settings_store.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"
#include "ui/model/message_list_model.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/refresh_coalescer.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

constexpr int kRate = 50000;
constexpr int kSeconds = 10;

// A frame that updates the list model the way the main frame does: coalesced refreshes, each a
// Sync and a screenful of cells.
struct ModelFrame : testing::RecordingFrame {
  explicit ModelFrame(CQuorvelDoc& doc) : model(doc) {
    QObject::connect(&coalescer, &CRefreshCoalescer::refreshDue, [this] { Update(); });
  }
  void RequestRefresh() override { coalescer.Request(); }
  void UpdateAllViews() override { Update(); }
  void Update() {
    model.Sync();
    const int rows = model.rowCount();
    for (int row = std::max(0, rows - 50); row < rows; ++row) {
      for (int column = 0; column < model.columnCount(); ++column) benchmark::DoNotOptimize(model.index(row, column).data());
    }
  }
  CMessageListModel model;
  CRefreshCoalescer coalescer;
};

int CountLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) lines += line.find("qvbench") != std::string::npos ? 1 : 0;
  return lines;
}

int DatagramQueueLength() {
  std::ifstream in("/proc/sys/net/unix/max_dgram_qlen");
  int length = 0;
  in >> length;
  return length;
}

void BM_RelayLoad(benchmark::State& state) {
  if (testing::OwnNetworkNamespace::Enter()) std::ofstream("/proc/sys/net/unix/max_dgram_qlen") << "512\n";
  testing::EnsureCoreApplication();
  for (auto _ : state) {
    testing::TempHome home;
    const std::string units = home.file("units");
    std::filesystem::create_directories(units);
    setenv("QUORVEL_SYSTEMD_UNIT_DIR", units.c_str(), 1);
    // As in the service tests: without the system folders on PATH, "dunmir add" run as root
    // cannot make the group quorvel, so the machine's groups are never changed.
    const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
    const int32_t port = testing::FreeUdpPort();
    const CSettingsStore& settings = AppSettings();
    settings.SetInt("Settings", "udpport", port);
    settings.SetInt("Settings", "SNMPTrapMonitor", 0);
    settings.SetInt("Settings", "EventLog", 0);
    settings.SetInt("Settings", "historysize", 400000);  // every line stays in one file
    settings.SetInt("Settings", "maxsize", 1000000);
    if (testing::RunDunmir({"add"}) != 0) {
      state.SkipWithError("dunmir add failed");
      return;
    }
    CSystemServiceAccess service;
    if (!service.Start()) {
      state.SkipWithError("the service did not start");
      return;
    }

    CQuorvelDoc doc;
    ModelFrame frame(doc);
    doc.SetFrame(&frame);
    if (!doc.StartServer(port) || !doc.IsListeningOnRelay()) {
      state.SkipWithError("the document did not take the relay");
      service.Stop();
      return;
    }

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      longestGap = std::max(longestGap, now - last);
      last = now;
    });
    QProcess sender;
    sender.start(QVLOADGEN_PATH, {"--port", QString::number(port), "--rate", QString::number(kRate), "--seconds",
                                  QString::number(kSeconds), "--size", "150"});
    clock.start();
    ticker.start();
    while (sender.state() != QProcess::NotRunning || clock.elapsed() < 1000) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
      if (clock.elapsed() > (kSeconds + 20) * 1000) break;
    }
    // The last records still on their way.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    ticker.stop();
    service.Stop();

    const int relayed = CountLines(home.file("qvhista.txt")) + CountLines(home.file("qvhistb.txt"));
    const int stored = doc.GetShownCount();
    state.counters["sent"] = kRate * kSeconds;
    state.counters["relayed"] = relayed;
    state.counters["stored"] = stored;
    state.counters["stored_per_relayed"] = relayed > 0 ? static_cast<double>(stored) / relayed : 0;
    state.counters["max_dgram_qlen"] = DatagramQueueLength();
    state.counters["longest_loop_gap_ms"] = static_cast<double>(longestGap);
    doc.StopServer(false);
    unsetenv("QUORVEL_SYSTEMD_UNIT_DIR");
    setenv("PATH", path.c_str(), 1);
  }
}
BENCHMARK(BM_RelayLoad)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace qv
