// ondrel-convert end to end: the program is run as a user runs it, on generated clips.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TempDir.h"
#include "TestMedia.h"
#include "cli/CliOptions.h"
#include "probe/AVProbe.h"

extern "C" {
#include <libavformat/avformat.h>
}
#include "engine/FFmpegLoader.h"
#include "profiles/model/FormatCatalogue.h"
#include "profiles/model/ProfileStore.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ProgramPath() { return (fs::read_symlink("/proc/self/exe").parent_path() / "ondrel-convert").string(); }

struct TRunResult {
  int Status = -1;  // exit status; -1 killed by a signal or by the time-out
  std::string Out;
  std::string Err;
};

// Runs ondrel-convert with its own data folder. `whileRunning` is called every 20 ms with the
// process id and the stderr text so far; it returns true once it has done its part.
class TCliRunner {
 public:
  explicit TCliRunner(const TTempDir& folder) : FFolder(folder) {}
  std::string DataDir() const { return FFolder.File("data"); }

  TRunResult Run(const std::vector<std::string>& args,
                 const std::function<bool(pid_t, const std::string&)>& whileRunning = nullptr) {
    fs::create_directories(DataDir());
    const std::string out = FFolder.File("stdout.txt"), err = FFolder.File("stderr.txt");
    std::vector<std::string> env{"ONDREL_DATA_DIR=" + DataDir()};
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("ONDREL_DATA_DIR=", 0) != 0) env.emplace_back(*e);
    std::vector<std::string> argv{ProgramPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argp.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    TRunResult result;
    if (spawned != 0) return result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    bool helped = whileRunning == nullptr;
    int status = 0;
    for (;;) {
      const pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) break;
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "ondrel-convert hung";
        break;
      }
      if (!helped) helped = whileRunning(pid, ReadAll(err));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status)) result.Status = WEXITSTATUS(status);
    result.Out = ReadAll(out);
    result.Err = ReadAll(err);
    return result;
  }

 private:
  const TTempDir& FFolder;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

size_t FilesIn(const std::string& folder) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); ++it) ++n;
  return n;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
  TTempDir Folder;
  TCliRunner Runner{Folder};
  std::string OutDir() const { return Folder.File("out"); }

  std::string MakeClip(const std::string& name, TTestMediaSpec spec) {
    const std::string path = Folder.File(name);
    const std::string error = MakeTestMedia(path, spec);
    EXPECT_EQ(error, "");
    return path;
  }
};

TEST(CliOptionsTest, UsageErrorsAreRecognised) {
  const struct {
    std::vector<const char*> Args;
    bool Ok;
    const char* ErrorPart;
  } cases[] = {
      {{"a.mp4"}, true, ""},
      {{"--format", "404", "--zoom=pan", "--crop", "8:8:0:4", "a.mp4", "b.mp4"}, true, ""},
      {{"--trim-start", "12.5", "--trim-length", "3", "a.mp4"}, true, ""},
      {{}, false, "no file"},
      {{"--format", "x", "a.mp4"}, false, "--format"},
      {{"--format"}, false, "needs a value"},
      {{"--zoom", "fit", "a.mp4"}, false, "full, lbox, pan or center"},
      {{"--crop", "1:2:3", "a.mp4"}, false, "--crop"},
      {{"--crop", "1:2:3:-4", "a.mp4"}, false, "--crop"},
      {{"--trim-length", "0", "a.mp4"}, false, "--trim-length"},
      {{"--brightness", "513", "a.mp4"}, false, "0..512"},
      {{"--contrast", "-101", "a.mp4"}, false, "-100..100"},
      {{"--exposure", "-256", "a.mp4"}, false, "-255..512"},
      {{"--saturation", "1e3", "a.mp4"}, false, "0..512"},
      {{"--frobnicate", "a.mp4"}, false, "unknown option"},
      {{"--yes=1", "a.mp4"}, false, "takes no value"},
      {{"--help", "--version"}, false, "only one of"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"ondrel-convert"};
    argv.insert(argv.end(), c.Args.begin(), c.Args.end());
    TCliOptions options;
    std::string error;
    EXPECT_EQ(ParseCliOptions(static_cast<int>(argv.size()), argv.data(), options, error), c.Ok)
        << (c.Args.empty() ? "" : c.Args.front());
    EXPECT_NE(error.find(c.ErrorPart), std::string::npos) << error;
  }
  TCliOptions o;
  std::string error;
  const char* argv[] = {"x", "--trim-start", "12.5", "--crop", "8:6:4:2", "--zoom", "center", "a.mp4"};
  ASSERT_TRUE(ParseCliOptions(8, argv, o, error));
  EXPECT_EQ(o.TrimStart, 12500000);
  EXPECT_EQ(o.CropTop, 8);
  EXPECT_EQ(o.CropBottom, 6);
  EXPECT_EQ(o.CropLeft, 4);
  EXPECT_EQ(o.CropRight, 2);
  EXPECT_EQ(*o.Zoom, "center");
}

