#pragma once
// The main window: four panes in three splitters (filter tree | message list over full text,
// activity graph underneath: CLeftView, CQuorvelView, CLogTextView, StatusPanel), the menus and toolbar of the command table, the status bar with the
// count and listening texts and the lock keys, the tray icon, and the timers that refresh the views, hide a
// minimised window and add the time mark. It is the frame the document talks to (CDocFrame) and
// the host of the list view; the logic of the commands lives in the document and in
// CServiceCommands, the frame only wires them to the window.
//
// "hideifmini" hides a minimised window only where the desktop has a tray to bring it back from;
// without a tray the window stays reachable on the task bar.
//
// User-interface thread only. The document must outlive the frame.

#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <map>
#include <memory>

#include "core/timer/long_timer.h"
#include "ui/app/persistent_frame.h"
#include "ui/app/quorvel_view.h"
#include "ui/app/remote_commands.h"
#include "ui/store/doc_frame.h"
#include "ui/store/refresh_coalescer.h"
#include "ui/store/service_commands.h"
#include "ui/store/start_up.h"

class QAction;
class QMenu;
class QSplitter;
class QToolBar;

namespace qv {

class StatusPanel;
class CLeftView;
class CFindDialog;
class CQuickFilterField;
class CLogTextView;
class CLockKeyIndicators;
class CQuorvelDoc;

class CMainFrame : public CPersistentFrame, public CDocFrame, public CListViewHost {
  Q_OBJECT

