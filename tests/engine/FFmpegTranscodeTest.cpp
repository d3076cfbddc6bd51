#include "engine/FFmpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FFmpegOptionsTestSupport.h"
#include "StalledPipe.h"
#include "TempDir.h"
#include "TestMedia.h"
#include "engine/EngineError.h"
#include "engine/FFmpegRAII.h"
#include "engine/Previewer.h"
#include "probe/AVProbe.h"

namespace {

using TOptionList = std::vector<std::pair<std::string, std::string>>;

// Converts `source` into `output` with these output options; "" when the task finished,
// else what went wrong.
std::string Convert(const std::string& source, const std::string& output, const TOptionList& options) {
  TFFmpeg task;
  task.Reset();
  if (!task.OpenInput(source)) return "input: " + task.LastErrorMessage();
  for (const auto& [name, value] : options) task.ApplyOption(name, value);
  if (task.OpenOutput(output, false) != 1) return "output: " + task.LastErrorMessage();
  try {
    task.Transcode();
  } catch (const std::exception& e) {
    return e.what();
  }
  return task.Finished() ? "" : "the task did not finish";
}

struct TConversion {
  const char* Name;
  TTestMediaSpec Source;
  const char* SourceFile;
  TOptionList OutputOptions;
  const char* OutputFile;
  const char* VideoCodec;  // expected decoder name; nullptr: no video stream
  const char* AudioCodec;
};

TTestMediaSpec Clip(const char* video, const char* audio, double seconds = 1.0) {
  TTestMediaSpec spec;
  spec.VideoCodec = video;
  spec.AudioCodec = audio;
  spec.Duration = seconds;
  return spec;
}

}  // namespace

class FFmpegTranscodeTest : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
  TTempDir Folder;
};

TEST_F(FFmpegTranscodeTest, ConvertsBetweenCommonFormats) {
  const TConversion cases[] = {
      {"mp4 h264/aac to avi mpeg4/mp3", Clip("libx264", "aac"), "src.mp4",
       {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}}, "out.avi", "mpeg4", "mp3"},
      {"avi to mp4 h264/aac", Clip("mpeg4", "libmp3lame"), "src.avi",
       {{"vcodec", "libx264"}, {"acodec", "aac"}}, "out.mp4", "h264", "aac"},
      {"mpeg-ps defaults", Clip("mpeg2video", "mp2"), "src.mpg", {}, "out.mpg", "mpeg1video", "mp2"},
      {"flv defaults", Clip("mpeg4", "mp2"), "src.avi", {}, "out.flv", "flv1", "mp3"},
      {"wav to mp3", Clip("", "pcm_s16le"), "src.wav", {}, "out.mp3", nullptr, "mp3"},
      {"video to audio only", Clip("mpeg4", "mp2"), "src.avi", {{"vn", "1"}}, "out.wav", nullptr, "pcm_s16le"},
      {"mp4 to avi xvid/mp3", Clip("libx264", "aac"), "src.mp4",
       {{"vcodec", "libxvid"}, {"acodec", "libmp3lame"}}, "out.avi", "mpeg4", "mp3"},
      {"mpeg-ps to wmv", Clip("mpeg2video", "mp2"), "src.mpg", {{"vcodec", "wmv2"}, {"acodec", "wmav2"}}, "out.wmv",
       "wmv2", "wmav2"},
      {"mp4 to pal dv", Clip("libx264", "aac"), "src.mp4", {{"target", "pal-dv"}}, "out.dv", "dvvideo", "pcm_s16le"},
      {"mp3 to aac", Clip("", "libmp3lame"), "src.mp3", {}, "out.aac", nullptr, "aac"},
      {"mp3 to wav", Clip("", "libmp3lame"), "src.mp3", {}, "out.wav", nullptr, "pcm_s16le"},
      {"wav to ogg vorbis", Clip("", "pcm_s16le"), "src.wav", {{"acodec", "libvorbis"}}, "out.ogg", nullptr, "vorbis"},
      {"wav to ac-3", Clip("", "pcm_s16le"), "src.wav", {{"ar", "48000"}}, "out.ac3", nullptr, "ac3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string source = Folder.File(c.SourceFile), output = Folder.File(c.OutputFile);
    ASSERT_EQ(MakeTestMedia(source, c.Source), "");
    ASSERT_EQ(Convert(source, output, c.OutputOptions), "");

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(output)) << probe.LastErrorMessage();
    EXPECT_EQ(probe.VideoStreamCount(), c.VideoCodec ? 1 : 0);
    EXPECT_EQ(probe.AudioStreamCount(), c.AudioCodec ? 1 : 0);
    if (c.VideoCodec) {
      EXPECT_STREQ(Lib.avcodec_get_name(probe.FormatContext()->streams[probe.FirstVideoStream()]->codecpar->codec_id),
                   c.VideoCodec);
    }
    if (c.AudioCodec) {
      EXPECT_STREQ(Lib.avcodec_get_name(probe.FormatContext()->streams[probe.FirstAudioStream()]->codecpar->codec_id),
                   c.AudioCodec);
    }
    TFileStreamInfo info;
    probe.GetFileStreamInfo(info);
    EXPECT_NEAR(info.Duration / 1e6, c.Source.Duration, c.VideoCodec ? 0.08 : 0.05);
    const TDecodedCounts decoded = DecodeAll(output);
    EXPECT_EQ(decoded.Errors, 0);
    if (c.VideoCodec) {
      EXPECT_NEAR(decoded.VideoFrames, 25 * c.Source.Duration, 1);
    }
  }
}

