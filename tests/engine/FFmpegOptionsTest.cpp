#include "engine/FFmpegOptions.h"

#include <gtest/gtest.h>

#include <regex>
#include <utility>

#include "FFmpegOptionsTestSupport.h"
#include "TempDir.h"
#include "TestMedia.h"
#include "engine/CodecLookup.h"
#include "platform/Platform.h"

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

void ApplyAll(TFFmpegOptions& task, const TOptions& options) {
  for (const auto& [name, value] : options) ApplyFFmpegOption(task, name, value);
}

int64_t CodecOption(TFFmpegOptions& task, AVMediaType type, const char* name) {
  int64_t value = 0;
  EXPECT_GE(Lib.av_opt_get_int(task.DefaultCodecContext(type), name, 0, &value), 0) << name;
  return value;
}

bool Logged(const std::vector<TLoggedLine>& lines, TLogLevel level, const std::string& text) {
  for (const TLoggedLine& l : lines)
    if (l.Level == level && l.Text == text) return true;
  return false;
}

class FFmpegOptions : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
  TFakeHost Host;
  TFFmpegOptions Task{&Host};
};

struct TErrorCase {
  TOptions Before;
  std::string Name, Value, Message;
};

TEST_F(FFmpegOptions, InvalidValuesRaiseTheUsersText) {
  const TErrorCase cases[] = {
      {{}, "vframes", "abc", "'abc' is not a valid integer value"},
      {{}, "vframes", "12x", "'12x' is not a valid integer value"},
      {{}, "threads", "", "'' is not a valid integer value"},
      {{}, "muxdelay", "0,7", "'0,7' is not a valid floating point value"},
      {{}, "t", "abc", "Invalid duration specification for t: abc"},
      {{}, "ss", "1:xx", "Invalid duration specification for ss: 1:xx"},
      {{}, "timestamp", "no date", "Invalid date specification for timestamp: no date"},
      {{}, "pass", "3", "pass number can be only 1 or 2"},
      {{}, "pass", "0", "pass number can be only 1 or 2"},
      {{}, "padtop", "10", "Please use vfilters=pad"},
      {{}, "padcolor", "000000", "Please use vfilters=pad"},
      {{}, "aspect", "16:0", "Incorrect aspect ratio specification."},
      {{}, "aspect", "0", "Incorrect aspect ratio specification."},
      {{}, "aspect", "wide", "Incorrect aspect ratio specification."},
      {{}, "aspect", "-4:3", "Incorrect aspect ratio specification."},
      {{}, "qscale", "0", "qscale must be > 0.0 and <= 255"},
      {{}, "qscale", "255.5", "qscale must be > 0.0 and <= 255"},
      {{}, "s", "abc", "Incorrect frame size"},
      {{}, "r", "xyz", "Incorrect frame rate"},
      {{}, "metadata", "title", "Missing ="},
      {{}, "itsscale", "20:1.5", "stream index over MAX_STREAMS(20)"},
      {{}, "streamid", "x", "Invalid value \"x\" for option \"streamid\", required syntax is \"index:value\""},
      {{}, "streamid", "3:", "Invalid value \"3:\" for option \"streamid\", required syntax is \"index:value\""},
      {{}, "streamid", "20:1",
       "Invalid stream index \"20\" for option \"streamid\": it must be a number from 0 to 19"},
      {{}, "streamid", "x:1", "Invalid stream index \"x\" for option \"streamid\": it must be a number from 0 to 19"},
      {{}, "vbsf", "no_such_filter", "Unknown bitstream filter no_such_filter"},
      {{}, "absf", "no_such_filter=1", "Unknown bitstream filter no_such_filter"},
      {{}, "pix_fmt", "yuv999p", "Unknown pixel format requested: yuv999p"},
      {{}, "sample_fmt", "s12", "Unknown sample format requested: s12"},
      {{}, "intra_matrix", "1,2,3", "Syntax error in matrix \"1,2,3\" at coeff 2"},
      {{}, "newvideo", "", "At least one output file must be specified"},
      {{}, "loglevel", "loud", "'loud' is not a valid integer value"},
      {{{"s", "320x240"}}, "croptop", "240",
       "Vertical crop dimensions are outside the range of the original image.\n"
       "Remember to crop first and scale second."},
      {{{"s", "320x240"}, {"croptop", "100"}}, "cropbottom", "140",
       "Vertical crop dimensions are outside the range of the original image.\n"
       "Remember to crop first and scale second."},
      {{{"s", "320x240"}}, "cropright", "320",
       "Horizontal crop dimensions are outside the range of the original image.\n"
       "Remember to crop first and scale second."},
      {{}, "cropleft", "-2", "Incorrect left crop size"},
      {{}, "target", "vcd", "frame_rate is invalid."},
      {{}, "target", "pal-cdi", "Unknown target type"},
  };
  for (const TErrorCase& c : cases) {
    SCOPED_TRACE(c.Name + "=" + c.Value);
    TFFmpegOptions task(&Host);
    ApplyAll(task, c.Before);
    ExpectRaises([&] { ApplyFFmpegOption(task, c.Name, c.Value); }, c.Message);
  }
}