// Every format's default choice converts a typical camera or phone clip.
TEST_F(CliTest, EveryFormatConvertsATypicalClip) {
  TTestMediaSpec spec;
  spec.Container = "mp4";
  spec.VideoCodec = "libx264";
  spec.Width = 1280;
  spec.Height = 720;
  spec.AudioCodec = "aac";
  spec.Duration = 1.0;
  const std::string clip = MakeClip("camera.mp4", spec);
  std::vector<int> codes{1};
  for (const int code : CatalogueCodes()) codes.push_back(code);
  const TFormatStore formats((fs::read_symlink("/proc/self/exe").parent_path() / "ondrelxvidformat.ini").string());
  for (const int code : codes) {
    SCOPED_TRACE("format " + std::to_string(code));
    const TRunResult r = Runner.Run({"--quiet", "--format", std::to_string(code), "--output-dir", OutDir(), clip});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 1u) << r.Out;
    const std::string& output = lines[0];
    EXPECT_EQ(fs::path(output).extension().string(), "." + formats.FileExt(code));
    const TMediaFacts facts = InspectMedia(output);
    ASSERT_TRUE(facts.Opened);
    const bool audioOnly = code / 100 == 5;
    EXPECT_EQ(facts.VideoStreams, audioOnly ? 0 : 1);
    EXPECT_EQ(facts.AudioStreams, 1);
    EXPECT_NEAR(facts.Seconds, 1.0, 0.1);
    const TDecodedCounts decoded = DecodeAll(output);
    EXPECT_EQ(decoded.Errors, 0);
    EXPECT_GT(decoded.AudioFrames, 0);
    if (!audioOnly) {
      EXPECT_GT(decoded.VideoFrames, 0);
    }
    fs::remove(output);
  }
}

TEST_F(CliTest, AnAudioSourceConvertsIntoEveryAudioFormat) {
  TTestMediaSpec spec;
  spec.Container = "mp3";
  spec.VideoCodec = "";
  spec.AudioCodec = "libmp3lame";
  spec.Duration = 1.0;
  const std::string clip = MakeClip("song.mp3", spec);
  for (const int code : CatalogueCodes()) {
    if (code / 100 != 5) continue;
    SCOPED_TRACE("format " + std::to_string(code));
    const TRunResult r = Runner.Run({"--quiet", "--format", std::to_string(code), "--output-dir", OutDir(), clip});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const TMediaFacts facts = InspectMedia(Lines(r.Out).at(0));
    EXPECT_EQ(facts.VideoStreams, 0);
    EXPECT_EQ(facts.AudioStreams, 1);
    EXPECT_NEAR(facts.Seconds, 1.0, 0.1);
    EXPECT_EQ(DecodeAll(Lines(r.Out).at(0)).Errors, 0);
  }
}

// Two sources of the same name convert into two files, and a trim converts the span asked for.
TEST_F(CliTest, TrimmedJobsOfOneRunGetTheirOwnNames) {
  TTestMediaSpec spec;
  spec.Duration = 3.0;
  fs::create_directories(Folder.File("a"));
  fs::create_directories(Folder.File("b"));
  const std::string first = MakeClip("a/clip.avi", spec);
  const std::string second = MakeClip("b/clip.avi", spec);
  const TRunResult r = Runner.Run({"--format", "404", "--output-dir", OutDir(), "--trim-start", "0.5",
                                   "--trim-length", "1.5", first, second});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::vector<std::string> lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 2u) << r.Out;
  EXPECT_EQ(lines[0], OutDir() + "/clip_(new).avi");
  EXPECT_EQ(lines[1], OutDir() + "/clip_(new_1).avi");
  for (const std::string& output : lines) EXPECT_NEAR(InspectMedia(output).Seconds, 1.5, 0.1);
  // Progress goes to stderr as plain lines when it is not a terminal.
  EXPECT_NE(r.Err.find("[1/2] clip.avi"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("[2/2] clip.avi"), std::string::npos) << r.Err;
}