 public:
  explicit CMainFrame(CQuorvelDoc& doc, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // --- CDocFrame ---
  void SetListenText(const std::string& text) override;
  void SetListenTip(const std::string& tip) override;
  void RequestRefresh() override;
  void UpdateAllViews() override;
  void StartTimeMark() override;
  void StopTimeMark() override;
  void SetHistoryLoadable(bool loadable) override;
  void AddAddress(const std::string& address) override;
  void AddHostName(const std::string& hostName) override;
  void AddFacility(int32_t facility) override;
  void ForgetEntries() override;
  std::optional<ShownPosition> SelectedPosition() const override;
  void ClearSelection() override;
  void EnsureSelected(ShownPosition position) override;

  // --- CListViewHost ---
  bool IsLocked() const override { return locked_; }
  void SetCountText(const QString& text) override;
  void SelectionMoved() override;

  // File > Connect to Server and Disconnect; also for the command line's --connect.
  CRemoteCommands& RemoteCommands() { return *remote_; }

  // Opens a document file as File Open does (asking to save first when that is due). False when
  // it could not be opened; the user has been told.
  bool OpenDocumentFile(const QString& path);

  // What Save As proposes: the document's own file, or for the live list a name made of the time
  // it was started in the user's documents folder.
  QString ProposedSavePath() const;

  // The command of the table with `id` (menus, toolbar and shortcuts share it).
  QAction* Action(int32_t id) const;
  // Brings every command's enabled and checked state up to date.
  void UpdateCommandStates();

  CQuorvelView* MessageList() const { return list_; }
  CLeftView* FilterTree() const { return tree_; }
  CLogTextView* FullText() const { return text_; }
  StatusPanel* ActivityGraph() const { return graph_; }
  // The search field above the list (Ctrl+L).
  CQuickFilterField* QuickFilter() const { return quick_; }
  // The modeless Find dialog, made at its first use; null before.
  CFindDialog* FindDialog() const { return find_; }
  QSplitter* OuterSplitter() const { return outer_; }
  QSplitter* UpperSplitter() const { return upper_; }
  QSplitter* RightSplitter() const { return right_; }
  QString CountText() const { return count_->text(); }
  // "Paused, N new" while the list does not follow; empty (and hidden) while it does.
  QString FollowText() const { return follow_->isHidden() ? QString() : follow_->text(); }
  QPushButton* FollowButton() const { return follow_; }
  QString ListenText() const { return listen_->text(); }
  QString ListenTip() const { return listen_->toolTip(); }
  CLockKeyIndicators* LockKeys() const { return locks_; }
  bool TimeMarkRunning() const { return timeMark_.IsActive(); }
  std::chrono::milliseconds TimeMarkPeriod() const { return timeMark_.Period(); }
  QSystemTrayIcon* TrayIcon() const { return tray_; }
  // Whether minimising may hide the window: "hideifmini" and a tray to come back from.
  bool HidesWhenMinimised() const;
  void SetHideWhenMinimised(bool hide) { hideWhenMinimised_ = hide; }

  // Files dropped on the window: the first replaces the store, the others are added to it.
  void OpenDroppedFiles(const QList<QUrl>& urls);

  // The time mark: what the "timemark" timer adds.
  void AddTimeMark();
  // Shows the window again from the tray: restored, shown and in front.
  void RestoreFromTray();

 protected:
  QWidget* ToolBarWidget() const override;
  QWidget* StatusBarWidget() const override;
  std::optional<int> TextPaneHeight() const override;
  void RestoreTextPaneHeight(int height) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void CreatePanes();
  // Gives the list, tree and full-text panes the font size of "fontsize".
  void ApplyFontSize();
  void CreateTrayIcon();
  void Connect(int32_t id, void (CMainFrame::*handler)());
  void ApplyPaneSizes();
  void RebuildRecentFiles();
  void CyclePane(int step);
  void ShowFollowState();
  void ShowTitle();

  // Asks to save the document when that is due. False when the user cancelled.
  bool SaveModified();
  bool SaveDocumentAs();
  bool IsListening() const;

  void OnFileNew();
  void OnFileOpen();
  void OnFileSave();
  void OnFileSaveAs();
  void OnImport();
  void OnExport();
  void OnLoadHistory();
  void OnClearHistory();
  void OnCopy();
  void OnSelectAll();
  void OnToggleToolbar();
  void OnToggleStatusBar();
  void OnViewOptions();
  void OnFind();
  // "Find Messages" on a row (the list's context menu or double-click, the graph's double-click).
  void OnFindMessages();
  void OnCustomFilters();
  void OnHighlighting();
  void OnPreferences();
  void OnEditRules();
  void OnEmailSettings();
  void OnDatabaseSettings();
  void OnEditFileList();
  void OnEditPingList();
  void OnImportSettings();
  void OnExportSettings();
  void OnRulesEnabled();
  void OnFirstRuleOnly();
  void OnAllMatchingRules();
  void OnEventLog();
  void OnFileMonitor();
  void OnPingMonitor();
  void OnPhoneCalls();
  void OnSnmpTraps();
  void OnHelpTopics();
  void OnAbout();
  void OnLock();
  void OnStartListening();
  void OnStopListening();
  void OnStartService();
  void OnStopService();
  void ToggleMonitor(const char* key, int32_t absentValue);

  CQuorvelDoc& doc_;
  CServiceCommands commands_;
  CServiceWatch* watch_;
  CRemoteCommands* remote_;  // a child: Connect to Server, Disconnect
  CRefreshCoalescer refresh_;
  QTimer hideTimer_;
  CLongTimer timeMark_;
  CRecentFiles recent_;

  bool panesCreated_ = false;
  int textHeight_ = 0;  // the full-text pane's height as the user dragged it; 0 for the default
  bool locked_ = false;
  bool historyLoadable_ = true;
  bool hideWhenMinimised_ = false;

  std::map<int32_t, QAction*> actions_;
  QMenu* fileMenu_ = nullptr;
  QAction* recentAnchor_ = nullptr;  // the recent files are inserted before it
  std::vector<QAction*> recentActions_;
  QToolBar* toolBar_ = nullptr;
  QPushButton* follow_ = nullptr;
  QLabel* count_ = nullptr;
  QLabel* listen_ = nullptr;
  CLockKeyIndicators* locks_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;

  QSplitter* outer_ = nullptr;
  QSplitter* upper_ = nullptr;
  QSplitter* right_ = nullptr;
  CLeftView* tree_ = nullptr;
  CQuorvelView* list_ = nullptr;
  CLogTextView* text_ = nullptr;
  StatusPanel* graph_ = nullptr;
  CQuickFilterField* quick_ = nullptr;
  CFindDialog* find_ = nullptr;
};

}  // namespace qv
