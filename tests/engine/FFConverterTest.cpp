#include "engine/FFConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "TempDir.h"
#include "TestMedia.h"
#include "engine/EngineError.h"
#include "engine/FFConverterInternal.h"
#include "engine/FFmpegLogger.h"
#include "engine/FFmpegRAII.h"
#include "engine/MainThreadDispatcher.h"
#include "platform/FakePlatform.h"
#include "probe/AVProbe.h"

namespace {

using namespace std::chrono_literals;

// Guards against a hang; no test relies on how long anything takes.
constexpr auto HangGuard = std::chrono::seconds(180);

TTestMediaSpec Clip(double seconds, int width = 160, int height = 120) {
  TTestMediaSpec spec;
  spec.Duration = seconds;
  spec.Width = width;
  spec.Height = height;
  return spec;
}

// Long enough, at a small size, for a test to act while the task still runs.
TTestMediaSpec LongClip() { return Clip(10.0, 64, 48); }

struct TDispatcherInstall {
  explicit TDispatcherInstall(MainThreadDispatcher& d) { SetMainThreadDispatcher(&d); }
  ~TDispatcherInstall() { SetMainThreadDispatcher(nullptr); }
};

// Every termination notice with the thread it arrived on.
struct TNotices {
  mutable std::mutex Mutex;
  std::vector<TTerminateInfo> List;
  std::vector<std::thread::id> Threads;
  std::function<void(const TTerminateInfo&)> Also;  // runs after recording, on the same thread
  std::atomic<int> Handled{0};                      // handler calls that have returned

  void Attach(TCustomFFConverter& converter) {
    converter.SetOnTerminate([this](TCustomFFConverter*, const TTerminateInfo& info) {
      {
        std::lock_guard lock(Mutex);
        List.push_back(info);
        Threads.push_back(std::this_thread::get_id());
      }
      if (Also) Also(info);
      ++Handled;
    });
  }
  void Clear() {
    std::lock_guard lock(Mutex);
    List.clear();
    Threads.clear();
  }
  std::vector<TTerminateInfo> Snapshot() const {
    std::lock_guard lock(Mutex);
    return List;
  }
  int Finals() const {
    std::lock_guard lock(Mutex);
    return static_cast<int>(std::count_if(List.begin(), List.end(), [](const auto& n) { return n.TaskIndex == -1; }));
  }
  bool WaitForFinal() const {
    return WaitPumping([this] { return Finals() > 0; }, HangGuard);
  }
};

// Holds the first hooked frame until the test opens it, so the test knows the task is mid-run.
struct TGate {
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Reached = false;
  bool Opened = false;

  void Arrive() {
    std::unique_lock lock(Mutex);
    if (Reached) return;
    Reached = true;
    Changed.notify_all();
    Changed.wait(lock, [this] { return Opened; });
  }
  bool WaitReached() {
    return WaitPumping([this] {
      std::lock_guard lock(Mutex);
      return Reached;
    }, HangGuard);
  }
  void Open() {
    std::lock_guard lock(Mutex);
    Opened = true;
    Changed.notify_all();
  }
};

// The luma plane of the first picture of a file's first video stream.
struct TLuma {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Pixels;
  double Mean(int x0, int y0, int x1, int y1) const {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) sum += Pixels[static_cast<size_t>(y) * Width + x];
    return sum / ((x1 - x0) * (y1 - y0));
  }
};

TLuma FirstPicture(const std::string& path) {
  TLuma luma;
  AVFormatContext* raw = nullptr;
  if (Lib.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return luma;
  TInputFormat ctx(raw);
  if (Lib.avformat_find_stream_info(raw, nullptr) < 0) return luma;
  const int index = Lib.av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return luma;
  const AVCodec* codec = Lib.avcodec_find_decoder(raw->streams[index]->codecpar->codec_id);
  TCodecContext decoder(Lib.avcodec_alloc_context3(codec));
  Lib.avcodec_parameters_to_context(decoder.get(), raw->streams[index]->codecpar);
  if (Lib.avcodec_open2(decoder.get(), codec, nullptr) < 0) return luma;
  TPacket pkt(Lib.av_packet_alloc());
  TFrame frame(Lib.av_frame_alloc());
  bool got = false;
  while (!got && Lib.av_read_frame(raw, pkt.get()) >= 0) {
    if (pkt->stream_index == index && Lib.avcodec_send_packet(decoder.get(), pkt.get()) >= 0)
      got = Lib.avcodec_receive_frame(decoder.get(), frame.get()) >= 0;
    Lib.av_packet_unref(pkt.get());
  }
  if (!got) {
    Lib.avcodec_send_packet(decoder.get(), nullptr);
    got = Lib.avcodec_receive_frame(decoder.get(), frame.get()) >= 0;
  }
  if (!got || (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P)) return luma;
  luma.Width = frame->width;
  luma.Height = frame->height;
  for (int y = 0; y < frame->height; ++y)
    luma.Pixels.insert(luma.Pixels.end(), frame->data[0] + y * frame->linesize[0],
                       frame->data[0] + y * frame->linesize[0] + frame->width);
  return luma;
}

}  // namespace

class FFConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RequireConverterLibraries();
    Notices.Attach(Converter);
  }
  // A test that failed half-way must not leave a worker held at the gate.
  void TearDown() override { Gate.Open(); }

  std::string MakeClip(const std::string& name, const TTestMediaSpec& spec) {
    const std::string path = Folder.File(name);
    const std::string made = MakeTestMedia(path, spec);
    EXPECT_EQ(made, "");
    return path;
  }

  // A task from `source` to `output`; -1 (the test has failed) when it cannot be set up.
  int AddJob(const std::string& source, const std::string& output, const TOutputOptions* options = nullptr) {
    const int index = Converter.AddTask(source);
    EXPECT_GE(index, 0) << Converter.LastErrorMessage();
    if (index < 0) return -1;
    const bool set = options ? Converter.SetOutputFile(index, output, *options) : Converter.SetOutputFile(index, output);
    EXPECT_TRUE(set) << Converter.LastErrorMessage();
    return set ? index : -1;
  }

  // Every frame of every task passes the hook, which records the order of arrival.
  void RecordHooks() {
    Converter.SetOnCustomHook([this](TCustomFFConverter*, PHookInfo info) {
      std::lock_guard lock(HookMutex);
      HookOrder.push_back(info->TaskIndex);
    });
  }
  std::vector<int> Hooks() {
    std::lock_guard lock(HookMutex);
    return HookOrder;
  }

  const std::thread::id MainThread = std::this_thread::get_id();
  TQueueDispatcher Dispatcher;
  TDispatcherInstall Installed{Dispatcher};
  TTempDir Folder;
  TGate Gate;
  TNotices Notices;
  std::mutex HookMutex;
  std::vector<int> HookOrder;
  TFFConverter Converter;  // last: it goes first, while everything it calls still exists
};

TEST_F(FFConverterTest, PropertiesStartAtTheirDefaultsAndTheIntervalHasAFloor) {
  EXPECT_EQ(Converter.Version(), "3.3");
  EXPECT_FALSE(Converter.Preview());
  EXPECT_FALSE(Converter.PreviewBitmap());
  EXPECT_EQ(Converter.ProgressInterval(), 500);
  EXPECT_EQ(Converter.ThreadPriority(), TTaskPriority::tpNormal);
  EXPECT_TRUE(Converter.TriggerEventInMainThread());
  EXPECT_EQ(Converter.TasksCount(), 0);
  for (const auto& [set, read] : std::vector<std::pair<int, int>>{{50, 100}, {-5, 100}, {100, 100}, {101, 101}, {2000, 2000}}) {
    Converter.SetProgressInterval(set);
    EXPECT_EQ(Converter.ProgressInterval(), read) << set;
  }
}

TEST_F(FFConverterTest, OptionTextIsSplitIntoLowerCasedPairs) {
  const struct {
    const char* Name;
    std::string Text;
    std::vector<TOptionPair> Pairs;
  } cases[] = {
      {"literal <CRLF> without a line break", "vcodec=mpeg4<CRLF>s=64x48", {{"vcodec", "mpeg4"}, {"s", "64x48"}}},
      {"CR LF, CR and LF; blank lines skipped", "  a=1\r\nb=2\r\rc=3\n\n  ", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"names lower-cased, values kept", "VF=Scale=80:60\nTitle=Mixed Case", {{"vf", "Scale=80:60"}, {"title", "Mixed Case"}}},
      {"split at the first =", "metadata=title=x=y", {{"metadata", "title=x=y"}}},
      {"a name without a value", "copyts\nnewvideo=", {{"copyts", ""}, {"newvideo", ""}}},
      {"nothing", " \r\n <CRLF> ", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ParseOptionText(c.Text), c.Pairs);
  }
}

