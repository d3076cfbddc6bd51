#include "conversion/hook/JobFrameRenderer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "HookTestSupport.h"
#include "TempDir.h"
#include "editing/render/FrameRender.h"
#include "engine/FFmpegLogger.h"

namespace {

constexpr int kWidth = 80, kHeight = 60;
constexpr TBgr kGrey{100, 100, 100};
// Red box behind the text: blue, green, red bytes after an opaque blend onto kGrey.
constexpr TBgr kRedOnGrey{Opaque255(100, 0), Opaque255(100, 0), Opaque255(100, 255)};

TlvFilesRecord JobWith(std::vector<TWmRec> items) {
  TlvFilesRecord job;
  job.Watermarks = std::move(items);
  return job;
}

// A text item whose box is all background: a blank has no glyphs.
TWmRec RedBox(int x, int y, int width, int height) {
  TWmRec item = TextItem(" ", x, y, width, height);
  item.HasBackColor = true;
  item.BackColor = WmColor(255, 0, 0);
  return item;
}

// Counts the pixels of the rectangle for which `test` holds.
int CountIn(const TBitmap24& frame, int x0, int y0, int x1, int y1, const std::function<bool(TBgr)>& test) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += test(PixelAt(frame, x, y)) ? 1 : 0;
  return n;
}

// Every pixel is `inside` within the rectangle (clipped to the frame) and `outside` elsewhere.
void ExpectRectangle(const TBitmap24& frame, int x0, int y0, int x1, int y1, TBgr inside, TBgr outside) {
  int wrong = 0;
  for (int y = 0; y < frame.Height; ++y)
    for (int x = 0; x < frame.Width; ++x) {
      const bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
      if (PixelAt(frame, x, y) != (in ? inside : outside)) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
}

// Collects the logger's warnings while it lives.
struct TWarnings {
  std::mutex Mutex;
  std::vector<std::string> Lines;
  TWarnings() {
    TFFLogger::Instance().SetOnLog([this](void*, uint32_t, TLogLevel level, const std::string& text) {
      std::lock_guard lock(Mutex);
      if (level == llWarning) Lines.push_back(text);
    });
  }
  ~TWarnings() { TFFLogger::Instance().SetOnLog(nullptr); }
};

class JobFrameRendererTest : public ::testing::Test {
 protected:
  std::string Bmp(const std::string& name, int width, int height, QColor color) {
    const std::string path = Folder.File(name);
    EXPECT_TRUE(WriteBmp(path, width, height, color));
    return path;
  }

  TTempDir Folder;
  TJobFrameRenderer Renderer;
};

}  // namespace

TEST_F(JobFrameRendererTest, ItemsShowDuringTheirWholeSeconds) {
  TWmRec item = RedBox(10, 10, 20, 10);
  item.StartSecond = 5;
  item.EndSecond = 10;
  const TlvFilesRecord job = JobWith({item});
  const struct {
    int64_t Pts;
    bool Shown;
  } cases[] = {{4999999, false}, {5000000, true},   {7500000, true},  {10999999, true},
               {11000000, false}, {-1, false},      {INT64_MIN, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Pts);
    TBitmap24 frame = FilledFrame(kWidth, kHeight, kGrey);
    Renderer.Render(job, frame, c.Pts);
    EXPECT_EQ(PixelAt(frame, 15, 15), c.Shown ? kRedOnGrey : kGrey);
  }
}

TEST_F(JobFrameRendererTest, LaterItemsAreDrawnOverEarlierOnes) {
  TWmRec blue = RedBox(20, 10, 20, 20);
  blue.BackColor = WmColor(0, 0, 255);
  TBitmap24 frame = FilledFrame(kWidth, kHeight, kGrey);
  Renderer.Render(JobWith({RedBox(10, 10, 20, 20), blue}), frame, 0);
  EXPECT_EQ(PixelAt(frame, 15, 15), kRedOnGrey);
  EXPECT_EQ(PixelAt(frame, 25, 15), (TBgr{Opaque255(0, 255), Opaque255(0, 0), Opaque255(254, 0)}));
}

