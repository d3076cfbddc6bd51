#include "conversion/hook/ConverterHook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <vector>

#include "HookTestSupport.h"
#include "TempDir.h"
#include "TestMedia.h"
#include "engine/FFmpegRAII.h"
#include "engine/MainThreadDispatcher.h"

namespace {

// Every picture of a file's first video stream as 24-bit frames, with its time in µs.
struct TDecoded {
  int64_t Time = 0;
  TBitmap24 Frame;
};

std::vector<TDecoded> DecodePictures(const std::string& path) {
  std::vector<TDecoded> pictures;
  DecodeAll(path, [&](const AVFrame& frame, double seconds) {
    TDecoded& picture = pictures.emplace_back();
    picture.Time = static_cast<int64_t>(std::llround(seconds * 1e6));
    picture.Frame.SetSize(frame.width, frame.height);
    TSwsContext scaler(Lib.sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                          frame.width, frame.height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr,
                                          nullptr));
    uint8_t* planes[4] = {picture.Frame.Pixels.data(), nullptr, nullptr, nullptr};
    int strides[4] = {picture.Frame.Stride, 0, 0, 0};
    if (!scaler || Lib.sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) <= 0)
      pictures.pop_back();
  });
  return pictures;
}

// The mean of each channel over a rectangle.
std::array<double, 3> MeanBgr(const TBitmap24& frame, int x0, int y0, int x1, int y1) {
  std::array<double, 3> sum{};
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      for (int c = 0; c < 3; ++c) sum[c] += frame.Row(y)[x * 3 + c];
  for (double& s : sum) s /= double(x1 - x0) * (y1 - y0);
  return sum;
}

// The mean change of the bytes that are middle tones in `before`, picture by picture: black and
// white stay under the exposure and brightening, and the test picture has plenty of both.
double MidToneChange(const std::vector<TDecoded>& before, const std::vector<TDecoded>& after) {
  double sum = 0;
  int64_t count = 0;
  for (size_t i = 0; i < std::min(before.size(), after.size()); ++i)
    for (size_t b = 0; b < before[i].Frame.Pixels.size(); ++b) {
      const int value = before[i].Frame.Pixels[b];
      if (value < 40 || value > 215) continue;
      sum += after[i].Frame.Pixels[b] - value;
      ++count;
    }
  return count == 0 ? 0 : sum / count;
}

struct TDispatcherInstall {
  explicit TDispatcherInstall(MainThreadDispatcher& d) { SetMainThreadDispatcher(&d); }
  ~TDispatcherInstall() { SetMainThreadDispatcher(nullptr); }
};

class ConverterHookTest : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }

  // Converts `source` with the hook drawing `job` into each frame; the output's pictures.
  std::vector<TDecoded> Convert(const std::string& source, const TlvFilesRecord& job, const std::string& name) {
    TFFConverter converter;
    converter.SetOnCustomHook(MakeConverterHook([&](int task) { return task == 0 ? &job : nullptr; }));
    const int task = converter.AddTask(source);
    EXPECT_EQ(task, 0) << converter.LastErrorMessage();
    TOutputOptions options;
    options.CustomHook = true;
    options.DisableAudio = true;
    options.ExtOptions = "qscale=2";
    const std::string output = Folder.File(name);
    EXPECT_TRUE(converter.SetOutputFile(task, output, options)) << converter.LastErrorMessage();
    // On a worker thread, as in the programs: the text is laid out away from Qt's main thread.
    std::atomic<bool> finished{false}, final{false};
    converter.SetOnTerminate([&](TCustomFFConverter*, const TTerminateInfo& info) {
      if (info.TaskIndex == 0) finished = info.Finished;
      if (info.TaskIndex == -1) final = true;
    });
    converter.StartTask(1);
    EXPECT_TRUE(WaitPumping([&] { return final.load(); }, std::chrono::minutes(3)));
    EXPECT_TRUE(finished);
    return DecodePictures(output);
  }

  TQueueDispatcher Dispatcher;
  TDispatcherInstall Installed{Dispatcher};
  TTempDir Folder;
};

}  // namespace