TEST_F(FFmpegTranscodeTest, CropScaleAndPadShapeThePicture) {
  const std::string source = Folder.File("src.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2")), "");
  const struct {
    const char* Name;
    TOptionList Options;
    int Width, Height;
  } cases[] = {
      {"scale", {{"s", "320x240"}}, 320, 240},
      {"crop", {{"croptop", "20"}, {"cropleft", "40"}}, 120, 100},
      {"crop then scale", {{"croptop", "20"}, {"s", "64x48"}}, 64, 48},
      {"pad", {{"vf", "pad=200:160:20:20"}}, 200, 160},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string output = Folder.File(std::string(c.Name) + ".avi");
    ASSERT_EQ(Convert(source, output, c.Options), "");
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(output));
    TVideoStreamInfo video;
    ASSERT_TRUE(probe.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(video.Width, c.Width);
    EXPECT_EQ(video.Height, c.Height);
  }
}

TEST_F(FFmpegTranscodeTest, StartAndLengthCutTheSpan) {
  const std::string source = Folder.File("src.avi"), output = Folder.File("cut.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2", 3.0)), "");
  TFFmpeg task;
  task.Reset();
  task.ApplyOption("ss", "1");
  ASSERT_TRUE(task.OpenInput(source)) << task.LastErrorMessage();
  task.ApplyOption("t", "1.5");
  ASSERT_EQ(task.OpenOutput(output, false), 1) << task.LastErrorMessage();
  ASSERT_NO_THROW(task.Transcode());
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(output));
  TFileStreamInfo info;
  probe.GetFileStreamInfo(info);
  EXPECT_NEAR(info.Duration / 1e6, 1.5, 0.08);
}

