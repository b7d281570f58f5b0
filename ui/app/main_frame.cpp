#include "ui/app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/settings/settings_store.h"
#include "monitors/monitor_set.h"
#include "ui/app/about_dlg.h"
#include "ui/app/command_icons.h"
#include "ui/app/help_topics_dlg.h"
#include "ui/app/lock_key_indicators.h"
#include "ui/app/pane_fonts.h"
#include "ui/dialogs/database_settings_dialog.h"
#include "ui/dialogs/monitor_list_dialogs.h"
#include "ui/dialogs/option_dialogs.h"
#include "ui/dialogs/rule_editor_dialog.h"
#include "ui/dialogs/settings_file_dialogs.h"
#include "ui/dialogs/user_prompts.h"
#include "ui/findview/status_panel.h"
#include "ui/findview/custom_filter_dialog.h"
#include "ui/findview/left_view.h"
#include "ui/findview/find_dialog.h"
#include "ui/findview/log_text_view.h"
#include "ui/findview/highlight_dialog.h"
#include "ui/findview/quick_filter_field.h"
#include "ui/findview/match_fields_group.h"
#include "ui/frame/frame_commands.h"
#include "ui/frame/pane_layout.h"
#include "ui/model/message_list_model.h"
#include "ui/settings_file/settings_file.h"
#include "ui/store/export_formats.h"
#include "ui/store/quorvel_doc.h"

namespace qv {
namespace {

constexpr const char* kSettings = "Settings";
constexpr int kHideCheckMs = 1000;
constexpr int kTrayTipLength = 63;

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

int32_t UdpPort() { return AppSettings().GetInt(kSettings, "udpport", 514); }

// Runs a blocking service operation with the wait cursor.
template <typename Operation>
void Waiting(Operation operation) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  operation();
  QApplication::restoreOverrideCursor();
}

}  // namespace

CMainFrame::CMainFrame(CQuorvelDoc& doc, QWidget* parent)
    : CPersistentFrame(parent), doc_(doc), commands_(doc), watch_(new CServiceWatch(commands_, doc, this)),
      remote_(new CRemoteCommands(doc, this)) {
  setWindowIcon(ProgramIcon());
  setAcceptDrops(true);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();
  hideWhenMinimised_ = HideIfMinimised();
  CreateTrayIcon();

  hideTimer_.setSingleShot(true);
  connect(&hideTimer_, &QTimer::timeout, this, [this] {
    if (HidesWhenMinimised() && isVisible() && isMinimized()) hide();
  });
  hideTimer_.start(kHideCheckMs);
  connect(&timeMark_, &CLongTimer::timeout, this, &CMainFrame::AddTimeMark);
  connect(&refresh_, &CRefreshCoalescer::refreshDue, this, &CMainFrame::UpdateAllViews);
  connect(watch_, &CServiceWatch::stateChanged, this, &CMainFrame::UpdateCommandStates);

  CreatePanes();
  ApplyFontSize();
  connect(&doc_, &CQuorvelDoc::titleChanged, this, &CMainFrame::ShowTitle);
  connect(&doc_, &CQuorvelDoc::modifiedChanged, this, &QWidget::setWindowModified);
  ShowTitle();
  doc_.SetFrame(this);
  UpdateCommandStates();
}

CMainFrame::~CMainFrame() { doc_.SetFrame(nullptr); }

// --- Building the window ---

