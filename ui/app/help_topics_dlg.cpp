#include "ui/app/help_topics_dlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/frame/frame_commands.h"

namespace qv {

namespace {

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Commands whose status-bar prompt is empty are described here.
QString Description(const FrameCommand& command) {
  if (!command.prompt.empty()) return Text(command.prompt);
  switch (command.id) {
    case kCmdCustomFilters: return "Add, change, delete and order the entries of the Custom filters branch";
    case kCmdTelnet: return "Open a telnet connection to the sender of the selected message";
    case kCmdBrowser: return "Open the sender of the selected message in the web browser";
    case kCmdFindMessages: return "Find messages of the selected one's host name and severity";
    case kCmdToggleHighlight: return "Mark the selected messages as highlighted, or unmark them";
    case kCmdSendToRules: return "Run the rules on the selected messages";
    default: return {};
  }
}

struct PaneTopic {
  const char* name;
  const char* text;
};

constexpr PaneTopic kPanes[] = {
    {"Filter tree", "Choose an entry to show only the messages it matches; a time entry chosen at the newest message "
                    "shows the last seconds and moves with the clock"},
    {"Quick filter", "The field above the list (Ctrl+L): shows only the messages whose text, host name or address "
                     "holds what is typed, within the tree's filter; Escape clears it"},
    {"Message list", "The messages shown, newest at the bottom; right-click one for its commands"},
    {"Full text", "The whole text of the selected message"},
    {"Activity graph", "Messages over time; click to select a moment, double-click to find"},
};

}  // namespace

CHelpTopicsDlg::CHelpTopicsDlg(QWidget* parent) : QDialog(parent), topics_(new QTreeWidget(this)) {
  setWindowTitle("Help Topics");
  topics_->setColumnCount(3);
  topics_->setHeaderLabels({"Topic", "Keys", "What it does"});
  topics_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  topics_->setSelectionMode(QAbstractItemView::NoSelection);

  auto* window = new QTreeWidgetItem(topics_, {"The main window"});
  for (const PaneTopic& pane : kPanes) new QTreeWidgetItem(window, {pane.name, QString(), pane.text});

  const auto addCommands = [this](const QString& topic, CommandMenu menu, std::span<const FrameCommand> commands) {
    auto* item = new QTreeWidgetItem(topics_, {topic});
    for (const FrameCommand& command : commands) {
      if (command.menu != menu) continue;
      new QTreeWidgetItem(item, {Text(command.caption).remove('&'), Text(command.shortcut), Description(command)});
    }
  };
  for (const CommandMenu menu : {CommandMenu::kFile, CommandMenu::kEdit, CommandMenu::kView, CommandMenu::kRules,
                                 CommandMenu::kMonitors, CommandMenu::kHelp}) {
    addCommands(Text(MenuTitle(menu)).remove('&') + " menu", menu, FrameCommands());
  }
  addCommands("Toolbar", CommandMenu::kToolbarOnly, FrameCommands());
  addCommands("Message list (right-click)", CommandMenu::kToolbarOnly, ListContextCommands());
  topics_->expandAll();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(topics_);
  layout->addWidget(buttons);
  resize(820, 560);
}

}  // namespace qv