TEST_F(FFmpegTranscodeTest, ProgressHookAndPreviewReachTheHost) {
  const std::string source = Folder.File("src.avi"), output = Folder.File("out.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2", 2.0)), "");
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(source));
  ASSERT_EQ(task.OpenOutput(output, false), 1);
  std::vector<TProgressInfo> reports;
  int hooks = 0, previews = 0;
  task.ReportInterval = 0;
  task.OnProgress = [&](TProgressInfo& info) { reports.push_back(info); };
  task.OnCustomHook = [&](THookInfo& info) {
    ++hooks;
    // A white square in the corner.
    for (int y = 0; y < 16; ++y) std::fill_n(info.Bitmap->Row(y), 16 * 3, uint8_t{255});
  };
  task.SetPreviewFlags(2);
  task.MinimumPreviewGap = 0;
  task.OnPreviewBitmap = [&](const TPreviewInfo& info) {
    ++previews;
    EXPECT_EQ(info.Bitmap->Width, 160);
  };
  ASSERT_NO_THROW(task.Transcode());
  EXPECT_EQ(hooks, 50);
  EXPECT_EQ(previews, 50);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().FileIndex, -1);
  EXPECT_EQ(reports.back().FrameNumber, 50);
  for (size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].CurrentDuration, reports[i - 1].CurrentDuration);
  EXPECT_NEAR(reports.back().CurrentDuration / 1e6, 2.0, 0.1);
  EXPECT_NEAR(reports.back().TotalDuration / 1e6, 2.0, 0.05);
}

TEST_F(FFmpegTranscodeTest, StreamCopyRefusesPreviewPictures) {
  const std::string source = Folder.File("src.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2")), "");
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(source));
  task.ApplyOption("vcodec", "copy");
  ASSERT_EQ(task.OpenOutput(Folder.File("copy.avi"), false), 1);
  task.SetPreviewFlags(2);
  try {
    task.Transcode();
    FAIL() << "no error";
  } catch (const EFFmpegError& e) {
    EXPECT_STREQ(e.what(), "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
  }
}

TEST_F(FFmpegTranscodeTest, BadInputsFailToOpen) {
  const std::string empty = Folder.File("empty.avi");
  { std::ofstream(empty).flush(); }
  TFFmpeg task;
  task.Reset();
  EXPECT_FALSE(task.OpenInput(empty));
  EXPECT_FALSE(task.LastErrorMessage().empty());
  EXPECT_FALSE(task.OpenInput(Folder.File("missing.avi")));
  EXPECT_EQ(task.LastErrorMessage(), Folder.File("missing.avi") + ": No such file or directory");
}

TEST_F(FFmpegTranscodeTest, JoinWritesTheInputsOneAfterTheOther) {
  const std::string first = Folder.File("a.avi"), second = Folder.File("b.avi"), output = Folder.File("joined.avi");
  ASSERT_EQ(MakeTestMedia(first, Clip("mpeg4", "mp2", 2.0)), "");
  TTestMediaSpec larger = Clip("mpeg4", "mp2", 3.0);
  larger.Width = 320;
  larger.Height = 240;
  ASSERT_EQ(MakeTestMedia(second, larger), "");
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(first));
  ASSERT_TRUE(task.OpenInput(second));
  std::vector<TProgressInfo> reports;
  task.OnProgress = [&](TProgressInfo& info) { reports.push_back(info); };
  ASSERT_EQ(task.OpenOutput(output, true), 1) << task.LastErrorMessage();
  ASSERT_NO_THROW(task.Transcode());
  ASSERT_FALSE(reports.empty());
  EXPECT_NEAR(reports.back().TotalDuration / 1e6, 5.0, 0.1);
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(output));
  TFileStreamInfo info;
  probe.GetFileStreamInfo(info);
  EXPECT_NEAR(info.Duration / 1e6, 5.0, 0.1);
  TVideoStreamInfo video;
  ASSERT_TRUE(probe.GetVideoStreamInfo(-1, video));
  EXPECT_EQ(video.Width, 160);  // the second input is fitted to the first one's size
  const TDecodedCounts decoded = DecodeAll(output);
  EXPECT_EQ(decoded.Errors, 0);
  EXPECT_NEAR(decoded.VideoFrames, 125, 2);
}

TEST_F(FFmpegTranscodeTest, SizeLimitStopsNearIt) {
  const std::string source = Folder.File("src.avi"), output = Folder.File("limited.avi");
  TTestMediaSpec spec = Clip("mpeg4", "mp2", 4.0);
  ASSERT_EQ(MakeTestMedia(source, spec), "");
  ASSERT_EQ(Convert(source, output, {{"fs", "40000"}}), "");
  const int64_t size = std::filesystem::file_size(output);
  EXPECT_GE(size, 40000);
  EXPECT_LT(size, 80000);
  EXPECT_EQ(DecodeAll(output).Errors, 0);
}

