#pragma once
// A hierarchical key/value store shaped like the desktop registry that the system was designed
// against: one root, HKEY_LOCAL_MACHINE, keys below it named by backslash paths
// ("Software\Fendrake\Quorvel\Settings"), and values of two types, 32-bit numbers (REG_DWORD)
// and texts (REG_SZ).
//
// The store is the SQLite database "registry.db" in the data root (see platform/paths). It runs
// in WAL mode with a busy timeout, so the windowed program, the service and the qvreg tool read
// and write it at the same time; every write is one transaction, and a write by one process is
// seen by the next read of any other. Key and value names compare without regard to ASCII case
// and keep the spelling they were created with.
//
// Calls return status codes in the platform's style (kSuccess, kFileNotFound, ...). A key handle
// is a small object owned by the caller and released with CloseKey; the root handle from
// LocalMachine() is never closed. Every call is safe from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace qv::reg {

using Status = long;
inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;    // key or value absent
inline constexpr Status kAccessDenied = 5;    // store cannot be opened, or key opened read-only
inline constexpr Status kInvalidHandle = 6;   // null handle
inline constexpr Status kNoMoreItems = 259;   // enumeration index past the end
inline constexpr Status kKeyDeleted = 1018;   // the key was deleted while this handle was open
inline constexpr Status kStoreFailed = 1009;  // the database reported an error

// Value types, numbered as on the platform the system was designed for.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegDword = 4;

enum class Access { kRead, kReadWrite };

struct KeyHandle;
using HKEY = KeyHandle*;

// The predefined root key. Never closed.
HKEY LocalMachine();

// Opens `subKey` below `parent`, creating every missing level. An empty `subKey` opens `parent`
// again. Read-only handles refuse writes with kAccessDenied.
Status CreateKey(HKEY parent, std::string_view subKey, Access access, HKEY* result);
// Opens an existing key; kFileNotFound when any level is missing.
Status OpenKey(HKEY parent, std::string_view subKey, Access access, HKEY* result);
void CloseKey(HKEY key);

// Reads a value. `type` and `data` may be null when the caller does not want them. A REG_DWORD
// comes back as its four bytes in host order; a REG_SZ as the text without a terminating zero.
Status QueryValue(HKEY key, std::string_view name, uint32_t* type, std::string* data);
Status SetValue(HKEY key, std::string_view name, uint32_t type, std::string_view data);
Status SetDword(HKEY key, std::string_view name, uint32_t value);
Status SetSz(HKEY key, std::string_view name, std::string_view text);
Status DeleteValue(HKEY key, std::string_view name);

// Deletes `subKey` below `parent` with every key and value below it.
Status DeleteKey(HKEY parent, std::string_view subKey);

// Sub-keys and values in order of their names (case-insensitive). kNoMoreItems past the end.
Status EnumKey(HKEY key, uint32_t index, std::string* name);
Status EnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type, std::string* data);
Status QuerySubKeyCount(HKEY key, uint32_t* count);

// Splits a path such as "HKLM\Software\X" or "HKEY_LOCAL_MACHINE\Software\X" into the part below
// the root; other paths are returned unchanged. Used by tools that take key paths from people.
std::string_view StripRootPrefix(std::string_view path);

// Owns a key handle for a scope.
class ScopedKey {
 public:
  ScopedKey() = default;
  explicit ScopedKey(HKEY key) : key_(key) {}
  ~ScopedKey() { CloseKey(key_); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ScopedKey(ScopedKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  ScopedKey& operator=(ScopedKey&& other) noexcept {
    if (this != &other) {
      CloseKey(key_);
      key_ = other.key_;
      other.key_ = nullptr;
    }
    return *this;
  }

  HKEY get() const { return key_; }
  HKEY* out() { CloseKey(key_); key_ = nullptr; return &key_; }
  explicit operator bool() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace qv::reg
