#include "viewerlink/viewer_queue.h"

#include "core/message/syslog_message.h"
#include "viewerlink/viewer_protocol.h"

namespace qv {

std::string CViewerQueue::MarkerLine(uint64_t count) {
  const std::string text = "Viewer link: " + std::to_string(count) +
                           " messages were dropped for this viewer, which read too slowly; the service's history "
                           "holds them (Load History on the service's machine)";
  return MakeLocalRecord(text, 4, "127.0.0.1").FormatRecordLine();
}

void CViewerQueue::DropOldest() {
  head_ += sizes_.front();
  sizes_.pop_front();
  ++dropped_;
}

void CViewerQueue::Push(std::string_view recordLine) {
  std::string frame;
  AppendViewerFrame(frame, recordLine);
  PushFrame(frame);
}

void CViewerQueue::PushFrame(std::string_view frame) {
  const std::size_t size = frame.size();
  if (size > limit_) {
    ++dropped_;
    return;
  }
  buffer_.append(frame);
  sizes_.push_back(static_cast<uint32_t>(size));
  while (bytes() > limit_) DropOldest();
  if (head_ > limit_ && head_ * 2 > buffer_.size()) {
    buffer_.erase(0, head_);
    head_ = 0;
  }
}

void CViewerQueue::Take(std::string& out, std::size_t upTo) {
  if (dropped_ > 0) {
    AppendViewerFrame(out, MarkerLine(dropped_));
    dropped_ = 0;
  }
  const std::size_t start = head_;
  while (!sizes_.empty() && head_ - start < upTo) {
    head_ += sizes_.front();
    sizes_.pop_front();
  }
  out.append(buffer_, start, head_ - start);
  if (sizes_.empty()) {
    buffer_.clear();
    head_ = 0;
  } else if (head_ * 2 > buffer_.size()) {
    buffer_.erase(0, head_);
    head_ = 0;
  }
}

}  // namespace qv