TEST_F(FFmpegOptions, TagsMustHaveFourCharacters) {
  ExpectRaises<EAssertionFailed>([&] { ApplyFFmpegOption(Task, "vtag", "xvi"); }, "video tag parameter must be 4 chars");
  ExpectRaises<EAssertionFailed>([&] { ApplyFFmpegOption(Task, "atag", "mp4a1"); }, "audio tag parameter must be 4 chars");
  ExpectRaises<EAssertionFailed>([&] { ApplyFFmpegOption(Task, "stag", ""); }, "subtitle tag parameter must be 4 chars");
  ApplyFFmpegOption(Task, "vtag", "XVID");
  EXPECT_EQ(Task.File.Video.CodecTag, MKTAG('X', 'V', 'I', 'D'));
}

TEST_F(FFmpegOptions, FrameSizesRatesAndAspect) {
  struct TSize {
    const char* Value;
    int W, H;
  };
  for (const TSize& s : {TSize{"hd720", 1280, 720}, TSize{"vga", 640, 480}, TSize{"pal", 720, 576},
                         TSize{"352x288", 352, 288}}) {
    ApplyFFmpegOption(Task, "s", s.Value);
    EXPECT_EQ(Task.File.FrameWidth, s.W) << s.Value;
    EXPECT_EQ(Task.File.FrameHeight, s.H) << s.Value;
  }
  struct TRate {
    const char* Value;
    int Num, Den;
  };
  for (const TRate& r : {TRate{"ntsc", 30000, 1001}, TRate{"25", 25, 1}, TRate{"24000/1001", 24000, 1001},
                         TRate{"29.97", 2997, 100}}) {
    ApplyFFmpegOption(Task, "r", r.Value);
    EXPECT_EQ(static_cast<int64_t>(Task.File.FrameRate.num) * r.Den, static_cast<int64_t>(r.Num) * Task.File.FrameRate.den)
        << r.Value;
  }
  ApplyFFmpegOption(Task, "aspect", "16:9");
  EXPECT_DOUBLE_EQ(Task.File.AspectRatio, 16.0 / 9.0);
  ApplyFFmpegOption(Task, "aspect", "1.85");
  EXPECT_DOUBLE_EQ(Task.File.AspectRatio, 1.85);
}

TEST_F(FFmpegOptions, TimesAndLimits) {
  ApplyAll(Task, {{"t", "00:00:05.5"}, {"ss", "90"}, {"itsoffset", "-1.25"}, {"fs", "5000000000"},
                  {"timestamp", "2010-05-04 03:02:01"}, {"vframes", "100"}, {"aframes", "+7"}, {"dframes", "3"}});
  EXPECT_EQ(Task.File.RecordingTime, 5500000);
  EXPECT_EQ(Task.ExpectedDuration, 5500000);
  EXPECT_EQ(Task.File.StartTime, 90000000);
  EXPECT_EQ(Task.File.InputTimeOffset, -1250000);
  EXPECT_EQ(Task.File.SizeLimit, 5000000000LL);
  ASSERT_TRUE(Task.File.RecordingTimestamp.has_value());
  int64_t expected = 0;
  ASSERT_GE(Lib.av_parse_time(&expected, "2010-05-04 03:02:01", 0), 0);
  EXPECT_EQ(*Task.File.RecordingTimestamp, expected);
  EXPECT_EQ(Task.File.Video.FrameLimit, 100);
  EXPECT_EQ(Task.File.Audio.FrameLimit, 7);
  EXPECT_EQ(Task.File.DataFrameLimit, 3);
  EXPECT_EQ(Task.File.Subtitle.FrameLimit, INT32_MAX);
}

TEST_F(FFmpegOptions, MapsStreamIdsAndScales) {
  ApplyAll(Task, {{"map", "0.1:0.1"}, {"map", "0:1"}, {"map", "1:0x2:0:3"}, {"map_meta_data", "0:1"},
                  {"streamid", "19:300"}, {"streamid", "0:7"}, {"itsscale", "1:0.5"}});
  ASSERT_EQ(Task.StreamMaps.size(), 3u);
  EXPECT_EQ(Task.StreamMaps[0], (TStreamMap{0, 1, 0, 1}));
  EXPECT_EQ(Task.StreamMaps[1], (TStreamMap{0, 1, 0, 1}));  // the sync stream is the mapped one
  EXPECT_EQ(Task.StreamMaps[2], (TStreamMap{1, 2, 0, 3}));  // numbers are C literals
  ASSERT_EQ(Task.MetadataMaps.size(), 1u);
  EXPECT_EQ(Task.MetadataMaps[0], (TMetadataMap{0, 1}));
  EXPECT_EQ(Task.File.StreamIds[19], 300);
  EXPECT_EQ(Task.File.StreamIds[0], 7);
  EXPECT_DOUBLE_EQ(Task.File.InputTimeScale[1], 0.5);
  EXPECT_DOUBLE_EQ(Task.File.InputTimeScale[0], 1.0);
}