TEST_F(JobFrameRendererTest, ABackgroundFillsTheBoxAndWithoutOneOnlyTheGlyphsChange) {
  TWmRec item = TextItem("HI", 10, 10, 40, 30);
  item.Font.Size = 18;
  const auto changed = [](TBgr p) { return p != kGrey; };
  const auto bright = [](TBgr p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; };
  const int boxPixels = 40 * 30;

  item.HasBackColor = true;
  item.BackColor = WmColor(255, 0, 0);
  TBitmap24 frame = FilledFrame(kWidth, kHeight, kGrey);
  Renderer.Render(JobWith({item}), frame, 0);
  EXPECT_EQ(CountIn(frame, 10, 10, 50, 40, changed), boxPixels);
  EXPECT_GT(CountIn(frame, 10, 10, 50, 40, [](TBgr p) { return p == kRedOnGrey; }), boxPixels / 2);
  EXPECT_GT(CountIn(frame, 10, 10, 50, 40, bright), 10);  // the white glyphs on the red

  item.HasBackColor = false;
  frame = FilledFrame(kWidth, kHeight, kGrey);
  Renderer.Render(JobWith({item}), frame, 0);
  EXPECT_GT(CountIn(frame, 10, 10, 50, 40, changed), 10);
  EXPECT_LT(CountIn(frame, 10, 10, 50, 40, changed), boxPixels / 2);
  EXPECT_GT(CountIn(frame, 10, 10, 50, 40, bright), 10);
  EXPECT_EQ(CountIn(frame, 10, 10, 50, 40, [](TBgr p) { return p[0] < kGrey[0]; }), 0);  // nothing darkens

  // Either way nothing outside the box changes.
  for (const bool background : {true, false}) {
    item.HasBackColor = background;
    frame = FilledFrame(kWidth, kHeight, kGrey);
    Renderer.Render(JobWith({item}), frame, 0);
    EXPECT_EQ(CountIn(frame, 0, 0, kWidth, kHeight, changed), CountIn(frame, 10, 10, 50, 40, changed)) << background;
  }
}

TEST_F(JobFrameRendererTest, OpacityZeroLeavesTheFrame) {
  TWmRec boxed = TextItem("Text", 5, 5, 60, 30);
  boxed.HasBackColor = true;
  TWmRec plain = TextItem("Text", 5, 5, 60, 30);
  TWmRec picture = PictureItem(Bmp("white.bmp", 30, 20, Qt::white), 5, 5);
  boxed.TextOpacity = plain.TextOpacity = picture.ImageOpacity = 0;
  const TBitmap24 original = FilledFrame(kWidth, kHeight, kGrey);
  TBitmap24 frame = original;
  Renderer.Render(JobWith({boxed, plain, picture}), frame, 0);
  EXPECT_EQ(frame.Pixels, original.Pixels);
}