void CMainFrame::CreateActions() {
  for (const FrameCommand& command : FrameCommands()) {
    auto* action = new QAction(Text(command.caption), this);
    action->setStatusTip(Text(command.prompt));
    action->setToolTip(Text(command.caption).remove('&'));
    if (!command.shortcut.empty()) action->setShortcut(QKeySequence(Text(command.shortcut)));
    action->setIcon(CommandIcon(command.id));
    action->setIconVisibleInMenu(false);
    action->setData(command.id);
    actions_[command.id] = action;
  }
  Action(kCmdCopy)->setShortcuts({QKeySequence("Ctrl+C"), QKeySequence("Ctrl+Insert")});
  for (const int32_t id : {kCmdToolbar, kCmdStatusBar, kCmdRulesEnabled, kCmdFirstRuleOnly, kCmdAllMatchingRules,
                           kCmdEventLog, kCmdFileMonitor, kCmdPingMonitor, kCmdPhoneCalls, kCmdSnmpTraps, kCmdLock}) {
    Action(id)->setCheckable(true);
  }

  Connect(kCmdNew, &CMainFrame::OnFileNew);
  Connect(kCmdOpen, &CMainFrame::OnFileOpen);
  Connect(kCmdSave, &CMainFrame::OnFileSave);
  Connect(kCmdSaveAs, &CMainFrame::OnFileSaveAs);
  Connect(kCmdImport, &CMainFrame::OnImport);
  Connect(kCmdExport, &CMainFrame::OnExport);
  Connect(kCmdLoadHistory, &CMainFrame::OnLoadHistory);
  Connect(kCmdClearHistory, &CMainFrame::OnClearHistory);
  connect(Action(kCmdExit), &QAction::triggered, this, &QWidget::close);
  Connect(kCmdCopy, &CMainFrame::OnCopy);
  Connect(kCmdSelectAll, &CMainFrame::OnSelectAll);
  Connect(kCmdToolbar, &CMainFrame::OnToggleToolbar);
  Connect(kCmdStatusBar, &CMainFrame::OnToggleStatusBar);
  Connect(kCmdViewOptions, &CMainFrame::OnViewOptions);
  Connect(kCmdFind, &CMainFrame::OnFind);
  Connect(kCmdCustomFilters, &CMainFrame::OnCustomFilters);
  Connect(kCmdHighlighting, &CMainFrame::OnHighlighting);
  Connect(kCmdPreferences, &CMainFrame::OnPreferences);
  Connect(kCmdEditRules, &CMainFrame::OnEditRules);
  Connect(kCmdEmailSettings, &CMainFrame::OnEmailSettings);
  Connect(kCmdDatabaseSettings, &CMainFrame::OnDatabaseSettings);
  Connect(kCmdEditFileList, &CMainFrame::OnEditFileList);
  Connect(kCmdEditPingList, &CMainFrame::OnEditPingList);
  Connect(kCmdImportSettings, &CMainFrame::OnImportSettings);
  Connect(kCmdExportSettings, &CMainFrame::OnExportSettings);
  Connect(kCmdRulesEnabled, &CMainFrame::OnRulesEnabled);
  Connect(kCmdFirstRuleOnly, &CMainFrame::OnFirstRuleOnly);
  Connect(kCmdAllMatchingRules, &CMainFrame::OnAllMatchingRules);
  Connect(kCmdEventLog, &CMainFrame::OnEventLog);
  Connect(kCmdFileMonitor, &CMainFrame::OnFileMonitor);
  Connect(kCmdPingMonitor, &CMainFrame::OnPingMonitor);
  Connect(kCmdPhoneCalls, &CMainFrame::OnPhoneCalls);
  Connect(kCmdSnmpTraps, &CMainFrame::OnSnmpTraps);
  Connect(kCmdHelpTopics, &CMainFrame::OnHelpTopics);
  Connect(kCmdAbout, &CMainFrame::OnAbout);
  Connect(kCmdLock, &CMainFrame::OnLock);
  Connect(kCmdStartListening, &CMainFrame::OnStartListening);
  Connect(kCmdStopListening, &CMainFrame::OnStopListening);
  Connect(kCmdStartService, &CMainFrame::OnStartService);
  Connect(kCmdStopService, &CMainFrame::OnStopService);
  connect(Action(kCmdConnectServer), &QAction::triggered, remote_, &CRemoteCommands::OnConnect);
  connect(Action(kCmdDisconnectServer), &QAction::triggered, remote_, &CRemoteCommands::OnDisconnect);

  // F6 and Shift+F6 move to the next and previous pane.
  auto* next = new QShortcut(QKeySequence(Qt::Key_F6), this);
  connect(next, &QShortcut::activated, this, [this] { CyclePane(1); });
  auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this);
  connect(previous, &QShortcut::activated, this, [this] { CyclePane(-1); });
}

void CMainFrame::Connect(int32_t id, void (CMainFrame::*handler)()) {
  connect(Action(id), &QAction::triggered, this, handler);
}