TEST_F(FFConverterTest, OutputOptionsShapeTheOutput) {
  const std::string source = MakeClip("src.avi", Clip(2.0));
  struct TCase {
    const char* Name;
    std::function<void(TOutputOptions&)> Fill;
    std::string Codec;
    int Width, Height;
    double Seconds;
    int AudioStreams;
  };
  const TCase cases[] = {
      {"no options but the file name", [](TOutputOptions&) {}, "mpeg4", 160, 120, 2.0, 1},
      {"two options joined by <CRLF>", [](TOutputOptions& o) { o.ExtOptions = "vcodec=mpeg1video<CRLF>s=64x48"; },
       "mpeg1video", 64, 48, 2.0, 1},
      {"vfilters is taken as vf", [](TOutputOptions& o) { o.ExtOptions = "vfilters=scale=80:60"; }, "mpeg4", 80, 60, 2.0, 1},
      {"the record's frame size wins over the text's",
       [](TOutputOptions& o) {
         o.FrameSize = "96x72";
         o.ExtOptions = "s=64x48";
       },
       "mpeg4", 96, 72, 2.0, 1},
      {"upper-case names and CR LF lines", [](TOutputOptions& o) { o.ExtOptions = "  VCODEC=mpeg1video\r\nS=32x24 \r\n\r\n"; },
       "mpeg1video", 32, 24, 2.0, 1},
      {"codec and length fields",
       [](TOutputOptions& o) {
         o.VideoCodec = "mpeg1video";
         o.TimeLength = 1000000;
         o.DisableAudio = true;
       },
       "mpeg1video", 160, 120, 1.0, 0},
      {"start field", [](TOutputOptions& o) { o.TimeStart = 1500000; }, "mpeg4", 160, 120, 0.5, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Converter.ClearTasks();
    const std::string output = Folder.File(std::string(c.Name).substr(0, 12) + ".avi");
    TOutputOptions options;
    c.Fill(options);
    ASSERT_EQ(AddJob(source, output, &options), 0);
    Converter.StartTask(0);
    ASSERT_EQ(Notices.Finals(), 1);
    const TTerminateInfo task = Notices.Snapshot().front();
    EXPECT_TRUE(task.Finished) << task.ExceptionMsg;
    const TMediaFacts facts = InspectMedia(output);
    ASSERT_TRUE(facts.Opened);
    EXPECT_EQ(facts.VideoCodec, c.Codec);
    EXPECT_EQ(facts.Width, c.Width);
    EXPECT_EQ(facts.Height, c.Height);
    EXPECT_NEAR(facts.Seconds, c.Seconds, 0.1);
    EXPECT_EQ(facts.AudioStreams, c.AudioStreams);
    Notices.Clear();
  }
}

TEST_F(FFConverterTest, ExtraStreamsTakeThePendingSettings) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  TOutputOptions options;
  options.VideoCodec = "mpeg4";
  options.AudioCodec = "mp2";
  options.FrameSize = "96x72";
  // The record's fields serve the first streams; the text's settings wait for the extra ones.
  options.ExtOptions = "acodec=pcm_s16le\ns=64x48\nnewaudio=\nnewvideo=";
  const std::string output = Folder.File("extra.mkv");
  ASSERT_EQ(AddJob(source, output, &options), 0);
  Converter.StartTask(0);
  ASSERT_EQ(Notices.Finals(), 1);
  EXPECT_TRUE(Notices.Snapshot().front().Finished) << Notices.Snapshot().front().ExceptionMsg;
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(output)) << probe.LastErrorMessage();
  std::vector<std::string> streams;
  for (unsigned i = 0; i < probe.FormatContext()->nb_streams; ++i) {
    const AVCodecParameters* par = probe.FormatContext()->streams[i]->codecpar;
    std::string text = Lib.avcodec_get_name(par->codec_id);
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) text += " " + std::to_string(par->width) + "x" + std::to_string(par->height);
    streams.push_back(text);
  }
  EXPECT_EQ(streams, (std::vector<std::string>{"mpeg4 96x72", "mp2", "pcm_s16le", "mpeg4 64x48"}));
}

TEST_F(FFConverterTest, FileNameOfTheRecordWinsOverTheArgument) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  TOutputOptions options;
  options.FileName = Folder.File("named.avi");
  ASSERT_EQ(AddJob(source, Folder.File("argument.avi"), &options), 0);
  Converter.StartTask(0);
  EXPECT_TRUE(InspectMedia(options.FileName).Opened);
  EXPECT_FALSE(std::filesystem::exists(Folder.File("argument.avi")));
}

TEST_F(FFConverterTest, MetadataReachesTheOutput) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  struct TCase {
    const char* Name;
    double Timestamp;
  } cases[] = {{"a given moment", 1700000000.25}, {"now", 0}, {"not set", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Converter.ClearTasks();
    TOutputOptions options;
    options.Metadata.Timestamp = c.Timestamp;
    options.Metadata.Title = "A title";
    options.Metadata.Author = "Someone";
    options.Metadata.Comment = "Made by a test";
    options.Metadata.Year = 2024;
    options.Metadata.Track = 7;
    const std::string output = Folder.File(std::string(c.Name) + ".mkv");
    const int64_t before = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch()).count();
    ASSERT_EQ(AddJob(source, output, &options), 0);
    const int64_t after = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch()).count();
    Converter.StartTask(0);
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(output)) << probe.LastErrorMessage();
    TFileStreamInfo info;
    ASSERT_TRUE(probe.GetFileStreamInfo(info));
    EXPECT_EQ(info.Title, "A title");
    EXPECT_EQ(info.Author, "Someone");
    EXPECT_EQ(info.Comment, "Made by a test");
    EXPECT_EQ(info.Year, 2024);
    EXPECT_EQ(info.Track, 7);
    if (c.Timestamp > 0) {
      EXPECT_EQ(info.Timestamp, 1700000000);
    } else if (c.Timestamp == 0) {
      EXPECT_GE(info.Timestamp, before);
      EXPECT_LE(info.Timestamp, after + 1);
    } else {
      EXPECT_EQ(info.Timestamp, 0);
    }
  }
}

