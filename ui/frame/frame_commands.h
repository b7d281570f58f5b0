#pragma once
// The main frame's command table: every menu and toolbar command with its caption, its
// status-bar prompt and its keyboard shortcut, in menu order. The frame builds its menus and
// toolbar from it, so the texts live in one place.

#include <cstdint>
#include <span>
#include <string_view>

namespace qv {

enum class CommandMenu { kFile, kEdit, kView, kRules, kMonitors, kHelp, kToolbarOnly };

// Command ids, as the program has always numbered them.
enum CommandId : int32_t {
  kCmdNew = 57600,
  kCmdOpen = 57601,
  kCmdSave = 57603,
  kCmdSaveAs = 57604,
  kCmdImport = 32800,
  kCmdExport = 32801,
  kCmdLoadHistory = 32808,
  kCmdClearHistory = 32812,
  kCmdImportSettings = 32824,
  kCmdExportSettings = 32823,
  kCmdConnectServer = 32830,
  kCmdDisconnectServer = 32831,
  kCmdRecentFile = 57616,
  kCmdExit = 57665,
  kCmdCopy = 57634,
  kCmdSelectAll = 32794,
  kCmdFind = 32803,
  kCmdPreferences = 32774,
  kCmdToolbar = 59392,
  kCmdStatusBar = 59393,
  kCmdViewOptions = 32802,
  kCmdCustomFilters = 32811,
  kCmdHighlighting = 32820,
  kCmdRulesEnabled = 32775,
  kCmdEditRules = 32776,
  kCmdFirstRuleOnly = 32778,
  kCmdAllMatchingRules = 32779,
  kCmdEmailSettings = 32777,
  kCmdDatabaseSettings = 32813,
  kCmdEventLog = 32815,
  kCmdFileMonitor = 32816,
  kCmdEditFileList = 32817,
  kCmdPingMonitor = 32818,
  kCmdEditPingList = 32819,
  kCmdPhoneCalls = 32821,
  kCmdSnmpTraps = 32822,
  kCmdHelpTopics = 57667,
  kCmdAbout = 57664,
  kCmdLock = 32799,
  kCmdStartListening = 32771,
  kCmdStopListening = 32773,
  kCmdStartService = 32805,
  kCmdStopService = 32807,
  // The list view's context menu.
  kCmdTelnet = 32792,
  kCmdBrowser = 32793,
  kCmdFindMessages = 32796,
  kCmdToggleHighlight = 32797,
  kCmdSendToRules = 32814,
};

struct FrameCommand {
  int32_t id;
  CommandMenu menu;
  std::string_view caption;   // menu text with its '&' mnemonic; the toolbar's tool tip otherwise
  std::string_view prompt;    // status-bar text; may be empty
  std::string_view shortcut;  // QKeySequence text; may be empty
  bool separatorBefore;       // in its menu
};

// The commands of the menus and the toolbar, in menu order (the recent-file entries excepted).
std::span<const FrameCommand> FrameCommands();
// The command with `id`, or null.
const FrameCommand* FindFrameCommand(int32_t id);
// The commands of the list view's context menu, in order.
std::span<const FrameCommand> ListContextCommands();

// The toolbar, left to right; 0 is a separator.
std::span<const int32_t> ToolbarCommands();

// The menu bar's titles, in order.
std::string_view MenuTitle(CommandMenu menu);

}  // namespace qv
