#include "core/settings/reg.h"

namespace qv {

CReg::CReg(const std::string& subKey, reg::HKEY root, bool readOnly) : subKey_(subKey) {
  reg::CreateKey(root, subKey, readOnly ? reg::Access::kRead : reg::Access::kReadWrite, key_.out());
}

reg::Status CReg::SetDWORD(const std::string& name, uint32_t value) { return reg::SetDword(key_.get(), name, value); }

reg::Status CReg::SetString(const std::string& name, const std::string& text) {
  return reg::SetSz(key_.get(), name, text);
}

std::optional<std::string> CReg::EnumKey(uint32_t index) const {
  std::string name;
  if (reg::EnumKey(key_.get(), index, &name) != reg::kSuccess) return std::nullopt;
  return name;
}

uint32_t CReg::SubKeyCount() const {
  uint32_t count = 0;
  return reg::QuerySubKeyCount(key_.get(), &count) == reg::kSuccess ? count : 0;
}

}  // namespace qv