TEST_F(FFConverterTest, InputOptionsDescribeTheInput) {
  const std::string source = MakeClip("src.avi", Clip(2.0));
  struct TCase {
    const char* Name;
    std::function<void(TInputOptions&)> Fill;
    std::string FileArgument;
    double Seconds;
    int Width;
  };
  const TCase cases[] = {
      {"start field", [](TInputOptions& o) { o.TimeStart = 1000000; }, source, 1.0, 160},
      {"start in the text", [](TInputOptions& o) { o.ExtOptions = "SS=1.5"; }, source, 0.5, 160},
      {"output-only names in the text are skipped", [](TInputOptions& o) { o.ExtOptions = "vf=scale=32:24\nvfilters=scale=32:24"; },
       source, 2.0, 160},
      {"the record's file name wins", [&](TInputOptions& o) { o.FileName = source; }, Folder.File("missing.avi"), 2.0, 160},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Converter.ClearTasks();
    TInputOptions options;
    c.Fill(options);
    const int index = Converter.AddTask(c.FileArgument, options);
    ASSERT_EQ(index, 0) << Converter.LastErrorMessage();
    const std::string output = Folder.File(std::string(c.Name).substr(0, 10) + ".avi");
    ASSERT_TRUE(Converter.SetOutputFile(index, output));
    Converter.StartTask(0);
    const TMediaFacts facts = InspectMedia(output);
    EXPECT_NEAR(facts.Seconds, c.Seconds, 0.1);
    EXPECT_EQ(facts.Width, c.Width);
  }

  Converter.ClearTasks();
  TInputOptions forced;
  forced.FileFormat = "nosuchformat";
  EXPECT_EQ(Converter.AddTask(source, forced), -1);
  EXPECT_EQ(Converter.LastErrorMessage(), "Unknown input format: \"nosuchformat\"");
  EXPECT_EQ(Converter.TasksCount(), 0);
}

TEST_F(FFConverterTest, InputProbeDescribesEachOpenedInput) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  ASSERT_EQ(Converter.AddTask(source), 0);
  TAVProbe* probe = Converter.InputProbe(0, 0);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->VideoStreamCount(), 1);
  EXPECT_EQ(probe->AudioStreamCount(), 1);
  EXPECT_EQ(Converter.InputProbe(0, 1), nullptr);
  EXPECT_EQ(Converter.InputProbe(1, 0), nullptr);
  EXPECT_EQ(Converter.InputProbe(-1, 0), nullptr);
}

TEST_F(FFConverterTest, BadInputsAreRefusedOrEndTheirTask) {
  const std::string good = MakeClip("good.avi", Clip(1.0));
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(Folder.File(name), std::ios::binary) << bytes;
    return Folder.File(name);
  };
  std::string noise(20000, '\0');
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random());
  std::ifstream in(good, std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::copy_file(good, Folder.File("really-avi.mp3"));

  const struct {
    const char* Name;
    std::string Path;
    bool Refused;  // else it may open, and then its task ends with a notice
  } cases[] = {
      {"zero bytes", write("empty.avi", ""), true},
      {"random bytes", write("noise.avi", noise), false},
      {"missing", Folder.File("missing.avi"), true},
      {"truncated", write("truncated.avi", whole.substr(0, whole.size() / 3)), false},
      {"wrong extension", Folder.File("really-avi.mp3"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Converter.ClearTasks();
    Notices.Clear();
    const int index = Converter.AddTask(c.Path);
    if (c.Refused) {
      EXPECT_EQ(index, -1);
    }
    if (index < 0) {
      EXPECT_FALSE(Converter.LastErrorMessage().empty());
      EXPECT_EQ(Converter.TasksCount(), 0);
      continue;
    }
    ASSERT_TRUE(Converter.SetOutputFile(index, Folder.File(std::string(c.Name) + ".out.avi")))
        << Converter.LastErrorMessage();
    Converter.StartTask(0);
    const auto notices = Notices.Snapshot();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].TaskIndex, 0);
    EXPECT_NE(notices[0].Finished, notices[0].Exception);
    if (notices[0].Exception) {
      EXPECT_FALSE(notices[0].ExceptionMsg.empty());
    }
    EXPECT_EQ(notices[1].TaskIndex, -1);
  }
}

TEST_F(FFConverterTest, OutputsThatCannotBeWrittenAreRefused) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  const std::string plainFile = MakeClip("plain.avi", Clip(0.2));
  const struct {
    const char* Name;
    std::string Path;
  } cases[] = {
      {"folder does not exist", Folder.File("no/such/folder/out.avi")},
      {"a file as folder", plainFile + "/out.avi"},
      {"unknown extension", Folder.File("out.nosuchextension")},
  };
  ASSERT_EQ(Converter.AddTask(source), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_FALSE(Converter.SetOutputFile(0, c.Path));
    EXPECT_FALSE(Converter.LastErrorMessage().empty());
    TOutputOptions options;
    EXPECT_FALSE(Converter.SetOutputFile(0, c.Path, options));
  }
  // Nothing was added to the task, so it ends for want of an output.
  Converter.StartTask(0);
  const auto notices = Notices.Snapshot();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_TRUE(notices[0].Exception);
  EXPECT_EQ(notices[0].ExceptionMsg, "At least one output file must be specified");
}

