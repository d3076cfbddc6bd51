// The play thread's side of a stream: picture timing against the audio clock, the picture
// fitted into the display area, the audio picture, position and end reports.
#include <algorithm>
#include <cmath>

#include "FFPlay.h"
#include "PlayerStream.h"
#include "PlayerLog.h"

namespace {

constexpr double SyncMin = 0.04;       // below this, a picture's delay is never doubled
constexpr double SyncMax = 0.1;        // above this, one correction covers the whole lag
constexpr double NoSyncBeyond = 10.0;  // larger differences are timestamp jumps, not drift
constexpr double SyncPull = 0.1;       // share of a small difference taken up per picture
constexpr double IdleRefresh = 0.01;
constexpr double WaveInterval = 0.04;
constexpr int DefaultWidth = 640, DefaultHeight = 480;

}  // namespace

TPictureRect FitPicture(int areaWidth, int areaHeight, double aspect) {
  if (areaWidth <= 0 || areaHeight <= 0) return {};
  if (!(aspect > 0)) aspect = double(areaWidth) / areaHeight;
  int height = areaHeight;
  int width = static_cast<int>(std::lrint(height * aspect)) & ~1;
  if (width > areaWidth) {
    width = areaWidth;
    height = static_cast<int>(std::lrint(width / aspect)) & ~1;
  }
  return {(areaWidth - width) / 2, (areaHeight - height) / 2, width, height};
}

void TPlayerStream::StartPlayback() {
  FrameTimer = NowSeconds();
  if (Options.Surface) LastClientSize = Options.Surface->clientSize();
  if (VideoIndex < 0 && StartPausePending) {
    StartPausePending = false;
    TogglePause();
    Owner.ReportState(psPause);
  }
  if (Device) Lib.SDL_PauseAudioDevice(Device, 0);
}

void TPlayerStream::TogglePause() {
  if (StartPausePending) {
    StartPausePending = false;
    return;
  }
  const bool pause = !Paused;
  if (!pause) FrameTimer += NowSeconds() - VideoClock.LastUpdated();
  for (TClock* c : {&VideoClock, &AudioClock, &ExternalClock}) c->SetPaused(pause);
  Paused = pause;
  DemuxWake.notify_all();
}

double TPlayerStream::Refresh() {
  CheckSurfaceSize();
  const double remaining = VideoIndex >= 0 ? RefreshVideo() : RefreshAudioOnly();
  CheckEnd();
  return remaining;
}

void TPlayerStream::Redraw() {
  if (VideoIndex >= 0) {
    if (!HasShown) return;
    DrawPicture(Shown);
    Present(ToFileTime(Shown.Pts));
  } else {
    DrawWave();
    Present(Owner.Position);
  }
}

double TPlayerStream::RefreshVideo() {
  double remaining = IdleRefresh;
  if (TakeDuePicture(remaining)) {
    DrawPicture(Shown);
    Present(ToFileTime(Shown.Pts));
    AfterPictureShown(Shown);
  }
  return remaining;
}

double TPlayerStream::RefreshAudioOnly() {
  if (!Options.Surface || Options.DisableDisplay) return IdleRefresh;
  const double now = NowSeconds();
  if (now - LastWaveTime >= WaveInterval && !Paused) {
    LastWaveTime = now;
    DrawWave();
    Present(Owner.Position);
  }
  return IdleRefresh;
}

double TPlayerStream::MasterClock() const { return AudioIndex >= 0 ? AudioClock.Get() : VideoClock.Get(); }

// Sync to the audio clock: a late picture shortens the wait, an early one doubles
// it (or, when pictures are far apart, adds the whole lead). A difference too small for
// those is pulled in a little with every picture, so the pictures keep to the sound instead
// of wandering to the threshold before anything corrects them.
double TPlayerStream::TargetDelay(double delay) const {
  if (AudioIndex < 0) return delay;
  const double diff = VideoClock.Get() - MasterClock();
  const double threshold = std::clamp(delay, SyncMin, SyncMax);
  if (std::isnan(diff) || std::fabs(diff) >= NoSyncBeyond) return delay;
  if (diff <= -threshold) return std::max(0.0, delay + diff);
  if (diff >= threshold && delay > SyncMax) return delay + diff;
  if (diff >= threshold) return 2 * delay;
  return std::max(0.0, delay + SyncPull * diff);
}

namespace {

double PictureGap(const TPicture& shown, double nextPts, int nextSerial) {
  if (shown.Serial != nextSerial) return 0.0;
  const double gap = nextPts - shown.Pts;
  if (std::isnan(gap) || gap <= 0 || gap > NoSyncBeyond) return shown.Duration;
  return gap;
}

struct TPeek {
  bool Have = false;
  double Pts = NAN;
  int Serial = 0;
  bool HaveNext = false;
  double NextPts = NAN;
};

}  // namespace