TEST_F(FFmpegTranscodeTest, TwoPassWritesAndReadsItsLog) {
  const std::string source = Folder.File("src.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2")), "");
  const std::string log = Folder.File("stats");
  for (const char* pass : {"1", "2"}) {
    SCOPED_TRACE(pass);
    ASSERT_EQ(Convert(source, Folder.File(std::string("pass") + pass + ".avi"),
                      {{"pass", pass}, {"passlogfile", log}, {"b", "200000"}}),
              "");
    EXPECT_GT(std::filesystem::file_size(log + "-0.log"), 0u);
  }
  EXPECT_EQ(DecodeAll(Folder.File("pass2.avi")).Errors, 0);
}

namespace {

// Counts into the test's own variables: the engine destroys the window when it is done.
struct TRecordingWindow : TPreviewWindow {
  int* Presented = nullptr;
  bool* Destroyed = nullptr;
  int CloseAfter = 0;
  TSurfaceSize Size;
  ~TRecordingWindow() override { *Destroyed = true; }
  void present(const TBitmap24&, int64_t) override { ++*Presented; }
  void clear() override {}
  TSurfaceSize clientSize() const override { return Size; }
  bool closed() const override { return CloseAfter > 0 && *Presented >= CloseAfter; }
  void setCaption(const std::string&) override {}
};

}  // namespace

TEST_F(FFmpegTranscodeTest, PreviewWindowShowsFramesUntilTheUserClosesIt) {
  const std::string source = Folder.File("src.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2", 2.0)), "");
  int presented = 0, windows = 0;
  bool destroyed = false;
  SetPreviewWindowFactory([&](int width, int height) {
    auto made = std::make_unique<TRecordingWindow>();
    made->Size = {width, height};
    made->CloseAfter = 5;
    made->Presented = &presented;
    made->Destroyed = &destroyed;
    ++windows;
    return made;
  });
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(source));
  ASSERT_EQ(task.OpenOutput(Folder.File("out.avi"), false), 1);
  task.SetPreviewFlags(1);
  task.MinimumPreviewGap = 0;
  ASSERT_NO_THROW(task.Transcode());
  SetPreviewWindowFactory(nullptr);
  EXPECT_EQ(windows, 1);
  EXPECT_EQ(presented, 5);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(task.PreviewFlags(), 0u);
}

TEST_F(FFmpegTranscodeTest, AFullDiskEndsTheTaskWithAnError) {
  const std::string source = Folder.File("src.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2", 2.0)), "");
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(source));
  task.ApplyOption("f", "avi");
  // Every write to this device fails with "no space left".
  ASSERT_EQ(task.OpenOutput("/dev/full", false), 1) << task.LastErrorMessage();
  EXPECT_THROW(task.Transcode(), EFFmpegError);
  EXPECT_FALSE(task.Finished());
}

