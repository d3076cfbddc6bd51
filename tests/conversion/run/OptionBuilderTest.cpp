#include "conversion/run/OptionBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "TempDir.h"
#include "TestMedia.h"
#include "app/core/FakeDialogSeam.h"
#include "engine/FFmpegEntryPoints.h"
#include "engine/FFmpegRAII.h"
#include "engine/MainThreadDispatcher.h"
#include "platform/PlatformLinux.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

namespace K = ProfileKey;

constexpr const char* SizeQuestion = "Error output Video Size.Use the default size 320x240?";

// A small clip of the given picture size (no video when width is 0), opened by a probe.
struct TSource {
  TAVProbe Probe;
  std::string Path;

  TSource(const TTempDir& dir, int width, int height, const std::string& name = "") {
    RequireConverterLibraries();
    TTestMediaSpec spec;
    spec.Duration = 0.2;
    spec.Width = width;
    spec.Height = height;
    if (width == 0) spec.VideoCodec.clear();
    Path = dir.File((name.empty() ? std::to_string(width) + "x" + std::to_string(height) : name) + ".mp4");
    const std::string made = MakeTestMedia(Path, spec);
    EXPECT_EQ(made, "");
    EXPECT_TRUE(Probe.LoadFile(Path)) << Probe.LastErrorMessage();
  }
};

struct TBuilderFixture {
  static constexpr int Code = 402;
  TTempDir Dir;
  TIniFile StoreFile{Dir.File("ondrelxvidformat.ini")};
  TFormatStore Formats{Dir.File("ondrelxvidformat.ini")};
  TSettingsStore Settings{Dir.File("ondrelxvidconverter.ini")};
  TFakeDialogSeam Seam;
  TDialogSeamOverride SeamScope{Seam};
  TlvFilesRecord Job;
  TOutputOptions Output;
  TInputOptions Input;

  TBuilderFixture() {
    Job.ZoomMode = ZoomFull;
    Seam.DefaultAnswer = true;
  }
  void Format(const std::string& value) { StoreFile.WriteString(FormatSectionName(Code), K::Format, value); }
  void User(const char* key, const std::string& value) {
    Settings.Ini().WriteString(FormatSectionName(Code), key, value);
  }
  // A video format: mpeg4 at the given size, everything else at the conversion defaults.
  void VideoFormat(const std::string& size = "320x240") {
    User(K::paraVideoEncoder, "mpeg4");
    User(K::paraVideoSize, size);
  }
  // Builds fresh records for the current job and settings.
  void Build(TCustomAVProbe& probe) {
    Output = TOutputOptions();
    Input = TInputOptions();
    if (Job.IsCropped()) {
      Output.CropTop = Job.CropTop;
      Output.CropBottom = Job.CropBottom;
      Output.CropLeft = Job.CropLeft;
      Output.CropRight = Job.CropRight;
    }
    BuildOutputOptions(Job, Code, Output, probe, Input, Settings, Formats);
  }
  int Questions() const {
    int n = 0;
    for (const TSeamRecord& r : Seam.Records()) n += r.Question;
    return n;
  }
};