TEST_F(CliTest, BadInputFailsWithAReasonAndLeavesNothingBehind) {
  const std::string good = MakeClip("good.avi", TTestMediaSpec{});
  const std::string empty = Folder.File("empty.mp4");
  std::ofstream(empty).close();
  const std::string noise = Folder.File("noise.mp4");
  {
    std::ofstream out(noise, std::ios::binary);
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) out.put(static_cast<char>((x = x * 1664525u + 1013904223u) >> 24));
  }
  TTestMediaSpec mp4;
  mp4.Container = "mp4";
  const std::string whole = MakeClip("whole.mp4", mp4);
  const std::string truncated = Folder.File("truncated.mp4");
  {
    const std::string bytes = ReadAll(whole);
    std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  }
  const std::string notAFolder = Folder.File("plain-file");
  std::ofstream(notAFolder).close();

  const struct {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
    std::string ErrorPart;
  } cases[] = {
      {"missing file", {Folder.File("missing.avi")}, 1, "missing.avi"},
      {"zero bytes", {empty}, 1, "empty.mp4"},
      {"random bytes", {noise}, 1, "noise.mp4"},
      {"truncated", {truncated}, 1, "truncated.mp4"},
      {"a folder", {Folder.Path()}, 1, "Cannot convert"},
      {"unknown format", {"--format", "999", good}, 2, "unknown format code 999"},
      {"unwritable folder", {"--output-dir", notAFolder + "/sub", good}, 1, "cannot be written"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> args{"--quiet"};
    if (std::find(c.Args.begin(), c.Args.end(), "--output-dir") == c.Args.end())
      args.insert(args.end(), {"--output-dir", OutDir()});
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TRunResult r = Runner.Run(args);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_NE(r.Err.find(c.ErrorPart), std::string::npos) << r.Err;
    EXPECT_EQ(Lines(r.Err).size(), 1u) << "one line of reason: " << r.Err;
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(FilesIn(OutDir()), 0u);
  }
  // A failing file does not keep the good ones from converting.
  const TRunResult mixed = Runner.Run({"--quiet", "--output-dir", OutDir(), empty, good});
  EXPECT_EQ(mixed.Status, 1);
  EXPECT_EQ(Lines(mixed.Out).size(), 1u);
  EXPECT_EQ(FilesIn(OutDir()), 1u);
}

TEST_F(CliTest, DamagedSettingsAreSurvivedOrReported) {
  const std::string clip = MakeClip("clip.avi", TTestMediaSpec{});
  fs::create_directories(Runner.DataDir());
  const std::string settings = Runner.DataDir() + "/ondrelxvidconverter.ini";
  {
    std::ofstream out(settings, std::ios::binary);
    out << "\x01\x02[settings\nFormatCode=4x4\n\0\0garbage===\n[formatInfo404\n";
  }
  const TRunResult junk = Runner.Run({"--quiet", "--output-dir", OutDir(), clip});
  EXPECT_EQ(junk.Status, 0) << junk.Err;

  std::ofstream(settings, std::ios::trunc) << "[settings]\nFormatCode=404\n[formatInfo404]\nparaVolume=loud\n";
  const std::string before = ReadAll(settings);
  const TRunResult volume = Runner.Run({"--quiet", "--output-dir", OutDir(), clip});
  EXPECT_EQ(volume.Status, 1);
  EXPECT_NE(volume.Err.find("'loud' is not a valid integer value"), std::string::npos) << volume.Err;
  EXPECT_EQ(FilesIn(OutDir()), 1u);  // only the first run's file
  // The run's choices are its own: the user's settings file is left as it was.
  const TRunResult chosen = Runner.Run({"--quiet", "--format", "403", "--zoom", "full", "--output-dir", OutDir(), clip});
  EXPECT_EQ(chosen.Status, 0) << chosen.Err;
  EXPECT_EQ(ReadAll(settings), before);
  // The zoom asked for does not turn the format's untouched defaults into "no video".
  EXPECT_EQ(InspectMedia(Lines(chosen.Out).at(0)).VideoStreams, 1);
}