QAction* CMainFrame::Action(int32_t id) const {
  const auto it = actions_.find(id);
  return it != actions_.end() ? it->second : nullptr;
}

void CMainFrame::CreateMenus() {
  std::map<CommandMenu, QMenu*> menus;
  for (const CommandMenu menu : {CommandMenu::kFile, CommandMenu::kEdit, CommandMenu::kView, CommandMenu::kRules,
                                 CommandMenu::kMonitors, CommandMenu::kHelp}) {
    menus[menu] = menuBar()->addMenu(Text(MenuTitle(menu)));
    connect(menus[menu], &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
  }
  fileMenu_ = menus[CommandMenu::kFile];
  for (const FrameCommand& command : FrameCommands()) {
    if (command.menu == CommandMenu::kToolbarOnly) continue;
    QMenu* menu = menus[command.menu];
    if (command.separatorBefore && !menu->isEmpty()) menu->addSeparator();
    if (command.id == kCmdExit) {
      recentAnchor_ = menu->addSeparator();
      menu->addSeparator();
    }
    menu->addAction(Action(command.id));
  }
  connect(fileMenu_, &QMenu::aboutToShow, this, &CMainFrame::RebuildRecentFiles);
  RebuildRecentFiles();
}

void CMainFrame::RebuildRecentFiles() {
  for (QAction* action : recentActions_) delete action;
  recentActions_.clear();
  const std::vector<std::string>& files = recent_.Files();
  if (files.empty()) {
    auto* none = new QAction("Recent File", this);
    none->setEnabled(false);
    recentActions_.push_back(none);
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const QString path = QString::fromStdString(files[i]);
    auto* action = new QAction(QString("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()), this);
    action->setStatusTip("Open this document");
    action->setToolTip(path);
    connect(action, &QAction::triggered, this, [this, path] { OpenDocumentFile(path); });
    recentActions_.push_back(action);
  }
  for (QAction* action : recentActions_) fileMenu_->insertAction(recentAnchor_, action);
}

void CMainFrame::CreateToolBar() {
  toolBar_ = addToolBar("Toolbar");
  toolBar_->setObjectName("Toolbar");
  toolBar_->setIconSize(QSize(16, 16));
  toolBar_->setMovable(true);
  for (const int32_t id : ToolbarCommands()) {
    if (id == 0) {
      toolBar_->addSeparator();
    } else {
      toolBar_->addAction(Action(id));
    }
  }
}

void CMainFrame::CreateStatusBar() {
  // "Paused, N new": shown while the list does not follow, a click goes back to the newest.
  follow_ = new QPushButton;
  follow_->setObjectName("FollowText");
  follow_->setFlat(true);
  follow_->setCursor(Qt::PointingHandCursor);
  follow_->setToolTip("Go to the newest message and follow new ones (End)");
  follow_->hide();
  statusBar()->addPermanentWidget(follow_);
  count_ = new QLabel;
  listen_ = new QLabel;
  count_->setObjectName("CountText");
  listen_->setObjectName("ListenText");
  statusBar()->addPermanentWidget(count_);
  statusBar()->addPermanentWidget(listen_);
  locks_ = new CLockKeyIndicators(statusBar());
}

void CMainFrame::CreateTrayIcon() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  tray_ = new QSystemTrayIcon(ProgramIcon(), this);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context &&
        reason != QSystemTrayIcon::DoubleClick) {
      return;
    }
    if (isVisible() && !isMinimized()) {
      hide();
    } else {
      RestoreFromTray();
    }
  });
  tray_->show();
}