// Moves the picture that is due into Shown; false when none is due (remaining then says when).
bool TPlayerStream::TakeDuePicture(double& remaining) {
  for (;;) {
    const int serial = VideoPackets.Serial();
    const TPeek peek = Pictures.With([&](std::deque<TPicture>& items) {
      while (!items.empty() && items.front().Serial != serial) items.pop_front();
      TPeek p;
      if (items.empty()) return p;
      p = {true, items[0].Pts, items[0].Serial, items.size() > 1, items.size() > 1 ? items[1].Pts : NAN};
      return p;
    });
    if (!peek.Have) return false;
    const bool fresh = !HasShown || Shown.Serial != peek.Serial;
    const double now = NowSeconds();
    if (fresh) FrameTimer = now;
    if (Paused && !fresh) return false;
    if (!Paused && !fresh) {
      const double delay = TargetDelay(PictureGap(Shown, peek.Pts, peek.Serial));
      if (now < FrameTimer + delay) {
        remaining = std::min(FrameTimer + delay - now, remaining);
        return false;
      }
      FrameTimer += delay;
      if (delay > 0 && now - FrameTimer > SyncMax) FrameTimer = now;
    }
    if (!std::isnan(peek.Pts)) VideoClock.Set(peek.Pts, peek.Serial);
    TPicture picture;
    Pictures.With([&](std::deque<TPicture>& items) {
      picture = std::move(items.front());
      items.pop_front();
    });
    // Late behind the audio: drop this one when the next is already due too.
    const bool late = AudioIndex >= 0 && peek.HaveNext && !Paused && !fresh &&
                      now > FrameTimer + PictureGap(picture, peek.NextPts, peek.Serial);
    Shown = std::move(picture);
    HasShown = true;
    if (!late) return true;
  }
}

void TPlayerStream::AfterPictureShown(const TPicture& picture) {
  ++PicturesShown;
  if (picture.Serial == VideoPackets.Serial() && SeekDone) FirstPictureShown = true;
  if (!ImageInput && !std::isnan(picture.Pts)) Owner.UpdatePosition(ToFileTime(picture.Pts));
  if (StartPausePending && PicturesShown >= 2) {
    StartPausePending = false;
    TogglePause();
    Owner.ReportState(psPause);
  }
}

int64_t TPlayerStream::ToFileTime(double seconds) const {
  if (std::isnan(seconds)) return AV_NOPTS_VALUE;
  int64_t us = std::llround(seconds * 1e6);
  if (Input->start_time != AV_NOPTS_VALUE) us -= Input->start_time;
  const int64_t duration = DurationUs();
  if (duration > 0 && us > duration) us = duration;
  return std::max<int64_t>(us, 0);
}

// ---- Drawing ----------------------------------------------------------------------------

void TPlayerStream::PrepareArea(int width, int height) {
  if (Display.Width == width && Display.Height == height) return;
  Display.SetSize(width, height);
  Display.Clear();
  Placed = {};
}

