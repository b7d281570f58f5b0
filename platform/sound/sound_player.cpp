#include "platform/sound/sound_player.h"

#include <sndfile.h>

#include <vector>

#include "platform/sound/alsa_output.h"

namespace qv {
namespace {

constexpr sf_count_t kChunkFrames = 1024;
constexpr int kMaxChannels = 16;

}  // namespace

// An open sound file, closed on destruction.
class CSoundFile {
 public:
  static std::unique_ptr<CSoundFile> Open(const std::string& path) {
    SF_INFO info{};
    SNDFILE* handle = path.empty() ? nullptr : sf_open(path.c_str(), SFM_READ, &info);
    if (handle == nullptr) return nullptr;
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1) {
      sf_close(handle);
      return nullptr;
    }
    return std::unique_ptr<CSoundFile>(new CSoundFile(handle, info));
  }
  ~CSoundFile() { sf_close(handle_); }
  CSoundFile(const CSoundFile&) = delete;
  CSoundFile& operator=(const CSoundFile&) = delete;

  int channels() const { return info_.channels; }
  int sampleRate() const { return info_.samplerate; }
  sf_count_t Read(int16_t* samples, sf_count_t frames) { return sf_readf_short(handle_, samples, frames); }

 private:
  CSoundFile(SNDFILE* handle, SF_INFO info) : handle_(handle), info_(info) {}
  SNDFILE* handle_;
  SF_INFO info_;
};

CSoundPlayer::CSoundPlayer(OutputFactory makeOutput) : makeOutput_(std::move(makeOutput)) {}

CSoundPlayer::~CSoundPlayer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    ++generation_;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool CSoundPlayer::Play(const std::string& path) {
  std::unique_ptr<CSoundFile> file = CSoundFile::Open(path);
  if (file == nullptr) return false;
  std::unique_ptr<CSoundFile> replaced;  // closed outside the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    replaced = std::move(next_);
    next_ = std::move(file);
    ++generation_;
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_all();
  return true;
}

void CSoundPlayer::Stop() {
  std::unique_ptr<CSoundFile> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = std::move(next_);
    ++generation_;
  }
  idle_.notify_all();
}

bool CSoundPlayer::WaitUntilIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, timeout, [this] { return !playing_ && next_ == nullptr; });
}

bool CSoundPlayer::Superseded(uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation != generation_;
}

void CSoundPlayer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || next_ != nullptr; });
    if (stopping_) break;
    std::unique_ptr<CSoundFile> file = std::move(next_);
    const uint64_t generation = generation_;
    playing_ = true;
    lock.unlock();
    PlayOne(*file, generation);
    file.reset();
    lock.lock();
    playing_ = false;
    idle_.notify_all();
  }
}

void CSoundPlayer::PlayOne(CSoundFile& file, uint64_t generation) {
  std::unique_ptr<CAudioOutput> output = makeOutput_();
  if (output == nullptr || !output->Open(file.sampleRate(), file.channels())) return;
  std::vector<int16_t> samples(static_cast<std::size_t>(kChunkFrames * file.channels()));
  for (;;) {
    const sf_count_t frames = file.Read(samples.data(), kChunkFrames);
    if (frames <= 0) break;
    if (Superseded(generation)) {
      output->Abort();
      return;
    }
    if (!output->Write(samples.data(), static_cast<std::size_t>(frames))) {
      output->Abort();
      return;
    }
  }
  output->Finish();
}

bool PlaySoundFile(const std::string& path) {
  static CSoundPlayer player([] { return MakeAlsaOutput("default"); });
  return player.Play(path);
}

}  // namespace qv