void CMainFrame::CreatePanes() {
  outer_ = new QSplitter(Qt::Vertical);
  upper_ = new QSplitter(Qt::Horizontal);
  right_ = new QSplitter(Qt::Vertical);
  tree_ = new CLeftView;
  list_ = new CQuorvelView(doc_, *this);
  text_ = new CLogTextView;
  text_->setMinimumHeight(ComputePaneSizes(0, 0).textHeight);
  graph_ = new StatusPanel;
  tree_->SetList(list_);
  tree_->SetCounts(&doc_.Store());
  graph_->SetList(list_);
  graph_->SetTextView(text_);
  // The quick filter sits right above the list it narrows.
  quick_ = new CQuickFilterField;
  auto* listPane = new QWidget;
  auto* listLayout = new QVBoxLayout(listPane);
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->setSpacing(2);
  listLayout->addWidget(quick_);
  listLayout->addWidget(list_);
  connect(quick_, &CQuickFilterField::filterChanged, list_, [this](const QString& text) {
    list_->SetQuickFilter(ToBytes(text));
  });
  connect(new QShortcut(QKeySequence("Ctrl+L"), this), &QShortcut::activated, quick_,
          &CQuickFilterField::FocusForTyping);
  right_->addWidget(listPane);
  right_->addWidget(text_);
  upper_->addWidget(tree_);
  upper_->addWidget(right_);
  outer_->addWidget(upper_);
  outer_->addWidget(graph_);
  for (QSplitter* splitter : {outer_, upper_, right_}) {
    splitter->setChildrenCollapsible(true);
    splitter->setOpaqueResize(true);
  }
  right_->setCollapsible(1, false);
  // The full-text pane keeps the height the user drags it to, across resizes and runs.
  connect(right_, &QSplitter::splitterMoved, this, [this] { textHeight_ = right_->sizes().value(1); });
  setCentralWidget(outer_);
  connect(list_, &CQuorvelView::findRequested, this, &CMainFrame::OnFindMessages);
  connect(list_, &CQuorvelView::followChanged, this, &CMainFrame::ShowFollowState);
  connect(follow_, &QPushButton::clicked, list_, [this] {
    list_->ResumeFollowing();
    list_->setFocus();
  });
  connect(graph_, &StatusPanel::findRequested, this, &CMainFrame::OnFindMessages);
  panesCreated_ = true;
  ApplyPaneSizes();
}

void CMainFrame::ApplyPaneSizes() {
  if (!panesCreated_ || isMinimized()) return;
  // The panes' own area: the menus, toolbar and status bar are not the panes' to share.
  const PaneSizes sizes =
      ComputePaneSizes(outer_->width(), outer_->height(), tree_->WidthForFixedEntries(), textHeight_);
  // The splitter bars take their room from the growing panes, so the fixed ones keep their size.
  outer_->setSizes({sizes.upperHeight - outer_->handleWidth(), sizes.graphHeight});
  upper_->setSizes({sizes.treeWidth, sizes.rightWidth - upper_->handleWidth()});
  right_->setSizes({sizes.listHeight - right_->handleWidth(), sizes.textHeight});
}

QWidget* CMainFrame::ToolBarWidget() const { return toolBar_; }
QWidget* CMainFrame::StatusBarWidget() const { return statusBar(); }

std::optional<int> CMainFrame::TextPaneHeight() const {
  return textHeight_ > 0 ? std::optional<int>(textHeight_) : std::nullopt;
}

void CMainFrame::RestoreTextPaneHeight(int height) {
  textHeight_ = height;
  ApplyPaneSizes();
}

// --- What the document and the list ask ---

void CMainFrame::SetListenText(const std::string& text) { listen_->setText(QString::fromStdString(text)); }

void CMainFrame::SetListenTip(const std::string& tip) { listen_->setToolTip(QString::fromStdString(tip)); }

void CMainFrame::RequestRefresh() { refresh_.Request(); }

void CMainFrame::UpdateAllViews() {
  refresh_.Cancel();
  list_->OnUpdate();
  graph_->update();
  UpdateCommandStates();
}

void CMainFrame::StartTimeMark() {
  const int32_t minutes = AppSettings().GetInt(kSettings, "timemark", 0);
  if (minutes <= 0) return;
  timeMark_.Start(std::chrono::minutes(minutes));
}

void CMainFrame::StopTimeMark() { timeMark_.Stop(); }

void CMainFrame::AddTimeMark() { doc_.OnLocalMessage(CQuorvelDoc::kTimeMark); }

void CMainFrame::SetHistoryLoadable(bool loadable) {
  historyLoadable_ = loadable;
  Action(kCmdLoadHistory)->setEnabled(loadable);
}

