#include "ui/frame/frame_commands.h"

#include <algorithm>
#include <array>

namespace qv {
namespace {

using M = CommandMenu;

constexpr std::array kCommands = {
    FrameCommand{kCmdNew, M::kFile, "&New", "Create a new document", "Ctrl+N", false},
    FrameCommand{kCmdOpen, M::kFile, "&Open...", "Open an existing document", "Ctrl+O", false},
    FrameCommand{kCmdSave, M::kFile, "&Save", "Save the active document", "Ctrl+S", false},
    FrameCommand{kCmdSaveAs, M::kFile, "Save &As...", "Save the active document with a new name", "", false},
    FrameCommand{kCmdImport, M::kFile, "&Import...", "Import records in RFC 3164 format", "", true},
    FrameCommand{kCmdExport, M::kFile, "&Export...", "Export records in RFC 3164 format, or as RFC 5424, JSON or CSV", "", false},
    FrameCommand{kCmdLoadHistory, M::kFile, "&Load History", "Load the most recent messages", "", true},
    FrameCommand{kCmdClearHistory, M::kFile, "Clear &History", "Clear the History", "", false},
    FrameCommand{kCmdImportSettings, M::kFile, "Import Se&ttings...", "Load rules, filters, and highlighting", "", true},
    FrameCommand{kCmdExportSettings, M::kFile, "Export Settings...", "Save rules, filters, and highlighting", "", false},
    FrameCommand{kCmdConnectServer, M::kFile, "&Connect to Server...", "Show the messages of a remote service", "",
                 true},
    FrameCommand{kCmdDisconnectServer, M::kFile, "&Disconnect", "Leave the remote service and listen here again", "",
                 false},
    FrameCommand{kCmdExit, M::kFile, "E&xit", "Quit the application; prompts to save documents", "", true},
    FrameCommand{kCmdCopy, M::kEdit, "&Copy", "Copy the selection and put it on the Clipboard", "Ctrl+C", false},
    FrameCommand{kCmdSelectAll, M::kEdit, "Select A&ll", "Select All", "Ctrl+A", false},
    FrameCommand{kCmdFind, M::kEdit, "&Find...", "Find messages", "Ctrl+F", true},
    FrameCommand{kCmdPreferences, M::kEdit, "Prefere&nces...", "Edit preferences", "", true},
    FrameCommand{kCmdToolbar, M::kView, "&Toolbar", "Show or hide the toolbar", "", false},
    FrameCommand{kCmdStatusBar, M::kView, "&Status Bar", "Show or hide the status bar", "", false},
    FrameCommand{kCmdViewOptions, M::kView, "&Options...", "Set options for display", "", true},
    FrameCommand{kCmdCustomFilters, M::kView, "Edit &Custom Filters...", "", "", false},
    FrameCommand{kCmdHighlighting, M::kView, "Edit &Highlighting...", "Edit the list of strings to highlight", "", false},
    FrameCommand{kCmdRulesEnabled, M::kRules, "&Rules Enabled", "Activate/Deactivate Rules", "", false},
    FrameCommand{kCmdEditRules, M::kRules, "&Edit Rules...", "Edit the rules", "", false},
    FrameCommand{kCmdFirstRuleOnly, M::kRules, "&First Rule Only", "Only Execute the first matching rule", "", true},
    FrameCommand{kCmdAllMatchingRules, M::kRules, "All &Matching Rules", "Execute all matcing rules", "", false},
    FrameCommand{kCmdEmailSettings, M::kRules, "Email &Settings...", "Set Email server etc.", "", true},
    FrameCommand{kCmdDatabaseSettings, M::kRules, "&Database Settings...", "Set Database", "", false},
    FrameCommand{kCmdEventLog, M::kMonitors, "Event &Log", "Translate Event Log Messages to Syslog", "", false},
    FrameCommand{kCmdFileMonitor, M::kMonitors, "&Files/Folders", "Log changes to files and folders", "", true},
    FrameCommand{kCmdEditFileList, M::kMonitors, "&Edit File/Folder List...", "Edit list of Files/Folders to Monitor", "",
                 false},
    FrameCommand{kCmdPingMonitor, M::kMonitors, "&Ping Network Devices", "Ping Other Networked Devices", "", true},
    FrameCommand{kCmdEditPingList, M::kMonitors, "Edit P&ing List...", "Edit the List of Network Devices to be Monitored",
                 "", false},
    FrameCommand{kCmdPhoneCalls, M::kMonitors, "Phone &Calls", "Log phone calls", "", true},
    FrameCommand{kCmdSnmpTraps, M::kMonitors, "&SNMP Traps", "Listen for SNMP Traps", "", false},
    FrameCommand{kCmdHelpTopics, M::kHelp, "&Help Topics", "List Help topics", "F1", false},
    FrameCommand{kCmdAbout, M::kHelp, "&About Quorvel...", "Display program information, version number and copyright",
                 "", true},
    FrameCommand{kCmdLock, M::kToolbarOnly, "Lock/Unlock", "Lock/Unlock the display", "", false},
    FrameCommand{kCmdStartListening, M::kToolbarOnly, "Start User Interface Listening", "Start User Interface Listening",
                 "", false},
    FrameCommand{kCmdStopListening, M::kToolbarOnly, "Stop User Interface Listening", "Stop User Interface Listening", "",
                 false},
    FrameCommand{kCmdStartService, M::kToolbarOnly, "Start Background Service", "Start Background Service", "", false},
    FrameCommand{kCmdStopService, M::kToolbarOnly, "Stop Background Service", "Stop Background Service", "", false},
};

constexpr std::array kContextCommands = {
    FrameCommand{kCmdTelnet, M::kToolbarOnly, "Telnet", "", "", false},
    FrameCommand{kCmdBrowser, M::kToolbarOnly, "Browser", "", "", false},
    FrameCommand{kCmdFindMessages, M::kToolbarOnly, "Find Messages", "", "", false},
    FrameCommand{kCmdToggleHighlight, M::kToolbarOnly, "Toggle Highlight", "", "", false},
    FrameCommand{kCmdSendToRules, M::kToolbarOnly, "Send to rules", "", "", false},
};

constexpr std::array<int32_t, 14> kToolbar = {kCmdNew,  kCmdOpen,  kCmdSave,           0,
                                              kCmdFind, kCmdCopy,  0,                  kCmdLock,
                                              0,        kCmdAbout, kCmdStartListening, kCmdStopListening,
                                              kCmdStartService, kCmdStopService};

}  // namespace

std::span<const FrameCommand> FrameCommands() { return kCommands; }

std::span<const FrameCommand> ListContextCommands() { return kContextCommands; }

const FrameCommand* FindFrameCommand(int32_t id) {
  for (const std::span<const FrameCommand> table : {FrameCommands(), ListContextCommands()}) {
    const auto it = std::find_if(table.begin(), table.end(), [id](const FrameCommand& c) { return c.id == id; });
    if (it != table.end()) return &*it;
  }
  return nullptr;
}

std::span<const int32_t> ToolbarCommands() { return kToolbar; }

std::string_view MenuTitle(CommandMenu menu) {
  switch (menu) {
    case M::kFile: return "&File";
    case M::kEdit: return "&Edit";
    case M::kView: return "&View";
    case M::kRules: return "&Rules";
    case M::kMonitors: return "&Monitors";
    case M::kHelp: return "&Help";
    case M::kToolbarOnly: break;
  }
  return {};
}

}  // namespace qv