TEST(OptionBuilder, TargetsAndForcedContainers) {
  TBuilderFixture f;
  TSource source(f.Dir, 160, 120);
  f.Job.ZoomMode = "";  // no zoom mode: the target's aspect stays
  struct TCase {
    const char* Format;
    const char* Size;
    int Target, Norm;
    const char* Aspect;
    const char* FileFormat;
  } const cases[] = {
      {"ntsc-dvd", "720x480", 3, 2, "16:9", ""}, {"NTSC-DVD", "640x480", 3, 2, "4:3", ""},
      {"pal-dvd", "720x576", 3, 1, "16:9", ""},  {"pal-dvd", "720x480", 3, 1, "4:3", ""},
      {"ntsc-vcd", "352x240", 1, 2, "4:3", ""},  {"pal-vcd", "352x288", 1, 1, "4:3", ""},
      {"ntsc-svcd", "480x480", 2, 2, "4:3", ""}, {"pal-svcd", "480x576", 2, 1, "4:3", ""},
      {"iPod", "320x240", 0, 0, "", "iPod"},     {"mpegts", "320x240", 0, 0, "", "mpegts"},
      {"VOB", "320x240", 0, 0, "", "VOB"},       {"mp4", "320x240", 0, 0, "", ""},
      {"dvd", "320x240", 0, 0, "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Format) + " " + c.Size);
    f.Format(c.Format);
    f.VideoFormat(c.Size);
    f.Build(source.Probe);
    EXPECT_EQ(f.Output.Target, c.Target);
    EXPECT_EQ(f.Output.TargetNorm, c.Norm);
    EXPECT_EQ(f.Output.FrameAspectRatio, c.Aspect);
    EXPECT_EQ(f.Output.FileFormat, c.FileFormat);
  }
  // A store without "Format": no target, no forced container.
  f.StoreFile.DeleteKey(FormatSectionName(f.Code), K::Format);
  f.Build(source.Probe);
  EXPECT_EQ(f.Output.Target, 0);
  EXPECT_EQ(f.Output.FileFormat, "");
}

TEST(OptionBuilder, CodecsAndPresets) {
  TBuilderFixture f;
  TSource source(f.Dir, 160, 120);
  struct TCase {
    const char* Encoder;
    const char* Format;
    const char* Codec;
    const char* Preset;
    int Target;
    const char* ExtOptionsBefore;
    const char* ExtOptionsAfter;
  } const cases[] = {
      {"libx264", "iPod", "libx264", "libx264-ipod", 0, "", "bf=0"},
      {"libx264", "ipod", "libx264", "libx264-ipod", 0, "g=50", "g=50\nbf=0"},
      {"libx264", "ipod", "libx264", "libx264-ipod", 0, " BF = 2\n", " BF = 2\n"},  // the user's choice stays
      {"libx264", "PSP", "libx264", "libx264-psp", 0, "", ""},
      {"libx264", "ps3", "libx264", "libx264-ps3", 0, "", ""},
      {"libx264", "mp4", "libx264", "libx264-mp4", 0, "", ""},
      {"mpeg2video", "mpeg", "mpeg2video", "", 3, "", ""},
      {"h263p", "3gp", "h263p", "", 0, "", ""},
      {"flv", "flv", "", "", 0, "", ""},   // the container picks its encoder
      {"MPEG4", "avi", "", "", 0, "", ""},  // names compare exactly
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Encoder) + " " + c.Format + " '" + c.ExtOptionsBefore + "'");
    f.Format(c.Format);
    f.VideoFormat();
    f.User(K::paraVideoEncoder, c.Encoder);
    f.Output = TOutputOptions();
    f.Output.ExtOptions = c.ExtOptionsBefore;
    BuildOutputOptions(f.Job, f.Code, f.Output, source.Probe, f.Input, f.Settings, f.Formats);
    EXPECT_EQ(f.Output.VideoCodec, c.Codec);
    EXPECT_EQ(f.Output.VideoPreset, c.Preset);
    EXPECT_EQ(f.Output.Target, c.Target);
    EXPECT_EQ(f.Output.ExtOptions, c.ExtOptionsAfter);
  }
}

