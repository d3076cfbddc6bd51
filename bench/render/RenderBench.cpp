// Single-thread throughput of the frame rendering routines on 1280 x 720 frames. The counter
// "Mpix/s" is megapixels of the frame per second; for the blend it counts the frame, so the
// figure compares directly with the adjustments.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "editing/render/ByteMap.h"
#include "editing/render/FrameRender.h"
#include "engine/Bitmap24.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// Random bytes defeat any help from repeated values; real frames are kinder to the tables.
TBitmap24 RandomFrame(int width, int height, uint32_t seed) {
  TBitmap24 frame(width, height);
  std::mt19937 random(seed);
  for (uint8_t& b : frame.Pixels) b = static_cast<uint8_t>(random());
  return frame;
}

void SetFrameRate(benchmark::State& state, const TBitmap24& frame) {
  const double pixels = double(frame.Width) * frame.Height;
  state.counters["Mpix/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.SetBytesProcessed(state.iterations() * int64_t{frame.Width} * frame.Height * 3);
}

// Repeated passes would drive the frame towards a few values; each pass starts from the
// original bytes instead, copied back outside the timed part.
void Restore(benchmark::State& state, TBitmap24& frame, const TBitmap24& original) {
  state.PauseTiming();
  frame.Pixels = original.Pixels;
  state.ResumeTiming();
}

void BM_BrightnessContrastSaturation(benchmark::State& state) {
  TBitmap24 frame = RandomFrame(kWidth, kHeight, 1);
  const int v = static_cast<int>(state.range(0)), a = static_cast<int>(state.range(1)),
            s = static_cast<int>(state.range(2));
  const TBitmap24 original = frame;
  for (auto _ : state) {
    AdjustBrightnessContrastSaturation(frame, v, a, s);
    benchmark::DoNotOptimize(frame.Pixels.data());
    benchmark::ClobberMemory();
    Restore(state, frame, original);
  }
  SetFrameRate(state, frame);
}
// 256, 0, 256 is neutral but still runs the whole pass, like the stored default 255, 0, 255.
BENCHMARK(BM_BrightnessContrastSaturation)
    ->Args({256, 0, 256})
    ->Args({300, 40, 300})
    ->Args({255, 0, 255})
    ->Unit(benchmark::kMicrosecond);

void BM_Exposure(benchmark::State& state) {
  TBitmap24 frame = RandomFrame(kWidth, kHeight, 2);
  const float x = static_cast<float>(state.range(0));
  const TBitmap24 original = frame;
  for (auto _ : state) {
    AdjustExposure(frame, x);
    benchmark::DoNotOptimize(frame.Pixels.data());
    benchmark::ClobberMemory();
    Restore(state, frame, original);
  }
  SetFrameRate(state, frame);
}
BENCHMARK(BM_Exposure)->Arg(0)->Arg(100)->Unit(benchmark::kMicrosecond);

// The exposure pass's byte mapping on the path every processor has, for comparison with the
// vector path that AdjustExposure picks where available.
void BM_ByteMapPortable(benchmark::State& state) {
  TBitmap24 frame = RandomFrame(kWidth, kHeight, 6);
  uint8_t table[256];
  std::mt19937 random(7);
  for (uint8_t& entry : table) entry = static_cast<uint8_t>(random());
  const TBitmap24 original = frame;
  for (auto _ : state) {
    MapPixelBytesPortable(frame, table);
    benchmark::DoNotOptimize(frame.Pixels.data());
    benchmark::ClobberMemory();
    Restore(state, frame, original);
  }
  SetFrameRate(state, frame);
}
BENCHMARK(BM_ByteMapPortable)->Unit(benchmark::kMicrosecond);

void BM_AlphaBlendBox(benchmark::State& state) {
  TBitmap24 frame = RandomFrame(kWidth, kHeight, 3);
  const TBitmap24 box = RandomFrame(320, 80, 4);
  for (auto _ : state) {
    AlphaBlend(frame, box, 480, 600, 125);
    benchmark::DoNotOptimize(frame.Pixels.data());
    benchmark::ClobberMemory();
  }
  SetFrameRate(state, frame);
  state.SetBytesProcessed(state.iterations() * int64_t{box.Width} * box.Height * 3);
}
BENCHMARK(BM_AlphaBlendBox)->Unit(benchmark::kMicrosecond);

void BM_CropOutline(benchmark::State& state) {
  TBitmap24 frame = RandomFrame(kWidth, kHeight, 5);
  for (auto _ : state) {
    DrawCropOutline(frame, 16, 8, 16, 8);
    benchmark::DoNotOptimize(frame.Pixels.data());
    benchmark::ClobberMemory();
  }
  SetFrameRate(state, frame);
}
BENCHMARK(BM_CropOutline)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
