#pragma once
// Plays sound files in the background, one at a time.
//
// Play decodes nothing itself: it opens the file on the caller's thread (so that a file that
// cannot be played is known at once) and hands it to the player's thread, which sends it to an
// audio output. A sound that is still playing when the next one is asked for is cut off, so rules
// that fire quickly never pile sounds up. There is no default sound: a file that cannot be
// opened as a sound plays nothing. Playback failures (no audio device, a device that stalls)
// end the sound silently.
//
// Any format libsndfile reads is accepted (WAV, AIFF, FLAC, Ogg Vorbis, ...).
// All members are safe to call from any thread. The destructor cuts off the current sound and
// waits for the player's thread, which takes at most about a second.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/sound/audio_output.h"

namespace qv {

class CSoundFile;

class CSoundPlayer {
 public:
  using OutputFactory = std::function<std::unique_ptr<CAudioOutput>()>;

  // `makeOutput` is called on the player's thread once per sound.
  explicit CSoundPlayer(OutputFactory makeOutput);
  ~CSoundPlayer();
  CSoundPlayer(const CSoundPlayer&) = delete;
  CSoundPlayer& operator=(const CSoundPlayer&) = delete;

  // Starts playing `path` and returns at once. False when the file cannot be opened as a sound;
  // then the current sound, if any, goes on.
  bool Play(const std::string& path);
  // Cuts off the current sound.
  void Stop();
  // Waits until nothing plays or is waiting to play; false when `timeout` passed first.
  bool WaitUntilIdle(std::chrono::milliseconds timeout);

 private:
  void Run();
  void PlayOne(CSoundFile& file, uint64_t generation);
  bool Superseded(uint64_t generation);

  OutputFactory makeOutput_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::unique_ptr<CSoundFile> next_;
  uint64_t generation_ = 0;  // counts requests; a sound stops when it is no longer the newest
  bool playing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// The process's player on the audio device "default": plays `path` asynchronously, with no
// default sound, and returns whether the file could be opened as a sound.
bool PlaySoundFile(const std::string& path);

}  // namespace qv
