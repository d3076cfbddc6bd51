// The player on generated clips, headless: SDL's dummy audio driver and a recording surface.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <thread>

#include "PlayerTestSupport.h"
#include "StalledPipe.h"
#include "engine/FFUtils.h"
#include "player/PlayerTap.h"

namespace {

using namespace std::chrono_literals;
using TClockType = std::chrono::steady_clock;


TEST(PlayerLibraries, OpenRefusesBeforeTheLibrariesAreLoaded) {
  if (TFFmpegLoader::Instance().Loaded(PlayerLibraries)) GTEST_SKIP() << "loaded by an earlier test";
  TFFPlayer player;
  EXPECT_FALSE(player.Open("whatever.avi", nullptr));
  EXPECT_EQ(player.LastErrorMessage(), "libav or libsdl not loaded.");
}

TEST_F(TPlayerTest, PlaysThroughWithStatesInOrder) {
  const std::string file = Clip("clip.avi", Video(2.0));
  ASSERT_TRUE(Player.Open(file, &Surface)) << Player.LastErrorMessage();
  EXPECT_EQ(Player.FileName(), file);
  ASSERT_TRUE(WaitState(psPlay));
  ASSERT_TRUE(PumpUntil([&] { return Player.CurrentPosition() > 200000; }));
  EXPECT_FALSE(Player.Paused());
  Player.Pause();
  EXPECT_TRUE(Player.Paused());
  ASSERT_TRUE(WaitState(psPause));
  const int64_t pausedAt = Player.CurrentPosition();
  PumpUntil([] { return false; }, 300ms);
  EXPECT_LE(std::llabs(Player.CurrentPosition() - pausedAt), 40000) << "the position holds while paused";
  Player.Resume();
  ASSERT_TRUE(WaitState(psResume));
  ASSERT_TRUE(WaitState(psEnd));
  Player.Close(true);
  EXPECT_EQ(StatesSeen(), (std::vector<TPlayState>{psPlay, psPause, psResume, psEnd, psStop}));
  EXPECT_EQ(Player.CurrentPosition(), -1);
  EXPECT_TRUE(Player.Paused()) << "nothing open counts as paused";
  EXPECT_GE(Surface.ClearCount(), 1) << "closing clears the surface";

  const auto positions = PositionsSeen();
  ASSERT_GE(positions.size(), 10u);
  for (size_t i = 1; i < positions.size(); ++i) {
    EXPECT_GT(std::llabs(positions[i] - positions[i - 1]), 10000) << "the 10 ms filter, at " << i;
    EXPECT_GE(positions[i], positions[i - 1]);
  }
  EXPECT_GE(positions.back(), 1800000);
  EXPECT_LE(positions.back(), 2000000);
}

TEST_F(TPlayerTest, FileOpenReportsTheStreamsBeforeOpenReturns) {
  struct TCase {
    const char* Name;
    bool AudioOnlyFile;
    bool DisableDisplay;
    int32_t Width, Height;
  };
  const TCase cases[] = {
      {"video", false, false, 160, 120},
      {"audio only", true, false, -1, -1},
      {"display disabled", false, true, -1, -1},
  };
  const std::string video = Clip("v.avi", Video(1.0));
  const std::string audio = Clip("a.wav", AudioOnly(1.0));
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FileOpen = {};
    Player.SetDisableDisplay(c.DisableDisplay);
    ASSERT_TRUE(Player.Open(c.AudioOnlyFile ? audio : video, &Surface)) << Player.LastErrorMessage();
    {
      std::lock_guard lock(Mutex);
      EXPECT_TRUE(FileOpen.Called);
      EXPECT_NEAR(double(FileOpen.Duration), 1e6, 60000);
      EXPECT_EQ(FileOpen.Width, c.Width);
      EXPECT_EQ(FileOpen.Height, c.Height);
    }
    EXPECT_EQ(Player.Probe().FormatContext() != nullptr, true) << "the probe is attached";
    Player.Close(true);
    EXPECT_EQ(Player.Probe().FormatContext(), nullptr);
  }
}