TEST_F(JobFrameRendererTest, ItemsOffTheFrameEdgesAreCut) {
  const std::string green = Bmp("green.bmp", 30, 20, QColor(0, 255, 0));
  constexpr TBgr kGreenOnGrey{Opaque255(100, 0), Opaque255(100, 255), Opaque255(100, 0)};
  const struct {
    const char* Name;
    int X, Y, Width, Height;
  } cases[] = {
      {"over the top-left corner", -10, -5, 30, 20},
      {"over the bottom-right corner", kWidth - 10, kHeight - 4, 30, 20},
      {"just right of the frame", kWidth, 0, 30, 20},
      {"just below the frame", 0, kHeight, 30, 20},
      {"far outside", -100000, -100000, 30, 20},
      {"larger than the frame", -50, -50, 100000, 100000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TBitmap24 frame = FilledFrame(kWidth, kHeight, kGrey);
    Renderer.Render(JobWith({RedBox(c.X, c.Y, c.Width, c.Height)}), frame, 0);
    ExpectRectangle(frame, c.X, c.Y, c.X + c.Width, c.Y + c.Height, kRedOnGrey, kGrey);

    TWmRec picture = PictureItem(green, c.X, c.Y);
    picture.ImageWidth = c.Width;
    picture.ImageHeight = c.Height;
    frame = FilledFrame(kWidth, kHeight, kGrey);
    Renderer.Render(JobWith({picture}), frame, 0);
    ExpectRectangle(frame, c.X, c.Y, c.X + c.Width, c.Y + c.Height, kGreenOnGrey, kGrey);
  }
}

TEST_F(JobFrameRendererTest, PicturesTakeTheItemSizeOrTheirOwn) {
  const std::string blue = Bmp("blue.bmp", 4, 4, QColor(0, 0, 255));
  constexpr TBgr kBlueOnGrey{Opaque255(100, 255), Opaque255(100, 0), Opaque255(100, 0)};
  TWmRec item = PictureItem(blue, 10, 20);
  TBitmap24 frame = FilledFrame(kWidth, kHeight, kGrey);
  Renderer.Render(JobWith({item}), frame, 0);
  ExpectRectangle(frame, 10, 20, 14, 24, kBlueOnGrey, kGrey);

  item.ImageWidth = 12;
  item.ImageHeight = 6;
  frame = FilledFrame(kWidth, kHeight, kGrey);
  Renderer.Render(JobWith({item}), frame, 0);
  ExpectRectangle(frame, 10, 20, 22, 26, kBlueOnGrey, kGrey);
  EXPECT_EQ(Renderer.Work().PictureDecodes, 1);  // one file, two sizes
}

TEST_F(JobFrameRendererTest, TextBoxesAreLaidOutOncePerLook) {
  TWmRec item = TextItem("Cached", 0, 0, 70, 30);
  const auto drawn = [&](const TWmRec& look, uint8_t grey) {
    TBitmap24 frame = FilledFrame(kWidth, kHeight, {grey, grey, grey});
    Renderer.Render(JobWith({look}), frame, 0);
    return frame.Pixels;
  };
  const std::vector<uint8_t> reference = drawn(item, 100);
  for (int i = 0; i < 4; ++i) drawn(item, static_cast<uint8_t>(40 * i));  // other frames, same box
  EXPECT_EQ(drawn(item, 100), reference);
  EXPECT_EQ(Renderer.Work().TextBoxes, 1);

  // Whatever changes the look makes a new box, and the frame shows the new look.
  const std::vector<std::function<void(TWmRec&)>> changes = {
      [](TWmRec& i) { i.Font.Color = WmColor(255, 255, 0); },
      [](TWmRec& i) { i.Text = "Other"; },
      [](TWmRec& i) { i.Font.Bold = true; },
      [](TWmRec& i) { i.Font.Size = 12; },
      [](TWmRec& i) { i.HasBackColor = true; },
      [](TWmRec& i) {
        i.HasBackColor = true;
        i.BackColor = WmColor(0, 0, 255);
      },
  };
  for (size_t n = 0; n < changes.size(); ++n) {
    SCOPED_TRACE(n);
    TWmRec changed = item;
    changes[n](changed);
    EXPECT_NE(drawn(changed, 100), reference);
    EXPECT_EQ(Renderer.Work().TextBoxes, static_cast<int>(n) + 2);
  }
}

TEST_F(JobFrameRendererTest, APictureIsDecodedAgainOnlyWhenItsFileChanges) {
  namespace fs = std::filesystem;
  const std::string path = Bmp("logo.bmp", 8, 8, QColor(255, 0, 0));
  const TlvFilesRecord job = JobWith({PictureItem(path, 0, 0)});
  const auto colourDrawn = [&] {
    TBitmap24 frame = FilledFrame(kWidth, kHeight, {0, 0, 0});
    Renderer.Render(job, frame, 0);
    return PixelAt(frame, 4, 4);
  };
  const TBgr red{0, 0, Opaque255(0, 255)}, blue{Opaque255(0, 255), 0, 0};
  EXPECT_EQ(colourDrawn(), red);
  EXPECT_EQ(colourDrawn(), red);
  EXPECT_EQ(Renderer.Work().PictureDecodes, 1);

  // Same size and time of change: taken as the same file.
  const fs::file_time_type modified = fs::last_write_time(path);
  ASSERT_TRUE(WriteBmp(path, 8, 8, QColor(0, 0, 255)));
  fs::last_write_time(path, modified);
  EXPECT_EQ(colourDrawn(), red);
  EXPECT_EQ(Renderer.Work().PictureDecodes, 1);

  fs::last_write_time(path, modified + std::chrono::seconds(2));
  EXPECT_EQ(colourDrawn(), blue);
  EXPECT_EQ(Renderer.Work().PictureDecodes, 2);

  // A different size counts too, even at the old time.
  ASSERT_TRUE(WriteBmp(path, 10, 10, QColor(255, 0, 0)));
  fs::last_write_time(path, modified + std::chrono::seconds(2));
  EXPECT_EQ(colourDrawn(), red);
  EXPECT_EQ(Renderer.Work().PictureDecodes, 3);
}

TEST_F(JobFrameRendererTest, PicturesThatCannotBeReadAreSkippedAndReportedOncePerPath) {
  const std::string garbage = Folder.File("garbage.bmp");
  std::ofstream(garbage) << "BM this is no bitmap";
  const std::string missing = Folder.File("missing.bmp");
  TWarnings warnings;
  const TlvFilesRecord job =
      JobWith({PictureItem(missing, 0, 0), PictureItem(garbage, 10, 10), RedBox(40, 40, 10, 10)});
  for (int i = 0; i < 3; ++i) {
    TBitmap24 frame = FilledFrame(kWidth, kHeight, kGrey);
    Renderer.Render(job, frame, i * 40000);
    ExpectRectangle(frame, 40, 40, 50, 50, kRedOnGrey, kGrey);  // the other items still draw
  }
  EXPECT_EQ(Renderer.Work().PictureDecodes, 1);  // the unreadable file is not tried each frame
  std::lock_guard lock(warnings.Mutex);
  ASSERT_EQ(warnings.Lines.size(), 2u);
  EXPECT_NE(warnings.Lines[0].find(missing), std::string::npos);
  EXPECT_NE(warnings.Lines[1].find(garbage), std::string::npos);
}

TEST_F(JobFrameRendererTest, AdjustmentsSkipTheStoredNeutralSet) {
  // A noisy frame with white in it: the stored brightness 255 would turn 255 into 254.
  TBitmap24 original(kWidth, kHeight);
  for (size_t i = 0; i < original.Pixels.size(); ++i) original.Pixels[i] = static_cast<uint8_t>(i * 37 % 256);
  const struct {
    const char* Name;
    int Brightness, Contrast, Saturation, Exposure;
  } cases[] = {
      {"neutral", 255, 0, 255, 0},        {"brightness", 300, 0, 255, 0}, {"contrast", 255, 40, 255, 0},
      {"saturation", 255, 0, 0, 0},       {"exposure", 255, 0, 255, 100}, {"all, exposure last", 320, -30, 100, -50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TlvFilesRecord job;
    job.Brightness = c.Brightness;
    job.Contrast = c.Contrast;
    job.Saturation = c.Saturation;
    job.Exposure = c.Exposure;
    TBitmap24 expected = original;
    if (c.Brightness != 255 || c.Contrast != 0 || c.Saturation != 255)
      AdjustBrightnessContrastSaturation(expected, c.Brightness, c.Contrast, c.Saturation);
    if (c.Exposure != 0) AdjustExposure(expected, static_cast<float>(c.Exposure));
    TBitmap24 frame = original;
    Renderer.Render(job, frame, 0);
    EXPECT_EQ(frame.Pixels, expected.Pixels);
    EXPECT_EQ(frame.Pixels == original.Pixels, std::string(c.Name) == "neutral");
  }
}

TEST_F(JobFrameRendererTest, FramesRenderedOnSeveralThreadsAtOnceAgree) {
  TWmRec text = TextItem("Threads", 2, 2, 70, 25);
  TWmRec picture = PictureItem(Bmp("p.bmp", 16, 16, QColor(10, 200, 30)), 30, 30);
  picture.ImageOpacity = 128;
  TlvFilesRecord job = JobWith({text, picture});
  job.Brightness = 300;
  // Fresh caches for every thread's first frame: all of them race to fill them.
  std::vector<std::vector<uint8_t>> results(4);
  std::vector<std::thread> threads;
  for (auto& result : results)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        TBitmap24 frame = FilledFrame(kWidth, kHeight, kGrey);
        Renderer.Render(job, frame, 0);
        if (i == 0)
          result = frame.Pixels;
        else if (frame.Pixels != result)
          result.clear();
      }
    });
  for (auto& t : threads) t.join();
  TBitmap24 single = FilledFrame(kWidth, kHeight, kGrey);
  TJobFrameRenderer().Render(job, single, 0);
  for (const auto& result : results) EXPECT_EQ(result, single.Pixels);
}
