#include "platform/sound/alsa_output.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

namespace qv {
namespace {

constexpr unsigned kLatencyMicroseconds = 100000;  // keeps a cut-off or a drain short
constexpr int kWaitMilliseconds = 1000;            // a device that takes longer has stalled
constexpr auto kDrainLimit = std::chrono::seconds(2);

void Quiet(const char*, int, const char*, int, const char*, ...) {}

class CAlsaOutput final : public CAudioOutput {
 public:
  explicit CAlsaOutput(std::string device) : device_(std::move(device)) {
    static std::once_flag silenced;
    std::call_once(silenced, [] { snd_lib_error_set_handler(Quiet); });
  }
  ~CAlsaOutput() override {
    if (pcm_ != nullptr) snd_pcm_close(pcm_);
  }
  CAlsaOutput(const CAlsaOutput&) = delete;
  CAlsaOutput& operator=(const CAlsaOutput&) = delete;

  bool Open(int sampleRate, int channels) override {
    if (snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
      pcm_ = nullptr;
      return false;
    }
    channels_ = static_cast<std::size_t>(channels);
    return snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                              static_cast<unsigned>(channels), static_cast<unsigned>(sampleRate), 1,
                              kLatencyMicroseconds) == 0;
  }

  bool Write(const int16_t* samples, std::size_t frames) override {
    if (pcm_ == nullptr) return false;
    while (frames > 0) {
      const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, samples, frames);
      if (written == -EAGAIN) {
        if (snd_pcm_wait(pcm_, kWaitMilliseconds) == 0) return false;
      } else if (written < 0) {
        if (snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) return false;
      } else {
        samples += static_cast<std::size_t>(written) * channels_;
        frames -= static_cast<std::size_t>(written);
      }
    }
    return true;
  }

  void Finish() override {
    if (pcm_ == nullptr) return;
    // Without blocking, drain answers at once; the state is watched until the queue has played.
    snd_pcm_drain(pcm_);
    const auto deadline = std::chrono::steady_clock::now() + kDrainLimit;
    while (snd_pcm_state(pcm_) == SND_PCM_STATE_DRAINING && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  void Abort() override {
    if (pcm_ != nullptr) snd_pcm_drop(pcm_);
  }

 private:
  std::string device_;
  snd_pcm_t* pcm_ = nullptr;
  std::size_t channels_ = 1;
};

}  // namespace

std::unique_ptr<CAudioOutput> MakeAlsaOutput(const std::string& device) {
  return std::make_unique<CAlsaOutput>(device);
}

}  // namespace qv