TEST_F(TPlayerTest, FileOpenHandlerChoosesTheDisplaySize) {
  const std::string file = Clip("clip.avi", Video(1.0));
  Player.SetOnFileOpen([](TFFPlayer*, int64_t, int32_t, int32_t, int32_t& w, int32_t& h) {
    w = 200;
    h = 100;
  });
  Surface.Resize(500, 500);
  ASSERT_TRUE(Player.Open(file, &Surface, true));
  EXPECT_EQ(Player.ScreenWidth(), 200);
  EXPECT_EQ(Player.ScreenHeight(), 100);
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  EXPECT_EQ(Surface.LastFrame().Width, 200);
  EXPECT_EQ(Surface.LastFrame().Height, 100);
}

TEST_F(TPlayerTest, StartPausedShowsPicturesThenReportsPause) {
  const std::string file = Clip("clip.avi", Video(2.0));
  ASSERT_TRUE(Player.Open(file, &Surface, true));
  EXPECT_TRUE(Player.Paused());
  ASSERT_TRUE(WaitState(psPause));
  const int shown = Surface.PresentCount();
  EXPECT_GE(shown, 2);
  PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(Surface.PresentCount(), shown) << "held after the second picture";
  EXPECT_LT(Player.CurrentPosition(), 200000);
}

TEST_F(TPlayerTest, BurstOfPositionsCollapsesWhileTheMainThreadIsBusy) {
  const std::string file = Clip("clip.avi", Video(4.0));
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(PumpUntil([&] { return PositionsSeen().size() >= 2; }));
  ForgetEvents();
  const int64_t before = Player.CurrentPosition();
  // Busy, without pumping, while playback goes on by half a second (a dozen positions).
  for (int i = 0; i < 500 && Player.CurrentPosition() - before < 500000; ++i) std::this_thread::sleep_for(10ms);
  const int64_t latest = Player.CurrentPosition();
  ASSERT_GE(latest - before, 500000) << "playback went on meanwhile";
  Dispatcher.pumpFor(20ms);
  Dispatcher.pumpFor(20ms);
  const auto delivered = PositionsSeen();
  // One taken by the event thread before the burst, then the latest of the burst.
  ASSERT_GE(delivered.size(), 1u);
  EXPECT_LE(delivered.size(), 3u);
  EXPECT_GE(delivered.back(), latest - 40000);
}

TEST_F(TPlayerTest, SeekWhileASeekIsPendingIsIgnored) {
  const std::string file = Clip("clip.avi", Video(4.0));
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  Player.Seek(3 * Second, 4, false);
  Player.Seek(Second / 2, 4, false);
  Player.Pause();
  ASSERT_TRUE(PumpUntil([&] {
    int64_t at = -1;
    Player.CurrentFrame(&at);
    return at >= 3 * Second;
  }, 5s));
  int64_t at = -1;
  Player.CurrentFrame(&at);
  EXPECT_LT(at, 3 * Second + 100000);
}

TEST_F(TPlayerTest, SeekWithWaitReturnsWithTheFirstPictureShown) {
  struct TCase {
    const char* Name;
    int64_t Target;
    int Flags;
    int64_t Low, High;
  };
  const TCase cases[] = {
      {"any frame lands on the target", 2 * Second, 4, 2 * Second - 40000, 2 * Second + 40000},
      {"backward lands on the key frame before", 2 * Second + 200000, 1, 1500000, 2 * Second + 200000},
      {"beyond the end is limited to the duration", 60 * Second, 4, 2 * Second, 3 * Second},
  };
  const std::string file = Clip("clip.avi", Video(3.0));
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  Player.Pause();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Player.Seek(c.Target, c.Flags, true);
    int64_t shown = -1;
    Surface.LastFrame(&shown);
    EXPECT_GE(shown, c.Low);
    EXPECT_LE(shown, c.High);
    int64_t current = -1;
    Player.CurrentFrame(&current);
    EXPECT_EQ(current, shown);
  }
}