TEST(OptionBuilder, FrameSizeRules) {
  TBuilderFixture f;
  TSource source(f.Dir, 160, 120);
  struct TCase {
    const char* Size;  // nullptr: not stored
    const char* Encoder;
    const char* FrameSize;  // by "full", which takes W x H as it is
    bool Asked;
  } const cases[] = {
      {"640x480", "mpeg4", "640x480", false},
      {"as source", "mpeg4", "160x120", false},
      {"As Source", "mpeg4", "160x120", false},  // the Settings dialog accepts it as the source size
      {"abcx200", "mpeg4", "160x200", false},    // a dimension that is no number is the source's
      {"300x-4", "mpeg4", "300x120", false},
      {"640x", "mpeg4", "320x240", true},
      {"x480", "mpeg4", "320x240", true},
      {"640X480", "mpeg4", "320x240", true},
      {nullptr, "mpeg4", "320x240", true},  // "null"
      {"400x300", "h263", "704x576", false},
      {"200x150", "h263", "352x288", false},
      {"353x100", "h263", "704x576", false},
      {"800x600", "h263", "704x576", false},
      {"170x100", "h263", "170x100", false},
      {"352x288", "h263", "352x288", false},
      {"400x300", "h263p", "400x300", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Size ? c.Size : "(none)") + " " + c.Encoder);
    f.Settings.Ini().EraseSection(FormatSectionName(f.Code));
    f.User(K::paraVideoEncoder, c.Encoder);
    if (c.Size) f.User(K::paraVideoSize, c.Size);
    f.Seam.Clear();
    f.Build(source.Probe);
    EXPECT_EQ(f.Output.FrameSize, c.FrameSize);
    EXPECT_EQ(f.Questions(), c.Asked ? 1 : 0);
  }
}

TEST(OptionBuilder, TheSizeQuestionBothWays) {
  TBuilderFixture f;
  TSource source(f.Dir, 160, 120);
  f.VideoFormat("640x");
  f.Seam.ScriptedAnswers = {true, false};
  f.Build(source.Probe);
  EXPECT_EQ(f.Output.FrameSize, "320x240");
  f.Build(source.Probe);
  EXPECT_EQ(f.Output.FrameSize, "160x120");  // No: the source's size
  const TSeamRecord asked{true, "Warning", SizeQuestion, TMessageIcon::miQuestion};
  EXPECT_EQ(f.Seam.Records(), (std::vector<TSeamRecord>{asked, asked}));
}