TEST_F(FFmpegOptions, PlainSettings) {
  ApplyAll(Task, {{"threads", "4"}, {"vsync", "0"}, {"async", "1"}, {"adrift_threshold", "0.25"},
                  {"copyts", "0"}, {"xerror", "0"}, {"shortest", "1"}, {"re", "0"}, {"an", "yes"},
                  {"vn", "0"}, {"ar", "0"}, {"ac", "-1"}, {"aq", "80"}, {"vol", "512"}, {"muxpreload", "0.3"},
                  {"passlogfile", "stats"}, {"pass", "2"}, {"vlang", "deu"}, {"vfilters", "scale=320:240"},
                  {"vcodec", "copy"}, {"acodec", "libmp3lame"}, {"f", "avi"}, {"metadata", "title=a=b"},
                  {"vbsf", "=ignored"}, {"absf", "aac_adtstoasc"}, {"vbsf", "noise=amount=2"},
                  {"intra_matrix", "8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,"
                                    "19,22,26,27,29,34,34,38,22,22,26,27,29,34,37,40,22,26,27,29,32,35,40,48,"
                                    "26,27,29,32,35,40,48,58,26,27,29,34,38,46,56,69,27,29,35,38,46,56,69,83"}});
  EXPECT_EQ(Task.ThreadCount, 4);
  EXPECT_EQ(Task.VideoSync, 0);
  EXPECT_EQ(Task.AudioSync, 1);
  EXPECT_DOUBLE_EQ(Task.AudioDriftThreshold, 0.25);
  EXPECT_TRUE(Task.CopyTimestamps);  // whatever the value
  EXPECT_TRUE(Task.ExitOnError);
  EXPECT_TRUE(Task.Shortest);
  EXPECT_FALSE(Task.RateEmulation);
  EXPECT_TRUE(Task.File.Audio.Disabled);  // anything but "0" is true
  EXPECT_FALSE(Task.File.Video.Disabled);
  EXPECT_EQ(Task.File.AudioSampleRate, 44100);  // only values above 0 are taken
  EXPECT_EQ(Task.File.AudioChannels, 2);
  EXPECT_DOUBLE_EQ(Task.File.AudioQuantiser, 80);
  EXPECT_EQ(Task.Volume, 512);
  EXPECT_DOUBLE_EQ(Task.MuxPreload, 0.3);
  EXPECT_EQ(Task.PassNumber, 2);
  EXPECT_EQ(Task.PassLogFile, "stats");
  EXPECT_EQ(Task.File.Video.Language, "deu");
  EXPECT_EQ(Task.File.VideoFilters, "scale=320:240");
  EXPECT_TRUE(Task.File.Video.StreamCopy);
  EXPECT_EQ(Task.File.Video.CodecName, "");
  EXPECT_EQ(Task.File.Audio.CodecName, "libmp3lame");
  EXPECT_EQ(Task.File.ForcedFormat, "avi");
  ASSERT_EQ(Task.File.Metadata.size(), 1u);
  EXPECT_EQ(Task.File.Metadata[0], (TOptionPair{"title", "a=b"}));
  EXPECT_EQ(Task.File.Audio.BitstreamFilters, (std::vector<TBitstreamFilterSpec>{{"aac_adtstoasc", ""}}));
  EXPECT_EQ(Task.File.Video.BitstreamFilters, (std::vector<TBitstreamFilterSpec>{{"noise", "amount=2"}}));
  ASSERT_EQ(Task.File.IntraMatrix.size(), 64u);
  EXPECT_EQ(Task.File.IntraMatrix[0], 8);
  EXPECT_EQ(Task.File.IntraMatrix[63], 83);
  ApplyFFmpegOption(Task, "threads", "0");
  EXPECT_EQ(Task.ThreadCount, 0);
}

TEST_F(FFmpegOptions, ResetsRestoreTheDefaults) {
  ApplyAll(Task, {{"vcodec", "mpeg4"}, {"s", "320x240"}, {"t", "5"}, {"ar", "22050"}, {"metadata", "a=b"},
                  {"v", "3"}, {"map", "0:0"}, {"g", "30"}, {"crf", "20"}});
  Task.ResetFileOptions();
  EXPECT_EQ(Task.File.Video.CodecName, "");
  EXPECT_EQ(Task.File.FrameWidth, 0);
  EXPECT_EQ(Task.File.RecordingTime, INT64_MAX);
  EXPECT_EQ(Task.File.AudioSampleRate, 44100);
  EXPECT_TRUE(Task.File.Metadata.empty());
  // Whole-task settings and library options outlive the file.
  EXPECT_EQ(Task.Verbosity, 3);
  EXPECT_EQ(Task.StreamMaps.size(), 1u);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "g"), 30);
  EXPECT_FALSE(Task.PendingCodecOptions(AVMEDIA_TYPE_VIDEO).empty());

  Task.Reset();
  EXPECT_EQ(Task.Verbosity, 1);
  EXPECT_TRUE(Task.StreamMaps.empty());
  EXPECT_TRUE(Task.RecordedOptions().empty());
  EXPECT_TRUE(Task.PendingCodecOptions(AVMEDIA_TYPE_VIDEO).empty());
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "g"), 12);  // a new default context
  EXPECT_EQ(Task.ThreadCount, 0);
  EXPECT_EQ(Task.VideoSync, -1);
  EXPECT_DOUBLE_EQ(Task.MuxPreload, 0.5);
  EXPECT_DOUBLE_EQ(Task.MuxMaxDelay, 0.7);
  EXPECT_DOUBLE_EQ(Task.File.AudioQuantiser, -99999);
  EXPECT_EQ(Task.ScalerFlags, 4);
  EXPECT_EQ(Task.Host(), &Host);
}