void CMainFrame::AddAddress(const std::string& address) { tree_->AddAddress(address); }
void CMainFrame::AddHostName(const std::string& hostName) { tree_->AddHostName(hostName); }
void CMainFrame::AddFacility(int32_t facility) { tree_->AddFacility(facility); }
void CMainFrame::ForgetEntries() { tree_->ForgetEntries(); }
std::optional<ShownPosition> CMainFrame::SelectedPosition() const { return list_->SelectedPosition(); }
void CMainFrame::ClearSelection() { list_->ClearSelection(); }
void CMainFrame::EnsureSelected(ShownPosition position) { list_->EnsureSelected(position); }

void CMainFrame::SetCountText(const QString& text) {
  count_->setText(text);
  if (tray_ != nullptr) tray_->setToolTip(text.left(kTrayTipLength));
}

QString CMainFrame::ProposedSavePath() const {
  if (!doc_.PathName().empty()) return QString::fromStdString(doc_.PathName());
  const QString name = QString::fromStdString(doc_.Title()) + ".txt";
  return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(name);
}

void CMainFrame::ShowTitle() {
  // The live list is the program itself; a document read from or saved to a file is that file.
  const std::string& path = doc_.PathName();
  setWindowTitle(path.empty() ? QString("Quorvel[*]") : QFileInfo(QString::fromStdString(path)).fileName() + "[*] - Quorvel");
}

void CMainFrame::ShowFollowState() {
  // While locked the count text says so, and the list follows nothing anyway.
  const std::string text = locked_ ? std::string() : list_->Following().StatusText();
  follow_->setText(QString::fromStdString(text));
  follow_->setVisible(!text.empty());
}

void CMainFrame::SelectionMoved() {
  graph_->update();
  if (find_ != nullptr) find_->ShowCurrent();
}

bool CMainFrame::IsListening() const { return doc_.GetListenPort() != 0 || doc_.IsListeningOnRelay(); }

bool CMainFrame::HidesWhenMinimised() const { return hideWhenMinimised_ && tray_ != nullptr && tray_->isVisible(); }

void CMainFrame::UpdateCommandStates() {
  const CSettingsStore& settings = AppSettings();
  Action(kCmdExport)->setEnabled(doc_.GetShownCount() > 0);
  Action(kCmdLoadHistory)->setEnabled(historyLoadable_ && !doc_.IsRemote());  // the history here is not the service's
  Action(kCmdToolbar)->setChecked(!toolBar_->isHidden());
  Action(kCmdStatusBar)->setChecked(!statusBar()->isHidden());
  Action(kCmdRulesEnabled)->setChecked(doc_.RulesEnabled());
  const bool firstOnly = doc_.RulesEngine().FirstRuleOnly();
  Action(kCmdFirstRuleOnly)->setChecked(firstOnly);
  Action(kCmdAllMatchingRules)->setChecked(!firstOnly);
  Action(kCmdEventLog)->setChecked(settings.GetInt(kSettings, "EventLog", 1) != 0);
  Action(kCmdFileMonitor)->setChecked(settings.GetInt(kSettings, "FileMonitor", 0) != 0);
  Action(kCmdPingMonitor)->setChecked(settings.GetInt(kSettings, "PingMonitor", 0) != 0);
  Action(kCmdPhoneCalls)->setChecked(settings.GetInt(kSettings, "TapiMonitor", 0) != 0);
  Action(kCmdSnmpTraps)->setChecked(settings.GetInt(kSettings, "SNMPTrapMonitor", CMonitorSet::kTrapMonitorDefault) != 0);
  Action(kCmdLock)->setChecked(locked_);
  Action(kCmdDisconnectServer)->setEnabled(doc_.IsRemote());
  const bool listening = IsListening();
  Action(kCmdStartListening)->setEnabled(!listening && !doc_.IsRemote());
  Action(kCmdStopListening)->setEnabled(listening);
  // Also before the service is installed: the command then says how to install it.
  Action(kCmdStartService)->setEnabled(!watch_->serviceRunning());
  Action(kCmdStopService)->setEnabled(watch_->serviceInstalled() && watch_->serviceRunning());
}

// --- Window events ---

void CMainFrame::resizeEvent(QResizeEvent* event) {
  ApplyPaneSizes();
  CPersistentFrame::resizeEvent(event);
}