TEST_F(FFConverterTest, ATaskTakesTwentyOutputsAtMost) {
  const std::string source = MakeClip("src.avi", Clip(0.2));
  ASSERT_EQ(Converter.AddTask(source), 0);
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(Converter.SetOutputFile(0, Folder.File("out" + std::to_string(i) + ".avi"))) << i;
  EXPECT_FALSE(Converter.SetOutputFile(0, Folder.File("out20.avi")));
  EXPECT_EQ(Converter.LastErrorMessage(), "max output files 20 reached");
}

TEST_F(FFConverterTest, TasksThatFailReportTheirError) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  struct TCase {
    const char* Name;
    std::function<void()> Set;
    std::string Message;
  };
  const TCase cases[] = {
      {"no output", [&] { ASSERT_EQ(Converter.AddTask(source), 0); }, "At least one output file must be specified"},
      {"an output without streams",
       [&] {
         TOutputOptions options;
         options.DisableAudio = options.DisableVideo = true;
         ASSERT_EQ(AddJob(source, Folder.File("nostreams.avi"), &options), 0);
       },
       "Output file #0 does not contain any stream"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Converter.ClearTasks();
    Notices.Clear();
    c.Set();
    Converter.StartTask(0);
    const auto notices = Notices.Snapshot();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].TaskIndex, 0);
    EXPECT_FALSE(notices[0].Finished);
    EXPECT_TRUE(notices[0].Exception);
    EXPECT_EQ(notices[0].ExceptionMsg, c.Message);
    EXPECT_EQ(notices[1].TaskIndex, -1);
    EXPECT_TRUE(notices[1].Finished);
    EXPECT_FALSE(notices[1].Exception);
    EXPECT_EQ(notices[1].ExceptionMsg, "");
  }
}

TEST_F(FFConverterTest, TheTaskListIsLockedFromStartUntilClearTasks) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  ASSERT_EQ(AddJob(source, Folder.File("a.avi")), 0);
  ASSERT_EQ(AddJob(source, Folder.File("b.avi")), 1);
  Converter.RemoveTask(1);
  EXPECT_EQ(Converter.TasksCount(), 1);
  EXPECT_THROW(Converter.RemoveTask(1), EAssertionFailed);
  Converter.StartTask(0);
  ASSERT_EQ(Notices.Finals(), 1);

  const struct {
    const char* Name;
    std::function<void()> Call;
  } refused[] = {
      {"AddTask", [&] { Converter.AddTask(source); }},
      {"SetOutputFile", [&] { Converter.SetOutputFile(0, Folder.File("c.avi")); }},
      {"RemoveTask", [&] { Converter.RemoveTask(0); }},
      {"StartTask", [&] { Converter.StartTask(1); }},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.Name);
    try {
      r.Call();
      ADD_FAILURE() << "not refused";
    } catch (const EFFmpegError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Cannot ") + r.Name + " while working.");
    }
  }
  EXPECT_EQ(Converter.TasksCount(), 1);
  Converter.ClearTasks();
  EXPECT_EQ(Converter.TasksCount(), 0);
  EXPECT_EQ(Converter.AddTask(source), 0);
}

TEST_F(FFConverterTest, ClearTasksIsRefusedWhileATaskRuns) {
  const std::string source = MakeClip("src.avi", Clip(1.0));
  TOutputOptions options;
  options.CustomHook = true;
  ASSERT_EQ(AddJob(source, Folder.File("out.avi"), &options), 0);
  Converter.SetOnCustomHook([this](TCustomFFConverter*, PHookInfo) { Gate.Arrive(); });
  Converter.StartTask(1);
  ASSERT_TRUE(Gate.WaitReached());
  try {
    Converter.ClearTasks();
    ADD_FAILURE() << "not refused";
  } catch (const EFFmpegError& e) {
    EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
  }
  Gate.Open();
  ASSERT_TRUE(Notices.WaitForFinal());
  EXPECT_NO_THROW(Converter.ClearTasks());
}

