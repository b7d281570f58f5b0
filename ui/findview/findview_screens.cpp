// Screenshots of the finding panes and dialogs on a real X server (run under xvfb-run): the
// filter tree with entries, the highlight editor, the custom filter editor, the find dialog and
// the activity graph, written as PNG files into the folder given as the first argument.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>

#include "core/settings/settings_store.h"
#include "ui/findview/status_panel.h"
#include "ui/findview/custom_filter_dialog.h"
#include "ui/findview/left_view.h"
#include "ui/findview/find_dialog.h"
#include "ui/findview/log_text_view.h"
#include "ui/findview/highlight_dialog.h"

namespace qv {
namespace {

class ScreenList : public CMessageListAccess {
 public:
  bool IsFilterShown() const override { return false; }
  void ApplyFilter(const CRule&) override {}
  void ShowAll() override {}
  int ShownCount() const override { return static_cast<int>(messages.size()); }
  SyslogMessage ShownMessage(ShownPosition at) const override {
    const int position = at.value;
    return position >= 0 && position < ShownCount() ? messages[static_cast<size_t>(position)] : SyslogMessage();
  }
  int32_t ShownTimeReceived(ShownPosition position) const override { return ShownMessage(position).timeReceived; }
  std::optional<ShownPosition> SelectedPosition() const override {
    return selected < 0 ? std::nullopt : std::optional<ShownPosition>(selected);
  }
  void SelectMessage(ShownPosition position) override { selected = position.value; }
  void SelectLastRow() override { selected = ShownCount() - 1; }

  std::vector<SyslogMessage> messages;
  int selected = -1;
};

// The store's counts, recounted from the list at each question (a few hundred messages).
class ScreenCounts : public CEntryCounts {
 public:
  explicit ScreenCounts(const ScreenList& list) : list_(list) {}
  uint64_t CountsVersion() const override { return list_.messages.size(); }
  uint64_t HostNameCount(std::string_view hostName) const override {
    return Count([&](const SyslogMessage& m) { return m.hostName == hostName; });
  }
  uint64_t AddressCount(std::string_view address) const override {
    return Count([&](const SyslogMessage& m) { return m.ipAddress == address; });
  }
  uint64_t FacilityCount(int32_t facility) const override {
    return Count([&](const SyslogMessage& m) { return m.facility == facility; });
  }
  uint64_t SeverityCount(int32_t severity) const override {
    return Count([&](const SyslogMessage& m) { return m.severity == severity; });
  }

 private:
  template <typename Test>
  uint64_t Count(Test test) const {
    return static_cast<uint64_t>(std::count_if(list_.messages.begin(), list_.messages.end(), test));
  }
  const ScreenList& list_;
};

// Shows the widget, lets the X server draw it, and saves what the screen shows of it.
bool Shoot(QWidget& widget, const QString& path) {
  widget.show();
  widget.raise();
  for (int i = 0; i < 10; ++i) {
    QApplication::processEvents();
    QThread::msleep(20);
  }
  const QPixmap shot = widget.screen()->grabWindow(widget.winId());
  const bool saved = !shot.isNull() && shot.save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  widget.hide();
  return saved;
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const QString folder = argv[1];
  const std::filesystem::path home = std::filesystem::temp_directory_path() / ("quorvel_screens_" + std::to_string(getpid()));
  std::filesystem::create_directories(home);
  setenv("QUORVEL_HOME", home.c_str(), 1);
  QApplication app(argc, argv);
  QDir().mkpath(folder);
  using namespace qv;
  const CSettingsStore& store = AppSettings();
  const struct {
    const char* text;
    Colour fg, bg;
  } highlights[] = {{"error", MakeColour(255, 0, 0), MakeColour(255, 255, 0)},
                    {"login", MakeColour(0, 0, 255), MakeColour(255, 255, 255)},
                    {"link [0-9]+ down", MakeColour(255, 255, 255), MakeColour(0, 128, 0)}};
  for (int n = 0; n < 3; ++n) {
    const std::string section = "Highlights\\highlight" + std::to_string(n);
    store.SetString(section, "string", highlights[n].text);
    store.SetInt(section, "fg", static_cast<int32_t>(highlights[n].fg));
    store.SetInt(section, "bg", static_cast<int32_t>(highlights[n].bg));
    store.SetInt(section, "useregexp", n == 2);
  }
  store.SetInt("Settings", "hlcount", 3);
  CRule custom;
  custom.Name = "Errors from the router";
  custom.Severity = 11;
  custom.Save("Custom\\custom0");
  custom.Name = "Last hour";
  custom.TimeRange = 3600;
  custom.Save("Custom\\custom1");
  store.SetInt("Settings", "customcount", 2);

  ScreenList list;
  const char* const addresses[] = {"192.168.1.100", "192.168.1.9", "192.168.1.25", "192.168.1.10", "10.0.0.1"};
  const char* const hosts[] = {"host10", "host2", "beta", "Alpha", "gateway"};
  for (int i = 0; i < 600; ++i) {
    SyslogMessage message;
    message.timeReceived = 1'700'000'000 + i * i / 40 + (i % 7) * 3;
    message.ipAddress = addresses[i % 5 == 4 && i % 3 != 0 ? 3 : i % 5];
    message.hostName = hosts[i % 5 == 4 && i % 3 != 0 ? 3 : i % 5];
    message.facility = i % 3 == 0 ? 4 : (i % 5 == 0 ? 10 : 1);
    message.severity = i % 8;
    message.message = "login from 192.168.1.10 failed #" + std::to_string(i);
    list.messages.push_back(message);
  }
  list.selected = 400;

  bool ok = true;
  ScreenCounts counts(list);
  CLeftView tree;
  tree.SetList(&list);
  tree.SetCounts(&counts);
  tree.ForgetEntries();
  for (const SyslogMessage& message : list.messages) {  // as the document tells of new values
    tree.AddAddress(message.ipAddress);
    tree.AddHostName(message.hostName);
    tree.AddFacility(message.facility);
  }
  tree.expandAll();
  tree.resize(260, 820);
  ok &= Shoot(tree, folder + "/find_tree.png");

  CHighlightDialog highlight;
  highlight.TextField()->setText("error");
  ok &= Shoot(highlight, folder + "/find_highlight_editor.png");

  CCustomFilterDialog customEditor;
  customEditor.OpenFilter("Last hour");
  ok &= Shoot(customEditor, folder + "/find_custom_filters.png");

  CFindDialog find(list);
  ok &= Shoot(find, folder + "/find_dialog.png");

  store.SetInt("Settings", "resolvetextip", 1);
  QWidget panes;
  auto* text = new CLogTextView(&panes, [](uint32_t) { return std::string("gateway"); });
  auto* graph = new StatusPanel(&panes);
  graph->SetList(&list);
  graph->SetTextView(text);
  text->setGeometry(0, 0, 800, 50);
  graph->setGeometry(0, 50, 800, 175);
  panes.resize(800, 225);
  ok &= Shoot(panes, folder + "/find_graph.png");

  // A burst within three seconds: bars over the last minute, not a sliver at the edge.
  ScreenList burst;
  for (int i = 0; i < 50; ++i) {
    SyslogMessage message;
    message.timeReceived = 1'700'000'000 + i % 3;
    message.message = "link flap " + std::to_string(i);
    burst.messages.push_back(message);
  }
  burst.selected = 49;
  StatusPanel burstGraph;
  burstGraph.SetList(&burst);
  burstGraph.resize(800, 175);
  ok &= Shoot(burstGraph, folder + "/find_graph_burst.png");

  std::filesystem::remove_all(home);
  return ok ? 0 : 1;
}
