#include "ui/find/custom_filter_list.h"

#include <algorithm>

#include "core/settings/settings_store.h"

namespace qv {

namespace {

std::string CustomSection(size_t number) { return "Custom\\custom" + std::to_string(number); }

}  // namespace

void CCustomFilterList::Load() {
  working_.clear();
  names_.clear();
  const int32_t count = AppSettings().GetInt("Settings", "customcount", 0);
  for (int32_t n = 0; n < count; ++n) {
    CRule rule;
    rule.Load(CustomSection(static_cast<size_t>(n)));
    names_.push_back(rule.Name);
    working_.push_back(std::move(rule));
  }
  changed_ = false;
}

CRule* CCustomFilterList::Find(const std::string& name) {
  const auto found = std::find_if(working_.begin(), working_.end(), [&](const CRule& rule) { return rule.Name == name; });
  return found == working_.end() ? nullptr : &*found;
}

FilterFields CCustomFilterList::Open(const std::string& name) {
  changed_ = false;
  if (const CRule* rule = Find(name)) return FilterFields::FromRule(*rule);
  FilterFields fields;
  fields.name = name;
  return fields;
}

void CCustomFilterList::AddModify(const FilterFields& form) {
  if (std::find(names_.begin(), names_.end(), form.name) == names_.end()) names_.push_back(form.name);
  FilterFields bounded = form;
  bounded.facilityIndex = std::max(bounded.facilityIndex, 0);
  bounded.severityIndex = std::max(bounded.severityIndex, 0);
  CRule rule = bounded.ToRule();
  rule.TimeRange = static_cast<int32_t>(form.seconds);
  if (CRule* existing = Find(form.name)) {
    *existing = std::move(rule);
  } else {
    working_.push_back(std::move(rule));
  }
  changed_ = false;
}

void CCustomFilterList::Delete(const std::string& name) {
  const auto found = std::find(names_.begin(), names_.end(), name);
  if (found != names_.end()) names_.erase(found);
  changed_ = false;
}

void CCustomFilterList::SetOrder(std::vector<std::string> order) {
  std::vector<std::string> sorted = order;
  std::vector<std::string> listed = names_;
  std::sort(sorted.begin(), sorted.end());
  std::sort(listed.begin(), listed.end());
  if (sorted == listed) names_ = std::move(order);
}

void CCustomFilterList::Save() const {
  for (size_t i = 0; i < names_.size(); ++i) {
    const auto found = std::find_if(working_.begin(), working_.end(), [&](const CRule& rule) { return rule.Name == names_[i]; });
    if (found != working_.end()) found->Save(CustomSection(i));  // every listed name has one
  }
  AppSettings().SetInt("Settings", "customcount", static_cast<int32_t>(names_.size()));
}

}  // namespace qv
