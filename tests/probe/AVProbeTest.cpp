#include "probe/AVProbe.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/EngineError.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegLogger.h"
#include "engine/FFmpegRAII.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

namespace {

using TTags = std::vector<std::pair<std::string, std::string>>;

struct TLogEntry {
  TLogLevel Level;
  std::string Text;
};

// What the logger delivers with the probe as sender; the libraries' own lines are ignored.
class TProbeLog {
 public:
  explicit TProbeLog(const void* probe) {
    TFFLogger::Instance().SetOnLog([this, probe](void* sender, uint32_t, TLogLevel level, const std::string& msg) {
      if (sender == probe) Entries.push_back({level, msg});
    });
  }
  ~TProbeLog() { TFFLogger::Instance().SetOnLog(nullptr); }
  std::vector<TLogEntry> Take() { return std::exchange(Entries, {}); }

 private:
  std::vector<TLogEntry> Entries;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
}
void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>(v >> 8);
}

// A PCM WAV of exactly `fileSize` bytes, so sizes and durations are known to the byte.
void WriteWav(const std::string& path, uint32_t sampleRate, uint16_t bitsPerSample, uint32_t fileSize) {
  const uint32_t dataSize = fileSize - 44;
  const uint16_t blockAlign = bitsPerSample / 8;
  std::string wav = "RIFF";
  Put32(wav, fileSize - 8);
  wav += "WAVEfmt ";
  Put32(wav, 16);
  Put16(wav, 1);  // PCM
  Put16(wav, 1);  // mono
  Put32(wav, sampleRate);
  Put32(wav, sampleRate * blockAlign);
  Put16(wav, blockAlign);
  Put16(wav, bitsPerSample);
  wav += "data";
  Put32(wav, dataSize);
  wav.append(dataSize, '\x80');
  std::ofstream(path, std::ios::binary) << wav;
}

TTestMediaSpec WavSpec() {
  TTestMediaSpec spec;
  spec.Container = "wav";
  spec.VideoCodec = "";
  spec.AudioCodec = "pcm_s16le";
  spec.SampleRate = 22050;
  spec.Channels = 1;
  return spec;
}

struct TRemuxInput {
  std::string Path;
  TTags StreamTags;  // set on every stream taken from this input
};

// Copies the streams of several files into one, with tags, for fixtures the generator
// cannot make (a third stream, languages, file tags). Returns "" or what failed.
std::string Remux(const std::vector<TRemuxInput>& inputs, const std::string& output, const char* container,
                  const TTags& fileTags) {
  std::vector<TInputFormat> in;
  AVFormatContext* raw = nullptr;
  if (Lib.avformat_alloc_output_context2(&raw, nullptr, container, output.c_str()) < 0) return "output context";
  TOutputFormat out(raw);
  std::vector<std::vector<int>> map;
  for (const TRemuxInput& input : inputs) {
    AVFormatContext* ctx = nullptr;
    if (Lib.avformat_open_input(&ctx, input.Path.c_str(), nullptr, nullptr) < 0) return "open " + input.Path;
    in.emplace_back(ctx);
    if (Lib.avformat_find_stream_info(ctx, nullptr) < 0) return "stream info " + input.Path;
    map.emplace_back();
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      AVStream* st = Lib.avformat_new_stream(out.get(), nullptr);
      if (!st || Lib.avcodec_parameters_copy(st->codecpar, ctx->streams[i]->codecpar) < 0) return "new stream";
      st->codecpar->codec_tag = 0;
      st->time_base = ctx->streams[i]->time_base;
      for (const auto& [key, value] : input.StreamTags) Lib.av_dict_set(&st->metadata, key.c_str(), value.c_str(), 0);
      map.back().push_back(st->index);
    }
  }
  for (const auto& [key, value] : fileTags) Lib.av_dict_set(&out->metadata, key.c_str(), value.c_str(), 0);
  if (Lib.avio_open2(&out->pb, output.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) return "open output";
  if (Lib.avformat_write_header(out.get(), nullptr) < 0) return "write header";
  TPacket pkt(Lib.av_packet_alloc());
  std::vector<bool> done(in.size(), false);
  for (size_t finished = 0; finished < in.size();) {
    for (size_t k = 0; k < in.size(); ++k) {
      if (done[k]) continue;
      if (Lib.av_read_frame(in[k].get(), pkt.get()) < 0) {
        done[k] = true;
        ++finished;
        continue;
      }
      AVStream* target = out->streams[map[k][static_cast<size_t>(pkt->stream_index)]];
      Lib.av_packet_rescale_ts(pkt.get(), in[k]->streams[pkt->stream_index]->time_base, target->time_base);
      pkt->stream_index = target->index;
      pkt->pos = -1;
      if (Lib.av_interleaved_write_frame(out.get(), pkt.get()) < 0) return "write packet";
    }
  }
  if (Lib.av_write_trailer(out.get()) < 0) return "write trailer";
  return "";
}