TEST_F(FFmpegTranscodeTest, DiscTargetsProduceTheirFormats) {
  const std::string source = Folder.File("src.mp4");
  ASSERT_EQ(MakeTestMedia(source, Clip("libx264", "aac")), "");
  const struct {
    const char* Target;
    const char* File;
    const char* VideoCodec;
    const char* AudioCodec;
    int Width, Height;
  } cases[] = {
      {"pal-vcd", "out.mpg", "mpeg1video", "mp2", 352, 288},
      {"ntsc-dvd", "out.vob", "mpeg2video", "ac3", 720, 480},
      {"pal-dv", "out.dv", "dvvideo", "pcm_s16le", 720, 576},
      {"", "ntsc.dv", "dvvideo", "pcm_s16le", 720, 480},  // plain DV at NTSC size: 4:1:1 chosen
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Target);
    const std::string output = Folder.File(c.File);
    TFFmpeg task;
    task.Reset();
    ASSERT_TRUE(task.OpenInput(source));
    if (*c.Target) {
      task.ApplyOption("target", c.Target);
    } else {
      task.ApplyOption("s", "720x480");
      task.ApplyOption("r", "30000/1001");
      task.ApplyOption("ar", "48000");
    }
    ASSERT_EQ(task.OpenOutput(output, false), 1) << task.LastErrorMessage();
    ASSERT_NO_THROW(task.Transcode());
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(output)) << probe.LastErrorMessage();
    TVideoStreamInfo video;
    ASSERT_TRUE(probe.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(video.Width, c.Width);
    EXPECT_EQ(video.Height, c.Height);
    const AVFormatContext* ctx = probe.FormatContext();
    EXPECT_STREQ(Lib.avcodec_get_name(ctx->streams[probe.FirstVideoStream()]->codecpar->codec_id), c.VideoCodec);
    EXPECT_STREQ(Lib.avcodec_get_name(ctx->streams[probe.FirstAudioStream()]->codecpar->codec_id), c.AudioCodec);
    EXPECT_EQ(DecodeAll(output).Errors, 0);
  }
}

namespace {

// The luma of the first decoded picture's top-left pixel.
int FirstPictureCornerLuma(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (Lib.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return -1;
  TInputFormat ctx(raw);
  Lib.avformat_find_stream_info(raw, nullptr);
  const int vi = Lib.av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (vi < 0) return -1;
  const AVCodec* codec = Lib.avcodec_find_decoder(raw->streams[vi]->codecpar->codec_id);
  TCodecContext dec(Lib.avcodec_alloc_context3(codec));
  Lib.avcodec_parameters_to_context(dec.get(), raw->streams[vi]->codecpar);
  if (Lib.avcodec_open2(dec.get(), codec, nullptr) < 0) return -1;
  TPacket pkt(Lib.av_packet_alloc());
  TFrame frame(Lib.av_frame_alloc());
  while (Lib.av_read_frame(raw, pkt.get()) >= 0) {
    if (pkt->stream_index == vi) Lib.avcodec_send_packet(dec.get(), pkt.get());
    Lib.av_packet_unref(pkt.get());
    if (Lib.avcodec_receive_frame(dec.get(), frame.get()) >= 0) return frame->data[0][4 * frame->linesize[0] + 4];
  }
  return -1;
}

}  // namespace

TEST_F(FFmpegTranscodeTest, FrameHookModulesDrawIntoThePictures) {
  const std::string source = Folder.File("src.avi"), output = Folder.File("hooked.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2")), "");
  ASSERT_EQ(Convert(source, output, {{"vhook", std::string(ONDREL_HOOK_MODULE) + " 235"}, {"qscale", "2"}}), "");
  EXPECT_NEAR(FirstPictureCornerLuma(output), 235, 6);
  EXPECT_LT(FirstPictureCornerLuma(source), 200);  // the test picture's corner is not that bright

  // A library without the entry point is refused with the option's text.
  TFFmpeg other;
  other.Reset();
  const std::string lacking = std::string(ONDREL_FAKELIB_DIR) + "/libswscale.so.6";
  try {
    other.ApplyOption("vhook", lacking);
    FAIL() << "accepted";
  } catch (const EFFmpegError& e) {
    EXPECT_EQ(std::string(e.what()), "Failed to add video hook function: " + lacking);
  }
}

