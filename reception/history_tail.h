#pragma once
// The last record lines of the history, for a viewer that asks to see what came before it
// connected. The two history files are read newer first from their ends, in blocks, so the
// work is bounded by the lines asked for (and by the files' size), never by reading files whole.
// Only whole lines count: a line the writer has not finished yet is left out. Files that are
// missing or cannot be read give nothing.

#include <cstddef>
#include <string>

namespace qv {

// The last `lines` whole lines of `older` followed by `newer` (either may be empty for no file),
// oldest first, each with its line end as written.
std::string ReadHistoryTail(const std::string& older, const std::string& newer, std::size_t lines);

}  // namespace qv