TEST_F(FFmpegOptions, CropChecksTheRememberedSize) {
  TLogCapture log;
  ApplyFFmpegOption(Task, "croptop", "0");  // nothing to crop: no check, no note
  EXPECT_TRUE(log.Take().empty());
  ApplyAll(Task, {{"s", "320x240"}, {"croptop", "100"}, {"cropbottom", "139"}});
  EXPECT_EQ(Task.File.CropTop, 100);
  EXPECT_EQ(Task.File.CropBottom, 139);
  EXPECT_EQ(Task.File.CropReferenceHeight, 1);
  EXPECT_EQ(Task.File.FrameHeight, 240);  // the output size is not the crop's business
  const auto lines = log.From(&Task);
  EXPECT_TRUE(Logged(lines, llWarning, "CropTop is deprecated in favor of the crop avfilter"));
  EXPECT_TRUE(Logged(lines, llWarning, "CropBottom is deprecated in favor of the crop avfilter"));

  Task.SetSourceFrameSize(100, 50);
  ApplyFFmpegOption(Task, "cropleft", "99");
  EXPECT_EQ(Task.File.CropLeft, 99);
  ExpectRaises([&] { ApplyFFmpegOption(Task, "cropright", "1"); },
               "Horizontal crop dimensions are outside the range of the original image.\n"
               "Remember to crop first and scale second.");
}

TEST_F(FFmpegOptions, ConsoleOnlyOptionsOnlyLog) {
  TLogCapture log;
  for (const char* name : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"})
    ApplyFFmpegOption(Task, name, "x");
  ApplyFFmpegOption(Task, "timelimit", "10");
  const auto lines = log.Take();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0].Text, "Do nothing: option - L");
  EXPECT_EQ(lines[0].Level, llInfo);
  EXPECT_EQ(lines[0].Sender, &Task);
  EXPECT_EQ(lines[10].Text, "Do nothing: option - benchmark");
  EXPECT_EQ(lines[11].Text, "Warning: -timelimit not implemented");
  EXPECT_EQ(lines[11].Level, llWarning);
}

TEST_F(FFmpegOptions, LogSenderIsTheTask) {
  int owner = 0;
  TFFmpegOptions task(nullptr, &owner);
  TLogCapture log;
  ApplyFFmpegOption(task, "f", "pgmyuv");
  EXPECT_EQ(task.File.ForcedFormat, "image2");
  EXPECT_TRUE(task.PgmYuv);
  EXPECT_TRUE(Logged(log.From(&owner), llInfo, "pgmyuv format is deprecated, use image2"));
}

TEST_F(FFmpegOptions, UnknownNamesAreIgnoredSilently) {
  TLogCapture log(true);
  ApplyFFmpegOption(Task, "no_such_option", "1");
  ApplyFFmpegOption(Task, "vno_such_option", "1");
  EXPECT_EQ(ApplyLibraryOption(Task, "no_such_option", "1"), TLibraryOptionResult::Unknown);
  EXPECT_TRUE(log.Take().empty());
  EXPECT_TRUE(Task.RecordedOptions().empty());
}

TEST_F(FFmpegOptions, RejectedLibraryValuesAreLoggedNotRaised) {
  TLogCapture log(true);
  ApplyFFmpegOption(Task, "g", "abc");
  EXPECT_EQ(ApplyLibraryOption(Task, "qmin", "many"), TLibraryOptionResult::Rejected);
  const auto lines = log.Take();
  EXPECT_TRUE(Logged(lines, llError, "Invalid value \"abc\" for option \"g\""));
  EXPECT_TRUE(Logged(lines, llError, "Invalid value \"many\" for option \"qmin\""));
  EXPECT_TRUE(Task.RecordedOptions().empty());
}

TEST_F(FFmpegOptions, LowBitRatesWarn) {
  const std::string warning = "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  struct TCase {
    const char* Name;
    const char* Value;
    bool Warns;
  };
  for (const TCase& c : {TCase{"ab", "128", true}, TCase{"ab", "128000", false}, TCase{"ab", "1000", false},
                         TCase{"b", "999", true}, TCase{"b", "1000", false}, TCase{"vb", "500", true},
                         TCase{"vb", "64k", false}}) {
    TFFmpegOptions task;
    TLogCapture log;
    ApplyFFmpegOption(task, c.Name, c.Value);
    EXPECT_EQ(Logged(log.From(&task), llWarning, warning), c.Warns) << c.Name << "=" << c.Value;
  }
}