// A container opened by "another owner", as the converter or the player would hold it.
TInputFormat OpenDirectly(const std::string& path) {
  AVFormatContext* ctx = nullptr;
  if (Lib.avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return nullptr;
  TInputFormat owner(ctx);
  if (Lib.avformat_find_stream_info(ctx, nullptr) < 0) return nullptr;
  return owner;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string LineStartingWith(const std::string& text, const std::string& start) {
  const size_t at = text.find("\n" + start);
  if (at == std::string::npos) return "";
  return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}

void ExpectClosed(const TAVProbe& probe) {
  EXPECT_EQ(probe.FormatContext(), nullptr);
  EXPECT_FALSE(probe.OwnsContext());
  EXPECT_EQ(probe.InputFormatName(), "");
  const int64_t fields[] = {probe.FileSize(),           probe.StreamCount(),         probe.ProgramCount(),
                            probe.AudioStreamCount(),   probe.VideoStreamCount(),    probe.SubtitleStreamCount(),
                            probe.FirstAudioStream(),   probe.FirstVideoStream(),    probe.FirstSubtitleStream()};
  for (size_t i = 0; i < std::size(fields); ++i) EXPECT_EQ(fields[i], -1) << "field " << i;
}

void ExpectReset(const TAudioStreamInfo& a) {
  EXPECT_EQ(a.Language, "");
  EXPECT_EQ(a.CodecName, "");
  for (int64_t v : {a.StartTime, a.StartTimeUs, a.Duration, a.DurationUs, int64_t{a.BitRate}, int64_t{a.Channels},
                    int64_t{a.SampleRate}, int64_t{a.SampleFormat}})
    EXPECT_EQ(v, -1);
}

void ExpectReset(const TVideoStreamInfo& v) {
  EXPECT_EQ(v.Language, "");
  EXPECT_EQ(v.CodecName, "");
  for (int64_t x : {v.StartTime, v.StartTimeUs, v.Duration, v.DurationUs, int64_t{v.BitRate}, int64_t{v.Height},
                    int64_t{v.Width}, int64_t{v.PixelFormat}, int64_t{v.FrameRateNum}, int64_t{v.FrameRateDen}})
    EXPECT_EQ(x, -1);
  EXPECT_EQ(v.DisplayAspectRatio, -1.0f);
}

TAudioStreamInfo JunkAudio() {
  TAudioStreamInfo a{"xx", "junk", 7, 7, 7, 7, 7, 7, 7, 7};
  return a;
}

TVideoStreamInfo JunkVideo() {
  TVideoStreamInfo v{"xx", "junk", 7, 7, 7, 7, 7, 7, 7, 7.0f, 7, 7, 7};
  return v;
}

class AVProbeTest : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
  TTempDir Dir;
  TAVProbe Probe;
  TProbeLog Log{&Probe};
};

TEST(AVProbeLibrariesTest, ThrowsForTheFirstLibraryThatIsMissing) {
  TFFmpegLoader& loader = TFFmpegLoader::Instance();
  if (loader.IsLoaded(TMediaLibrary::libAVCodec)) GTEST_SKIP() << "this process loaded the libraries before";
  TAVProbe probe;
  const std::pair<TMediaLibrary, const char*> steps[] = {{TMediaLibrary::libAVCodec, "LibAVCodec not loaded."},
                                                         {TMediaLibrary::libAVFormat, "LibAVFormat not loaded."},
                                                         {TMediaLibrary::libAVUtil, "LibAVUtil not loaded."},
                                                         {TMediaLibrary::libSwScale, "LibSwScale not loaded."}};
  for (const auto& [library, text] : steps) {
    for (const auto& call : {std::function<void()>([&] { probe.LoadFile("/no/such/file.avi"); }),
                             std::function<void()>([&] { probe.AttachContext(nullptr); })}) {
      try {
        call();
        ADD_FAILURE() << "no exception; expected " << text;
      } catch (const EFFmpegError& e) {
        EXPECT_STREQ(e.what(), text);
      }
    }
    EXPECT_EQ(probe.LastErrorMessage(), "");
    ExpectClosed(probe);
    ASSERT_TRUE(loader.LoadMediaLibrary(library)) << loader.LastErrorMessage();
  }
  // With all four in place the call goes through to the file.
  EXPECT_FALSE(probe.LoadFile("/no/such/file.avi"));
  EXPECT_EQ(probe.LastErrorMessage(), "/no/such/file.avi: No such file or directory");
}

TEST_F(AVProbeTest, EverythingButLoadingWarnsWithoutAFile) {
  ExpectClosed(Probe);
  TFileStreamInfo file{7, 7, 7, 7, 7, 7, "t", "a", "c", "m", "b", "g"};
  TAudioStreamInfo audio = JunkAudio();
  TVideoStreamInfo video = JunkVideo();
  const std::function<bool()> calls[] = {[&] { return Probe.GetFileStreamInfo(file); },
                                         [&] { return Probe.GetAudioStreamInfo(0, audio); },
                                         [&] { return Probe.GetVideoStreamInfo(-1, video); },
                                         [&] { return Probe.IsAudioStream(0); },
                                         [&] { return Probe.IsVideoStream(0); },
                                         [&] { return !Probe.GetFileInfoText().empty(); }};
  for (size_t i = 0; i < std::size(calls); ++i) {
    EXPECT_FALSE(calls[i]()) << "call " << i;
    const auto entries = Log.Take();
    ASSERT_EQ(entries.size(), 1u) << "call " << i;
    EXPECT_EQ(entries[0].Level, llWarning);
    EXPECT_EQ(entries[0].Text, "file not loaded.");
    EXPECT_EQ(Probe.LastErrorMessage(), "file not loaded.");
  }
  EXPECT_EQ(file.StartTime, -1);
  EXPECT_EQ(file.Timestamp, -1);
  EXPECT_EQ(file.Year, -1);
  EXPECT_EQ(file.Title, "");
  EXPECT_EQ(file.Genre, "");
  ExpectReset(audio);
  ExpectReset(video);
  EXPECT_EQ(Probe.GetFileName(), "");
  EXPECT_EQ(Probe.GetFormatName(), "");
}

TEST_F(AVProbeTest, AudioOnlyFile) {
  const std::string path = Dir.File("tone.wav");
  ASSERT_EQ(MakeTestMedia(path, WavSpec()), "");
  ASSERT_TRUE(Probe.LoadFile(path)) << Probe.LastErrorMessage();
  EXPECT_TRUE(Probe.OwnsContext());
  EXPECT_EQ(Probe.GetFormatName(), "wav");
  EXPECT_EQ(Probe.GetFileName(), path);
  EXPECT_EQ(Probe.FileSize(), FileSizeOf(path));
  EXPECT_EQ(Probe.StreamCount(), 1);
  EXPECT_EQ(Probe.ProgramCount(), 0);
  EXPECT_EQ(Probe.AudioStreamCount(), 1);
  EXPECT_EQ(Probe.VideoStreamCount(), 0);
  EXPECT_EQ(Probe.SubtitleStreamCount(), 0);
  EXPECT_EQ(Probe.FirstAudioStream(), 0);
  EXPECT_EQ(Probe.FirstVideoStream(), -1);
  EXPECT_EQ(Probe.FirstSubtitleStream(), -1);

  TVideoStreamInfo video = JunkVideo();
  EXPECT_FALSE(Probe.GetVideoStreamInfo(-1, video));
  EXPECT_EQ(Probe.LastErrorMessage(), "no video stream.");
  const auto entries = Log.Take();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Level, llError);
  ExpectReset(video);

  TAudioStreamInfo audio = JunkAudio();
  ASSERT_TRUE(Probe.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(audio.CodecName, "pcm_s16le(PCM signed 16-bit little-endian)");
  EXPECT_EQ(audio.Language, "");
  EXPECT_EQ(audio.Channels, 1);
  EXPECT_EQ(audio.SampleRate, 22050);
  EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(audio.BitRate, 22050 * 16);
  EXPECT_EQ(audio.Duration, 22050);  // in 1/22050 s
  EXPECT_EQ(audio.DurationUs, 1000000);
  EXPECT_EQ(audio.StartTime, -1) << "WAV gives no start time";
  EXPECT_EQ(audio.StartTimeUs, -1);
  EXPECT_TRUE(Probe.IsAudioStream(0));
  EXPECT_FALSE(Probe.IsVideoStream(0));

  Probe.Close();
  ExpectClosed(Probe);
}

// One video and two audio streams, with languages, in a transport stream (one program,
// stream ids shown).
class AVProbeThreeStreamTest : public AVProbeTest {
 protected:
  void SetUp() override {
    AVProbeTest::SetUp();
    TTestMediaSpec av;
    av.Container = "mpegts";
    av.Duration = 0.5;
    TTestMediaSpec second = av;
    second.VideoCodec = "";
    second.Channels = 1;
    ASSERT_EQ(MakeTestMedia(Dir.File("av.ts"), av), "");
    ASSERT_EQ(MakeTestMedia(Dir.File("a.ts"), second), "");
    ASSERT_EQ(Remux({{Dir.File("av.ts"), {{"language", "eng"}}}, {Dir.File("a.ts"), {{"language", "ger"}}}},
                    Path, "mpegts", {}),
              "");
    ASSERT_TRUE(Probe.LoadFile(Path)) << Probe.LastErrorMessage();
  }
  const std::string Path = Dir.File("three.ts");
};

TEST_F(AVProbeThreeStreamTest, CountsAndFirstIndices) {
  EXPECT_EQ(Probe.StreamCount(), 3);
  EXPECT_EQ(Probe.ProgramCount(), 1);
  EXPECT_EQ(Probe.VideoStreamCount(), 1);
  EXPECT_EQ(Probe.AudioStreamCount(), 2);
  EXPECT_EQ(Probe.SubtitleStreamCount(), 0);
  EXPECT_EQ(Probe.FirstVideoStream(), 0);
  EXPECT_EQ(Probe.FirstAudioStream(), 1);
  EXPECT_EQ(Probe.FirstSubtitleStream(), -1);
  EXPECT_EQ(Probe.FileSize(), FileSizeOf(Path));

  const std::pair<bool, bool> kinds[] = {{false, true}, {true, false}, {true, false}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Probe.IsAudioStream(i), kinds[i].first) << i;
    EXPECT_EQ(Probe.IsVideoStream(i), kinds[i].second) << i;
  }
  TAudioStreamInfo audio;
  ASSERT_TRUE(Probe.GetAudioStreamInfo(2, audio));
  EXPECT_EQ(audio.Language, "ger");
  EXPECT_EQ(audio.Channels, 1);
  ASSERT_TRUE(Probe.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(audio.Language, "eng");
  EXPECT_EQ(audio.SampleRate, 44100);
  EXPECT_EQ(audio.Channels, 2);
  EXPECT_EQ(audio.BitRate, 128000);
  // Transport streams count in 1/90000 s.
  EXPECT_EQ(audio.StartTimeUs, Lib.av_rescale(audio.StartTime, 1000000, 90000));
  EXPECT_EQ(audio.DurationUs, Lib.av_rescale(audio.Duration, 1000000, 90000));
  EXPECT_NEAR(static_cast<double>(audio.DurationUs), 500000, 30000);
  EXPECT_TRUE(Log.Take().empty());
}

TEST_F(AVProbeThreeStreamTest, WrongIndicesAndKindsAreErrors) {
  TAudioStreamInfo audio = JunkAudio();
  TVideoStreamInfo video = JunkVideo();
  const std::pair<std::function<bool()>, const char*> cases[] = {
      {[&] { return Probe.GetAudioStreamInfo(5, audio); }, "stream index #5 is invalid."},
      {[&] { return Probe.GetAudioStreamInfo(3, audio); }, "stream index #3 is invalid."},
      {[&] { return Probe.GetAudioStreamInfo(0, audio); }, "stream #0 is not audio stream."},
      {[&] { return Probe.GetVideoStreamInfo(2, video); }, "stream #2 is not video stream."},
      {[&] { return Probe.GetVideoStreamInfo(3, video); }, "stream index #3 is invalid."},
      {[&] { return Probe.IsAudioStream(3); }, "stream index #3 is invalid."},
      {[&] { return Probe.IsVideoStream(-1); }, "stream index #-1 is invalid."}};
  for (const auto& [call, text] : cases) {
    EXPECT_FALSE(call()) << text;
    EXPECT_EQ(Probe.LastErrorMessage(), text);
    const auto entries = Log.Take();
    ASSERT_EQ(entries.size(), 1u) << text;
    EXPECT_EQ(entries[0].Level, llError) << text;
    EXPECT_EQ(entries[0].Text, text);
  }
  ExpectReset(audio);
  ExpectReset(video);
}

TEST_F(AVProbeThreeStreamTest, InfoTextListsTheProgramThenEachStreamOnce) {
  const std::string text = Probe.GetFileInfoText();
  EXPECT_EQ(text.rfind("File Name: " + Path + "\nFormat Name: mpegts\nFormat Long Name: ", 0), 0u) << text;
  EXPECT_NE(text.find("\nFile Size: " + FormatByteSize(FileSizeOf(Path)) + "\n"), std::string::npos) << text;
  const size_t program = text.find("\nProgram 1 FFmpeg@Service01\n  Metadata:\n    service_name    : Service01\n");
  ASSERT_NE(program, std::string::npos) << text;
  // The muxer keeps a language for audio streams only.
  const std::string streams[] = {"Stream #0[0x100], 1/90000: Video: mpeg4",
                                 "Stream #1[0x101](eng), 1/90000: Audio: mp2",
                                 "Stream #2[0x102](ger), 1/90000: Audio: mp2"};
  size_t previous = program;
  for (const std::string& stream : streams) {
    EXPECT_EQ(Occurrences(text, stream), 1u) << stream << "\n" << text;
    const size_t at = text.find("\n" + stream);
    EXPECT_GT(at, previous) << stream << "\n" << text;
    previous = at;
  }
  EXPECT_EQ(Occurrences(text, "Stream #"), 3u) << text;
  // A stream's tags are only its language, which the stream line shows already.
  EXPECT_EQ(Occurrences(text, "Metadata:"), 1u) << text;
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST_F(AVProbeTest, VideoRecordAndRatesOfTransportStreams) {
  struct TCase {
    int Num, Den;
    const char* Rates;
  };
  const TCase cases[] = {{25, 1, ", 25 tbr, 90k tbn, StartTime: "},
                         {30000, 1001, ", 29.97 fps, 29.97 tbr, 90k tbn, StartTime: "}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Num);
    TTestMediaSpec spec;
    spec.Container = "mpegts";
    spec.AudioCodec = "";
    spec.FrameRateNum = c.Num;
    spec.FrameRateDen = c.Den;
    spec.Duration = 0.5;
    const std::string path = Dir.File(std::to_string(c.Num) + ".ts");
    ASSERT_EQ(MakeTestMedia(path, spec), "");
    ASSERT_TRUE(Probe.LoadFile(path)) << Probe.LastErrorMessage();

    TVideoStreamInfo video;
    ASSERT_TRUE(Probe.GetVideoStreamInfo(-1, video));
    EXPECT_EQ(video.CodecName, "mpeg4(MPEG-4 part 2)");
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
    EXPECT_FLOAT_EQ(video.DisplayAspectRatio, 160.0f / 120.0f);
    EXPECT_EQ(video.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video.FrameRateNum, c.Num);
    EXPECT_EQ(video.FrameRateDen, c.Den);
    ASSERT_GE(video.StartTime, 0);
    EXPECT_EQ(video.StartTimeUs, Lib.av_rescale(video.StartTime, 1000000, 90000));
    EXPECT_NEAR(static_cast<double>(video.DurationUs), 500000, 50000);

    const std::string line = LineStartingWith(Probe.GetFileInfoText(), "Stream #0");
    EXPECT_EQ(line.rfind("Stream #0[0x100], 1/90000: Video: mpeg4", 0), 0u) << line;
    EXPECT_NE(line.find(c.Rates), std::string::npos) << line;
    EXPECT_EQ(line.find("tbc"), std::string::npos) << line;
    const std::string tail = Format(", StartTime: %lld.%06lld, Duration: %s",
                                    static_cast<long long>(video.StartTimeUs / 1000000),
                                    static_cast<long long>(video.StartTimeUs % 1000000),
                                    FormatTimeCode(video.DurationUs).c_str());
    EXPECT_EQ(line.substr(line.size() - std::min(line.size(), tail.size())), tail) << line;
  }
}

TEST(AVProbeRateTextTest, WholeFractionalAndThousands) {
  const std::pair<double, const char*> cases[] = {
      {25, "25"},        {30000.0 / 1001, "29.97"}, {24000.0 / 1001, "23.98"}, {12.5, "12.50"},
      {0.5, "0.50"},     {90000, "90k"},            {1000, "1k"},              {12800, "12800"},
      {1500, "1500"},    {1200000, "1200k"},        {24.999, "25"},            {59.94, "59.94"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(StreamRateText(value), text) << value;
}

TEST_F(AVProbeTest, SizeLinesOfFilesOfExactSize) {
  const std::pair<uint32_t, const char*> cases[] = {{1536, "\nFile Size: 1.50 KB\n"},
                                                    {1024, "\nFile Size: 1024 Byte\n"}};
  for (const auto& [size, line] : cases) {
    const std::string path = Dir.File(std::to_string(size) + ".wav");
    WriteWav(path, 8000, 8, size);
    ASSERT_EQ(FileSizeOf(path), size);
    ASSERT_TRUE(Probe.LoadFile(path)) << Probe.LastErrorMessage();
    EXPECT_EQ(Probe.FileSize(), size);
    const std::string text = Probe.GetFileInfoText();
    EXPECT_NE(text.find(line), std::string::npos) << text;
  }
}

TEST_F(AVProbeTest, DurationStartAndBitRateOfAnExactWav) {
  // 50254 one-byte samples at 10 kHz: 5.0254 s at 80 kb/s.
  const std::string path = Dir.File("exact.wav");
  WriteWav(path, 10000, 8, 44 + 50254);
  ASSERT_TRUE(Probe.LoadFile(path)) << Probe.LastErrorMessage();
  TFileStreamInfo file;
  ASSERT_TRUE(Probe.GetFileStreamInfo(file));
  EXPECT_EQ(file.Duration, 5025400);
  EXPECT_EQ(file.BitRate / 1000, 80) << "the header counts too";
  EXPECT_EQ(file.Timestamp, 0);
  EXPECT_EQ(file.Year, 0);
  EXPECT_EQ(file.Track, 0);
  EXPECT_EQ(file.Title, "");
  TAudioStreamInfo audio;
  ASSERT_TRUE(Probe.GetAudioStreamInfo(0, audio));
  EXPECT_EQ(audio.Duration, 50254);
  EXPECT_EQ(audio.DurationUs, 5025400);
  EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_U8);

  const std::string text = Probe.GetFileInfoText();
  EXPECT_NE(text.find("\nDuration: 00:00:05.025\nBit Rate: 80 kb/s\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Time Stamp"), std::string::npos) << text;
  EXPECT_NE(text.find(", Duration: 00:00:05.025\n"), std::string::npos) << text;
}

TEST_F(AVProbeTest, UnknownFormatNameClosesAndIsOnlyStored) {
  const std::string path = Dir.File("tone.wav");
  ASSERT_EQ(MakeTestMedia(path, WavSpec()), "");
  ASSERT_TRUE(Probe.LoadFile(path, "wav")) << Probe.LastErrorMessage();
  EXPECT_EQ(Probe.InputFormatName(), "wav");
  EXPECT_EQ(Probe.StreamCount(), 1);

  EXPECT_FALSE(Probe.LoadFile(path, "xyz"));
  EXPECT_EQ(Probe.LastErrorMessage(), "Unknown input format: xyz");
  ExpectClosed(Probe);
  EXPECT_TRUE(Log.Take().empty());

  ASSERT_TRUE(Probe.LoadFile(path));
  EXPECT_EQ(Probe.InputFormatName(), "");
  EXPECT_EQ(Probe.GetFormatName(), "wav");
}

TEST_F(AVProbeTest, DamagedAndMissingFilesFailCleanly) {
  TTestMediaSpec spec;
  spec.Container = "mp4";
  spec.Duration = 0.5;
  ASSERT_EQ(MakeTestMedia(Dir.File("whole.mp4"), spec), "");
  const std::string whole = ReadAll(Dir.File("whole.mp4"));
  std::mt19937 random(20240607);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random());

  const std::string invalid = ": Invalid data found when processing input";
  struct TCase {
    const char* Name;
    std::string Content;
    const char* Format;
    std::string Suffix;  // after the file name
    bool Logged;
  };
  const TCase cases[] = {
      {"empty.avi", "", "", invalid, true},
      {"noise.avi", noise, "", invalid, true},
      // The index of an MP4 comes last: its first half has none.
      {"half.mp4", whole.substr(0, whole.size() / 2), "", invalid, true},
      {"missing.avi", "", "", ": No such file or directory", true},
      // A forced demuxer that finds nothing to read in the file.
      {"empty.ts", "", "mpegts", ": could not find codec parameters", false},
      {"noise.ts", noise, "mpegts", ": could not find codec parameters", false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Dir.File(c.Name);
    if (std::string_view(c.Name) != "missing.avi") std::ofstream(path, std::ios::binary) << c.Content;
    ASSERT_TRUE(Probe.LoadFile(Dir.File("whole.mp4")));
    EXPECT_FALSE(Probe.LoadFile(path, c.Format));
    EXPECT_EQ(Probe.LastErrorMessage(), path + c.Suffix);
    ExpectClosed(Probe);
    const auto entries = Log.Take();
    if (c.Logged) {
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].Level, llError);
      EXPECT_EQ(entries[0].Text, path + c.Suffix);
    } else {
      EXPECT_TRUE(entries.empty());
    }
  }
}

