// The viewer's store: storing one message, one view update over a full store of a million
// messages, opening a million-line document, and resident memory per stored message.
// Run by hand: build/bench/ui/qv_ui_bench

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/model/message_list_model.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

constexpr int kMillion = 1000000;

// Messages as a busy network sends them: a few dozen hosts, texts of 60 to 120 bytes.
SyslogMessage SampleMessage(int i) {
  SyslogMessage record;
  record.facility = i % 24;
  record.severity = i % 8;
  record.hostName = "host" + std::to_string(i % 40) + ".example.net";
  record.ipAddress = "10.0." + std::to_string(i % 40) + "." + std::to_string(1 + i % 7);
  record.senderPort = 514;
  record.timeReceived = 1700000000 + i / 100;
  record.timeSent = record.timeReceived - 1;
  record.message = "sshd[" + std::to_string(1000 + i % 30000) + "]: Accepted publickey for user" + std::to_string(i % 977) +
                   " from 192.168." + std::to_string(i % 256) + "." + std::to_string(i % 253) + " port " +
                   std::to_string(40000 + i % 20000) + std::string(static_cast<std::size_t>(i % 60), '.');
  return record;
}

// A document of the given capacity in a data root of its own.
struct Fixture {
  explicit Fixture(int maxEntries) {
    AppSettings().SetInt("Settings", "maxsize", maxEntries);
    doc = std::make_unique<CQuorvelDoc>(CQuorvelDoc::ExecutorFactory(), std::make_unique<testing::FakeService>());
  }
  testing::TempHome home;
  std::unique_ptr<CQuorvelDoc> doc;
};

long ResidentBytes() {
  long pages = 0;
  long resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * sysconf(_SC_PAGESIZE);
}

void BM_AddMessage(benchmark::State& state) {
  Fixture fixture(100000);
  std::vector<SyslogMessage> samples;
  for (int i = 0; i < 4096; ++i) samples.push_back(SampleMessage(i));
  for (int i = 0; i < 200000; ++i) fixture.doc->AddMessage(samples[static_cast<std::size_t>(i) % 4096], true);  // full ring
  std::size_t i = 0;
  for (auto _ : state) fixture.doc->AddMessage(samples[i++ % 4096], true);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddMessage);

// 1,000 new messages reach a store that holds a million, then the list is updated: the model
// announces the rows and the view paints a screenful (50 rows, 7 columns).
void BM_ViewUpdateWithFullStore(benchmark::State& state) {
  Fixture fixture(kMillion);
  for (int i = 0; i < kMillion; ++i) fixture.doc->AddMessage(SampleMessage(i), false);
  CMessageListModel model(*fixture.doc);
  int next = kMillion;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 1000; ++i) fixture.doc->AddMessage(SampleMessage(next++), true);
    state.ResumeTiming();
    model.Sync();
    const int rows = model.rowCount();
    for (int row = rows - 50; row < rows; ++row) {
      for (int column = 0; column < model.columnCount(); ++column) {
        const QModelIndex cell = model.index(row, column);
        benchmark::DoNotOptimize(cell.data(Qt::DisplayRole));
        benchmark::DoNotOptimize(cell.data(Qt::BackgroundRole));
      }
    }
  }
}
BENCHMARK(BM_ViewUpdateWithFullStore)->Unit(benchmark::kMillisecond);

void BM_OpenMillionLineDocument(benchmark::State& state) {
  Fixture fixture(100000);
  const std::string path = fixture.home.file("million.txt");
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < kMillion; ++i) out << SampleMessage(i).FormatRecordLine();
  }
  for (auto _ : state) {
    if (!fixture.doc->OpenDocument(path)) state.SkipWithError("cannot open the document");
  }
  state.counters["messages"] = fixture.doc->GetShownCount();
}
BENCHMARK(BM_OpenMillionLineDocument)->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr const char* kFillStoreChild = "--fill-store-child";

// The child's part of BM_ResidentMemoryPerMessage, in a process of its own: a fresh heap, so
// that every page the store takes shows as growth (a process that has filled and freed a store
// before reuses those pages, and its resident size hardly moves). Prints the resident bytes
// before and after the fill and the text bytes held.
int FillStoreChild() {
  Fixture fixture(kMillion);
  const long before = ResidentBytes();
  for (int i = 0; i < kMillion; ++i) fixture.doc->AddMessage(SampleMessage(i), false);
  const long after = ResidentBytes();
  std::printf("%ld %ld %llu\n", before, after, static_cast<unsigned long long>(fixture.doc->Store().TextBytes()));
  return 0;
}

// Runs this program again as the fill child and reads its three numbers; false on any failure.
bool RunFillStoreChild(long* before, long* after, unsigned long long* text) {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char self[] = "/proc/self/exe";
  char flag[64];
  std::snprintf(flag, sizeof flag, "%s", kFillStoreChild);
  char* argv[] = {self, flag, nullptr};
  pid_t child = -1;
  const int spawned = posix_spawn(&child, self, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  bool read = false;
  if (spawned == 0) {
    if (FILE* from = fdopen(out[0], "r"); from != nullptr) {
      read = std::fscanf(from, "%ld %ld %llu", before, after, text) == 3;
      std::fclose(from);
    }
    int status = 0;
    waitpid(child, &status, 0);
    read = read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  } else {
    close(out[0]);
  }
  return read;
}

// Resident memory the store takes per message, against the text it holds (message, host name
// and address bytes); the aim is at most 2.5 times the text. Measured in a fresh process.
void BM_ResidentMemoryPerMessage(benchmark::State& state) {
  for (auto _ : state) {
    long before = 0;
    long after = 0;
    unsigned long long textBytes = 0;
    if (!RunFillStoreChild(&before, &after, &textBytes) || textBytes == 0) {
      state.SkipWithError("the fill child did not report");
      return;
    }
    const double text = static_cast<double>(textBytes) / kMillion;
    const double resident = static_cast<double>(after - before) / kMillion;
    state.counters["text_bytes_per_message"] = text;
    state.counters["resident_bytes_per_message"] = resident;
    state.counters["resident_per_text"] = resident / text;
  }
}
BENCHMARK(BM_ResidentMemoryPerMessage)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], qv::kFillStoreChild) == 0) return qv::FillStoreChild();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