void CMainFrame::changeEvent(QEvent* event) {
  CPersistentFrame::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized() && HidesWhenMinimised()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

void CMainFrame::RestoreFromTray() {
  ActivateFrame();
  showNormal();
  raise();
  activateWindow();
}

void CMainFrame::CyclePane(int step) {
  const std::array<QWidget*, 3> panes = {tree_, list_, text_};
  int current = 0;
  for (std::size_t i = 0; i < panes.size(); ++i) {
    if (panes[i]->hasFocus()) current = static_cast<int>(i);
  }
  const int count = static_cast<int>(panes.size());
  panes[static_cast<std::size_t>((current + step + count) % count)]->setFocus();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!SaveModified()) {
    event->ignore();
    return;
  }
  doc_.StopServer(true);
  if (tray_ != nullptr) tray_->hide();
  list_->SaveColumnSettings();
  SavePlacement();
  event->accept();
  QApplication::quit();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  OpenDroppedFiles(event->mimeData()->urls());
}

void CMainFrame::OpenDroppedFiles(const QList<QUrl>& urls) {
  std::vector<std::string> paths;
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  if (paths.empty() || !SaveModified()) return;
  doc_.OpenDroppedFiles(paths);
  list_->OnInitialUpdate();
  UpdateAllViews();
}

// --- Documents ---

bool CMainFrame::SaveModified() {
  if (!doc_.SaveModifiedQuestion()) return true;
  const QMessageBox::StandardButton answer =
      QMessageBox::question(this, "Quorvel", QString("Save changes to %1?").arg(QString::fromStdString(doc_.Title())),
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::No) return true;
  if (doc_.PathName().empty()) return SaveDocumentAs();
  return doc_.SaveDocument(doc_.PathName());
}

bool CMainFrame::OpenDocumentFile(const QString& path) {
  if (!SaveModified()) return false;
  if (!doc_.OpenDocument(path.toStdString())) {
    recent_.Remove(path.toStdString());
    QMessageBox::warning(this, "Quorvel", QString("Cannot open the file %1.").arg(path));
    return false;
  }
  recent_.Add(path.toStdString());
  list_->OnInitialUpdate();
  UpdateAllViews();
  return true;
}

bool CMainFrame::SaveDocumentAs() {
  const QString path = QFileDialog::getSaveFileName(this, "Save As", ProposedSavePath(),
                                                    "Quorvel Document (*.txt);;All Files (*)");
  if (path.isEmpty()) return false;
  if (!doc_.SaveDocument(path.toStdString())) {
    QMessageBox::warning(this, "Quorvel", QString("Cannot save the file %1.").arg(path));
    return false;
  }
  recent_.Add(path.toStdString());
  return true;
}

void CMainFrame::OnFileNew() {
  if (!SaveModified()) return;
  doc_.NewDocument();
  list_->OnInitialUpdate();
  UpdateAllViews();
}

void CMainFrame::OnFileOpen() {
  const QString path = QFileDialog::getOpenFileName(this, "Open", {}, "Quorvel Document (*.txt);;All Files (*)");
  if (!path.isEmpty()) OpenDocumentFile(path);
}

void CMainFrame::OnFileSave() {
  if (doc_.PathName().empty()) {
    SaveDocumentAs();
  } else if (!doc_.SaveDocument(doc_.PathName())) {
    QMessageBox::warning(this, "Quorvel", QString("Cannot save the file %1.").arg(QString::fromStdString(doc_.PathName())));
  }
}

void CMainFrame::OnFileSaveAs() { SaveDocumentAs(); }

void CMainFrame::OnImport() {
  const QStringList paths = QFileDialog::getOpenFileNames(this, "Import", {}, NameFilterText(FileKind::kTextLog));
  for (const QString& path : paths) doc_.ImportFile(path.toStdString());
  if (!paths.isEmpty()) UpdateAllViews();
}

// The file type chosen in the dialog decides the format; RFC 3164 lines are the default.
void CMainFrame::OnExport() {
  QStringList filters;
  for (const ExportFileType& type : kExportFileTypes) filters << QString::fromLatin1(type.filter);
  QString chosenFilter = filters.front();
  const QString chosen = QFileDialog::getSaveFileName(this, "Export", {}, filters.join(";;"), &chosenFilter);
  if (chosen.isEmpty()) return;
  const ExportFileType& type = ExportFileTypeOf(chosenFilter.toStdString());
  const std::string path = WithExportSuffix(chosen.toStdString(), type);
  if (!doc_.ExportFile(path, type.format)) {
    QMessageBox::warning(this, "Quorvel", QString("Cannot write the file %1.").arg(QString::fromStdString(path)));
  }
}