TEST_F(FFmpegOptions, BitRatesReachTheirMediaOnly) {
  ApplyAll(Task, {{"ab", "96000"}, {"b", "700000"}});
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "b"), 700000);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_AUDIO, "b"), 96000);  // "b" was a video option
  ApplyFFmpegOption(Task, "vb", "800000");                       // retried as "b" on video
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "b"), 800000);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_AUDIO, "b"), 96000);
}

TEST_F(FFmpegOptions, LibraryOptionsFindTheirContexts) {
  ApplyAll(Task, {{"g", "30"}, {"strict", "experimental"}, {"probesize", "65536"}, {"sws_flags", "lanczos"},
                  {"crf", "20"}, {"muxrate", "1000000"}});
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "g"), 30);
  EXPECT_EQ(Task.Strictness(AVMEDIA_TYPE_AUDIO), FF_COMPLIANCE_EXPERIMENTAL);
  EXPECT_EQ(Task.DefaultFormatContext()->probesize, 65536);
  EXPECT_EQ(Task.ScalerFlags, SWS_LANCZOS);
  const auto& video = Task.PendingCodecOptions(AVMEDIA_TYPE_VIDEO);
  ASSERT_EQ(video.size(), 1u);
  EXPECT_EQ(video[0].Option, (TDeferredOption{"crf", "20", false}));
  EXPECT_TRUE(Task.PendingCodecOptions(AVMEDIA_TYPE_AUDIO).empty());
  EXPECT_EQ(Task.PendingFormatOptions(), (std::vector<TOptionPair>{{"muxrate", "1000000"}}));
  std::vector<std::string> names;
  for (const TRecordedOption& r : Task.RecordedOptions()) names.push_back(r.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"g", "strict", "probesize", "sws_flags"}));
}

TEST_F(FFmpegOptions, PrivateValuesAreCheckedAgainstTheSelectedEncoder) {
  TLogCapture log(true);
  ApplyFFmpegOption(Task, "vcodec", "libx264");
  EXPECT_EQ(ApplyLibraryOption(Task, "preset", "warp"), TLibraryOptionResult::Accepted);  // a string: x264 judges it
  EXPECT_EQ(ApplyLibraryOption(Task, "crf", "abc"), TLibraryOptionResult::Rejected);
  EXPECT_TRUE(Logged(log.Take(), llError, "Invalid value \"abc\" for option \"crf\""));
}

TEST_F(FFmpegOptions, DebugSwitchesTheLoggerToDebug) {
  TFFLogger::Instance().SetLogLevel(llInfo);
  ApplyFFmpegOption(Task, "debug", "mb_type");
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llDebug);
  ApplyFFmpegOption(Task, "loglevel", "WARNING");
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llWarning);
  ApplyFFmpegOption(Task, "loglevel", "32");
  EXPECT_EQ(TFFLogger::Instance().LogLevel(), llInfo);
}

TEST_F(FFmpegOptions, VerbosityControlsTheNotes) {
  ApplyFFmpegOption(Task, "v", "2");
  EXPECT_TRUE(Task.ShowTargetNotes());
  EXPECT_FALSE(Task.ShowDropDupNotes());
  ApplyFFmpegOption(Task, "v", "3");
  EXPECT_TRUE(Task.ShowDropDupNotes());
  ApplyFFmpegOption(Task, "v", "0");
  EXPECT_FALSE(Task.ShowTargetNotes());
}

TEST_F(FFmpegOptions, HostRequests) {
  ExpectRaises([&] { ApplyFFmpegOption(Task, "newaudio", ""); }, "At least one output file must be specified");
  Host.Outputs = 1;
  ApplyAll(Task, {{"newvideo", ""}, {"newaudio", "ignored"}, {"newsubtitle", ""}});
  EXPECT_EQ(Host.AddedStreams,
            (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}));

  ApplyFFmpegOption(Task, "vhook", "/lib/hook.so -w  40");
  ApplyFFmpegOption(Task, "vhook", "/lib/draw.so|-t|two words");
  ASSERT_EQ(Host.Hooks.size(), 2u);
  EXPECT_EQ(Host.Hooks[0], (std::vector<std::string>{"/lib/hook.so", "-w", "40"}));
  EXPECT_EQ(Host.Hooks[1], (std::vector<std::string>{"/lib/draw.so", "-t", "two words"}));
  EXPECT_EQ(Task.FrameHooks, Host.Hooks);
  Host.HookAccepted = false;
  ExpectRaises([&] { ApplyFFmpegOption(Task, "vhook", "/lib/bad.so x"); },
               "Failed to add video hook function: /lib/bad.so x");
  EXPECT_EQ(Task.FrameHooks.size(), 2u);
}

TEST_F(FFmpegOptions, FormatLists) {
  TLogCapture log;
  ApplyFFmpegOption(Task, "pix_fmt", "list");
  ApplyFFmpegOption(Task, "sample_fmt", "list");
  const auto lines = log.From(&Task);
  const auto has = [&](const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const TLoggedLine& l) { return l.Level == llInfo && l.Text.rfind(prefix, 0) == 0; });
  };
  EXPECT_TRUE(has("yuv420p "));
  EXPECT_TRUE(has("s16 "));
  EXPECT_GT(lines.size(), 100u);
  EXPECT_EQ(Task.File.PixelFormat, AV_PIX_FMT_NONE);  // listing selects nothing
  ApplyAll(Task, {{"pix_fmt", "yuv422p"}, {"sample_fmt", "fltp"}});
  EXPECT_EQ(Task.File.PixelFormat, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(Task.File.SampleFormat, AV_SAMPLE_FMT_FLTP);
}

