// The filter tree's counts with a full store: one update reads the count of every host name,
// address, facility and severity entry (aim: under 5 ms with 100,000 stored messages). Each
// iteration first adds one message, so that the counts have changed and the update is not
// skipped. Arguments: the number of distinct host names and of distinct addresses.
#include <benchmark/benchmark.h>

#include <string>

#include "testing/temp_home.h"
#include "ui/find/filter_tree.h"
#include "ui/store/message_store.h"

namespace qv {
namespace {

constexpr int kStored = 100000;

SyslogMessage Record(int i, int senders) {
  SyslogMessage record;
  const int sender = i % senders;
  record.hostName = "host" + std::to_string(sender);
  record.ipAddress = "10." + std::to_string(sender / 65536) + "." + std::to_string(sender / 256 % 256) + "." +
                     std::to_string(sender % 256);
  record.facility = i % 24;
  record.severity = i % 8;
  record.timeReceived = 1'700'000'000 + i / 10;
  record.message = "link state changed on port " + std::to_string(i % 48);
  return record;
}

void BM_TreeCountsPerUpdate(benchmark::State& state) {
  qv::testing::TempHome home;
  const int senders = static_cast<int>(state.range(0));
  CMessageStore store(kStored);
  CFilterTree tree;
  tree.SetCounts(&store);
  for (int i = 0; i < kStored; ++i) {
    SyslogMessage record = Record(i, senders);
    const CMessageStore::Novelty novelty = store.Add(record);
    if (novelty.hostName) tree.AddHostName(record.hostName);
    if (novelty.address) tree.AddAddress(record.ipAddress);
  }
  int next = kStored;
  std::size_t changed = 0;
  for (auto _ : state) {
    SyslogMessage record = Record(next++, senders);
    store.Add(record);
    changed += tree.UpdateCounts().size();
  }
  state.counters["entries"] = static_cast<double>(tree.Entries(FilterBranch::kHostname).size() +
                                                  tree.Entries(FilterBranch::kAddress).size() + 25 + 16);
  state.counters["changed"] = benchmark::Counter(static_cast<double>(changed), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_TreeCountsPerUpdate)->Arg(9)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