namespace {

struct TCue {
  double Start = 0;  // s
  std::string Text;
};

// The subtitle stream's cues, decoded; none when the file has no subtitle stream.
std::vector<TCue> ReadCues(const std::string& path, std::string* codecName = nullptr) {
  std::vector<TCue> cues;
  AVFormatContext* raw = nullptr;
  if (Lib.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return cues;
  TInputFormat ctx(raw);
  Lib.avformat_find_stream_info(raw, nullptr);
  const int index = Lib.av_find_best_stream(raw, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
  if (index < 0) return cues;
  const AVStream* stream = raw->streams[index];
  if (codecName) *codecName = Lib.avcodec_get_name(stream->codecpar->codec_id);
  const AVCodec* codec = Lib.avcodec_find_decoder(stream->codecpar->codec_id);
  TCodecContext dec(Lib.avcodec_alloc_context3(codec));
  Lib.avcodec_parameters_to_context(dec.get(), stream->codecpar);
  dec->pkt_timebase = stream->time_base;
  if (Lib.avcodec_open2(dec.get(), codec, nullptr) < 0) return cues;
  TPacket pkt(Lib.av_packet_alloc());
  while (Lib.av_read_frame(raw, pkt.get()) >= 0) {
    if (pkt->stream_index == index) {
      AVSubtitle sub{};
      int got = 0;
      if (Lib.avcodec_decode_subtitle2(dec.get(), &sub, &got, pkt.get()) >= 0 && got) {
        TCue cue;
        cue.Start = (sub.pts + sub.start_display_time * 1000LL) / 1e6;
        for (unsigned i = 0; i < sub.num_rects; ++i)
          if (sub.rects[i]->ass) cue.Text += sub.rects[i]->ass;
        cues.push_back(cue);
        Lib.avsubtitle_free(&sub);
      }
    }
    Lib.av_packet_unref(pkt.get());
  }
  return cues;
}

}  // namespace

TEST_F(FFmpegTranscodeTest, TextSubtitlesFollowTheContainer) {
  TTestMediaSpec spec = Clip("mpeg4", "mp2", 3.0);
  spec.SubtitleCodec = "subrip";
  const std::string source = Folder.File("src.mkv");
  ASSERT_EQ(MakeTestMedia(source, spec), "");
  const struct {
    const char* Name;
    TOptionList Options;
    const char* OutputFile;
    const char* Codec;  // nullptr: no subtitle stream
    std::vector<double> Starts;
  } cases[] = {
      {"mp4 takes mov_text", {}, "out.mp4", "mov_text", {0, 1, 2}},
      {"matroska takes ass", {}, "out.mkv", "ass", {0, 1, 2}},
      {"start time shifts the cues", {{"ss", "1"}}, "late.mp4", "mov_text", {0, 1}},
      {"recording time ends them", {{"t", "1.5"}}, "short.mp4", "mov_text", {0, 1}},
      {"avi has no subtitles", {}, "out.avi", nullptr, {}},
      {"disabled", {{"sn", "1"}}, "none.mp4", nullptr, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string output = Folder.File(c.OutputFile);
    ASSERT_EQ(Convert(source, output, c.Options), "");
    std::string codec;
    const std::vector<TCue> cues = ReadCues(output, &codec);
    if (!c.Codec) {
      EXPECT_TRUE(cues.empty());
      continue;
    }
    EXPECT_EQ(codec, c.Codec);
    ASSERT_EQ(cues.size(), c.Starts.size());
    const int first = c.Options.empty() || c.Options[0].first != "ss" ? 0 : 1;
    for (size_t i = 0; i < cues.size(); ++i) {
      EXPECT_NEAR(cues[i].Start, c.Starts[i], 0.04);  // within a video frame
      EXPECT_NE(cues[i].Text.find("Line " + std::to_string(first + i)), std::string::npos) << cues[i].Text;
    }
    EXPECT_EQ(DecodeAll(output).Errors, 0);
  }
  // Text cannot become pictures: asked for, it is an error that says so.
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(source));
  task.ApplyOption("scodec", "dvdsub");
  ASSERT_EQ(task.OpenOutput(Folder.File("pictures.mkv"), false), 1) << task.LastErrorMessage();
  try {
    task.Transcode();
    ADD_FAILURE() << "no error";
  } catch (const EFFmpegError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot convert the subtitles"), std::string::npos) << e.what();
  }
}

TEST_F(FFmpegTranscodeTest, PerFrameStatisticsGoToTheirFile) {
  const std::string source = Folder.File("src.avi"), stats = Folder.File("stats.log");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "")), "");
  ASSERT_EQ(Convert(source, Folder.File("out.avi"), {{"vstats_file", stats}, {"psnr", "1"}}), "");
  std::ifstream in(stats);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 25u);  // one per picture of the 1 s clip
  EXPECT_EQ(lines[0].rfind("frame=     1 q= ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("type= I"), std::string::npos) << lines[0];
  int measured = 0;
  for (const std::string& line : lines) {
    const size_t at = line.find("PSNR= ");
    ASSERT_NE(at, std::string::npos) << line;
    const double psnr = std::stod(line.substr(at + 6));
    EXPECT_GT(psnr, 20.0) << line;  // a decent encoding
    measured += psnr < 99.0;        // 99.99: no difference reported for that picture
  }
  EXPECT_GT(measured, 20);
  EXPECT_NE(lines[24].find("time= 0.960"), std::string::npos) << lines[24];
}

namespace {

// How many of the lines are `text`, and the first line that starts with `start` ("" for none).
int CountLines(const std::vector<TLoggedLine>& lines, const std::string& text) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const TLoggedLine& l) { return l.Text == text; }));
}
std::string FindLine(const std::vector<TLoggedLine>& lines, const std::string& start) {
  for (const TLoggedLine& l : lines)
    if (l.Text.rfind(start, 0) == 0) return l.Text;
  return "";
}