TEST_F(AVProbeTest, NonAsciiNamesOpenAndComeBackPlain) {
  // The test process runs in the "C" locale, which cannot hold these names: they go through
  // the "unicode:utf8:" I/O, given either way.
  const std::string path = Dir.File("tön ü.wav");
  ASSERT_EQ(MakeTestMedia(path, WavSpec()), "");
  for (const std::string& name : {path, "unicode:utf8:" + path}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Probe.LoadFile(name)) << Probe.LastErrorMessage();
    EXPECT_EQ(Probe.GetFileName(), path);
    EXPECT_EQ(Probe.FileSize(), FileSizeOf(path));
    EXPECT_EQ(Probe.AudioStreamCount(), 1);
    EXPECT_EQ(Probe.GetFileInfoText().rfind("File Name: " + path + "\n", 0), 0u);
  }
  Probe.Close();
  EXPECT_FALSE(Probe.LoadFile(Dir.File("nicht da ä.wav")));
  EXPECT_EQ(Probe.LastErrorMessage(), Dir.File("nicht da ä.wav") + ": No such file or directory");
}

TEST_F(AVProbeTest, AttachedContextOutlivesTheProbe) {
  const std::string path = Dir.File("clip.avi");
  ASSERT_EQ(MakeTestMedia(path, TTestMediaSpec()), "");
  TInputFormat owner = OpenDirectly(path);
  ASSERT_TRUE(owner);
  {
    TAVProbe other;
    other.AttachContext(owner.get());
  }  // destroyed while attached
  Probe.AttachContext(owner.get());
  EXPECT_EQ(Probe.FormatContext(), owner.get());
  EXPECT_FALSE(Probe.OwnsContext());
  EXPECT_EQ(Probe.StreamCount(), 2);
  EXPECT_EQ(Probe.FirstVideoStream(), 0);
  EXPECT_EQ(Probe.FirstAudioStream(), 1);
  EXPECT_EQ(Probe.FileSize(), FileSizeOf(path));
  TVideoStreamInfo video;
  EXPECT_TRUE(Probe.GetVideoStreamInfo(0, video));
  EXPECT_EQ(video.FrameRateNum, 25);
  EXPECT_EQ(Probe.GetFileName(), path);

  // Without an I/O context of its own (as for formats that open no file) the size comes from
  // the file name.
  AVIOContext* io = std::exchange(owner->pb, nullptr);
  Probe.RefreshStreams();
  EXPECT_EQ(Probe.FileSize(), FileSizeOf(path));
  char* url = std::exchange(owner->url, Lib.av_strdup("/no/such/file.avi"));
  Probe.RefreshStreams();
  EXPECT_EQ(Probe.FileSize(), -1);
  Lib.av_free(std::exchange(owner->url, url));
  owner->pb = io;

  Probe.Close();
  ExpectClosed(Probe);
  TPacket packet(Lib.av_packet_alloc());
  int packets = 0;
  while (Lib.av_read_frame(owner.get(), packet.get()) >= 0) {
    ++packets;
    Lib.av_packet_unref(packet.get());
  }
  EXPECT_GE(packets, 25);

  Probe.AttachContext(nullptr);
  ExpectClosed(Probe);
}

