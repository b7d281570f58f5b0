#pragma once
// The application's settings: every named setting, list and rule lives below
// HKEY_LOCAL_MACHINE\Software\<company>\<application>, in sections such as "Settings" or
// "Rules\rule0". Every call opens the path afresh and closes it again, so a value written by one
// program is seen by the next read in the other, and nothing is cached between calls.
//
// Defaults live only at the call sites: nothing here writes a default, and a value that is
// absent reads as the caller's default every time. When the store cannot be opened (the data
// root is not writable for this user, say) reads give their defaults and writes return false,
// quietly. The store keeps no state and may be used from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

class CSettingsStore {
 public:
  CSettingsStore(std::string company = "Fendrake", std::string application = "Quorvel");

  // A REG_DWORD read as a signed 32-bit number. Like the platform, the type is not checked:
  // the first four bytes of whatever is stored are taken.
  int32_t GetInt(std::string_view section, std::string_view name, int32_t defaultValue) const;
  // A text; `defaultText` may be null for the empty default.
  std::string GetString(std::string_view section, std::string_view name, const char* defaultText = nullptr) const;

  bool SetInt(std::string_view section, std::string_view name, int32_t value) const;
  // Writes a text. A null `text` deletes the value; a null `name` deletes the whole section
  // with everything below it.
  bool SetString(std::string_view section, const char* name, const char* text) const;

  // "Software\<company>\<application>".
  std::string ApplicationKeyPath() const;

 private:
  std::string company_;
  std::string application_;
};

// The program's store. Both programs use the company "Fendrake" and the application "Quorvel".
const CSettingsStore& AppSettings();

}  // namespace qv
