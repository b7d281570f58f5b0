#pragma once
// Splits a syslog byte stream (TCP, TLS) into messages. Each frame is read in whichever of the
// two framings its first bytes show: octet counting ("LEN SP MSG", the only framing over TLS)
// when it starts with digits and a space, otherwise a message ended by a line feed or a zero
// byte. A carriage return or line feed that ends a frame is removed; empty frames are skipped.
// Frames may arrive split across reads, and many may arrive in one read.
//
// Memory is bounded: a frame longer than kMaxFrame is cut there and handed on as it is cut;
// the rest of it is skipped. Nothing else is ever dropped: at the end of the stream, Finish()
// hands on a frame that was begun but not ended.
//
// No sockets, no threads: one reader per connection, used from one thread.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qv {

class CSyslogFrameReader {
 public:
  // The longest frame handed on; longer ones are cut to it.
  static constexpr std::size_t kMaxFrame = 64 * 1024;
  // Called with each frame, valid only during the call. It must not destroy the reader.
  using FrameHandler = std::function<void(std::string_view frame)>;

  // Reads `bytes`, calling `onFrame` for every frame they complete, in order.
  void Feed(std::string_view bytes, const FrameHandler& onFrame);
  // The stream ended: hands on whatever frame was begun (a cut counted frame, an unterminated
  // line, digits that never met their space) and starts afresh.
  void Finish(const FrameHandler& onFrame);

  // Gives back a buffer grown past kIdleBuffer when no frame is half read, so that a
  // connection that once carried a long frame does not keep its memory while it is quiet.
  static constexpr std::size_t kIdleBuffer = 4 * 1024;
  void ReleaseIdleBuffer();
  std::size_t bufferCapacity() const { return frame_.capacity(); }

 private:
  enum class State { kStart, kLength, kCounted, kLine, kSkipLine };

  void Emit(const FrameHandler& onFrame);
  void Keep(std::string_view bytes);

  State state_ = State::kStart;
  std::string frame_;           // the frame so far (at most kMaxFrame bytes), or the length digits
  std::size_t remaining_ = 0;   // octet counting: bytes of the frame still to come
};

}  // namespace qv
