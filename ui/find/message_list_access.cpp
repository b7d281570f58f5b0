#include "ui/find/message_list_access.h"

namespace qv {

int FindFrom(CMessageListAccess& list, CRule& criteria, bool forward, int selected) {
  const int count = list.ShownCount();
  int position = forward ? (selected < 0 ? 0 : selected + 1) : (selected < 0 ? count - 1 : selected - 1);
  const int step = forward ? 1 : -1;
  for (; position >= 0 && position < count; position += step) {
    if (criteria.Matches(list.ShownMessage(position))) return position;
  }
  return -1;
}

}  // namespace qv