// The zoom modes on the worked sizes. "Aspect" is the shape of the frame the encoder gets:
// that keeps the pixels square, whatever part of the frame the picture fills.
TEST(OptionBuilder, ZoomModes) {
  TBuilderFixture f;
  TSource pal(f.Dir, 720, 576), wide(f.Dir, 640, 360);
  struct TCase {
    const char* Name;
    TSource& Source;
    const char* Mode;
    const char* Size;
    int CropTop, CropBottom, CropLeft, CropRight;  // of the job
    const char* FrameSize;
    const char* Aspect;
    const char* Filters;
    int OutTop, OutBottom, OutLeft, OutRight;  // crop fields afterwards
  } const cases[] = {
      {"lbox, sides (B, D)", pal, "lbox", "720x480", 0, 0, 0, 0, "600x480", "720:480", "pad=720:480:60:0", 0, 0, 0, 0},
      {"lbox, bars (D)", wide, "lbox", "320x240", 0, 0, 0, 0, "320x180", "320:240", "pad=320:240:0:30", 0, 0, 0, 0},
      {"lbox, bars (C)", wide, "lbox", "640x480", 0, 0, 0, 0, "640x360", "640:480", "pad=640:480:0:60", 0, 0, 0, 0},
      {"lbox, bars (A)", wide, "lbox", "320x480", 0, 0, 0, 0, "320x180", "320:480", "pad=320:480:0:150", 0, 0, 0, 0},
      {"lbox, same size (E)", pal, "lbox", "720x576", 0, 0, 0, 0, "720x576", "720:576", "pad=720:576:0:0", 0, 0, 0, 0},
      {"lbox, cropped (E)", pal, "lbox", "720x576", 8, 8, 0, 0, "", "720:576", "scale=720:576,pad=720:576:0:0",
       8, 8, 0, 0},
      {"lbox, cropped, sides", pal, "lbox", "720x480", 0, 0, 4, 6, "", "720:480", "scale=600:480,pad=720:480:60:0",
       0, 0, 4, 6},
      {"full", wide, "full", "320x240", 0, 0, 0, 0, "320x240", "320:240", "", 0, 0, 0, 0},
      {"full, cropped", wide, "full", "320x240", 2, 4, 6, 8, "320x240", "320:240", "", 2, 4, 6, 8},
      // 640 x 360 is wider than 4:3 by 160 columns; 720 x 576 taller by 36 lines.
      {"pan, wide", wide, "pan", "320x240", 0, 0, 0, 0, "320x240", "320:240", "", 0, 0, 80, 80},
      {"pan, tall", pal, "pan", "320x240", 0, 0, 0, 0, "320x240", "320:240", "", 18, 18, 0, 0},
      {"pan, cropped", wide, "pan", "320x240", 0, 0, 10, 30, "320x240", "320:240", "", 0, 0, 70, 90},
      {"center", wide, "center", "320x240", 0, 0, 0, 0, "320x180", "320:240", "pad=320:240:0:30:black", 0, 0, 0, 0},
      {"unknown mode", wide, "Full", "320x240", 0, 0, 0, 0, "", "", "", 0, 0, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    f.VideoFormat(c.Size);
    f.Job.ZoomMode = c.Mode;
    f.Job.CropTop = c.CropTop;
    f.Job.CropBottom = c.CropBottom;
    f.Job.CropLeft = c.CropLeft;
    f.Job.CropRight = c.CropRight;
    f.Build(c.Source.Probe);
    EXPECT_EQ(f.Output.FrameSize, c.FrameSize);
    EXPECT_EQ(f.Output.FrameAspectRatio, c.Aspect);
    EXPECT_EQ(f.Output.VideoFilters, c.Filters);
    EXPECT_EQ(f.Output.CropTop, c.OutTop);
    EXPECT_EQ(f.Output.CropBottom, c.OutBottom);
    EXPECT_EQ(f.Output.CropLeft, c.OutLeft);
    EXPECT_EQ(f.Output.CropRight, c.OutRight);
  }
  // A filter already in the record goes first.
  f.VideoFormat("320x240");
  f.Job = TlvFilesRecord();
  f.Output = TOutputOptions();
  f.Output.VideoFilters = "hflip";
  BuildOutputOptions(f.Job, f.Code, f.Output, wide.Probe, f.Input, f.Settings, f.Formats);
  EXPECT_EQ(f.Output.VideoFilters, "hflip,pad=320:240:0:30");
}

TEST(OptionBuilder, ASourceWithoutVideo) {
  TBuilderFixture f;
  TSource tone(f.Dir, 0, 0, "tone");
  f.Format("ipod");
  f.VideoFormat("640x480");
  f.Job.ZoomMode = ZoomLetterbox;
  f.Build(tone.Probe);
  EXPECT_TRUE(f.Output.DisableVideo);
  EXPECT_EQ(f.Output.FrameSize, "");
  EXPECT_EQ(f.Output.VideoFilters, "");
  EXPECT_EQ(f.Output.CropTop, -1);
  EXPECT_EQ(f.Output.VideoBitrate, -1);
  EXPECT_EQ(f.Questions(), 0);
  EXPECT_EQ(f.Output.AudioSampleRate, 44100);  // the audio part still runs
}

TEST(OptionBuilder, RatesOfAVideoFormat) {
  TBuilderFixture f;
  TSource source(f.Dir, 160, 120);
  TVideoStreamInfo info;
  ASSERT_TRUE(source.Probe.GetVideoStreamInfo(-1, info));
  ASSERT_GT(info.BitRate, 0);
  f.VideoFormat();
  f.User(K::paraAudioEncoder, "mp2");
  struct TCase {
    const char* Key;
    const char* Value;
    std::function<std::string(const TOutputOptions&)> Field;
    std::string Expected;
  };
  const auto videoBits = [](const TOutputOptions& o) { return std::to_string(o.VideoBitrate); };
  const auto audioBits = [](const TOutputOptions& o) { return std::to_string(o.AudioBitrate); };
  const auto frameRate = [](const TOutputOptions& o) { return o.FrameRate; };
  const auto sampleRate = [](const TOutputOptions& o) { return std::to_string(o.AudioSampleRate); };
  const auto channels = [](const TOutputOptions& o) { return std::to_string(o.AudioChannels); };
  const std::string sourceBits = std::to_string(info.BitRate);
  const TCase cases[] = {
      {K::paraVideoBitRate, "800", videoBits, "800000"},
      {K::paraVideoBitRate, "as source", videoBits, sourceBits},
      {K::paraVideoBitRate, "fast", videoBits, sourceBits},
      {K::paraVideoBitRate, "0", videoBits, "-1"},
      {K::paraVideoBitRate, "99999999", videoBits, "-1"},  // more than a 32-bit rate holds
      {K::paraAudioBitRate, "96.5", audioBits, "96500"},
      {K::paraAudioBitRate, "128.1", audioBits, "128100"},
      {K::paraAudioBitRate, ".5", audioBits, "500"},
      {K::paraAudioBitRate, "0", audioBits, "-1"},
      {K::paraAudioBitRate, "as source", audioBits, "-1"},
      {K::paraAudioBitRate, "-96", audioBits, "-1"},
      {K::paraFrameRate, "29.97", frameRate, "29.97"},
      {K::paraFrameRate, "0", frameRate, ""},
      {K::paraFrameRate, "as source", frameRate, ""},
      {K::paraSampleRate, "48000", sampleRate, "48000"},
      {K::paraSampleRate, "as source", sampleRate, "-1"},
      {K::paraSampleRate, "0", sampleRate, "-1"},
      {K::paraChannel, "1", channels, "1"},
      {K::paraChannel, "0", channels, "0"},  // a video format passes it on; the engine ignores it
      {K::paraChannel, "as source", channels, "-1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Key) + "=" + c.Value);
    f.User(c.Key, c.Value);
    f.Build(source.Probe);
    EXPECT_EQ(c.Field(f.Output), c.Expected);
    f.Settings.Ini().DeleteKey(FormatSectionName(f.Code), c.Key);
  }
  // The conversion defaults of a section the user stored.
  f.Build(source.Probe);
  EXPECT_EQ(f.Output.VideoBitrate, 512000);
  EXPECT_EQ(f.Output.FrameRate, "29.97");
  EXPECT_EQ(f.Output.AudioBitrate, 128000);
  EXPECT_EQ(f.Output.AudioChannels, 2);
  EXPECT_EQ(f.Output.AudioVolume, -1);
  EXPECT_EQ(f.Output.AudioCodec, "mp2");
  EXPECT_FALSE(f.Output.DisableAudio);

  f.User(K::paraAudioEncoder, "libamr_nb");
  f.Build(source.Probe);
  EXPECT_EQ(f.Output.AudioCodec, "libopencore_amrnb");
  f.Settings.Ini().DeleteKey(FormatSectionName(f.Code), K::paraAudioEncoder);
  f.Build(source.Probe);
  EXPECT_EQ(f.Output.AudioCodec, "");
  EXPECT_TRUE(f.Output.DisableAudio);
}

TEST(OptionBuilder, AnAudioOnlyFormatTurnsTheInputsVideoOff) {
  TBuilderFixture f;
  TSource source(f.Dir, 160, 120);
  f.Format("mp3");
  f.User(K::paraAudioBitRate, "96.5");
  f.User(K::paraVideoSize, "640x480");
  f.Job.ZoomMode = ZoomLetterbox;
  f.Build(source.Probe);
  EXPECT_EQ(f.Input.ExtOptions, "vn=1");
  EXPECT_TRUE(f.Output.DisableVideo);
  EXPECT_TRUE(f.Output.DisableSubtitle);
  EXPECT_EQ(f.Output.AudioCodec, "libfaac");
  EXPECT_EQ(f.Output.AudioBitrate, 96500);
  EXPECT_EQ(f.Output.AudioChannels, 2);
  EXPECT_EQ(f.Output.AudioSampleRate, 44100);
  EXPECT_EQ(f.Output.AudioVolume, -1);
  EXPECT_EQ(f.Output.FrameSize, "");
  EXPECT_EQ(f.Output.VideoFilters, "");
  EXPECT_EQ(f.Questions(), 0);

  f.User(K::paraVideoEncoder, "  ");  // blank is no encoder too
  f.User(K::paraAudioEncoder, "libmp3lame");
  f.User(K::paraChannel, "0");
  f.User(K::paraSampleRate, "as source");
  f.Output = TOutputOptions();
  f.Input = TInputOptions();
  f.Input.ExtOptions = "threads=2";
  BuildOutputOptions(f.Job, f.Code, f.Output, source.Probe, f.Input, f.Settings, f.Formats);
  EXPECT_EQ(f.Input.ExtOptions, "threads=2\nvn=1");
  EXPECT_EQ(f.Output.AudioCodec, "libmp3lame");
  EXPECT_EQ(f.Output.AudioChannels, -1);
  EXPECT_EQ(f.Output.AudioSampleRate, -1);
}

TEST(OptionBuilder, AVolumeThatIsNoWholeNumberStopsTheConversion) {
  TBuilderFixture f;
  TSource source(f.Dir, 160, 120);
  for (const bool video : {true, false}) {
    SCOPED_TRACE(video ? "video format" : "audio-only format");
    f.Settings.Ini().EraseSection(FormatSectionName(f.Code));
    if (video) f.VideoFormat();
    else f.User(K::paraAudioEncoder, "mp2");
    for (const auto& [stored, volume] : std::vector<std::pair<std::string, int>>{{"256", -1}, {"512", 512}, {"+64", 64}}) {
      f.User(K::paraVolume, stored);
      f.Build(source.Probe);
      EXPECT_EQ(f.Output.AudioVolume, volume) << stored;
    }
    for (const std::string bad : {"abc", "1.5", ""}) {
      f.User(K::paraVolume, bad);
      try {
        f.Build(source.Probe);
        ADD_FAILURE() << "'" << bad << "' was taken";
      } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), ("'" + bad + "' is not a valid integer value").c_str());
      }
    }
  }
}

