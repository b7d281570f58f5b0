// Finding things in a full store of 1,000,000 messages: a filter chosen in the tree, one step of
// search-as-you-type, one keystroke in the quick filter, one painting of the activity graph, and
// the highlight colours of one visible row. Aims on the reference machine: 300 ms, 300 ms,
// 300 ms, 30 ms and 2 us. Also the filter
// tree told of N distinct host names and addresses, as opening a document of N senders tells it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "ui/find/filter_tree.h"
#include "ui/find/highlight_list.h"
#include "ui/findview/left_view.h"
#include "ui/findview/status_panel.h"
#include "ui/findview/log_text_view.h"
#include "ui/findview/highlight_colouring.h"
#include "ui/store/message_store.h"

namespace qv {
namespace {

constexpr int32_t kMessages = 1'000'000;

// The shown list of a bare store, with the selection of a list view that is not there.
class StoreList : public CMessageListAccess {
 public:
  explicit StoreList(CMessageStore& store) : store_(store) {}
  bool IsFilterShown() const override { return store_.filterShown(); }
  void ApplyFilter(const CRule& rule) override { store_.ApplyFilter(rule, selected_); }
  void ShowAll() override { store_.ShowAll(); }
  int ShownCount() const override { return store_.shownCount(); }
  SyslogMessage ShownMessage(ShownPosition position) const override {
    StoredMessageView view;
    return store_.ShownAt(position, &view) ? view.ToMessage() : SyslogMessage();
  }
  int32_t ShownTimeReceived(ShownPosition position) const override {
    StoredMessageView view;
    return store_.ShownAt(position, &view) ? view.timeReceived : 0;
  }
  void ShownTimesReceived(std::vector<int32_t>* out) const override { store_.ShownTimesReceived(out); }
  // Without a stamp every painting recounts, as after each new message.
  std::optional<Stamp> ShownStamp() const override {
    if (!stamped) return std::nullopt;
    return Stamp{store_.shownGeneration(), store_.shownAdded()};
  }
  std::optional<ShownPosition> SelectedPosition() const override { return selected_; }
  void SelectMessage(ShownPosition position) override { selected_ = position; }
  void SelectLastRow() override { selected_ = ShownPosition(ShownCount() - 1); }

  bool stamped = true;