// Aspect ratios, time bases and frame rates a damaged or unusual file can give, set on a
// container the test owns.
TEST_F(AVProbeTest, VideoRecordOfUnusualStreams) {
  const std::string path = Dir.File("clip.avi");
  ASSERT_EQ(MakeTestMedia(path, TTestMediaSpec()), "");
  TInputFormat owner = OpenDirectly(path);
  ASSERT_TRUE(owner);
  AVStream* st = owner->streams[0];
  AVCodecParameters* par = st->codecpar;
  Probe.AttachContext(owner.get());

  struct TAspect {
    AVRational Stream, Codec;
    int Height;
    float Dar;
    const char* Par;  // expected in the stream line, or "" for none
  };
  const TAspect aspects[] = {{{4, 3}, {1, 1}, 120, 160.0f * 4 / (120 * 3), ", PAR 4:3 DAR 16:9"},
                             {{0, 1}, {2, 1}, 120, 160.0f * 2 / 120, ""},
                             {{1, 1}, {1, 1}, 120, 160.0f / 120, ""},
                             {{0, 1}, {0, 1}, 120, 160.0f / 120, ""},
                             {{0, 1}, {1, 1}, 0, -1.0f, ""}};
  for (const TAspect& a : aspects) {
    SCOPED_TRACE(testing::Message() << a.Stream.num << ":" << a.Stream.den << " / " << a.Codec.num << ":"
                                    << a.Codec.den << " h" << a.Height);
    st->sample_aspect_ratio = a.Stream;
    par->sample_aspect_ratio = a.Codec;
    par->height = a.Height;
    TVideoStreamInfo video;
    ASSERT_TRUE(Probe.GetVideoStreamInfo(0, video));
    EXPECT_FLOAT_EQ(video.DisplayAspectRatio, a.Dar);
    const std::string line = LineStartingWith(Probe.GetFileInfoText(), "Stream #0");
    EXPECT_EQ(Occurrences(line, ", PAR "), *a.Par ? 1u : 0u) << line;
    if (*a.Par) {
      EXPECT_NE(line.find(std::string(a.Par) + ", 25 fps"), std::string::npos) << line;
    }
  }
  par->height = 120;

  // A zero denominator stands for the numerator, and a zero time base for 1/1; the
  // container's own value stays as it was.
  const AVRational saved = st->time_base;
  const int64_t start = st->start_time, duration = st->duration;
  st->start_time = 2;
  st->duration = 3;
  struct TBase {
    AVRational TimeBase;
    int64_t StartUs, DurationUs;
    const char* Shown;
  };
  const TBase bases[] = {{{7, 0}, 2000000, 3000000, ", 1/0: "},
                         {{0, 0}, 0, 0, ", 0/0: "},
                         {{2, 50}, 80000, 120000, ", 1/25: "}};
  for (const TBase& b : bases) {
    SCOPED_TRACE(b.Shown);
    st->time_base = b.TimeBase;
    TVideoStreamInfo video;
    ASSERT_TRUE(Probe.GetVideoStreamInfo(0, video));
    EXPECT_EQ(video.StartTime, 2);
    EXPECT_EQ(video.StartTimeUs, b.StartUs);
    EXPECT_EQ(video.Duration, 3);
    EXPECT_EQ(video.DurationUs, b.DurationUs);
    EXPECT_EQ(st->time_base.num, b.TimeBase.num);
    EXPECT_EQ(st->time_base.den, b.TimeBase.den);
    const std::string line = LineStartingWith(Probe.GetFileInfoText(), "Stream #0");
    EXPECT_NE(line.find(b.Shown), std::string::npos) << line;
  }
  st->time_base = saved;
  st->start_time = start;
  st->duration = duration;

  // The real frame rate is preferred; the average stands in only when it is unset.
  struct TRates {
    AVRational Real, Average, Expected;
  };
  const TRates rates[] = {{{30, 1}, {25, 1}, {30, 1}}, {{0, 1}, {25, 1}, {25, 1}}, {{24, 0}, {50, 2}, {50, 2}},
                          {{0, 0}, {0, 0}, {-1, -1}}};
  for (const TRates& r : rates) {
    st->r_frame_rate = r.Real;
    st->avg_frame_rate = r.Average;
    TVideoStreamInfo video;
    ASSERT_TRUE(Probe.GetVideoStreamInfo(0, video));
    EXPECT_EQ(video.FrameRateNum, r.Expected.num) << r.Real.num << "/" << r.Real.den;
    EXPECT_EQ(video.FrameRateDen, r.Expected.den) << r.Real.num << "/" << r.Real.den;
  }
}