// A format the user never set up converts as the Settings dialog's "&Default" and "&Ok"
// would have stored it, without writing the settings file.
TEST(OptionBuilder, AFormatNeverSetUpTakesTheStoresDefaults) {
  TBuilderFixture f;
  TSource source(f.Dir, 320, 240);
  const TFormatStore shipped(TLinuxPlatform().ProgramFolder() + "ondrelxvidformat.ini");
  ASSERT_EQ(shipped.Format(1), "ipod");
  f.Job.ZoomMode = ZoomLetterbox;
  BuildOutputOptions(f.Job, 1, f.Output, source.Probe, f.Input, f.Settings, shipped);
  EXPECT_EQ(f.Output.VideoCodec, "mpeg4");
  EXPECT_EQ(f.Output.FrameSize, "320x240");
  EXPECT_EQ(f.Output.VideoBitrate, 768000);
  EXPECT_EQ(f.Output.FrameRate, "29.97");
  EXPECT_EQ(f.Output.FileFormat, "ipod");
  EXPECT_EQ(f.Output.AudioCodec, "libfaac");
  EXPECT_EQ(f.Output.AudioBitrate, 128000);
  EXPECT_EQ(f.Output.AudioSampleRate, 44100);
  EXPECT_EQ(f.Output.AudioChannels, 2);
  EXPECT_EQ(f.Output.AudioVolume, -1);
  EXPECT_EQ(f.Input.ExtOptions, "");
  EXPECT_EQ(f.Questions(), 0);
  EXPECT_FALSE(std::filesystem::exists(f.Settings.Ini().FileName()));

  // Keys outside the value keys do not count as set up; one value key does, and then the
  // section is read as it is: no encoder makes the format audio-only.
  const std::string section = FormatSectionName(1);
  f.Settings.Ini().WriteString(section, K::Description, "iPod Video MPEG-4");
  f.Settings.Ini().WriteInteger(section, K::iVideoSize, 1);
  f.Output = TOutputOptions();
  BuildOutputOptions(f.Job, 1, f.Output, source.Probe, f.Input, f.Settings, shipped);
  EXPECT_EQ(f.Output.VideoCodec, "mpeg4");
  f.Settings.Ini().WriteString(section, "PARAVIDEOSIZE", "640x480");
  f.Output = TOutputOptions();
  f.Input = TInputOptions();
  BuildOutputOptions(f.Job, 1, f.Output, source.Probe, f.Input, f.Settings, shipped);
  EXPECT_EQ(f.Output.VideoCodec, "");
  EXPECT_EQ(f.Input.ExtOptions, "vn=1");
}

