#pragma once
// One viewer's queue of frames waiting to be sent. It never holds more than its limit of bytes:
// a frame that would pass it pushes out the oldest frames first (a single frame larger than the
// limit is dropped itself), and the frames dropped are counted. The next Take hands on, before
// anything else, the marker frame telling how many were lost, so a viewer sees where its
// stream has a gap.
//
// The frames lie one after the other in one buffer (no allocation per line: the service pushes
// every record to every viewer); the buffer is compacted when more than half of it was taken.
// Not locked: the viewer link's thread pushes and takes.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace qv {

class CViewerQueue {
 public:
  explicit CViewerQueue(std::size_t limitBytes) : limit_(limitBytes) {}

  // Queues the frame of `recordLine` (its CR LF left out).
  void Push(std::string_view recordLine);
  // Queues `frame`, already framed (AppendViewerFrame), for callers that queue one line for
  // many viewers.
  void PushFrame(std::string_view frame);
  // Counts `count` lines lost before they reached the queue, told in the same marker.
  void CountDropped(uint64_t count) { dropped_ += count; }
  // Appends whole frames to `out`, at least `upTo` bytes of them unless the queue runs empty
  // first; the marker of lines dropped since the last Take comes before them.
  void Take(std::string& out, std::size_t upTo);

  bool empty() const { return sizes_.empty() && dropped_ == 0; }
  std::size_t bytes() const { return buffer_.size() - head_; }
  // Lines dropped and not yet told in a marker.
  uint64_t dropped() const { return dropped_; }

  // The record line of the marker for `count` lost lines.
  static std::string MarkerLine(uint64_t count);

 private:
  void DropOldest();

  const std::size_t limit_;
  std::string buffer_;  // frames, the first unsent one starting at head_
  std::size_t head_ = 0;
  std::deque<uint32_t> sizes_;  // of each queued frame, in order
  uint64_t dropped_ = 0;
};

}  // namespace qv
