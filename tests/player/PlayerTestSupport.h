// A recording surface and a fixture for the player tests: generated clips, the queue
// dispatcher as the main thread, the events the player delivered.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/MainThreadDispatcher.h"
#include "player/FFPlay.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

inline constexpr int64_t Second = 1000000;  // microseconds

class TTestSurface : public VideoSurface {
 public:
  explicit TTestSurface(int width = 0, int height = 0) : Size{width, height} {}
  void present(const TBitmap24& frame, int64_t timeUs) override {
    std::lock_guard lock(Mutex);
    Last = frame;
    LastTime = timeUs;
    ++Presents;
  }
  void clear() override {
    std::lock_guard lock(Mutex);
    ++Clears;
    Text.clear();
  }
  void setSubtitleText(const std::string& text) override {
    std::lock_guard lock(Mutex);
    Text = text;
  }
  std::string SubtitleText() const {
    std::lock_guard lock(Mutex);
    return Text;
  }
  TSurfaceSize clientSize() const override {
    std::lock_guard lock(Mutex);
    return Size;
  }
  void Resize(int width, int height) {
    std::lock_guard lock(Mutex);
    Size = {width, height};
  }
  int PresentCount() const {
    std::lock_guard lock(Mutex);
    return Presents;
  }
  int ClearCount() const {
    std::lock_guard lock(Mutex);
    return Clears;
  }
  TBitmap24 LastFrame(int64_t* time = nullptr) const {
    std::lock_guard lock(Mutex);
    if (time) *time = LastTime;
    return Last;
  }

 private:
  mutable std::mutex Mutex;
  TSurfaceSize Size;
  TBitmap24 Last;
  int64_t LastTime = -1;
  std::string Text;
  int Presents = 0;
  int Clears = 0;
};

struct TFileOpenRecord {
  bool Called = false;
  int64_t Duration = 0;
  int32_t Width = 0, Height = 0;
};

class TPlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("SDL_AUDIODRIVER", "dummy", 0); }

  void SetUp() override {
    RequireConverterLibraries();
    ASSERT_TRUE(Player.LoadLibraries("")) << Player.LastErrorMessage();
    Player.SetOnState([this](TFFPlayer*, TPlayState s) {
      std::lock_guard lock(Mutex);
      States.push_back(s);
    });
    Player.SetOnPosition([this](TFFPlayer*, int64_t p) {
      std::lock_guard lock(Mutex);
      Positions.push_back(p);
    });
    Player.SetOnFileOpen([this](TFFPlayer*, int64_t d, int32_t w, int32_t h, int32_t&, int32_t&) {
      std::lock_guard lock(Mutex);
      FileOpen = {true, d, w, h};
    });
  }

  // A clip in the test's folder; fails the test when it cannot be made.
  std::string Clip(const std::string& name, const TTestMediaSpec& spec) {
    const std::string path = Dir.File(name);
    const std::string error = MakeTestMedia(path, spec);
    EXPECT_EQ(error, "") << name;
    return path;
  }
  static TTestMediaSpec Video(double seconds) {
    TTestMediaSpec spec;
    spec.Duration = seconds;
    return spec;
  }
  static TTestMediaSpec AudioOnly(double seconds) {
    TTestMediaSpec spec;
    spec.VideoCodec.clear();
    spec.AudioCodec = "pcm_s16le";
    spec.Duration = seconds;
    return spec;
  }

  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return WaitPumping(done, limit);
  }
  bool WaitState(TPlayState state, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return PumpUntil([&] { return HasState(state); }, limit);
  }
  bool HasState(TPlayState state) {
    std::lock_guard lock(Mutex);
    for (TPlayState s : States)
      if (s == state) return true;
    return false;
  }
  std::vector<TPlayState> StatesSeen() {
    std::lock_guard lock(Mutex);
    return States;
  }
  std::vector<int64_t> PositionsSeen() {
    std::lock_guard lock(Mutex);
    return Positions;
  }
  void ForgetEvents() {
    std::lock_guard lock(Mutex);
    States.clear();
    Positions.clear();
  }

  TQueueDispatcher Dispatcher;
  struct TInstall {
    explicit TInstall(MainThreadDispatcher* d) { SetMainThreadDispatcher(d); }
    ~TInstall() { SetMainThreadDispatcher(nullptr); }
  } Installed{&Dispatcher};
  TTempDir Dir;
  TTestSurface Surface;
  std::mutex Mutex;
  std::vector<TPlayState> States;
  std::vector<int64_t> Positions;
  TFileOpenRecord FileOpen;
  TFFPlayer Player;  // last: destroyed first, while the dispatcher still runs
};

// True when every pixel of column x is black.
inline bool ColumnBlack(const TBitmap24& b, int x) {
  for (int y = 0; y < b.Height; ++y) {
    const uint8_t* p = b.Row(y) + x * 3;
    if (p[0] > 16 || p[1] > 16 || p[2] > 16) return false;
  }
  return true;
}

inline bool AllBlack(const TBitmap24& b) {
  for (int x = 0; x < b.Width; ++x)
    if (!ColumnBlack(b, x)) return false;
  return true;
}