TEST_F(FFmpegOptions, VstatsFileIsNamedByTheClock) {
  ApplyFFmpegOption(Task, "vstats", "");
  const std::string folder = Platform().ProgramFolder();
  ASSERT_EQ(Task.VstatsFile.rfind(folder, 0), 0u) << Task.VstatsFile;
  EXPECT_TRUE(std::regex_match(Task.VstatsFile.substr(folder.size()), std::regex("vstats_[0-2][0-9][0-5][0-9][0-6][0-9]\\.log")))
      << Task.VstatsFile;
  ApplyFFmpegOption(Task, "vstats_file", "/tmp/stats.log");
  EXPECT_EQ(Task.VstatsFile, "/tmp/stats.log");
}

TEST_F(FFmpegOptions, RecordedOptionsReachNewCodecContexts) {
  TLogCapture log;
  ApplyAll(Task, {{"vcodec", "mpeg4"}, {"g", "30"}, {"bf", "2"}, {"threads", "3"}, {"crf", "20"}, {"ab", "64000"}});
  const AVCodec* codec = FindStreamCodec(Task, Task.File.Video.CodecName, AVMEDIA_TYPE_VIDEO, true);
  TCodecContext ctx(Lib.avcodec_alloc_context3(codec));
  TDictionary options;
  ApplyRecordedCodecOptions(Task, ctx.get(), codec, options);
  EXPECT_EQ(ctx->gop_size, 30);
  EXPECT_EQ(ctx->max_b_frames, 2);
  EXPECT_EQ(ctx->thread_count, 3);
  EXPECT_NE(ctx->bit_rate, 64000);  // an audio option stays with audio
  ASSERT_NE(Lib.av_dict_get(options.Ptr, "crf", nullptr, 0), nullptr);
  // mpeg4 has no "crf": the entry is left over and named in the log.
  SmallVideo(ctx.get());
  ASSERT_GE(Lib.avcodec_open2(ctx.get(), codec, &options.Ptr), 0);
  LogUnusedOptions(Task, options.Ptr, "encoder 'mpeg4'");
  EXPECT_TRUE(Logged(log.From(&Task), llWarning, "Option 'crf' (value '20') was not used by encoder 'mpeg4'; ignored"));

  // Decoders and demuxers only get what such a codec or format can have.
  const AVCodec* decoder = Lib.avcodec_find_decoder_by_name("h264");
  TCodecContext input(Lib.avcodec_alloc_context3(decoder));
  TDictionary decoderOptions;
  ApplyRecordedCodecOptions(Task, input.get(), decoder, decoderOptions);
  EXPECT_EQ(Lib.av_dict_count(decoderOptions.Ptr), 0);
  EXPECT_EQ(input->thread_count, 3);
  ApplyAll(Task, {{"muxrate", "1000000"}, {"loop_input", "1"}});
  TOutputFormat inputFormat(Lib.avformat_alloc_context());
  TDictionary demuxerOptions;
  ApplyRecordedFormatOptions(Task, inputFormat.get(), false, demuxerOptions);
  EXPECT_EQ(Lib.av_dict_get(demuxerOptions.Ptr, "muxrate", nullptr, 0), nullptr);
  ASSERT_NE(Lib.av_dict_get(demuxerOptions.Ptr, "loop", nullptr, 0), nullptr);
}

// ---- targets ------------------------------------------------------------------------------

class Targets : public FFmpegOptions {};

TEST_F(Targets, AutomaticNorm) {
  struct TCase {
    const char* Rate;
    std::vector<AVRational> Inputs;
    const char* Fallback;
    const char* Size;
    AVRational ExpectedRate;
    const char* Note;  // "" when the norm is not detected
  };
  const TCase cases[] = {
      {"25", {}, "ntsc", "352x288", {25, 1}, "Assuming PAL for target."},
      {"30000/1001", {}, "pal", "352x240", {30000, 1001}, "Assuming NTSC for target."},
      {"24000/1001", {}, "pal", "352x240", {30000, 1001}, "Assuming NTSC for target."},
      {"30", {{1, 90000}, {1, 25}}, "ntsc", "352x288", {25, 1}, "Assuming PAL for target."},
      {"30", {}, "ntsc", "352x240", {30000, 1001}, ""},
      {"30", {}, "film", "352x240", {24000, 1001}, ""},
      {"30", {}, "secam", "352x288", {25, 1}, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Rate) + " " + c.Fallback);
    TFakeHost host;
    host.TimeBases = c.Inputs;
    TFFmpegOptions task(&host);
    TLogCapture log;
    ApplyFFmpegOption(task, "r", c.Rate);
    ApplyTarget(task, "vcd", TTargetNorm::Automatic, c.Fallback);
    EXPECT_EQ(Format("%dx%d", task.File.FrameWidth, task.File.FrameHeight), c.Size);
    EXPECT_EQ(task.File.FrameRate.num, c.ExpectedRate.num);
    EXPECT_EQ(task.File.FrameRate.den, c.ExpectedRate.den);
    const auto lines = log.From(&task);
    if (*c.Note)
      EXPECT_TRUE(Logged(lines, llVerbose, c.Note));
    else
      EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const TLoggedLine& l) { return l.Text.find("for target") != std::string::npos; }));
  }
  TFFmpegOptions quiet;
  TLogCapture log;
  ApplyAll(quiet, {{"v", "0"}, {"r", "25"}, {"target", "dvd"}});
  EXPECT_FALSE(Logged(log.From(&quiet), llVerbose, "Assuming PAL for target."));
}

