#pragma once
// Reading settings texts that keep numbers at fixed character offsets ("columnorder", "Rect").

#include <cstddef>
#include <string_view>

namespace qv {

// The number starting at `offset`, read as the C library's atoi reads it (blanks, a sign,
// digits); 0 when there is none or the offset is past the end. Large values are capped.
int NumberAtOffset(std::string_view text, std::size_t offset);

}  // namespace qv