void CMainFrame::OnLoadHistory() {
  doc_.LoadHistory();
  UpdateAllViews();
}

// Both history files go for good: ask first, with No as the answer Enter gives.
void CMainFrame::OnClearHistory() {
  QMessageBox question(QMessageBox::Warning, "Clear History",
                       "Delete every message in the history files? This cannot be undone.",
                       QMessageBox::Yes | QMessageBox::No, this);
  question.setDefaultButton(QMessageBox::No);
  if (question.exec() == QMessageBox::Yes) doc_.ClearHistory();
}

void CMainFrame::OnCopy() { list_->CopySelection(); }
void CMainFrame::OnSelectAll() { list_->SelectAll(); }

void CMainFrame::OnToggleToolbar() { toolBar_->setVisible(toolBar_->isHidden()); }
void CMainFrame::OnToggleStatusBar() { statusBar()->setVisible(statusBar()->isHidden()); }

void CMainFrame::OnViewOptions() {
  if (list_->EditViewOptions()) ApplyFontSize();
}

void CMainFrame::ApplyFontSize() {
  const int points = FontSizeSetting();
  for (QWidget* pane : std::initializer_list<QWidget*>{tree_, list_, text_}) qv::ApplyFontSize(*pane, points);
}

void CMainFrame::OnFindMessages() {
  OnFind();
  find_->StartFromSelected();
}

void CMainFrame::OnFind() {
  if (find_ == nullptr) {
    find_ = new CFindDialog(*list_, this);
    find_->SetRowLocator([this] { return list_->SelectedRowRect(); });
  }
  find_->ShowCurrent();
  find_->show();
  find_->raise();
  find_->activateWindow();
}

void CMainFrame::OnCustomFilters() {
  CCustomFilterDialog dialog(this);
  if (dialog.exec() == QDialog::Accepted) tree_->RebuildCustomFilters();
}

void CMainFrame::OnHighlighting() {
  CHighlightDialog dialog(this);
  if (dialog.exec() == QDialog::Accepted) list_->ReloadHighlights();
}

// --- Settings dialogs ---

void CMainFrame::OnPreferences() {
  CPreferencesDialog dialog(DefaultPrompts(), this);
  const bool accepted = dialog.exec() == QDialog::Accepted;
  // Colours are stored the moment they are chosen, so a cancelled dialog may have changed them too.
  if (dialog.coloursChanged()) {
    list_->Model().ReloadColours();
    tree_->ReloadColours();
  }
  if (accepted) {
    const PreferencesFields& fields = dialog.fields();
    hideWhenMinimised_ = fields.startHidden;
    doc_.SetResolveNames(fields.resolve);
    doc_.SetHistoryLimitKB(static_cast<int32_t>(std::strtol(fields.historysize.c_str(), nullptr, 10)));
    Waiting([this] { commands_.ApplySettings(); });
  }
  if (accepted || dialog.coloursChanged()) UpdateAllViews();
}

