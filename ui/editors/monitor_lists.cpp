#include "ui/editors/monitor_lists.h"

#include <algorithm>
#include <cctype>

#include "core/settings/settings_store.h"

namespace qv {
namespace {

std::string Numbered(const char* prefix, std::size_t n) { return prefix + std::to_string(n); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

template <typename T>
void RemovePositions(std::vector<T>& items, std::vector<int> positions) {
  std::sort(positions.begin(), positions.end(), std::greater<>());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  for (int p : positions) {
    if (p >= 0 && static_cast<std::size_t>(p) < items.size()) items.erase(items.begin() + p);
  }
}

}  // namespace

void CFileListEditor::Load() {
  const CSettingsStore& store = AppSettings();
  rows_.clear();
  const int32_t count = store.GetInt("Settings", "filecount", 0);
  for (int32_t i = 0; i < count; ++i) {
    const std::string path = store.GetString("Files", Numbered("file", static_cast<std::size_t>(i)));
    if (!path.empty()) rows_.push_back({path, store.GetInt("Files", Numbered("filelog", static_cast<std::size_t>(i)), 0) != 0});
  }
}

void CFileListEditor::Add(const std::string& path, bool log) {
  if (path.empty()) return;
  std::erase_if(rows_, [&](const WatchedFile& row) { return row.path == path; });
  rows_.insert(rows_.begin(), WatchedFile{path, log});
}

void CFileListEditor::Remove(std::vector<int> positions) { RemovePositions(rows_, std::move(positions)); }

void CFileListEditor::Save() const {
  const CSettingsStore& store = AppSettings();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    store.SetString("Files", Numbered("file", i).c_str(), rows_[i].path.c_str());
    store.SetInt("Files", Numbered("filelog", i), rows_[i].log ? 1 : 0);
  }
  store.SetInt("Settings", "filecount", static_cast<int32_t>(rows_.size()));
}

void CPingListEditor::Load() {
  const CSettingsStore& store = AppSettings();
  hosts_.clear();
  const int32_t count = store.GetInt("Settings", "pingcount", 0);
  for (int32_t i = 0; i < count; ++i) {
    const std::string host = store.GetString("Pings", Numbered("ping", static_cast<std::size_t>(i)));
    if (!host.empty()) Insert(host);
  }
  timeout = std::to_string(store.GetInt("Settings", "pingtimeout", 5000));
  pollPeriod = std::to_string(store.GetInt("Settings", "pingpoll", 30));
}

void CPingListEditor::Insert(const std::string& host) {
  const std::string key = Lower(host);
  const auto at = std::upper_bound(hosts_.begin(), hosts_.end(), key,
                                   [](const std::string& k, const std::string& h) { return k < Lower(h); });
  hosts_.insert(at, host);
}

bool CPingListEditor::Add(const std::string& host) {
  if (host.empty()) return false;
  const std::string key = Lower(host);
  if (std::any_of(hosts_.begin(), hosts_.end(), [&](const std::string& h) { return Lower(h) == key; })) return false;
  Insert(host);
  return true;
}

void CPingListEditor::Remove(std::vector<int> positions) { RemovePositions(hosts_, std::move(positions)); }

std::optional<CPingListEditor::Error> CPingListEditor::Save() const {
  const UnsignedField timeoutField = ReadUnsignedField(timeout, kPingTimeoutMin, kPingTimeoutMax);
  if (!timeoutField.ok()) return Error{Field::kTimeout, timeoutField.error};
  const UnsignedField pollField = ReadUnsignedField(pollPeriod, kPingPollMin, kPingPollMax);
  if (!pollField.ok()) return Error{Field::kPollPeriod, pollField.error};
  const CSettingsStore& store = AppSettings();
  for (std::size_t i = 0; i < hosts_.size(); ++i) store.SetString("Pings", Numbered("ping", i).c_str(), hosts_[i].c_str());
  store.SetInt("Settings", "pingcount", static_cast<int32_t>(hosts_.size()));
  store.SetInt("Settings", "pingtimeout", static_cast<int32_t>(timeoutField.value));
  store.SetInt("Settings", "pingpoll", static_cast<int32_t>(pollField.value));
  return std::nullopt;
}

}  // namespace qv