TEST_F(TPlayerTest, SeekByBytesLandsInTheMiddle) {
  TTestMediaSpec spec = Video(4.0);
  spec.VideoCodec = "mpeg2video";
  const std::string file = Clip("clip.ts", spec);
  ASSERT_TRUE(Player.Open(file, &Surface)) << Player.LastErrorMessage();
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  Player.Pause();
  Player.Seek(FileSizeOf(file) / 2, 2, true);
  int64_t shown = -1;
  Surface.LastFrame(&shown);
  EXPECT_GT(shown, Second);
  EXPECT_LT(shown, 3 * Second);
}

TEST_F(TPlayerTest, StopAfterTheEndHoldsTheFirstFrame) {
  const std::string file = Clip("clip.avi", Video(1.0));
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(WaitState(psEnd));
  Player.Seek(0, 4, false);
  Player.Pause();
  ASSERT_TRUE(PumpUntil([&] {
    int64_t at = -1;
    Player.CurrentFrame(&at);
    return at == 0;
  }, 5s));
  const int shown = Surface.PresentCount();
  PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(Surface.PresentCount(), shown);
  EXPECT_TRUE(Player.Paused());
  EXPECT_EQ(Player.State(), psPause);
  Player.Resume();
  ASSERT_TRUE(PumpUntil([&] { return Player.CurrentPosition() > 300000; })) << "plays again after the stop";
}

TEST_F(TPlayerTest, CloseWithWaitOnAPausedFileReturnsPromptly) {
  const std::string file = Clip("clip.avi", Video(3.0));
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  Player.Pause();
  const auto start = TClockType::now();
  Player.Close(true);
  // The fallback closes after 20 slices of 100 ms; a paused player must not need it.
  EXPECT_LT(TClockType::now() - start, 1500ms);
  EXPECT_TRUE(HasState(psStop));
}

TEST_F(TPlayerTest, CloseWithoutWaitStopsInTheBackground) {
  const std::string file = Clip("clip.avi", Video(3.0));
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(WaitState(psPlay));
  Player.Close(false);
  ASSERT_TRUE(WaitState(psStop));
  EXPECT_TRUE(Player.Paused());
  EXPECT_EQ(Player.CurrentPosition(), -1);
  ASSERT_TRUE(Player.Open(file, &Surface)) << "a new file after a background close";
  EXPECT_TRUE(PumpUntil([&] { return Player.CurrentPosition() > 100000; }));
}

TEST_F(TPlayerTest, CurrentFrameIsBlackUntilTheFirstPicture) {
  const std::string file = Clip("clip.avi", Video(1.0));
  std::mutex gateMutex;
  std::condition_variable gate;
  bool open = false;
  const std::function<void()> letThrough = [&] {
    {
      std::lock_guard lock(gateMutex);
      open = true;
    }
    gate.notify_all();
  };
  // The hook uses this body's locals: the player closes before they go, on every way out.
  struct TCloseFirst {
    TFFPlayer& Player;
    const std::function<void()>& Open;
    ~TCloseFirst() {
      Open();
      Player.Close(true);
    }
  } closeFirst{Player, letThrough};
  Player.SetHook(true);
  Player.SetOnHook([&](TFFPlayer*, TBitmap24&, int64_t) {
    std::unique_lock lock(gateMutex);
    gate.wait(lock, [&] { return open; });
  });
  ASSERT_TRUE(Player.Open(file, &Surface));
  int64_t at = 0;
  const TBitmap24& before = Player.CurrentFrame(&at);
  EXPECT_EQ(at, -1);
  EXPECT_EQ(before.Width, 160);
  EXPECT_EQ(before.Height, 120);
  EXPECT_TRUE(AllBlack(before));
  letThrough();
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  const TBitmap24& after = Player.CurrentFrame(&at);
  EXPECT_GE(at, 0);
  EXPECT_EQ(after.Width, 160);
  EXPECT_FALSE(AllBlack(after));
}