void CMainFrame::OnEditRules() {
  CRuleEditorDialog dialog(DefaultPrompts(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  doc_.ReloadRules();
  Waiting([this] { commands_.RestartService(); });
  UpdateCommandStates();
}

void CMainFrame::OnEmailSettings() {
  CEmailSettingsDialog dialog(DefaultPrompts(), this);
  if (dialog.exec() == QDialog::Accepted) Waiting([this] { commands_.RestartService(); });
}

void CMainFrame::OnDatabaseSettings() {
  CDatabaseSettingsDialog dialog(DefaultPrompts(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  // The connection is opened when the rules are loaded.
  doc_.ReloadRules();
  Waiting([this] { commands_.RestartService(); });
}

void CMainFrame::OnEditFileList() {
  CFileListDialog dialog(DefaultPrompts(), this);
  if (dialog.exec() == QDialog::Accepted && AppSettings().GetInt(kSettings, "FileMonitor", 0) != 0) {
    Waiting([this] { commands_.ApplySettings(); });
  }
}

void CMainFrame::OnEditPingList() {
  CPingListDialog dialog(DefaultPrompts(), this);
  if (dialog.exec() == QDialog::Accepted && AppSettings().GetInt(kSettings, "PingMonitor", 0) != 0) {
    Waiting([this] { commands_.ApplySettings(); });
  }
}

void CMainFrame::OnImportSettings() {
  const QString path = ChooseSettingsFile(this, false);
  if (path.isEmpty()) return;
  if (!ImportSettings(path.toStdString()).completed) {
    QMessageBox::warning(this, "Quorvel", QString("Cannot read the settings file %1.").arg(path));
    return;
  }
  doc_.ReloadRules();
  tree_->RebuildCustomFilters();
  list_->ReloadHighlights();
  Waiting([this] { commands_.ApplySettings(); });
  UpdateAllViews();
}

void CMainFrame::OnExportSettings() {
  const QString path = ChooseSettingsFile(this, true);
  if (path.isEmpty()) return;
  const QPalette colours = palette();
  auto stored = [](const QColor& colour) {
    return static_cast<uint32_t>(colour.red() | (colour.green() << 8) | (colour.blue() << 16));
  };
  const HighlightColourDefaults defaults{stored(colours.color(QPalette::Text)), stored(colours.color(QPalette::Base))};
  if (!ExportSettings(path.toStdString(), defaults)) {
    QMessageBox::warning(this, "Quorvel", QString("Cannot write the settings file %1.").arg(path));
  }
}

// --- Rules and monitors ---

void CMainFrame::OnRulesEnabled() {
  doc_.SetRulesEnabled(!doc_.RulesEnabled());
  AppSettings().SetInt(kSettings, "RulesEnabled", doc_.RulesEnabled() ? 1 : 0);
  Waiting([this] { commands_.RestartService(); });
  UpdateCommandStates();
}

void CMainFrame::OnFirstRuleOnly() {
  doc_.RulesEngine().SetFirstRuleOnly(true);
  AppSettings().SetInt(kSettings, "FirstRuleOnly", 1);
  Waiting([this] { commands_.RestartService(); });
  UpdateCommandStates();
}

void CMainFrame::OnAllMatchingRules() {
  doc_.RulesEngine().SetFirstRuleOnly(false);
  AppSettings().SetInt(kSettings, "FirstRuleOnly", 0);
  Waiting([this] { commands_.RestartService(); });
  UpdateCommandStates();
}

void CMainFrame::ToggleMonitor(const char* key, int32_t absentValue) {
  AppSettings().SetInt(kSettings, key, AppSettings().GetInt(kSettings, key, absentValue) != 0 ? 0 : 1);
  Waiting([this] { commands_.ApplySettings(); });
  UpdateCommandStates();
}

void CMainFrame::OnEventLog() { ToggleMonitor("EventLog", 1); }
void CMainFrame::OnFileMonitor() { ToggleMonitor("FileMonitor", 0); }
void CMainFrame::OnPingMonitor() { ToggleMonitor("PingMonitor", 0); }
void CMainFrame::OnPhoneCalls() { ToggleMonitor("TapiMonitor", 0); }
void CMainFrame::OnSnmpTraps() { ToggleMonitor("SNMPTrapMonitor", CMonitorSet::kTrapMonitorDefault); }

void CMainFrame::OnHelpTopics() {
  CHelpTopicsDlg topics(this);
  topics.exec();
}

void CMainFrame::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

// --- Listening and the service ---

void CMainFrame::OnLock() {
  locked_ = !locked_;
  UpdateAllViews();
  ShowFollowState();
}

void CMainFrame::OnStartListening() {
  doc_.StartServer(UdpPort());
  UpdateCommandStates();
}

void CMainFrame::OnStopListening() {
  doc_.StopServer(true);
  UpdateCommandStates();
}

void CMainFrame::OnStartService() {
  Waiting([this] { commands_.StartService(); });
  watch_->Poll();
  UpdateCommandStates();
}

void CMainFrame::OnStopService() {
  Waiting([this] { commands_.StopService(); });
  watch_->Poll();
  UpdateCommandStates();
}

}  // namespace qv