TEST_F(Targets, PalVcd) {
  TLogCapture log;
  ApplyFFmpegOption(Task, "target", "pal-vcd");
  EXPECT_EQ(Task.File.ForcedFormat, "vcd");
  EXPECT_EQ(Task.File.Video.CodecName, "mpeg1video");
  EXPECT_EQ(Task.File.Audio.CodecName, "mp2");
  EXPECT_EQ(Task.File.FrameWidth, 352);
  EXPECT_EQ(Task.File.FrameHeight, 288);
  EXPECT_EQ(Task.File.FrameRate.num, 25);
  EXPECT_EQ(Task.File.FrameRate.den, 1);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "g"), 15);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "b"), 1150000);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "maxrate"), 1150000);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "minrate"), 1150000);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "bufsize"), 327680);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_AUDIO, "b"), 224000);
  EXPECT_EQ(Task.File.AudioSampleRate, 44100);
  EXPECT_EQ(Task.File.AudioChannels, 2);
  EXPECT_EQ(Task.DefaultFormatContext()->packet_size, 2324u);
  EXPECT_EQ(Task.PendingFormatOptions(), (std::vector<TOptionPair>{{"muxrate", "1411200"}}));
  EXPECT_DOUBLE_EQ(Task.MuxPreload, 0.44);
  EXPECT_DOUBLE_EQ(Task.File.AspectRatio, 4.0 / 3.0);
  EXPECT_TRUE(Logged(log.From(&Task), llInfo, "Assuming 4:3 for aspect ratio"));
}

TEST_F(Targets, GivenAspectAndChannelsAreKept) {
  TLogCapture log;
  ApplyAll(Task, {{"aspect", "16:9"}, {"ac", "1"}, {"target", "ntsc-svcd"}});
  EXPECT_DOUBLE_EQ(Task.File.AspectRatio, 16.0 / 9.0);
  EXPECT_EQ(Task.File.AudioChannels, 2);  // mono becomes stereo on SVCD
  EXPECT_EQ(Task.File.FrameHeight, 480);
  EXPECT_EQ(CodecOption(Task, AVMEDIA_TYPE_VIDEO, "g"), 18);
  EXPECT_FALSE(Logged(log.From(&Task), llInfo, "Assuming 4:3 for aspect ratio"));

  TFFmpegOptions dvd;
  ApplyAll(dvd, {{"ac", "6"}, {"target", "film-dvd"}});
  EXPECT_EQ(dvd.File.AudioChannels, 6);
  EXPECT_EQ(dvd.File.FrameRate.num, 24000);
  EXPECT_EQ(dvd.File.FrameHeight, 480);  // film uses the NTSC sizes
  EXPECT_DOUBLE_EQ(dvd.File.AspectRatio, 16.0 / 9.0);
}

// Encodes one second with the target's settings and muxes it with the target's muxer options.
struct TTargetCase {
  const char* Target;
  AVPixelFormat PixelFormat;
  int Height;
};

class TargetEncodes : public ::testing::TestWithParam<TTargetCase> {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
};

