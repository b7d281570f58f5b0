#include "core/settings/settings_store.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/registry/registry.h"

namespace qv {
namespace {

// The application key, or a closed handle when any level cannot be opened or created.
reg::ScopedKey OpenApplicationKey(const std::string& path) {
  reg::ScopedKey key;
  reg::CreateKey(reg::LocalMachine(), path, reg::Access::kReadWrite, key.out());
  return key;
}

reg::ScopedKey OpenSection(const std::string& applicationPath, std::string_view section) {
  reg::ScopedKey application = OpenApplicationKey(applicationPath);
  reg::ScopedKey key;
  if (application) reg::CreateKey(application.get(), section, reg::Access::kReadWrite, key.out());
  return key;
}

}  // namespace

CSettingsStore::CSettingsStore(std::string company, std::string application)
    : company_(std::move(company)), application_(std::move(application)) {}

std::string CSettingsStore::ApplicationKeyPath() const { return "Software\\" + company_ + "\\" + application_; }

int32_t CSettingsStore::GetInt(std::string_view section, std::string_view name, int32_t defaultValue) const {
  reg::ScopedKey key = OpenSection(ApplicationKeyPath(), section);
  std::string data;
  if (!key || reg::QueryValue(key.get(), name, nullptr, &data) != reg::kSuccess) return defaultValue;
  // A text's terminating zero is part of its data on the platform; shorter data reads as zeros.
  char bytes[4] = {0, 0, 0, 0};
  std::memcpy(bytes, data.data(), std::min(data.size(), sizeof bytes));
  int32_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

std::string CSettingsStore::GetString(std::string_view section, std::string_view name, const char* defaultText) const {
  reg::ScopedKey key = OpenSection(ApplicationKeyPath(), section);
  std::string data;
  if (!key || reg::QueryValue(key.get(), name, nullptr, &data) != reg::kSuccess) {
    return defaultText != nullptr ? defaultText : "";
  }
  // Texts end at their first zero, as they do when read into a C string.
  const std::size_t zero = data.find('\0');
  if (zero != std::string::npos) data.resize(zero);
  return data;
}

bool CSettingsStore::SetInt(std::string_view section, std::string_view name, int32_t value) const {
  reg::ScopedKey key = OpenSection(ApplicationKeyPath(), section);
  return key && reg::SetDword(key.get(), name, static_cast<uint32_t>(value)) == reg::kSuccess;
}

bool CSettingsStore::SetString(std::string_view section, const char* name, const char* text) const {
  if (name == nullptr) {
    reg::ScopedKey application = OpenApplicationKey(ApplicationKeyPath());
    return application && reg::DeleteKey(application.get(), section) == reg::kSuccess;
  }
  reg::ScopedKey key = OpenSection(ApplicationKeyPath(), section);
  if (!key) return false;
  if (text == nullptr) return reg::DeleteValue(key.get(), name) == reg::kSuccess;
  return reg::SetSz(key.get(), name, text) == reg::kSuccess;
}

const CSettingsStore& AppSettings() {
  static const CSettingsStore store;
  return store;
}

}  // namespace qv
