#pragma once
// The numbers that name a message in the viewer, each a type of its own so that the compiler
// refuses one where another is meant (see message_store.h for what each one counts):
//
// - ShownPosition: 0 is the oldest message of the list shown now. The document, the store and
//   the finding panes speak in positions.
// - ListRow: a row of the message list as its model last announced it to the view. Rows lag
//   positions while the display is locked or between updates, once the full ring turns; only
//   CMessageListModel translates between the two.
// - RingSlot: where the ring keeps a message (the record's `seq`); private to the store.
//
// A number that may be absent is a std::optional of its type, never -1.

#include <compare>
#include <cstdint>

namespace qv {

template <typename Tag>
struct ListNumber {
  int32_t value = 0;

  constexpr ListNumber() = default;
  constexpr explicit ListNumber(int32_t number) : value(number) {}
  constexpr auto operator<=>(const ListNumber&) const = default;
};

using ShownPosition = ListNumber<struct ShownPositionTag>;
using ListRow = ListNumber<struct ListRowTag>;
using RingSlot = ListNumber<struct RingSlotTag>;

}  // namespace qv