TEST_F(TPlayerTest, AspectRatioLaysThePictureOut) {
  struct TCase {
    const char* Name;
    float Aspect;
    int Border;  // black columns on the left
  };
  const TCase cases[] = {
      {"from the stream, 4:3", 0.0f, 94},
      {"forced 2:1", 2.0f, 60},
      {"fill", -1.0f, 0},
  };
  const std::string file = Clip("clip.avi", Video(2.0));
  Surface.Resize(320, 100);
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  Player.Pause();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const int before = Surface.PresentCount();
    Player.SetAspectRatio(c.Aspect);
    if (c.Aspect != 0.0f) {
      ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > before; }));
    }
    const TBitmap24 frame = Surface.LastFrame();
    ASSERT_EQ(frame.Width, 320);
    ASSERT_EQ(frame.Height, 100);
    if (c.Border > 0) {
      EXPECT_TRUE(ColumnBlack(frame, c.Border - 1));
    }
    EXPECT_FALSE(ColumnBlack(frame, c.Border + 2));
    EXPECT_FALSE(ColumnBlack(frame, 319 - c.Border - 2));
  }
}

TEST_F(TPlayerTest, HookPaintsIntoTheShownPicture) {
  struct TCase {
    const char* Name;
    bool Throw;
  };
  const TCase cases[] = {{"painted", false}, {"handler fails", true}};
  const std::string file = Clip("clip.avi", Video(1.0));
  std::vector<std::string> errors;
  std::mutex logMutex;
  TFFLogger::Instance().SetOnLog([&](void*, uint32_t, TLogLevel level, const std::string& msg) {
    std::lock_guard lock(logMutex);
    if (level == llError) errors.push_back(msg);
  });
  const std::thread::id mainThread = std::this_thread::get_id();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::atomic<int> calls{0};
    std::atomic<int> badSize{0};
    Player.SetHook(true);
    Player.SetOnHook([&](TFFPlayer*, TBitmap24& b, int64_t pts) {
      ++calls;
      if (std::this_thread::get_id() == mainThread) ++badSize;
      if (b.Width != 160 || b.Height != 120 || pts < 0) ++badSize;
      if (c.Throw) throw std::runtime_error("boom");
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
          uint8_t* p = b.Row(y) + x * 3;
          p[0] = 255, p[1] = 0, p[2] = 255;
        }
    });
    ASSERT_TRUE(Player.Open(file, &Surface, true));
    ASSERT_TRUE(WaitState(psPause));
    const TBitmap24 shown = Surface.LastFrame();
    ASSERT_EQ(shown.Width, 160);
    int painted = 0;  // magenta pixels of the square
    for (int y = 2; y < 38; ++y)
      for (int x = 2; x < 38; ++x) {
        const uint8_t* p = shown.Row(y) + x * 3;
        painted += p[0] > 200 && p[1] < 60 && p[2] > 200;
      }
    if (c.Throw)
      EXPECT_LT(painted, 36 * 36 / 2);
    else
      EXPECT_GT(painted, 36 * 36 * 95 / 100);
    EXPECT_GE(calls.load(), 2);
    EXPECT_EQ(badSize.load(), 0);
    Player.Close(true);
    ForgetEvents();
  }
  TFFLogger::Instance().SetOnLog(nullptr);
  EXPECT_NE(std::find(errors.begin(), errors.end(), "Error occurs OnHook: boom"), errors.end());
}

TEST_F(TPlayerTest, AudioOnlyPlaysWithAPictureOfTheSound) {
  const std::string file = Clip("tone.wav", AudioOnly(1.0));
  Surface.Resize(200, 80);
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(PumpUntil([&] { return Player.CurrentPosition() > 300000; }));
  ASSERT_GT(Surface.PresentCount(), 0);
  const TBitmap24 picture = Surface.LastFrame();
  EXPECT_EQ(picture.Width, 200);
  EXPECT_EQ(picture.Height, 80);
  EXPECT_FALSE(AllBlack(picture)) << "the wave is drawn";
  ASSERT_TRUE(WaitState(psEnd));
  EXPECT_EQ(Player.CurrentFrame().Width, 0) << "no video, no snapshot";
}