TEST_F(AVProbeTest, YearTrackAndTimestampTags) {
  const std::string path = Dir.File("tone.wav");
  ASSERT_EQ(MakeTestMedia(path, WavSpec()), "");
  TInputFormat owner = OpenDirectly(path);
  ASSERT_TRUE(owner);
  Probe.AttachContext(owner.get());
  struct TCase {
    TTags Tags;
    int32_t Year, Track;
    int64_t Timestamp;
  };
  const TCase cases[] = {
      {{{"date", "2009-05-04"}, {"track", "3/12"}}, 2009, 3, 0},
      {{{"date", "20090504"}, {"track", "11"}}, 2009, 11, 0},
      {{{"year", "1999"}}, 1999, 0, 0},
      {{{"date", "2001"}, {"year", "1999"}}, 2001, 0, 0},
      {{{"date", "unknown"}, {"track", "x"}}, 0, 0, 0},
      {{{"creation_time", "1970-01-02T00:00:00Z"}}, 0, 0, 86400},
      {{{"creation_time", "2020-01-02T03:04:05.123456Z"}}, 0, 0, 1577934245},
      {{{"creation_time", "yesterday"}}, 0, 0, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Tags.front().second);
    Lib.av_dict_free(&owner->metadata);
    for (const auto& [key, value] : c.Tags) Lib.av_dict_set(&owner->metadata, key.c_str(), value.c_str(), 0);
    TFileStreamInfo file;
    ASSERT_TRUE(Probe.GetFileStreamInfo(file));
    EXPECT_EQ(file.Year, c.Year);
    EXPECT_EQ(file.Track, c.Track);
    EXPECT_EQ(file.Timestamp, c.Timestamp);
  }
}

