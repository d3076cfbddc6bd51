// Measurement runs of the player on generated clips, headless (SDL's dummy audio driver):
//   drift    audio/video offset over a 30 s clip, from what reaches the device and the surface
//   startup  Open to the first picture, 720p H.264
//   seek     Seek(..., wait) latency, 720p H.264
//   cpu      process CPU while playing 720p H.264
//   memory   resident size over 50 open/close cycles
// Usage: player_bench [drift|startup|seek|cpu|memory]... (all when none is named)
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/FFmpegLoader.h"
#include "engine/MainThreadDispatcher.h"
#include "player/FFPlay.h"
#include "player/PlayerTap.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

namespace {

using namespace std::chrono_literals;

// Remembers when each picture arrived, by its time.
class TTimingSurface : public VideoSurface {
 public:
  explicit TTimingSurface(int w, int h) : Size{w, h} {}
  void present(const TBitmap24&, int64_t timeUs) override {
    std::lock_guard lock(Mutex);
    Shown.push_back({PlayerClockSeconds(), timeUs});
  }
  void clear() override {}
  TSurfaceSize clientSize() const override { return Size; }
  struct TShown {
    double Wall;
    int64_t Time;
  };
  std::vector<TShown> Take() {
    std::lock_guard lock(Mutex);
    return std::exchange(Shown, {});
  }
  size_t Count() {
    std::lock_guard lock(Mutex);
    return Shown.size();
  }