TEST_F(FFConverterTest, ProgressRisesWithinItsBounds) {
  const std::string source = MakeClip("src.avi", LongClip());
  for (const bool toMain : {true, false}) {
    SCOPED_TRACE(toMain ? "on the main thread" : "on the worker");
    Converter.ClearTasks();
    Notices.Clear();
    Converter.SetTriggerEventInMainThread(toMain);
    Converter.SetProgressInterval(100);
    std::mutex mutex;
    std::vector<TProgressInfo> reports;
    bool threadsRight = true;
    Converter.SetOnProgress([&](TCustomFFConverter* sender, PProgressInfo info) {
      std::lock_guard lock(mutex);
      reports.push_back(*info);
      threadsRight = threadsRight && sender == &Converter && (std::this_thread::get_id() == MainThread) == toMain;
    });
    // A short wait per frame makes the run last long enough for several reports.
    Converter.SetOnCustomHook([](TCustomFFConverter*, PHookInfo) { std::this_thread::sleep_for(2ms); });
    TOutputOptions options;
    options.CustomHook = true;
    ASSERT_EQ(AddJob(source, Folder.File(toMain ? "main.avi" : "worker.avi"), &options), 0);
    Converter.StartTask(1);
    ASSERT_TRUE(Notices.WaitForFinal());
    Converter.SetOnProgress(nullptr);

    std::lock_guard lock(mutex);
    EXPECT_TRUE(threadsRight);
    ASSERT_GE(reports.size(), 2u);
    for (size_t i = 0; i < reports.size(); ++i) {
      SCOPED_TRACE(i);
      const TProgressInfo& r = reports[i];
      EXPECT_EQ(r.TaskIndex, 0);
      EXPECT_NEAR(r.TotalDuration / 1e6, 10.0, 0.1);
      EXPECT_GE(r.CurrentDuration, 10000);
      EXPECT_LE(r.CurrentDuration, r.TotalDuration + 100000);
      EXPECT_GE(r.FrameNumber, 1);
      EXPECT_LE(r.FrameNumber, 251);
      EXPECT_GE(r.TotalSize, 0);
      if (i > 0) {
        EXPECT_GE(r.CurrentDuration, reports[i - 1].CurrentDuration);
        EXPECT_GE(r.FrameNumber, reports[i - 1].FrameNumber);
        EXPECT_GE(r.TotalSize, reports[i - 1].TotalSize);
      }
    }
    EXPECT_EQ(reports.back().FileIndex, -1);
    EXPECT_NEAR(reports.back().CurrentDuration / 1e6, 10.0, 0.1);
  }
}

TEST_F(FFConverterTest, PreviewBitmapsComeAtMostTenASecond) {
  const std::string source = MakeClip("src.avi", LongClip());
  for (const bool on : {true, false}) {
    SCOPED_TRACE(on ? "on" : "off");
    Converter.ClearTasks();
    Notices.Clear();
    std::vector<TPreviewInfo> previews;
    bool onMainThread = true;
    Converter.SetOnPreviewBitmap([&](TCustomFFConverter*, const TPreviewInfo& info) {
      previews.push_back(info);
      onMainThread = onMainThread && std::this_thread::get_id() == MainThread;
      EXPECT_EQ(info.Bitmap->Width, 80);
      EXPECT_EQ(info.Bitmap->Height, 60);
    });
    TOutputOptions options;
    options.FrameSize = "80x60";
    ASSERT_EQ(AddJob(source, Folder.File("out.avi"), &options), 0);
    // Set after the task exists: the component hands it on to its tasks.
    Converter.SetPreviewBitmap(on);
    const auto start = std::chrono::steady_clock::now();
    Converter.StartTask(1);
    ASSERT_TRUE(Notices.WaitForFinal());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Converter.SetOnPreviewBitmap(nullptr);
    if (!on) {
      EXPECT_TRUE(previews.empty());
      continue;
    }
    ASSERT_FALSE(previews.empty());
    EXPECT_LE(previews.size(), static_cast<size_t>(seconds * 10) + 1);
    EXPECT_TRUE(onMainThread);
    for (size_t i = 1; i < previews.size(); ++i) {
      EXPECT_GT(previews[i].FrameNumber, previews[i - 1].FrameNumber);
      EXPECT_GT(previews[i].PTS, previews[i - 1].PTS);
    }
  }
}

TEST_F(FFConverterTest, StartTaskRunsAtMostTheGivenNumberAtOnce) {
  const std::string source = MakeClip("src.avi", Clip(2.0));
  TOutputOptions options;
  options.CustomHook = true;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(AddJob(source, Folder.File("out" + std::to_string(i) + ".avi"), &options), i);
  RecordHooks();
  Converter.StartTask(3);
  ASSERT_TRUE(Notices.WaitForFinal());

  // Each task's frames pass the hook between its start and its end, so at no point of the
  // arrival order can more than three tasks be between their first and their last frame.
  const std::vector<int> hooks = Hooks();
  std::map<int, std::pair<size_t, size_t>> spans;
  for (size_t i = 0; i < hooks.size(); ++i) {
    auto [it, added] = spans.emplace(hooks[i], std::make_pair(i, i));
    it->second.second = i;
  }
  ASSERT_EQ(spans.size(), 5u);
  for (size_t i = 0; i < hooks.size(); ++i) {
    const auto open = std::count_if(spans.begin(), spans.end(),
                                    [&](const auto& s) { return s.second.first <= i && i <= s.second.second; });
    ASSERT_LE(open, 3) << "at frame " << i;
  }
  for (const auto& [task, span] : spans) EXPECT_EQ(std::count(hooks.begin(), hooks.end(), task), 50) << task;

  const auto notices = Notices.Snapshot();
  ASSERT_EQ(notices.size(), 6u);
  EXPECT_EQ(notices.back().TaskIndex, -1);
  std::vector<int> ended;
  for (size_t i = 0; i + 1 < notices.size(); ++i) {
    ended.push_back(notices[i].TaskIndex);
    EXPECT_TRUE(notices[i].Finished);
    EXPECT_FALSE(notices[i].Exception);
  }
  std::sort(ended.begin(), ended.end());
  EXPECT_EQ(ended, (std::vector<int>{0, 1, 2, 3, 4}));
  for (const auto& thread : Notices.Threads) EXPECT_NE(thread, MainThread);
}

