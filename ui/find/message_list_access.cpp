#include "ui/find/message_list_access.h"

namespace qv {

std::optional<ShownPosition> FindFrom(CMessageListAccess& list, CRule& criteria, bool forward,
                                      std::optional<ShownPosition> selected) {
  const int32_t count = list.ShownCount();
  const int32_t step = forward ? 1 : -1;
  int32_t position = selected ? selected->value + step : (forward ? 0 : count - 1);
  for (; position >= 0 && position < count; position += step) {
    if (criteria.Matches(list.ShownMessage(ShownPosition(position)))) return ShownPosition(position);
  }
  return std::nullopt;
}

}  // namespace qv