// Rewrites the audio file `source` as NUT with two of its packets in each packet.
std::string PairPackets(const std::string& source, const std::string& output) {
  AVFormatContext* raw = nullptr;
  if (Lib.avformat_open_input(&raw, source.c_str(), nullptr, nullptr) < 0) return "open";
  TInputFormat in(raw);
  if (Lib.avformat_find_stream_info(raw, nullptr) < 0) return "stream info";
  AVFormatContext* rawOut = nullptr;
  if (Lib.avformat_alloc_output_context2(&rawOut, nullptr, "nut", output.c_str()) < 0) return "output";
  TOutputFormat out(rawOut);
  AVStream* st = Lib.avformat_new_stream(rawOut, nullptr);
  Lib.avcodec_parameters_copy(st->codecpar, raw->streams[0]->codecpar);
  st->codecpar->codec_tag = 0;
  st->time_base = raw->streams[0]->time_base;
  if (Lib.avio_open2(&rawOut->pb, output.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) return "file";
  if (Lib.avformat_write_header(rawOut, nullptr) < 0) return "header";
  TPacket first(Lib.av_packet_alloc()), second(Lib.av_packet_alloc()), both(Lib.av_packet_alloc());
  while (Lib.av_read_frame(raw, first.get()) >= 0) {
    const bool pair = Lib.av_read_frame(raw, second.get()) >= 0;
    const int size = first->size + (pair ? second->size : 0);
    if (Lib.av_new_packet(both.get(), size) < 0) return "packet";
    std::memcpy(both->data, first->data, first->size);
    if (pair) std::memcpy(both->data + first->size, second->data, second->size);
    both->pts = first->pts;
    both->dts = first->dts;
    both->duration = first->duration + (pair ? second->duration : 0);
    both->stream_index = 0;
    Lib.av_packet_rescale_ts(both.get(), raw->streams[0]->time_base, st->time_base);
    Lib.av_packet_unref(first.get());
    Lib.av_packet_unref(second.get());
    if (Lib.av_interleaved_write_frame(rawOut, both.get()) < 0) return "write";
  }
  return Lib.av_write_trailer(rawOut) < 0 ? "trailer" : "";
}

}  // namespace