TEST_F(TPlayerTest, DamagedFilesFailWithTheirTexts) {
  const std::string missing = Dir.File("missing.avi");
  const std::string garbage = Dir.File("garbage.avi");
  const std::string empty = Dir.File("empty.mp4");
  {
    std::ofstream out(garbage, std::ios::binary);
    for (int i = 0; i < 4096; ++i) out.put(static_cast<char>((i * 7919) & 0xff));
    std::ofstream{empty};
  }
  struct TCase {
    const char* Name;
    std::string File;
    bool NoStreams;
    std::string Error;
  };
  const std::string video = Clip("v.avi", Video(1.0));
  const TCase cases[] = {
      {"missing", missing, false, missing + ": No such file or directory"},
      {"garbage", garbage, false, garbage + ": Invalid data found when processing input"},
      {"empty", empty, false, empty + ": Invalid data found when processing input"},
      {"nothing left to play", video, true, video + ": could not open codecs, no stream to play."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Player.SetDisableAudio(c.NoStreams);
    Player.SetDisableVideo(c.NoStreams);
    EXPECT_FALSE(Player.Open(c.File, &Surface));
    EXPECT_EQ(Player.LastErrorMessage(), c.Error);
    EXPECT_TRUE(Player.Paused());
  }
}

TEST_F(TPlayerTest, DamagedContentPlaysWhatItCanOrFails) {
  const std::string whole = Clip("whole.mp4", [] {
    TTestMediaSpec s = Video(2.0);
    s.VideoCodec = "libx264";
    s.AudioCodec = "aac";
    return s;
  }());
  std::ifstream in(whole, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), {});
  struct TCase {
    const char* Name;
    double Keep;     // share of the file kept
    bool Scramble;   // overwrite the middle third with noise
  };
  const TCase cases[] = {{"cut at 30 %", 0.3, false}, {"cut at 70 %", 0.7, false}, {"noise in the middle", 1.0, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string damaged = data.substr(0, static_cast<size_t>(data.size() * c.Keep));
    if (c.Scramble)
      for (size_t i = damaged.size() / 3; i < 2 * damaged.size() / 3; ++i) damaged[i] = char(i * 2654435761u >> 13);
    const std::string file = Dir.File("damaged.mp4");
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(damaged.data(), std::streamsize(damaged.size()));
    ForgetEvents();
    if (Player.Open(file, &Surface)) {
      EXPECT_TRUE(WaitState(psEnd, 10s)) << "plays to its end";
    } else {
      EXPECT_FALSE(Player.LastErrorMessage().empty());
    }
    Player.Close(true);
  }
}

TEST_F(TPlayerTest, WindowsDriverChoiceKeepsSdlsDefault) {
  const std::string file = Clip("tone.wav", AudioOnly(0.5));
  std::vector<std::string> lines;
  TFFLogger::Instance().SetOnLog([&](void*, uint32_t, TLogLevel, const std::string& msg) { lines.push_back(msg); });
  const std::string before = getenv("SDL_AUDIODRIVER") ? getenv("SDL_AUDIODRIVER") : "";
  Player.SetAudioDriver(adWaveOut);
  ASSERT_TRUE(Player.Open(file, &Surface)) << Player.LastErrorMessage();
  EXPECT_EQ(std::string(getenv("SDL_AUDIODRIVER") ? getenv("SDL_AUDIODRIVER") : ""), before);
  Player.Close(true);
  TFFLogger::Instance().SetOnLog(nullptr);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "SDL_AUDIODRIVER \"waveout\" is not available, using SDL's default"),
            lines.end());
}

