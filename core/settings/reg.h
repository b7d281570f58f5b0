#pragma once
// A thin wrapper around one open registry key, used where the system reaches into registry
// places of the platform itself: the event-log sources below
// SYSTEM\CurrentControlSet\Services\Eventlog, the service's description, and the like.
//
// The constructor opens the sub-key, creating it when missing. When that fails the handle is
// closed and every later operation fails without effect.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry/registry.h"

namespace qv {

class CReg {
 public:
  CReg(const std::string& subKey, reg::HKEY root = reg::LocalMachine(), bool readOnly = false);
  ~CReg() = default;
  CReg(const CReg&) = delete;
  CReg& operator=(const CReg&) = delete;

  bool IsOpen() const { return static_cast<bool>(key_); }
  const std::string& SubKey() const { return subKey_; }
  reg::HKEY Handle() const { return key_.get(); }

  // Platform status codes; reg::kInvalidHandle when the key did not open.
  reg::Status SetDWORD(const std::string& name, uint32_t value);
  reg::Status SetString(const std::string& name, const std::string& text);

  // The name of the sub-key at `index`, or nothing past the end or on failure.
  std::optional<std::string> EnumKey(uint32_t index) const;
  // The number of sub-keys, 0 when the query fails.
  uint32_t SubKeyCount() const;

 private:
  std::string subKey_;
  reg::ScopedKey key_;
};

}  // namespace qv