TEST_P(TargetEncodes, RecordedSettingsOpenTheEncodersAndTheMuxer) {
  const TTargetCase& param = GetParam();
  TFFmpegOptions task;
  TLogCapture log;
  ApplyFFmpegOption(task, "target", param.Target);
  TTempDir dir;
  const std::string path = dir.File("out.mpg");
  AVFormatContext* raw = nullptr;
  ASSERT_GE(Lib.avformat_alloc_output_context2(&raw, nullptr, task.File.ForcedFormat.c_str(), path.c_str()), 0);
  TOutputFormat oc(raw);
  const AVOutputFormat* muxer = oc->oformat;

  const std::string videoName = task.File.Video.CodecName.empty() ? Lib.avcodec_get_name(muxer->video_codec)
                                                                  : task.File.Video.CodecName;
  const std::string audioName = task.File.Audio.CodecName.empty() ? Lib.avcodec_get_name(muxer->audio_codec)
                                                                  : task.File.Audio.CodecName;
  const AVCodec* videoCodec = FindStreamCodec(task, videoName, AVMEDIA_TYPE_VIDEO, true);
  const AVCodec* audioCodec = FindStreamCodec(task, audioName, AVMEDIA_TYPE_AUDIO, true);
  const TFileOptions& f = task.File;
  TEncodeResult video = EncodeWith(videoCodec, &task, [&](AVCodecContext* c) {
    c->width = f.FrameWidth;
    c->height = f.FrameHeight;
    c->framerate = f.FrameRate;
    c->time_base = AVRational{f.FrameRate.den, f.FrameRate.num};
    c->pix_fmt = f.PixelFormat != AV_PIX_FMT_NONE ? f.PixelFormat : videoCodec->pix_fmts[0];
    if (f.AspectRatio > 0) c->sample_aspect_ratio = Lib.av_d2q(f.AspectRatio * c->height / c->width, 255);
  });
  ASSERT_EQ(video.Error, "") << videoName;
  EXPECT_EQ(video.Encoder->pix_fmt, param.PixelFormat);
  EXPECT_EQ(video.Encoder->height, param.Height);
  if (videoName == "mpeg2video") {
    int64_t scanOffset = -1;
    Lib.av_opt_get_int(video.Encoder->priv_data, "scan_offset", 0, &scanOffset);
    EXPECT_EQ(scanOffset, std::string(param.Target).find("svcd") != std::string::npos ? 1 : 0);
  }
  TEncodeResult audio = EncodeWith(audioCodec, &task, [&](AVCodecContext* c) {
    c->sample_rate = f.AudioSampleRate;
    c->sample_fmt = audioCodec->sample_fmts[0];
    c->time_base = AVRational{1, f.AudioSampleRate};
    Lib.av_channel_layout_default(&c->ch_layout, f.AudioChannels);
  });
  ASSERT_EQ(audio.Error, "") << audioName;
  EXPECT_TRUE(video.Unused.empty() && audio.Unused.empty());

  TEncodeResult* sources[] = {&video, &audio};
  for (TEncodeResult* s : sources) {
    AVStream* st = Lib.avformat_new_stream(oc.get(), nullptr);
    ASSERT_NE(st, nullptr);
    ASSERT_GE(Lib.avcodec_parameters_from_context(st->codecpar, s->Encoder.get()), 0);
    st->time_base = s->Encoder->time_base;
  }
  ASSERT_GE(Lib.avio_open2(&oc->pb, path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), 0);
  TDictionary muxerOptions;
  ApplyRecordedFormatOptions(task, oc.get(), true, muxerOptions);
  ASSERT_GE(Lib.avformat_write_header(oc.get(), &muxerOptions.Ptr), 0);
  EXPECT_EQ(Lib.av_dict_count(muxerOptions.Ptr), 0) << "the muxer left options unused";
  if (muxer->priv_class && std::string(muxer->name) != "dv") {
    int64_t muxrate = 0, preload = 0;
    Lib.av_opt_get_int(oc->priv_data, "muxrate", 0, &muxrate);
    Lib.av_opt_get_int(oc->priv_data, "preload", 0, &preload);
    const std::string target = param.Target;
    EXPECT_EQ(muxrate, target.find("-vcd") != std::string::npos ? 1411200 : target.find("dvd") != std::string::npos ? 10080000 : 0);
    EXPECT_EQ(preload, target.find("-vcd") != std::string::npos ? 440000 : 500000);
    EXPECT_EQ(oc->packet_size, target.find("dvd") != std::string::npos ? 2048u : 2324u);
  }
  for (int i = 0; i < 2; ++i)
    for (TPacket& p : sources[i]->Packets) {
      Lib.av_packet_rescale_ts(p.get(), sources[i]->Encoder->time_base, oc->streams[i]->time_base);
      p->stream_index = i;
      ASSERT_GE(Lib.av_interleaved_write_frame(oc.get(), p.get()), 0);
    }
  ASSERT_GE(Lib.av_write_trailer(oc.get()), 0);
  EXPECT_GT(FileSizeOf(path), 100000);
  for (const TLoggedLine& l : log.From(&task)) {
    EXPECT_NE(l.Level, llWarning) << l.Text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, TargetEncodes,
    ::testing::Values(TTargetCase{"pal-vcd", AV_PIX_FMT_YUV420P, 288}, TTargetCase{"ntsc-vcd", AV_PIX_FMT_YUV420P, 240},
                      TTargetCase{"pal-svcd", AV_PIX_FMT_YUV420P, 576}, TTargetCase{"ntsc-svcd", AV_PIX_FMT_YUV420P, 480},
                      TTargetCase{"pal-dvd", AV_PIX_FMT_YUV420P, 576}, TTargetCase{"ntsc-dvd", AV_PIX_FMT_YUV420P, 480},
                      TTargetCase{"pal-dv", AV_PIX_FMT_YUV420P, 576}, TTargetCase{"ntsc-dv", AV_PIX_FMT_YUV411P, 480},
                      TTargetCase{"pal-dv50", AV_PIX_FMT_YUV422P, 576}, TTargetCase{"ntsc-dv50", AV_PIX_FMT_YUV422P, 480}),
    [](const ::testing::TestParamInfo<TTargetCase>& info) {
      std::string name = info.param.Target;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

}  // namespace