TEST_F(TPlayerTest, RepeatedOpenAndCloseStaysSound) {
  const std::string file = Clip("clip.avi", Video(1.0));
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(Player.Open(file, &Surface, i % 2 == 1));
    if (i % 3 == 0) PumpUntil([&] { return Surface.PresentCount() > 0; }, 2s);
    if (i % 2 == 0) Player.Seek(Second / 2, 0, i % 4 == 0);
    Player.Close(i % 4 != 2);
  }
}

TEST_F(TPlayerTest, ResizedSurfaceGetsPicturesOfItsNewSize) {
  const std::string file = Clip("clip.avi", Video(3.0));
  Surface.Resize(160, 120);
  ASSERT_TRUE(Player.Open(file, &Surface));
  ASSERT_TRUE(PumpUntil([&] { return Surface.PresentCount() > 0; }));
  Surface.Resize(320, 100);
  ASSERT_TRUE(PumpUntil([&] { return Surface.LastFrame().Width == 320; }, 2s));
  EXPECT_EQ(Surface.LastFrame().Height, 100);
  EXPECT_EQ(Player.ScreenWidth(), 320);
  EXPECT_EQ(Player.ScreenHeight(), 100);
}

TEST_F(TPlayerTest, EventsRunOnTheEventThreadWhenNotSentToTheMainThread) {
  const std::string file = Clip("clip.avi", Video(0.5));
  std::atomic<int> onMain{0}, elsewhere{0};
  const std::thread::id mainThread = std::this_thread::get_id();
  Player.SetOnState([&](TFFPlayer*, TPlayState) {
    ++(std::this_thread::get_id() == mainThread ? onMain : elsewhere);
  });
  Player.SetTriggerEventInMainThread(false);
  ASSERT_TRUE(Player.Open(file, &Surface));
  // No pumping: the events must not need the main thread.
  for (int i = 0; i < 1000 && elsewhere < 2; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_GE(elsewhere.load(), 2) << "psPlay and psEnd";
  Player.Close(true);
  EXPECT_EQ(onMain.load(), 0);
}

TEST_F(TPlayerTest, CloseOrReopenFromAStateHandlerDoesNotHang) {
  const std::string file = Clip("clip.avi", Video(0.5));
  for (const bool reopen : {false, true}) {
    SCOPED_TRACE(reopen ? "reopen" : "close");
    std::atomic<int> ends{0}, plays{0};
    Player.SetOnState([&](TFFPlayer* sender, TPlayState s) {
      if (s == psPlay) ++plays;
      if (s != psEnd || ++ends > 1) return;
      if (reopen)
        EXPECT_TRUE(sender->Open(file, &Surface));
      else
        sender->Close(true);
    });
    ASSERT_TRUE(Player.Open(file, &Surface));
    ASSERT_TRUE(PumpUntil([&] { return ends.load() >= (reopen ? 2 : 1); }));
    EXPECT_EQ(plays.load(), reopen ? 2 : 1);
    EXPECT_EQ(Player.Paused(), !reopen);
    Player.Close(true);
  }
  ASSERT_TRUE(Player.Open(file, &Surface)) << "the player is usable again";
}

TEST_F(TPlayerTest, ImageSequenceHasNoDurationAndNoPositions) {
  TTestMediaSpec spec = Video(0.2);
  spec.Container = "image2";
  spec.VideoCodec = "png";
  spec.AudioCodec.clear();
  const std::string pattern = Clip("img%03d.png", spec);
  ASSERT_TRUE(Player.Open(pattern, &Surface)) << Player.LastErrorMessage();
  {
    std::lock_guard lock(Mutex);
    EXPECT_TRUE(FileOpen.Called);
    EXPECT_EQ(FileOpen.Duration, 0);
    EXPECT_EQ(FileOpen.Width, 160);
  }
  ASSERT_TRUE(WaitState(psEnd));
  EXPECT_GT(Surface.PresentCount(), 0);
  EXPECT_TRUE(PositionsSeen().empty());
}

// What the audio device receives, for the volume and mute checks.
std::atomic<int> LoudestSample{0};
std::atomic<int> AudioBlocks{0};
void MeasureLoudness(const TPlayerAudioTapInfo& info) {
  if (info.SampleFormat != 1 /* AV_SAMPLE_FMT_S16 */) return;
  int loudest = 0;
  for (int i = 0; i + 1 < info.Length; i += 2) {
    int16_t v;
    std::memcpy(&v, info.Data + i, 2);
    loudest = std::max(loudest, std::abs(int(v)));
  }
  if (loudest > LoudestSample) LoudestSample = loudest;
  ++AudioBlocks;
}

TEST_F(TPlayerTest, AudioIsMixedAtTheVolumeAndSilentWhenMuted) {
  struct TCase {
    const char* Name;
    int Volume;
    bool Mute;
    double Level;  // loudest sample reaching the device, against full volume
  };
  const TCase cases[] = {
      {"full volume", 128, false, 1.0},
      {"quarter volume", 32, false, 0.25},
      {"muted", 128, true, 0.0},
      {"volume 0", 0, false, 0.0},
  };
  int full = 0;
  const std::string file = Clip("tone.wav", AudioOnly(0.6));
  SetPlayerAudioTap(&MeasureLoudness);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Player.SetAudioVolume(c.Volume);
    Player.SetMute(c.Mute);
    ASSERT_TRUE(Player.Open(file, &Surface));
    ASSERT_TRUE(PumpUntil([&] { return Player.CurrentPosition() > 300000; }));
    LoudestSample = 0;
    AudioBlocks = 0;
    ASSERT_TRUE(PumpUntil([&] { return AudioBlocks > 3; }));
    if (c.Volume == 128 && !c.Mute) {
      full = LoudestSample;
      EXPECT_GT(full, 1000) << "the tone reaches the device";
    } else {
      EXPECT_NEAR(LoudestSample.load(), c.Level * full, 0.02 * full + 1);
    }
    Player.Close(true);
  }
  SetPlayerAudioTap(nullptr);
}

}  // namespace