// The builder's records run through the real converter: the letterbox, pan and centre
// filters fit the engine's own crop and scale, the frame keeps square pixels, and the iPod
// preset ends without B-frames.
TEST(OptionBuilder, TheRecordsConvert) {
  TBuilderFixture f;
  TQueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  TSource wide(f.Dir, 320, 180), square(f.Dir, 240, 240);
  struct TCase {
    const char* Name;
    TSource& Source;
    const char* Mode;
    int CropTop, CropBottom;
    const char* Encoder;
    const char* Format;
  } const cases[] = {
      {"lbox", wide, "lbox", 0, 0, "mpeg4", "mp4"},
      {"lbox-cropped", square, "lbox", 8, 8, "mpeg4", "mp4"},
      {"center", square, "center", 0, 0, "mpeg4", "mp4"},
      {"pan", wide, "pan", 0, 0, "mpeg4", "mp4"},
      {"ipod", wide, "lbox", 0, 0, "libx264", "ipod"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    f.Format(c.Format);
    f.VideoFormat("320x240");
    f.User(K::paraVideoEncoder, c.Encoder);
    f.User(K::paraAudioEncoder, "aac");
    f.Job.ZoomMode = c.Mode;
    f.Job.CropTop = c.CropTop;
    f.Job.CropBottom = c.CropBottom;
    f.Build(c.Source.Probe);
    const std::string output = f.Dir.File(std::string(c.Name) + "-out.mp4");
    TFFConverter converter;
    std::string failure;
    converter.SetOnTerminate([&](TCustomFFConverter*, const TTerminateInfo& info) {
      if (info.TaskIndex >= 0 && !info.Finished) failure = info.ExceptionMsg + " ";
    });
    const int task = converter.AddTask(c.Source.Path, f.Input);
    ASSERT_GE(task, 0) << converter.LastErrorMessage();
    ASSERT_TRUE(converter.SetOutputFile(task, output, f.Output)) << converter.LastErrorMessage();
    converter.StartTask(0);
    ASSERT_EQ(failure, "");

    TAVProbe result;
    ASSERT_TRUE(result.LoadFile(output)) << result.LastErrorMessage();
    TVideoStreamInfo info;
    ASSERT_TRUE(result.GetVideoStreamInfo(-1, info));
    EXPECT_EQ(info.Width, 320);
    EXPECT_EQ(info.Height, 240);
    EXPECT_NEAR(info.DisplayAspectRatio, 320.0 / 240.0, 0.01);
    // B-frames show as packets that come before a picture shown earlier.
    AVFormatContext* ctx = result.FormatContext();
    TPacket packet(Lib.av_packet_alloc());
    ASSERT_TRUE(packet);
    int64_t latest = INT64_MIN;
    bool reordered = false;
    while (Lib.av_read_frame(ctx, packet.get()) >= 0) {
      if (packet->stream_index == result.FirstVideoStream() && packet->pts != AV_NOPTS_VALUE) {
        reordered = reordered || packet->pts < latest;
        latest = std::max(latest, packet->pts);
      }
      Lib.av_packet_unref(packet.get());
    }
    if (std::string(c.Encoder) == "libx264") {
      EXPECT_FALSE(reordered);
    }
  }
  SetMainThreadDispatcher(nullptr);
}

}  // namespace
