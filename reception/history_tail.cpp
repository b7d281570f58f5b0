#include "reception/history_tail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/files/owned_file.h"

namespace qv {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

// Up to `wanted` whole lines from the end of `path`; `wanted` is lowered by the lines found.
std::string Tail(const std::string& path, std::size_t& wanted) {
  if (path.empty() || wanted == 0) return {};
  const OwnedFile file = OpenOwnedFile(path, OwnedFileAccess::kRead);
  if (!file) return {};
  struct stat info {};
  std::vector<std::string> blocks;  // newest first
  std::size_t ends = 0;             // line ends in the blocks
  if (fstat(file.fd, &info) == 0) {
    off_t start = info.st_size;
    bool lastLineCut = true;  // the final bytes are not yet known to end a line
    while (start > 0 && ends <= wanted) {
      const std::size_t size = static_cast<std::size_t>(std::min<off_t>(start, kBlock));
      start -= static_cast<off_t>(size);
      std::string block(size, '\0');
      if (pread(file.fd, block.data(), size, start) != static_cast<ssize_t>(size)) {
        blocks.clear();
        ends = 0;
        break;
      }
      if (lastLineCut) {
        // An unfinished last line is left out.
        const std::size_t end = block.rfind('\n');
        if (end == std::string::npos) continue;
        block.erase(end + 1);
        lastLineCut = false;
      }
      ends += static_cast<std::size_t>(std::count(block.begin(), block.end(), '\n'));
      blocks.push_back(std::move(block));
    }
  }
  close(file.fd);
  std::string tail;
  for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) tail += *block;
  // With more line ends than wanted, the text before the first is part of an older line: keep
  // what follows the (ends - wanted)th line end.
  std::size_t from = 0;
  for (std::size_t skip = ends > wanted ? ends - wanted : 0; skip > 0; --skip) from = tail.find('\n', from) + 1;
  tail.erase(0, from);
  wanted -= std::min(ends, wanted);
  return tail;
}

}  // namespace

std::string ReadHistoryTail(const std::string& older, const std::string& newer, std::size_t lines) {
  std::string recent = Tail(newer, lines);
  std::string earlier = Tail(older, lines);
  return earlier + recent;
}

}  // namespace qv
