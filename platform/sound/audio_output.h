#pragma once
// Where decoded sound goes: one playback stream of 16-bit interleaved samples.
//
// An output is made for one sound, used by one thread, and released when the sound has ended or
// was cut off. Every call returns promptly (within about a second) even when the device stalls;
// a false result means the sound cannot continue and the output should be dropped.

#include <cstddef>
#include <cstdint>

namespace qv {

class CAudioOutput {
 public:
  virtual ~CAudioOutput() = default;

  // Prepares the device for `channels` interleaved channels at `sampleRate` frames a second.
  virtual bool Open(int sampleRate, int channels) = 0;
  // Queues `frames` frames; blocks while the device's buffer is full.
  virtual bool Write(const int16_t* samples, std::size_t frames) = 0;
  // Lets what is queued play to its end.
  virtual void Finish() = 0;
  // Discards what is queued at once.
  virtual void Abort() = 0;
};

}  // namespace qv