TEST_F(AVProbeTest, MetadataBlocksShowFrameNamesByMeaning) {
  const std::string path = Dir.File("clip.avi");
  ASSERT_EQ(MakeTestMedia(path, TTestMediaSpec()), "");
  TInputFormat owner = OpenDirectly(path);
  ASSERT_TRUE(owner);
  Lib.av_dict_free(&owner->metadata);
  const TTags fileTags = {{"TIT2", "A Title"}, {"language", "eng"}, {"TP1", "Someone"}, {"TYER", "1999"},
                          {"TIT", "not a frame we know"}, {"encoder", "x"}};
  for (const auto& [key, value] : fileTags) Lib.av_dict_set(&owner->metadata, key.c_str(), value.c_str(), 0);
  Lib.av_dict_set(&owner->streams[0]->metadata, "language", "fra", 0);
  Lib.av_dict_set(&owner->streams[1]->metadata, "language", "fra", 0);
  Lib.av_dict_set(&owner->streams[1]->metadata, "TCON", "Jazz", 0);
  Probe.AttachContext(owner.get());

  const std::string text = Probe.GetFileInfoText();
  const std::string fileBlock =
      "\nMetadata:\n"
      "  title           : A Title\n"
      "  artist          : Someone\n"
      "  year            : 1999\n"
      "  TIT             : not a frame we know\n"
      "  encoder         : x\n"
      "Stream #0(fra), 1/25: Video: ";
  EXPECT_NE(text.find(fileBlock), std::string::npos) << text;
  const std::string audio = LineStartingWith(text, "Stream #1");
  EXPECT_EQ(audio.rfind("Stream #1(fra), ", 0), 0u) << audio;
  EXPECT_NE(text.find(audio + "\n  Metadata:\n    genre           : Jazz\n"), std::string::npos) << text;
  EXPECT_EQ(Occurrences(text, "Metadata:"), 2u) << "a stream with only its language has no block\n" << text;

  // The same tags read as a record: ID3 frame names are not what the record looks for.
  TFileStreamInfo file;
  ASSERT_TRUE(Probe.GetFileStreamInfo(file));
  EXPECT_EQ(file.Title, "");
  EXPECT_EQ(file.Year, 0);
}

