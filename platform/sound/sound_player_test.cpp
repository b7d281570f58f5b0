#include "platform/sound/sound_player.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <fstream>
#include <vector>

#include "platform/sound/alsa_output.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// What the fake output saw, shared with the test because outputs are made on the player's thread.
struct Tally {
  std::mutex mutex;
  std::vector<long> framesPerSound;  // one entry per opened output
  int sampleRate = 0;
  int channels = 0;
  int finished = 0;
  int aborted = 0;
};

class FakeOutput final : public CAudioOutput {
 public:
  FakeOutput(Tally& tally, std::chrono::milliseconds perWrite) : tally_(tally), perWrite_(perWrite) {}
  bool Open(int sampleRate, int channels) override {
    std::lock_guard<std::mutex> lock(tally_.mutex);
    tally_.framesPerSound.push_back(0);
    tally_.sampleRate = sampleRate;
    tally_.channels = channels;
    return true;
  }
  bool Write(const int16_t*, std::size_t frames) override {
    std::this_thread::sleep_for(perWrite_);
    std::lock_guard<std::mutex> lock(tally_.mutex);
    tally_.framesPerSound.back() += static_cast<long>(frames);
    return true;
  }
  void Finish() override {
    std::lock_guard<std::mutex> lock(tally_.mutex);
    ++tally_.finished;
  }
  void Abort() override {
    std::lock_guard<std::mutex> lock(tally_.mutex);
    ++tally_.aborted;
  }

 private:
  Tally& tally_;
  std::chrono::milliseconds perWrite_;
};

// A silent 16-bit WAV file.
std::string WriteWav(const std::string& path, int frames, int sampleRate, int channels) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(file, nullptr);
  const std::vector<int16_t> silence(static_cast<std::size_t>(frames * channels), 0);
  sf_writef_short(file, silence.data(), frames);
  sf_close(file);
  return path;
}

class SoundPlayerTest : public ::testing::Test {
 protected:
  CSoundPlayer::OutputFactory Fake(std::chrono::milliseconds perWrite = 0ms) {
    return [this, perWrite] { return std::make_unique<FakeOutput>(tally_, perWrite); };
  }
  qv::testing::TempHome home_;
  Tally tally_;
};

TEST_F(SoundPlayerTest, EveryFrameOfTheFileReachesTheOutputInTheFilesFormat) {
  CSoundPlayer player(Fake());
  ASSERT_TRUE(player.Play(WriteWav(home_.file("a.wav"), 5000, 22050, 2)));
  ASSERT_TRUE(player.WaitUntilIdle(5s));
  std::lock_guard<std::mutex> lock(tally_.mutex);
  EXPECT_EQ(tally_.framesPerSound, std::vector<long>{5000});
  EXPECT_EQ(tally_.sampleRate, 22050);
  EXPECT_EQ(tally_.channels, 2);
  EXPECT_EQ(tally_.finished, 1);
  EXPECT_EQ(tally_.aborted, 0);
}

TEST_F(SoundPlayerTest, FilesThatAreNoSoundReturnFalseAndPlayNothing) {
  CSoundPlayer player(Fake());
  std::ofstream(home_.file("notes.txt")) << "this is text, not a sound\n";
  std::ofstream(home_.file("empty.wav"));
  EXPECT_FALSE(player.Play(home_.file("missing.wav")));
  EXPECT_FALSE(player.Play(home_.file("notes.txt")));
  EXPECT_FALSE(player.Play(home_.file("empty.wav")));
  EXPECT_FALSE(player.Play(home_.path().string()));
  EXPECT_FALSE(player.Play(""));
  EXPECT_TRUE(player.WaitUntilIdle(1s));
  std::lock_guard<std::mutex> lock(tally_.mutex);
  EXPECT_TRUE(tally_.framesPerSound.empty());
}

TEST_F(SoundPlayerTest, ANewSoundCutsOffTheOneStillPlaying) {
  const std::string longSound = WriteWav(home_.file("long.wav"), 400 * 1024, 8000, 1);
  const std::string shortSound = WriteWav(home_.file("short.wav"), 3000, 8000, 1);
  CSoundPlayer player(Fake(5ms));
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(player.Play(longSound));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);  // returns at once
  std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(player.Play(shortSound));
  ASSERT_TRUE(player.WaitUntilIdle(5s));
  {
    std::lock_guard<std::mutex> lock(tally_.mutex);
    ASSERT_EQ(tally_.framesPerSound.size(), 2u);
    EXPECT_GT(tally_.framesPerSound[0], 0);
    EXPECT_LT(tally_.framesPerSound[0], 400 * 1024);
    EXPECT_EQ(tally_.framesPerSound[1], 3000);
    EXPECT_EQ(tally_.aborted, 1);
    EXPECT_EQ(tally_.finished, 1);
  }

  // Stop and destruction cut a sound off promptly too.
  ASSERT_TRUE(player.Play(longSound));
  std::this_thread::sleep_for(20ms);
  player.Stop();
  EXPECT_TRUE(player.WaitUntilIdle(2s));
  const auto before = std::chrono::steady_clock::now();
  {
    CSoundPlayer doomed(Fake(5ms));
    ASSERT_TRUE(doomed.Play(longSound));
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

TEST(SoundPlayerAlsaTest, WithoutAnAudioDeviceSoundsEndQuietlyAndPromptly) {
  qv::testing::TempHome home;
  const std::string sound = WriteWav(home.file("beep.wav"), 4000, 8000, 1);
  ::testing::internal::CaptureStderr();
  {
    CSoundPlayer player([] { return MakeAlsaOutput("hw:97,0"); });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(player.Play(sound));
    EXPECT_TRUE(player.WaitUntilIdle(3s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  }
  // The process's own player on the machine's default device, whatever this machine has.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(PlaySoundFile(sound));
  EXPECT_FALSE(PlaySoundFile(home.file("missing.wav")));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Passes everything on to an ALSA output and counts what it accepted.
class CountingOutput final : public CAudioOutput {
 public:
  CountingOutput(std::unique_ptr<CAudioOutput> inner, std::atomic<long>& accepted)
      : inner_(std::move(inner)), accepted_(accepted) {}
  bool Open(int sampleRate, int channels) override { return inner_->Open(sampleRate, channels); }
  bool Write(const int16_t* samples, std::size_t frames) override {
    const bool ok = inner_->Write(samples, frames);
    if (ok) accepted_ += static_cast<long>(frames);
    return ok;
  }
  void Finish() override { inner_->Finish(); }
  void Abort() override { inner_->Abort(); }

 private:
  std::unique_ptr<CAudioOutput> inner_;
  std::atomic<long>& accepted_;
};

TEST(SoundPlayerAlsaTest, TheAlsaOutputTakesTheWholeSoundOnTheNullDevice) {
  qv::testing::TempHome home;
  std::atomic<long> accepted{0};
  CSoundPlayer player([&accepted] { return std::make_unique<CountingOutput>(MakeAlsaOutput("null"), accepted); });
  ASSERT_TRUE(player.Play(WriteWav(home.file("tone.wav"), 20000, 44100, 2)));
  EXPECT_TRUE(player.WaitUntilIdle(5s));
  EXPECT_EQ(accepted.load(), 20000);
}

}  // namespace
}  // namespace qv