TEST_F(FFConverterTest, SynchronousStartReturnsAfterTheFinalNotice) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(AddJob(source, Folder.File("out" + std::to_string(i) + ".avi")), i);
  Converter.StartTask(0);
  const auto notices = Notices.Snapshot();
  ASSERT_EQ(notices.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(notices[i].TaskIndex, i);
    EXPECT_TRUE(notices[i].Finished);
  }
  EXPECT_EQ(notices[3].TaskIndex, -1);
  for (const auto& thread : Notices.Threads) EXPECT_EQ(thread, MainThread);
}

TEST_F(FFConverterTest, ClearTasksFromTheFinalNoticeIsSafe) {
  const std::string source = MakeClip("src.avi", Clip(0.5));
  std::atomic<int> cleared{0};
  std::vector<std::string> errors;  // written before `cleared` counts the call
  Notices.Also = [&](const TTerminateInfo& info) {
    if (info.TaskIndex != -1) return;
    try {
      Converter.ClearTasks();
    } catch (const std::exception& e) {
      errors.push_back(e.what());
    }
    ++cleared;
  };
  int handled = 0;
  for (const int count : {2, 0}) {
    SCOPED_TRACE(count);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(AddJob(source, Folder.File("out" + std::to_string(i) + ".avi")), i);
    Converter.StartTask(count);
    handled += 4;
    // Every handler call has returned, so nothing touches this test's state any more.
    ASSERT_TRUE(WaitPumping([&] { return Notices.Handled.load() == handled; }, HangGuard));
    EXPECT_EQ(cleared.load(), count == 2 ? 1 : 2);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(Converter.TasksCount(), 0);
    Notices.Clear();
  }
  // The component is idle again.
  EXPECT_EQ(Converter.AddTask(source), 0);
}

TEST_F(FFConverterTest, StopEndsEveryTaskOnce) {
  const std::string source = MakeClip("src.avi", LongClip());
  TOutputOptions options;
  options.CustomHook = true;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(AddJob(source, Folder.File("out" + std::to_string(i) + ".avi"), &options), i);
  Converter.SetOnCustomHook([this](TCustomFFConverter*, PHookInfo) { Gate.Arrive(); });
  Converter.StartTask(1);
  ASSERT_TRUE(Gate.WaitReached());
  // Paused before the held frame goes on, so the first task cannot run to its end first.
  Converter.Pause();
  Gate.Open();
  Converter.Stop(true);
  ASSERT_TRUE(Notices.WaitForFinal());

  const auto notices = Notices.Snapshot();
  ASSERT_EQ(notices.size(), 4u);
  EXPECT_EQ(notices.back().TaskIndex, -1);
  std::vector<int> ended;
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(notices[i].TaskIndex);
    ended.push_back(notices[i].TaskIndex);
    EXPECT_FALSE(notices[i].Finished);
    EXPECT_FALSE(notices[i].Exception) << notices[i].ExceptionMsg;
  }
  std::sort(ended.begin(), ended.end());
  EXPECT_EQ(ended, (std::vector<int>{0, 1, 2}));
}

TEST_F(FFConverterTest, PauseHoldsATaskAndResumeLetsItFinish) {
  const std::string source = MakeClip("src.avi", LongClip());
  TOutputOptions options;
  options.CustomHook = true;
  ASSERT_EQ(AddJob(source, Folder.File("out.avi"), &options), 0);
  std::atomic<int> frames{0};
  Converter.SetOnCustomHook([&](TCustomFFConverter*, PHookInfo) {
    ++frames;
    Gate.Arrive();
  });
  Converter.StartTask(1);
  ASSERT_TRUE(Gate.WaitReached());
  Converter.Pause();
  Converter.Pause();  // a second pause changes nothing
  Gate.Open();
  // Give a task that ignored the pause ample time to run on; a paused one finishes the packet
  // in hand at most.
  WaitPumping([] { return false; }, 500ms);
  EXPECT_LE(frames.load(), 3);
  EXPECT_EQ(Notices.Snapshot().size(), 0u);
  Converter.Resume();
  ASSERT_TRUE(Notices.WaitForFinal());
  EXPECT_EQ(frames.load(), 250);
  ASSERT_EQ(Notices.Snapshot().size(), 2u);
  EXPECT_TRUE(Notices.Snapshot()[0].Finished);
}