 private:
  std::mutex Mutex;
  std::vector<TShown> Shown;
  TSurfaceSize Size;
};

// Beep onsets in the device's output. The test tone is 440 Hz with a 1760 Hz beep at every
// whole second; a short gap between zero crossings after long ones marks an onset.
struct TBeepDetector {
  std::mutex Mutex;
  std::vector<double> Onsets;  // wall seconds at which a beep reaches the device's output
  long SampleIndex = 0;
  long LastCrossing = 0;
  float Last = 0;
  int LongGaps = 0;
} Beeps;

void AudioTap(const TPlayerAudioTapInfo& info) {
  if (info.SampleFormat != 1 /* AV_SAMPLE_FMT_S16 */) return;
  const int frames = info.Length / (2 * info.Channels);
  const double rate = info.BytesPerSecond / (2.0 * info.Channels);
  std::lock_guard lock(Beeps.Mutex);
  for (int i = 0; i < frames; ++i, ++Beeps.SampleIndex) {
    int16_t v;
    std::memcpy(&v, info.Data + i * 2 * info.Channels, 2);
    const float s = v / 32768.0f;
    if ((s >= 0) != (Beeps.Last >= 0)) {
      const long gap = Beeps.SampleIndex - Beeps.LastCrossing;
      Beeps.LastCrossing = Beeps.SampleIndex;
      if (gap > rate / 1200) {
        ++Beeps.LongGaps;
      } else if (Beeps.LongGaps > 20) {
        // The dummy device plays a block from the moment it asks for it.
        Beeps.Onsets.push_back(info.CallbackTime + i / rate);
        Beeps.LongGaps = 0;
      }
    }
    Beeps.Last = s;
  }
}

long ResidentKiB() {
  std::ifstream in("/proc/self/statm");
  long pages = 0, resident = 0;
  in >> pages >> resident;
  return resident * 4;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::string MakeClip(TTempDir& dir, const std::string& name, TTestMediaSpec spec) {
  const std::string path = dir.File(name);
  const auto start = std::chrono::steady_clock::now();
  const std::string error = MakeTestMedia(path, spec);
  if (!error.empty()) {
    std::fprintf(stderr, "cannot make %s: %s\n", name.c_str(), error.c_str());
    std::exit(1);
  }
  std::printf("  (made %s in %.1f s)\n", name.c_str(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return path;
}

TTestMediaSpec Hd(double seconds) {
  TTestMediaSpec spec;
  spec.VideoCodec = "libx264";
  spec.AudioCodec = "aac";
  spec.Width = 1280;
  spec.Height = 720;
  spec.VideoBitRate = 2500000;
  spec.Duration = seconds;
  return spec;
}

void WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) { WaitPumping(done, limit); }

void Drift(TTempDir& dir) {
  TTestMediaSpec spec;
  spec.Width = 320;
  spec.Height = 240;
  spec.Duration = 30.0;
  const std::string file = MakeClip(dir, "drift.avi", spec);
  TFFPlayer player;
  TTimingSurface surface(320, 240);
  SetPlayerAudioTap(&AudioTap);
  if (!player.Open(file, &surface)) return void(std::printf("drift: open failed: %s\n", player.LastErrorMessage().c_str()));
  WaitFor([&] { return player.State() == psEnd; }, 40s);
  player.Close(true);
  SetPlayerAudioTap(nullptr);
  const auto shown = surface.Take();
  std::vector<double> offsets;  // picture of second k shown minus beep of second k heard, ms
  std::lock_guard lock(Beeps.Mutex);
  for (int k = 1; k < 30; ++k) {
    auto picture = std::find_if(shown.begin(), shown.end(), [&](const auto& s) { return s.Time >= k * 1000000LL; });
    auto beep = std::find_if(Beeps.Onsets.begin(), Beeps.Onsets.end(), [&](double t) {
      return picture != shown.end() && std::fabs(t - picture->Wall) < 0.5;
    });
    if (picture == shown.end() || beep == Beeps.Onsets.end()) continue;
    offsets.push_back((picture->Wall - *beep) * 1000.0);
  }
  if (offsets.size() < 2) return void(std::printf("drift: too few matches (%zu)\n", offsets.size()));
  const auto [lo, hi] = std::minmax_element(offsets.begin(), offsets.end());
  double mean = 0;
  for (double o : offsets) mean += o;
  mean /= offsets.size();
  std::printf("drift: %zu seconds matched; picture minus sound: mean %.1f ms, min %.1f, max %.1f; "
              "first %.1f, last %.1f (change %.1f ms over the clip)\n",
              offsets.size(), mean, *lo, *hi, offsets.front(), offsets.back(), offsets.back() - offsets.front());
  std::printf("drift: %zu pictures shown of 750\n", shown.size());
}

void Startup(TTempDir& dir, const std::string& file) {
  (void)dir;
  std::vector<double> ms;
  for (int i = 0; i < 10; ++i) {
    TFFPlayer player;
    TTimingSurface surface(1280, 720);
    const double start = PlayerClockSeconds();
    if (!player.Open(file, &surface)) return void(std::printf("startup: open failed\n"));
    WaitFor([&] { return surface.Count() > 0; }, 5s);
    const auto shown = surface.Take();
    if (!shown.empty()) ms.push_back((shown.front().Wall - start) * 1000.0);
    player.Close(true);
  }
  std::printf("startup: Open to first picture, 720p H.264, %zu runs: median %.1f ms, max %.1f ms\n", ms.size(),
              Median(ms), ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()));
}

void SeekLatency(const std::string& file) {
  TFFPlayer player;
  TTimingSurface surface(1280, 720);
  if (!player.Open(file, &surface)) return void(std::printf("seek: open failed\n"));
  WaitFor([&] { return surface.Count() > 0; }, 5s);
  for (int flags : {0, 4}) {
    std::vector<double> ms;
    for (int i = 0; i < 12; ++i) {
      const int64_t target = ((i * 7) % 9) * 1000000LL + 300000;
      const double start = PlayerClockSeconds();
      player.Seek(target, flags, true);
      ms.push_back((PlayerClockSeconds() - start) * 1000.0);
      WaitFor([] { return false; }, 50ms);
    }
    std::printf("seek: flags %d, wait, 720p H.264, %zu seeks: median %.1f ms, max %.1f ms\n", flags, ms.size(),
                Median(ms), *std::max_element(ms.begin(), ms.end()));
  }
  player.Close(true);
}

void Cpu(const std::string& file, int w, int h) {
  TFFPlayer player;
  TTimingSurface surface(w, h);
  if (!player.Open(file, &surface)) return void(std::printf("cpu: open failed\n"));
  WaitFor([&] { return surface.Count() > 0; }, 5s);
  surface.Take();
  const double cpu0 = CpuSeconds(), wall0 = PlayerClockSeconds();
  WaitFor([] { return false; }, 8s);
  const double cpu = CpuSeconds() - cpu0, wall = PlayerClockSeconds() - wall0;
  const size_t shown = surface.Take().size();
  player.Close(true);
  std::printf("cpu: 720p H.264 into %dx%d: %.0f %% of one core (%.1f s CPU in %.1f s), %.1f pictures/s\n", w, h,
              100.0 * cpu / wall, cpu, wall, shown / wall);
}

void Memory(TTempDir& dir) {
  TTestMediaSpec spec;
  spec.Duration = 2.0;
  const std::string file = MakeClip(dir, "cycle.avi", spec);
  TFFPlayer player;
  TTimingSurface surface(320, 240);
  long warm = 0;
  for (int i = 0; i < 55; ++i) {
    if (i == 5) warm = ResidentKiB();
    if (!player.Open(file, &surface)) return void(std::printf("memory: open failed\n"));
    WaitFor([&] { return surface.Count() > 0; }, 5s);
    surface.Take();
    player.Close(true);
  }
  const long after = ResidentKiB();
  std::printf("memory: resident after 5 warm-up cycles %ld KiB, after 50 more %ld KiB (%+ld KiB)\n", warm, after,
              after - warm);
}

bool Wanted(int argc, char** argv, const char* name) {
  if (argc < 2) return true;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == name) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  TQueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  if (!TFFmpegLoader::Instance().Load(PlayerLibraries)) {
    std::fprintf(stderr, "%s\n", TFFmpegLoader::Instance().LastErrorMessage().c_str());
    return 1;
  }
  TTempDir dir;
  if (Wanted(argc, argv, "drift")) Drift(dir);
  const bool hd = Wanted(argc, argv, "startup") || Wanted(argc, argv, "seek") || Wanted(argc, argv, "cpu");
  const std::string hdFile = hd ? MakeClip(dir, "hd.mp4", Hd(10.0)) : "";
  if (Wanted(argc, argv, "startup")) Startup(dir, hdFile);
  if (Wanted(argc, argv, "seek")) SeekLatency(hdFile);
  if (Wanted(argc, argv, "cpu")) {
    Cpu(hdFile, 1280, 720);
    Cpu(hdFile, 640, 360);
  }
  if (Wanted(argc, argv, "memory")) Memory(dir);
  SetMainThreadDispatcher(nullptr);
  return 0;
}