TEST_F(CliTest, InterruptStopsTheJobAndRemovesItsOutput) {
  TTestMediaSpec spec;
  spec.Width = 640;
  spec.Height = 480;
  spec.Duration = 8.0;
  const std::string clip = MakeClip("long.avi", spec);
  const TRunResult r = Runner.Run({"--format", "403", "--output-dir", OutDir(), clip}, [](pid_t pid, const std::string& err) {
    if (err.find("[1/1]") == std::string::npos) return false;
    kill(pid, SIGINT);
    return true;
  });
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("stopped"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(FilesIn(OutDir()), 0u);
}

TEST_F(CliTest, InfoListAndHelp) {
  const std::string clip = MakeClip("clip.avi", TTestMediaSpec{});
  const TRunResult info = Runner.Run({"--info", clip});
  EXPECT_EQ(info.Status, 0) << info.Err;
  EXPECT_NE(info.Out.find("mpeg4"), std::string::npos) << info.Out;
  EXPECT_EQ(Runner.Run({"--info", Folder.File("missing.avi")}).Status, 1);

  const TRunResult list = Runner.Run({"--list-formats"});
  EXPECT_EQ(list.Status, 0);
  EXPECT_EQ(Lines(list.Out).size(), CatalogueCodes().size() + 1);
  EXPECT_NE(list.Out.find(" 404  AVI Video (*.avi)"), std::string::npos) << list.Out;

  const TRunResult help = Runner.Run({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("--trim-length"), std::string::npos);
  EXPECT_EQ(Runner.Run({"--bogus"}).Status, 2);
}

}  // namespace

namespace {

double MeanOfPlane(const AVFrame& frame, int plane) {
  const int w = plane == 0 ? frame.width : (frame.width + 1) / 2, h = plane == 0 ? frame.height : (frame.height + 1) / 2;
  double sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) sum += frame.data[plane][y * frame.linesize[plane] + x];
  return sum / (w * h);
}

}  // namespace

// A picture item and an adjustment from the command line reach the converted frames.
TEST_F(CliTest, ItemsAndAdjustmentsReachTheFrames) {
  TTestMediaSpec spec;
  spec.Duration = 2.0;
  const std::string clip = MakeClip("clip.avi", spec);
  const std::string red = Folder.File("red.bmp");
  QImage picture(spec.Width, spec.Height, QImage::Format_RGB888);
  picture.fill(QColor(255, 0, 0));
  ASSERT_TRUE(picture.save(QString::fromStdString(red), "BMP"));

  const TRunResult r = Runner.Run({"--quiet", "--format", "404", "--output-dir", OutDir(), "--picture",
                                   red + "@0,0;from=0;to=0", "--text", "Hi@4,4;from=1", clip});
  ASSERT_EQ(r.Status, 0) << r.Err;
  int covered = 0, plain = 0;
  DecodeAll(Lines(r.Out).at(0), [&](const AVFrame& frame, double seconds) {
    // Red has a high V (Cr); the test picture's mean is far lower.
    const double v = MeanOfPlane(frame, 2);
    if (seconds < 0.95) {
      EXPECT_GT(v, 200) << seconds;
      ++covered;
    } else if (seconds > 1.05) {
      EXPECT_LT(v, 180) << seconds;
      ++plain;
    }
  });
  EXPECT_GT(covered, 20);
  EXPECT_GT(plain, 20);

  const TRunResult dark = Runner.Run({"--quiet", "--format", "404", "--output-dir", OutDir(), "--brightness", "100", clip});
  ASSERT_EQ(dark.Status, 0) << dark.Err;
  double before = 0, after = 0;
  DecodeAll(Lines(r.Out).at(0), [&](const AVFrame& frame, double seconds) {
    if (seconds > 1.05) before += MeanOfPlane(frame, 0);
  });
  DecodeAll(Lines(dark.Out).at(0), [&](const AVFrame& frame, double seconds) {
    if (seconds > 1.05) after += MeanOfPlane(frame, 0);
  });
  EXPECT_LT(after, before * 0.9);

  const TRunResult bad = Runner.Run({"--text", "no position", clip});
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("--text 'no position'"), std::string::npos) << bad.Err;
}