TEST_F(FFConverterTest, TheCustomHookDrawsIntoTheOutput) {
  const std::string source = MakeClip("src.avi", Clip(0.4));
  const TLuma original = FirstPicture(source);
  ASSERT_EQ(original.Width, 160);
  // The corner is not white to begin with.
  ASSERT_LT(original.Mean(2, 2, 14, 14), 180);

  std::vector<std::string> logged;
  std::mutex logMutex;
  struct TLogCapture {
    ~TLogCapture() { TFFLogger::Instance().SetOnLog(nullptr); }
  } capture;
  TFFLogger::Instance().SetOnLog([&](void*, uint32_t, TLogLevel level, const std::string& text) {
    std::lock_guard lock(logMutex);
    if (level == llError) logged.push_back(text);
  });
  const auto white = [](THookInfo& info) {
    for (int y = 0; y < 16; ++y) std::fill_n(info.Bitmap->Row(y), 16 * 3, uint8_t{255});
  };
  struct TCase {
    const char* Name;
    std::function<void(THookInfo&)> Handler;
    bool Square;
    int Calls;
  };
  const TCase cases[] = {
      {"drawn", white, true, 10},
      {"Update false keeps the frame",
       [&](THookInfo& info) {
         white(info);
         info.Update = false;
       },
       false, 10},
      {"StopHook ends the calls",
       [&](THookInfo& info) {
         white(info);
         info.StopHook = true;
       },
       true, 1},
      {"an error leaves the frame and the next frames still come",
       [&](THookInfo& info) {
         white(info);
         throw EFFmpegError("drawing failed");
       },
       false, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Converter.ClearTasks();
    std::vector<THookInfo> calls;  // Bitmap: null, the picture's size is checked here
    Converter.SetOnCustomHook([&](TCustomFFConverter*, PHookInfo info) {
      calls.push_back(*info);
      calls.back().Bitmap = nullptr;
      EXPECT_EQ(info->Bitmap->Width, 160);
      EXPECT_EQ(info->Bitmap->Height, 120);
      EXPECT_TRUE(info->Update);
      EXPECT_FALSE(info->StopHook);
      c.Handler(*info);
    });
    TOutputOptions options;
    options.CustomHook = true;
    options.ExtOptions = "qscale=2";
    const std::string output = Folder.File(std::string(c.Name).substr(0, 8) + ".avi");
    ASSERT_EQ(AddJob(source, output, &options), 0);
    Converter.StartTask(0);
    ASSERT_EQ(static_cast<int>(calls.size()), c.Calls);
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].TaskIndex, 0);
      EXPECT_EQ(calls[i].FrameNumber, static_cast<int>(i) + 1);
    }
    const TLuma picture = FirstPicture(output);
    ASSERT_EQ(picture.Width, 160);
    if (c.Square)
      EXPECT_GT(picture.Mean(2, 2, 14, 14), 220);
    else
      EXPECT_NEAR(picture.Mean(2, 2, 14, 14), original.Mean(2, 2, 14, 14), 12);
  }
  std::lock_guard lock(logMutex);
  EXPECT_EQ(std::count(logged.begin(), logged.end(), "Error occurs OnCustomHook: drawing failed"), 10);
}

TEST_F(FFConverterTest, WorkersRunAtTheChosenPriority) {
  const std::string source = MakeClip("src.avi", Clip(0.2, 64, 48));
  TFakePlatform platform;
  TPlatformOverride installed(platform);
  const std::pair<TTaskPriority, TThreadPriority> cases[] = {
      {TTaskPriority::tpIdle, TThreadPriority::tpIdle},     {TTaskPriority::tpLowest, TThreadPriority::tpLowest},
      {TTaskPriority::tpLower, TThreadPriority::tpLower},   {TTaskPriority::tpNormal, TThreadPriority::tpNormal},
      {TTaskPriority::tpHigher, TThreadPriority::tpNormal}, {TTaskPriority::tpTimeCritical, TThreadPriority::tpNormal},
  };
  for (const auto& [chosen, applied] : cases) {
    SCOPED_TRACE(static_cast<int>(chosen));
    Converter.ClearTasks();
    Notices.Clear();
    platform.PriorityCalls.clear();
    Converter.SetThreadPriority(chosen);
    ASSERT_EQ(AddJob(source, Folder.File("out.avi")), 0);
    Converter.StartTask(1);
    ASSERT_TRUE(Notices.WaitForFinal());
    EXPECT_EQ(platform.PriorityCalls, std::vector<TThreadPriority>{applied});
  }
}

TEST_F(FFConverterTest, DestroyingTheComponentStopsItsTasks) {
  const std::string source = MakeClip("src.avi", LongClip());
  TNotices notices;
  auto converter = std::make_unique<TFFConverter>();
  notices.Attach(*converter);
  converter->SetOnCustomHook([this](TCustomFFConverter*, PHookInfo) { Gate.Arrive(); });
  converter->SetOnProgress([](TCustomFFConverter*, PProgressInfo) {});
  TOutputOptions options;
  options.CustomHook = true;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(converter->AddTask(source), i);
    ASSERT_TRUE(converter->SetOutputFile(i, Folder.File("out" + std::to_string(i) + ".avi"), options));
  }
  // One task held mid-run, one never started.
  converter->StartTask(1);
  ASSERT_TRUE(Gate.WaitReached());
  converter->Pause();
  Gate.Open();
  converter.reset();
  // No event reaches a host that is taking the component down.
  EXPECT_TRUE(notices.Snapshot().empty());
}