// Packets holding two audio frames each still decode whole; the note about them comes once,
// or for every such packet with a higher verbosity.
TEST_F(FFmpegTranscodeTest, PacketsWithSeveralFramesAreNoted) {
  const std::string source = Folder.File("src.mp2"), paired = Folder.File("paired.nut");
  ASSERT_EQ(MakeTestMedia(source, Clip("", "mp2", 1.0)), "");
  ASSERT_EQ(PairPackets(source, paired), "");
  const std::string note = "Multiple frames in a packet from stream 0";
  for (const auto& [verbosity, once] : {std::pair{"1", true}, std::pair{"2", false}, std::pair{"0", false}}) {
    SCOPED_TRACE(verbosity);
    TLogCapture log;
    const std::string output = Folder.File(std::string("out") + verbosity + ".wav");
    ASSERT_EQ(Convert(paired, output, {{"v", verbosity}}), "");
    const int notes = CountLines(log.Take(), note);
    if (once) EXPECT_EQ(notes, 1);
    else if (std::string(verbosity) == "2") EXPECT_GT(notes, 10);
    else EXPECT_EQ(notes, 0);
    const TMediaFacts facts = InspectMedia(output);
    ASSERT_TRUE(facts.Opened);
    EXPECT_NEAR(facts.Seconds, 1.0, 0.05);
  }
}

// An RTP output's session description is logged, so a player can be pointed at the stream.
TEST_F(FFmpegTranscodeTest, RtpOutputsLogTheirSessionDescription) {
  const std::string source = Folder.File("src.avi");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "", 0.4)), "");
  TLogCapture log;
  ASSERT_EQ(Convert(source, "rtp://127.0.0.1:47391", {{"f", "rtp"}}), "");
  const std::string sdp = FindLine(log.Take(), "SDP:\r\n");
  EXPECT_NE(sdp.find("m=video 47391 RTP/AVP"), std::string::npos) << sdp;

  // Beside a file output there is no session to describe.
  TLogCapture mixed;
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(source));
  task.ApplyOption("f", "rtp");
  ASSERT_EQ(task.OpenOutput("rtp://127.0.0.1:47393", false), 1) << task.LastErrorMessage();
  ASSERT_EQ(task.OpenOutput(Folder.File("beside.avi"), false), 2) << task.LastErrorMessage();
  ASSERT_NO_THROW(task.Transcode());
  EXPECT_TRUE(task.Finished());
  EXPECT_EQ(FindLine(mixed.Take(), "SDP:"), "");
}

// A source pipe whose sender stops mid-stream: a stop request still ends the task at once.
TEST_F(FFmpegTranscodeTest, StopEndsATaskWaitingOnAStalledPipe) {
  using namespace std::chrono_literals;
  const std::string source = Folder.File("src.nut");
  ASSERT_EQ(MakeTestMedia(source, Clip("mpeg4", "mp2", 3.0)), "");
  TStalledPipe pipe(Folder.File("stream.nut"), source, 0.5);
  ASSERT_TRUE(pipe.Ready());
  TFFmpeg task;
  task.Reset();
  ASSERT_TRUE(task.OpenInput(Folder.File("stream.nut"))) << task.LastErrorMessage();
  ASSERT_EQ(task.OpenOutput(Folder.File("out.avi"), false), 1);
  std::atomic<int64_t> reached{0};
  task.ReportInterval = 0;
  task.OnProgress = [&](TProgressInfo& info) { reached = info.CurrentDuration; };
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      task.Transcode();
    } catch (const std::exception&) {
    }
    done = true;
  });
  // Until the data has run out: progress made, then none for a second.
  const auto until = std::chrono::steady_clock::now() + 4s;
  int64_t last = -1;
  while (std::chrono::steady_clock::now() < until && (reached == 0 || reached != last)) {
    last = reached;
    std::this_thread::sleep_for(1s);
  }
  EXPECT_GT(reached, 500000);
  EXPECT_LT(reached, 2500000);
  EXPECT_FALSE(done) << "the task waits for more data";
  const auto asked = std::chrono::steady_clock::now();
  task.RequestStop();
  while (!done && std::chrono::steady_clock::now() - asked < 3s) std::this_thread::sleep_for(10ms);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
  pipe.Release();  // a reader that did not stop gets the end of the stream
  worker.join();
  EXPECT_FALSE(task.Finished());
}