TEST_F(ConverterHookTest, ATaskWithoutAJobStopsTheHookAndOneWithAJobIsDrawn) {
  TlvFilesRecord job;
  TWmRec item = TextItem(" ", 0, 0, 4, 4);
  item.HasBackColor = true;
  job.Watermarks = {item};
  std::vector<int> asked;
  const TCustomHookEvent hook = MakeConverterHook([&](int task) {
    asked.push_back(task);
    return task == 3 ? &job : nullptr;
  });
  for (const int task : {2, 3}) {
    SCOPED_TRACE(task);
    TBitmap24 frame = FilledFrame(8, 8, {50, 50, 50});
    THookInfo info;
    info.TaskIndex = task;
    info.Bitmap = &frame;
    info.PTS = 0;
    hook(nullptr, &info);
    EXPECT_TRUE(info.Update);
    EXPECT_EQ(info.StopHook, task == 2);
    EXPECT_EQ(PixelAt(frame, 1, 1) != (TBgr{50, 50, 50}), task == 3);
  }
  EXPECT_EQ(asked, (std::vector<int>{2, 3}));
}

TEST_F(ConverterHookTest, ItemsAppearInTheConvertedFramesOfTheirSecondOnly) {
  TTestMediaSpec spec;
  spec.Duration = 3.0;
  spec.AudioCodec.clear();
  const std::string source = Folder.File("source.avi");
  ASSERT_EQ(MakeTestMedia(source, spec), "");
  const std::string picture = Folder.File("mark.bmp");
  ASSERT_TRUE(WriteBmp(picture, 32, 24, QColor(0, 0, 255)));

  TlvFilesRecord job;
  TWmRec text = TextItem("ON", 8, 8, 48, 32);  // yellow box, red text
  text.HasBackColor = true;
  text.BackColor = WmColor(255, 255, 0);
  text.Font.Color = WmColor(255, 0, 0);
  text.StartSecond = text.EndSecond = 1;
  TWmRec mark = PictureItem(picture, 112, 80);
  mark.StartSecond = mark.EndSecond = 1;
  job.Watermarks = {text, mark};
  const std::vector<TDecoded> pictures = Convert(source, job, "marked.avi");
  ASSERT_EQ(pictures.size(), 75u);

  std::map<bool, int> framesByShown;
  for (const TDecoded& p : pictures) {
    SCOPED_TRACE(p.Time);
    const bool shown = p.Time / 1000000 == 1;
    ++framesByShown[shown];
    // The box's lower part holds no glyph: all yellow (blue low, green and red high).
    const auto box = MeanBgr(p.Frame, 10, 34, 54, 38);
    const auto logo = MeanBgr(p.Frame, 114, 82, 142, 102);
    const bool yellow = box[0] < 60 && box[1] > 200 && box[2] > 200;
    const bool blue = logo[0] > 200 && logo[1] < 60 && logo[2] < 60;
    EXPECT_EQ(yellow, shown);
    EXPECT_EQ(blue, shown);
  }
  EXPECT_EQ(framesByShown[true], 25);
  EXPECT_EQ(framesByShown[false], 50);
}

TEST_F(ConverterHookTest, AdjustmentsChangeTheConvertedBrightness) {
  TTestMediaSpec spec;
  spec.Duration = 1.0;
  spec.AudioCodec.clear();
  const std::string source = Folder.File("source.avi");
  ASSERT_EQ(MakeTestMedia(source, spec), "");
  const std::vector<TDecoded> plain = Convert(source, TlvFilesRecord(), "plain.avi");
  ASSERT_EQ(plain.size(), 25u);
  const struct {
    const char* Name;
    int Brightness, Exposure;
    int Direction;
  } cases[] = {{"brighter", 400, 0, +1},
               {"darker", 128, 0, -1},
               {"exposure up", 255, 100, +1},
               {"exposure down", 255, -100, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TlvFilesRecord job;
    job.Brightness = c.Brightness;
    job.Exposure = c.Exposure;
    const std::vector<TDecoded> adjusted = Convert(source, job, std::string(c.Name) + ".avi");
    ASSERT_EQ(adjusted.size(), plain.size());
    EXPECT_GT(MidToneChange(plain, adjusted) * c.Direction, 20);
  }
}