TEST_F(AVProbeTest, FileTagsOfAnMp4) {
  TTestMediaSpec spec;
  spec.Container = "mp4";
  spec.Duration = 0.5;
  ASSERT_EQ(MakeTestMedia(Dir.File("plain.mp4"), spec), "");
  const std::string path = Dir.File("tagged.mp4");
  ASSERT_EQ(Remux({{Dir.File("plain.mp4"), {}}}, path, "mp4",
                  {{"title", "Probe Clip"},
                   {"artist", "The Testers"},
                   {"album", "Fixtures"},
                   {"genre", "Noise"},
                   {"comment", "made by the test"},
                   {"copyright", "nobody"},
                   {"date", "2009-05-04"},
                   {"track", "7"},
                   {"creation_time", "2020-01-02T03:04:05.000000Z"}}),
            "");
  ASSERT_TRUE(Probe.LoadFile(path)) << Probe.LastErrorMessage();
  TFileStreamInfo file;
  ASSERT_TRUE(Probe.GetFileStreamInfo(file));
  EXPECT_EQ(file.Title, "Probe Clip");
  EXPECT_EQ(file.Author, "The Testers") << "no author tag: the artist stands in";
  EXPECT_EQ(file.Album, "Fixtures");
  EXPECT_EQ(file.Genre, "Noise");
  EXPECT_EQ(file.Comment, "made by the test");
  EXPECT_EQ(file.Copyright, "nobody");
  EXPECT_EQ(file.Year, 2009);
  EXPECT_EQ(file.Track, 7);
  EXPECT_EQ(file.Timestamp, 1577934245);
  EXPECT_EQ(file.StartTime, 0);
  EXPECT_NEAR(static_cast<double>(file.Duration), 500000, 50000);
  EXPECT_GT(file.BitRate, 0);

  setenv("TZ", "UTC", 1);
  const std::string text = Probe.GetFileInfoText();
  EXPECT_NE(text.find("\nTime Stamp: 2020-01-02 03:04:05\nMetadata:\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n  title           : Probe Clip\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nStartTime: 0.000000\n"), std::string::npos) << text;
}

