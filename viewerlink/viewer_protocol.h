#pragma once
// The viewer link: how a viewer on another machine follows a service over the network.
//
// The service listens on TCP port "viewerport" (0: off) and speaks only TLS 1.2 or later. A
// client must present a certificate signed by the viewers' CA ("viewerca"; when empty, the CA
// in the data root that `qvreg viewer-cert NAME` signs with); there is no password and no plain
// mode. The service's own certificate is "viewercert"/"viewerkey", or, when those are empty, one
// it made on its first start signed by that same CA, so that the file `qvreg viewer-cert` writes
// (client certificate, its key, the CA certificate) also verifies the service.
//
// After the handshake the client sends one request line, and nothing else ever:
//     "backfill N\n"          N decimal, 0 or more; the service caps it at its "maxsize"
// The service then sends, as RFC 6587 octet-counted frames ("LEN SP RECORDLINE", LEN the
// decimal byte count of RECORDLINE, which is a record line without its CR LF):
//   1. the last N record lines of its history, oldest first;
//   2. every record it accepts from then on, in the order accepted, exactly as its local relay
//      carries them, with no gap and no repetition between the two parts.
// The service never waits for a viewer. Each viewer has a queue of kViewerQueueBytes; when a
// viewer reads too slowly the oldest queued lines are dropped, and before the next line it gets
// a marker: the record line of a local message "Viewer link: N messages were dropped ...",
// which the viewer shows like any record. The history keeps everything.
// At most kMaxViewers are served; one more gets a single local-message frame saying so and the
// connection is closed. A request that is not a valid line within kMaxRequestBytes, or that
// does not arrive within the handshake time, ends the connection.
//
// This file holds what both ends need: the request, the framing and its reader. No sockets.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

inline constexpr std::size_t kMaxViewers = 16;
inline constexpr std::size_t kViewerQueueBytes = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxRequestBytes = 32;

// "backfill N\n" for the client to send.
std::string FormatBackfillRequest(uint32_t lines);

// The count of a complete request line (without its "\n"); nothing when the line is not
// "backfill " followed by 1 to 10 digits that fit 32 bits.
std::optional<uint32_t> ParseBackfillRequest(std::string_view line);

// Appends the frame of `recordLine` ("LEN SP LINE"); a line end (CR LF or LF) is left out.
void AppendViewerFrame(std::string& out, std::string_view recordLine);

// The client's reader of the service's frames: strict octet counting, frames split across reads
// or many in one read. Any other byte where a length belongs, a length without digits, above
// kMaxFrame or with leading zeros, is a broken stream: failed() turns true and nothing more is
// handed on (the client should close and reconnect).
class CViewerFrameReader {
 public:
  // Longer than any record line the service makes (a 64 KiB message and its fields).
  static constexpr std::size_t kMaxFrame = 128 * 1024;
  using FrameHandler = std::function<void(std::string_view recordLine)>;

  // Reads `bytes`, handing on each completed frame's record line, in order; false once failed.
  bool Feed(std::string_view bytes, const FrameHandler& onFrame);
  bool failed() const { return failed_; }

 private:
  std::string length_;  // digits of the length being read
  std::string frame_;   // the frame being read
  std::size_t remaining_ = 0;
  bool inFrame_ = false;
  bool failed_ = false;
};

}  // namespace qv
