#pragma once
// The message list's columns, their settings, the "columnorder" text, the count text and what
// a double-click does: the parts of the list view that need no window.
//
// A column is named by its sub-item number 0..6 (the order the columns are made in), whatever
// order the user drags them into. Settings live in section "Settings" and are read at each call.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

inline constexpr int kListColumns = 7;
// A width that asks the view to size the column to its header.
inline constexpr int32_t kColumnWidthFitHeader = -2;

struct ListColumn {
  const char* title;       // header text
  const char* showKey;     // show setting
  const char* widthKey;    // width setting
  int32_t widthDefault;
  int sortKey;             // CQuorvelDoc::SortBy key of a header click
};

// Sub-items 0..6: "Time Received", "IP Address", "Facility", "Severity", "Message", "Hostname",
// "Time Sent". Every column is shown by default.
extern const std::array<ListColumn, kListColumns> kListColumnTable;

using ColumnOrder = std::array<int, kListColumns>;

// The order without a stored one: the sender's host name right after its address, and the
// "Message" column last, where it can take the rest of the window's width.
inline constexpr ColumnOrder kDefaultColumnOrder = {0, 1, 5, 2, 3, 6, 4};

// "columnorder": the sub-item at each position, "%04d" separated by single blanks. Parsing
// takes the numbers at offsets 0, 5, .. 30 and answers nothing unless they are the sub-items
// 0..6, each once (a damaged value must not hide or double a column).
std::optional<ColumnOrder> ParseColumnOrder(std::string_view text);
std::string FormatColumnOrder(const ColumnOrder& order);
// The stored order, or nothing when it is empty or unusable.
std::optional<ColumnOrder> LoadColumnOrder();
void SaveColumnOrder(const ColumnOrder& order);

// Whether a column is shown, its stored width (kColumnWidthFitHeader: fit the header), and the
// width it starts with: the stored one when shown, else 0 (a hidden column has width 0).
bool ColumnShown(int subItem);
int32_t ColumnWidthSetting(int subItem);
int32_t InitialColumnWidth(int subItem);
// On closing: the width of every column whose width is not 0; hidden columns keep theirs.
void SaveColumnWidths(const std::array<int32_t, kListColumns>& widths);
// View Options OK: the seven show settings.
void SaveColumnsShown(const std::array<bool, kListColumns>& shown);

// "%d %s%s%s": count, "Entry" or "Entries", " (Filter active)", " (locked)".
std::string CountText(int count, bool filterActive, bool locked);

// What a double-click or Enter on a row does, by "dblclick" (default 2): 0 Browser, 1 Telnet,
// 2 Find Messages, any other value Browser.
enum class RowAction { kBrowser, kTelnet, kFind };
RowAction DoubleClickAction();
// "telnet://" or "http://" followed by the sender's address.
std::string ConnectionUrl(bool telnet, std::string_view address);

}  // namespace qv