 private:
  CMessageStore& store_;
  std::optional<ShownPosition> selected_;
};

// One store for every benchmark: a day of traffic from 200 senders.
CMessageStore& FullStore() {
  static CMessageStore* store = [] {
    static const char* const kTexts[] = {
        "kernel: eth0 link up, 1000 Mbps full duplex", "sshd[2211]: Accepted publickey for admin from 10.1.2.3",
        "disk /dev/sda1 error: sector 88123 unreadable", "CRON[991]: (root) CMD (run-parts /etc/cron.hourly)",
        "dhcpd: DHCPACK on 192.168.1.40 to 00:11:22:33:44:55", "postfix/smtp: connect to mx.example.net timed out",
        "firewall: DROP IN=eth1 SRC=203.0.113.9 DST=192.168.1.1", "Fan 2 speed low, check cooling",
    };
    auto* made = new CMessageStore(kMessages);
    for (int32_t i = 0; i < kMessages; ++i) {
      SyslogMessage record;
      record.severity = i % 8;
      record.facility = i % 24;
      record.ipAddress = "192.168." + std::to_string(i % 200 / 100) + "." + std::to_string(i % 100);
      record.hostName = "host" + std::to_string(i % 200);
      record.timeReceived = static_cast<int32_t>(1'700'000'000 + int64_t{i} * 86400 / kMessages);
      record.timeSent = record.timeReceived;
      record.message = std::string(kTexts[i % 8]) + " #" + std::to_string(i);
      made->Add(record);
    }
    return made;
  }();
  return *store;
}

void BM_ApplySeverityFilter(benchmark::State& state) {
  StoreList list(FullStore());
  CFilterTree tree;
  const FilterItem warningOrHigher{FilterBranch::kSeverity, 12};
  for (auto _ : state) {
    tree.Choose(warningOrHigher, list, {});
    benchmark::DoNotOptimize(list.ShownCount());
  }
  state.counters["shown"] = list.ShownCount();
  list.ShowAll();
}
BENCHMARK(BM_ApplySeverityFilter)->Unit(benchmark::kMillisecond)->Iterations(5);

// One keystroke of "Search for text": "e" matches nearly everything, "err" a quarter.
void BM_SearchStep(benchmark::State& state) {
  StoreList list(FullStore());
  const std::string typed = state.range(0) == 1 ? "e" : "err";
  for (auto _ : state) {
    ApplySearchText(typed, false, list);
    benchmark::DoNotOptimize(list.ShownCount());
  }
  state.counters["shown"] = list.ShownCount();
  list.ShowAll();
}
BENCHMARK(BM_SearchStep)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(5);

// The quick filter above the list, one keystroke at a time. Argument 0: the first letter, which
// walks all 1,000,000 messages (text, host name and address of each); 1: each further letter of
// "unreadable", which narrows the list shown; 2: clearing the field with the tree's "Warning or
// Higher" filter shown, which walks all again. Aim: 300 ms per keystroke.
void BM_QuickFilterKeystroke(benchmark::State& state) {
  CMessageStore& store = FullStore();
  const std::string word = "unreadable";
  std::size_t typed = 1;
  for (auto _ : state) {
    switch (state.range(0)) {
      case 0:
        state.PauseTiming();
        store.SetQuickText("", std::nullopt);
        state.ResumeTiming();
        store.SetQuickText("u", std::nullopt);
        break;
      case 1:
        state.PauseTiming();
        if (typed == word.size()) store.SetQuickText("u", std::nullopt), typed = 1;
        state.ResumeTiming();
        store.SetQuickText(word.substr(0, ++typed), std::nullopt);
        break;
      default: {
        state.PauseTiming();
        CRule warnings;
        warnings.Severity = 12;
        store.ApplyFilter(warnings, std::nullopt);
        store.SetQuickText("link", std::nullopt);
        state.ResumeTiming();
        store.SetQuickText("", std::nullopt);
        break;
      }
    }
    benchmark::DoNotOptimize(store.shownCount());
  }
  state.counters["shown"] = store.shownCount();
  store.SetQuickText("", std::nullopt);
  store.ShowAll();
}
BENCHMARK(BM_QuickFilterKeystroke)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(9);

// The graph of all 1,000,000 messages painted at 1000 by 175 pixels, with the full text of the
// selected message handed to its view as every painting does. Argument 1: the list changed
// before each painting, so the columns are recounted; 0: a repaint of the same list.
void BM_GraphPaint(benchmark::State& state) {
  StoreList list(FullStore());
  list.stamped = state.range(0) == 0;
  list.SelectMessage(ShownPosition(kMessages / 2));
  CLogTextView text;
  StatusPanel panel;
  panel.SetList(&list);
  panel.SetTextView(&text);
  panel.resize(1000, 175);
  QImage image(1000, 175, QImage::Format_RGB32);
  for (auto _ : state) {
    panel.render(&image);
    benchmark::DoNotOptimize(image.bits());
  }
}
BENCHMARK(BM_GraphPaint)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(20);

// The "Message" cell colours of one visible row with five highlighting entries, the row's
// message read from the store as the list model does.
void BM_HighlightLookupPerRow(benchmark::State& state) {
  const CSettingsStore& settings = AppSettings();
  const char* const kEntries[] = {"unreadable", "timed out", "DROP", "link down", "Fan [0-9]+ speed"};
  for (int n = 0; n < 5; ++n) {
    const std::string section = "Highlights\\highlight" + std::to_string(n);
    settings.SetString(section, "string", kEntries[n]);
    settings.SetInt(section, "useregexp", n == 4 ? 1 : 0);
  }
  settings.SetInt("Settings", "hlcount", 5);
  CHighlightColouring colouring;
  colouring.ReloadHighlights();
  StoreList list(FullStore());
  int row = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(colouring.Match(list.ShownMessage(ShownPosition(row))));
    row = (row + 1) % 40;  // one screenful
  }
}
BENCHMARK(BM_HighlightLookupPerRow);

// The tree pane told of N distinct host names and addresses (each new to it), then emptied as
// the store is: what opening a document of N senders, or a flood of new senders, costs it.
void BM_FilterTreeDistinctSenders(benchmark::State& state) {
  const auto senders = static_cast<int>(state.range(0));
  std::vector<std::string> hosts;
  std::vector<std::string> addresses;
  for (int i = 0; i < senders; ++i) {
    hosts.push_back("host-" + std::to_string(i) + ".example.net");
    addresses.push_back("10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                        std::to_string(i & 255));
  }
  CLeftView view;
  for (auto _ : state) {
    for (int i = 0; i < senders; ++i) {
      view.AddHostName(hosts[static_cast<std::size_t>(i)]);
      view.AddAddress(addresses[static_cast<std::size_t>(i)]);
    }
    view.ForgetEntries();
  }
  state.SetItemsProcessed(state.iterations() * senders);
}
BENCHMARK(BM_FilterTreeDistinctSenders)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  // A data root of the benchmark's own and no display.
  const std::filesystem::path home = std::filesystem::temp_directory_path() / "quorvel_find_bench";
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home);
  setenv("QUORVEL_HOME", home.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(home);
  return 0;
}