void TPlayerStream::DrawPicture(const TPicture& picture) {
  const AVFrame* f = picture.Frame.get();
  int areaW = Owner.AreaWidth, areaH = Owner.AreaHeight;
  if (areaW <= 0 || areaH <= 0) {
    areaW = f->width > 0 ? f->width : DefaultWidth;
    areaH = f->height > 0 ? f->height : DefaultHeight;
  }
  PrepareArea(areaW, areaH);
  double aspect = Owner.Aspect.load();
  if (aspect == 0) {
    const AVRational sar = f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : AVRational{1, 1};
    aspect = av_q2d(sar) * f->width / std::max(1, f->height);
  }
  const TPictureRect rect = FitPicture(areaW, areaH, aspect);
  if (rect.X != Placed.X || rect.Y != Placed.Y || rect.W != Placed.W || rect.H != Placed.H) {
    Display.Clear();
    Placed = rect;
  }
  if (rect.W <= 0 || rect.H <= 0) return;
  DisplayScaler.reset(Lib.sws_getCachedContext(DisplayScaler.release(), f->width, f->height,
                                               static_cast<AVPixelFormat>(f->format), rect.W, rect.H,
                                               AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!DisplayScaler) return;
  uint8_t* dst[4] = {Display.Row(rect.Y) + rect.X * 3, nullptr, nullptr, nullptr};
  int dstStride[4] = {Display.Stride, 0, 0, 0};
  Lib.sws_scale(DisplayScaler.get(), f->data, f->linesize, 0, f->height, dst, dstStride);
  BlendSubtitles(picture.Pts);
}

void TPlayerStream::BlendSubtitles(double pts) {
  if (SubtitleIndex < 0 || std::isnan(pts)) return;
  const int serial = SubtitlePackets.Serial();
  Subtitles.With([&](std::deque<TSubtitleItem>& items) {
    while (!items.empty() && (items.front().Serial != serial || items.front().Start <= pts)) {
      if (items.front().Serial == serial) ActiveSubtitles.push_back(std::move(items.front()));
      items.pop_front();
    }
  });
  std::erase_if(ActiveSubtitles, [&](const TSubtitleItem& s) { return s.End < pts || s.Serial != serial; });
  DueText.clear();
  for (const TSubtitleItem& item : ActiveSubtitles) {
    for (const TSubtitleRect& r : item.Rects) BlendSubtitleRect(r);
    DueText += item.Text;
  }
}

// The rectangle is in video pixels; it is scaled (nearest) onto the placed picture.
void TPlayerStream::BlendSubtitleRect(const TSubtitleRect& r) {
  const int videoW = std::max(1, VideoWidth()), videoH = std::max(1, VideoHeight());
  const int x0 = std::max(0, r.X * Placed.W / videoW), x1 = std::min(Placed.W, (r.X + r.W) * Placed.W / videoW);
  const int y0 = std::max(0, r.Y * Placed.H / videoH), y1 = std::min(Placed.H, (r.Y + r.H) * Placed.H / videoH);
  for (int y = y0; y < y1; ++y) {
    const int sy = std::min(r.H - 1, y * videoH / Placed.H - r.Y);
    uint8_t* row = Display.Row(Placed.Y + y) + Placed.X * 3;
    for (int x = x0; x < x1; ++x) {
      const int sx = std::min(r.W - 1, x * videoW / Placed.W - r.X);
      if (sx < 0 || sy < 0) continue;
      const uint8_t* s = &r.Bgra[(static_cast<size_t>(sy) * r.W + sx) * 4];
      uint8_t* d = row + x * 3;
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((s[c] * s[3] + d[c] * (255 - s[3])) / 255);
    }
  }
}

// Without video: the latest samples of the first channel as a white trace on black.
void TPlayerStream::DrawWave() {
  int areaW = Owner.AreaWidth, areaH = Owner.AreaHeight;
  if (areaW <= 0 || areaH <= 0) areaW = DefaultWidth, areaH = DefaultHeight;
  PrepareArea(areaW, areaH);
  Display.Clear();
  std::vector<float> samples;
  {
    std::lock_guard lock(WaveMutex);
    if (Wave.empty()) return;
    const size_t n = std::min<size_t>(Wave.size(), static_cast<size_t>(areaW));
    samples.resize(n);
    for (size_t i = 0; i < n; ++i) samples[i] = Wave[(WaveHead + Wave.size() - n + i) % Wave.size()];
  }
  const int mid = areaH / 2;
  int previous = mid;
  for (int x = 0; x < static_cast<int>(samples.size()); ++x) {
    const int y = std::clamp(mid - static_cast<int>(samples[x] * (areaH / 2 - 1)), 0, areaH - 1);
    for (int yy = std::min(previous, y); yy <= std::max(previous, y); ++yy) {
      uint8_t* p = Display.Row(yy) + x * 3;
      p[0] = p[1] = p[2] = 255;
    }
    previous = y;
  }
}

void TPlayerStream::Present(int64_t timeUs) {
  if (!Options.Surface || Options.DisableDisplay || Display.Empty()) return;
  if (DueText != PresentedText) {
    PresentedText = DueText;
    Options.Surface->setSubtitleText(PresentedText);
  }
  Options.Surface->present(Display, timeUs);
}

void TPlayerStream::CheckSurfaceSize() {
  if (!Options.Surface) return;
  const TSurfaceSize size = Options.Surface->clientSize();
  if (size.Width == LastClientSize.Width && size.Height == LastClientSize.Height) return;
  LastClientSize = size;
  if (size.Width <= 0 || size.Height <= 0) return;
  Owner.AreaWidth = size.Width;
  Owner.AreaHeight = size.Height;
  if (Paused) Redraw();
}

bool TPlayerStream::AtEnd() const {
  if (!Eof || VideoPackets.Count() > 0 || AudioPackets.Count() > 0) return false;
  if (VideoIndex >= 0 && (VideoFinished != VideoPackets.Serial() || Pictures.Size() > 0)) return false;
  if (AudioIndex >= 0 && (AudioFinished != AudioPackets.Serial() || AudioBlocks.Size() > 0)) return false;
  return true;
}

void TPlayerStream::CheckEnd() {
  if (NewPictureQueued.exchange(false)) EndReported = false;
  if (EndReported || !AtEnd()) return;
  EndReported = true;
  if (SeekDone) FirstPictureShown = true;
  Owner.ReportState(psEnd);
}

bool TPlayerStream::Snapshot(TBitmap24& bitmap, int64_t& position) {
  if (!HasShown || bitmap.Empty()) return false;
  const AVFrame* f = Shown.Frame.get();
  SnapshotScaler.reset(Lib.sws_getCachedContext(SnapshotScaler.release(), f->width, f->height,
                                                static_cast<AVPixelFormat>(f->format), bitmap.Width,
                                                bitmap.Height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                                                nullptr, nullptr));
  if (!SnapshotScaler) {
    bitmap.SetSize(0, 0);
    return false;
  }
  uint8_t* dst[4] = {bitmap.Row(0), nullptr, nullptr, nullptr};
  int dstStride[4] = {bitmap.Stride, 0, 0, 0};
  Lib.sws_scale(SnapshotScaler.get(), f->data, f->linesize, 0, f->height, dst, dstStride);
  position = ToFileTime(Shown.Pts);
  return true;
}
