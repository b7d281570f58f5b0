#include "ui/store/list_columns.h"

#include <cstdio>

#include "core/settings/settings_store.h"
#include "ui/store/text_fields.h"

namespace qv {
namespace {

constexpr const char* kSection = "Settings";
constexpr std::size_t kOrderFieldStride = 5;  // "%04d" and a blank

}  // namespace

// The sort keys follow the columns: time received 4, address 0, facility 1, severity 6,
// message 3, host name 2, time sent 5.
const std::array<ListColumn, kListColumns> kListColumnTable = {{
    {"Time Received", "showrecv", "recvwidth", 100, 4},
    {"IP Address", "showip", "ipwidth", kColumnWidthFitHeader, 0},
    {"Facility", "showfacilty", "facilitywidth", 60, 1},
    {"Severity", "showseverity", "severitywidth", 100, 6},
    {"Message", "showmsg", "msgwidth", 400, 3},
    {"Hostname", "showhost", "hostwidth", kColumnWidthFitHeader, 2},
    {"Time Sent", "showsent", "sentwidth", 100, 5},
}};

std::optional<ColumnOrder> ParseColumnOrder(std::string_view text) {
  if (text.size() < (kListColumns - 1) * kOrderFieldStride + 1) return std::nullopt;
  ColumnOrder order{};
  std::array<bool, kListColumns> seen{};
  for (int i = 0; i < kListColumns; ++i) {
    const int subItem = NumberAtOffset(text, static_cast<std::size_t>(i) * kOrderFieldStride);
    if (subItem < 0 || subItem >= kListColumns || seen[static_cast<std::size_t>(subItem)]) return std::nullopt;
    seen[static_cast<std::size_t>(subItem)] = true;
    order[static_cast<std::size_t>(i)] = subItem;
  }
  return order;
}

std::string FormatColumnOrder(const ColumnOrder& order) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d %04d %04d %04d %04d %04d %04d", order[0], order[1], order[2], order[3],
                order[4], order[5], order[6]);
  return text;
}

std::optional<ColumnOrder> LoadColumnOrder() {
  return ParseColumnOrder(AppSettings().GetString(kSection, "columnorder"));
}

void SaveColumnOrder(const ColumnOrder& order) {
  AppSettings().SetString(kSection, "columnorder", FormatColumnOrder(order).c_str());
}

bool ColumnShown(int subItem) {
  return AppSettings().GetInt(kSection, kListColumnTable.at(static_cast<std::size_t>(subItem)).showKey, 1) != 0;
}

int32_t ColumnWidthSetting(int subItem) {
  const ListColumn& column = kListColumnTable.at(static_cast<std::size_t>(subItem));
  return AppSettings().GetInt(kSection, column.widthKey, column.widthDefault);
}

int32_t InitialColumnWidth(int subItem) { return ColumnShown(subItem) ? ColumnWidthSetting(subItem) : 0; }

void SaveColumnWidths(const std::array<int32_t, kListColumns>& widths) {
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (widths[i] != 0) AppSettings().SetInt(kSection, kListColumnTable[i].widthKey, widths[i]);
  }
}

void SaveColumnsShown(const std::array<bool, kListColumns>& shown) {
  for (std::size_t i = 0; i < shown.size(); ++i) AppSettings().SetInt(kSection, kListColumnTable[i].showKey, shown[i] ? 1 : 0);
}

std::string CountText(int count, bool filterActive, bool locked) {
  std::string text = std::to_string(count);
  text += count == 1 ? " Entry" : " Entries";
  if (filterActive) text += " (Filter active)";
  if (locked) text += " (locked)";
  return text;
}

RowAction DoubleClickAction() {
  switch (AppSettings().GetInt(kSection, "dblclick", 2)) {
    case 1: return RowAction::kTelnet;
    case 2: return RowAction::kFind;
    default: return RowAction::kBrowser;
  }
}

std::string ConnectionUrl(bool telnet, std::string_view address) {
  std::string url = telnet ? "telnet://" : "http://";
  url += address;
  return url;
}

}  // namespace qv