TEST_F(AVProbeTest, NumbersIgnoreADecimalCommaLocale) {
  // A locale whose decimal separator is a comma, built from a tiny definition.
  const std::string source = Dir.File("comma.src");
  std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\ngrouping -1\n"
                           "END LC_NUMERIC\n";
  const std::string command = "localedef -c -i '" + source + "' -f ANSI_X3.4-1968 '" + Dir.File("comma") +
                              "' >/dev/null 2>&1";
  if (std::system(command.c_str()) == -1) GTEST_SKIP() << "localedef cannot run";
  TTestMediaSpec spec;
  spec.Container = "mpegts";
  spec.AudioCodec = "";
  spec.FrameRateNum = 30000;
  spec.FrameRateDen = 1001;
  spec.Duration = 0.3;
  const std::string path = Dir.File("ntsc.ts");
  ASSERT_EQ(MakeTestMedia(path, spec), "");
  ASSERT_TRUE(Probe.LoadFile(path)) << Probe.LastErrorMessage();

  setenv("LOCPATH", Dir.Path().c_str(), 1);
  if (!std::setlocale(LC_NUMERIC, "comma")) {
    unsetenv("LOCPATH");
    GTEST_SKIP() << "cannot build a locale with a decimal comma here";
  }
  char printed[16];
  std::snprintf(printed, sizeof printed, "%.2f", 1.5);
  const std::string text = Probe.GetFileInfoText();
  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  ASSERT_STREQ(printed, "1,50") << "the locale did not take effect";
  EXPECT_NE(text.find(", 29.97 fps, 29.97 tbr, 90k tbn"), std::string::npos) << text;
  EXPECT_NE(text.find("\nFile Size: " + FormatByteSize(FileSizeOf(path)) + "\n"), std::string::npos) << text;
}

}  // namespace
