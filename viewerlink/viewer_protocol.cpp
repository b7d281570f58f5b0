#include "viewerlink/viewer_protocol.h"

#include <algorithm>

namespace qv {
namespace {

constexpr std::string_view kBackfill = "backfill ";

}  // namespace

std::string FormatBackfillRequest(uint32_t lines) { return std::string(kBackfill) + std::to_string(lines) + "\n"; }

std::optional<uint32_t> ParseBackfillRequest(std::string_view line) {
  if (line.substr(0, kBackfill.size()) != kBackfill) return std::nullopt;
  const std::string_view digits = line.substr(kBackfill.size());
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  uint64_t count = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + static_cast<uint64_t>(c - '0');
  }
  if (count > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(count);
}

void AppendViewerFrame(std::string& out, std::string_view recordLine) {
  if (!recordLine.empty() && recordLine.back() == '\n') recordLine.remove_suffix(1);
  if (!recordLine.empty() && recordLine.back() == '\r') recordLine.remove_suffix(1);
  out += std::to_string(recordLine.size());
  out += ' ';
  out += recordLine;
}

bool CViewerFrameReader::Feed(std::string_view bytes, const FrameHandler& onFrame) {
  while (!failed_ && !bytes.empty()) {
    if (inFrame_) {
      const std::size_t take = std::min(remaining_, bytes.size());
      // A whole frame in this read is handed on without copying.
      if (frame_.empty() && take == remaining_) {
        inFrame_ = false;
        const std::string_view line = bytes.substr(0, take);
        bytes.remove_prefix(take);
        onFrame(line);
        continue;
      }
      frame_.append(bytes.substr(0, take));
      bytes.remove_prefix(take);
      remaining_ -= take;
      if (remaining_ == 0) {
        inFrame_ = false;
        const std::string line = std::move(frame_);
        frame_.clear();
        onFrame(line);
      }
      continue;
    }
    const char c = bytes.front();
    bytes.remove_prefix(1);
    if (c == ' ') {
      if (length_.empty() || (length_.size() > 1 && length_.front() == '0')) {
        failed_ = true;
        break;
      }
      remaining_ = std::stoul(length_);
      length_.clear();
      if (remaining_ == 0) {
        onFrame({});
      } else {
        inFrame_ = true;
      }
    } else if (c >= '0' && c <= '9' && length_.size() < 6) {
      length_ += c;
      if (std::stoul(length_) > kMaxFrame) failed_ = true;
    } else {
      failed_ = true;
    }
  }
  return !failed_;
}

}  // namespace qv