// A named pipe whose sender stops mid-stream leaves the reader waiting inside a read; Close
// still returns at once and the player can open the next file. A pipe that sends nothing
// fails Open after five silent seconds instead of holding the caller for ever.
TEST_F(TPlayerTest, StalledPipesNeitherHoldOpenNorClose) {
  const std::string file = Clip("clip.nut", Video(3.0));
  {
    TStalledPipe pipe(Dir.File("stream.nut"), file, 0.5);
    ASSERT_TRUE(pipe.Ready());
    ASSERT_TRUE(Player.Open(Dir.File("stream.nut"), &Surface)) << Player.LastErrorMessage();
    ASSERT_TRUE(PumpUntil([&] { return Player.CurrentPosition() > 500000; }));
    // The pictures stop where the data does.
    ASSERT_TRUE(PumpUntil([&] {
      const int before = Surface.PresentCount();
      WaitPumping([] { return false; }, 300ms);
      return Surface.PresentCount() == before;
    }));
    EXPECT_LT(Player.CurrentPosition(), 2500000);
    const auto start = TClockType::now();
    Player.Close(true);
    EXPECT_LT(TClockType::now() - start, 1000ms);
    EXPECT_TRUE(HasState(psStop));
  }
  {
    TStalledPipe silent(Dir.File("silent.nut"), file, 0.0);
    ASSERT_TRUE(silent.Ready());
    const auto start = TClockType::now();
    EXPECT_FALSE(Player.Open(Dir.File("silent.nut"), &Surface));
    EXPECT_LT(TClockType::now() - start, 7s);
    EXPECT_EQ(Player.LastErrorMessage(), Dir.File("silent.nut") + ": Timed out waiting for data");
  }
  ASSERT_TRUE(Player.Open(file, &Surface));
  EXPECT_TRUE(PumpUntil([&] { return Player.CurrentPosition() > 100000; }));
}
