#include "CliConvert.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/core/DialogSeam.h"
#include "app/core/GlobalObject.h"
#include "conversion/hook/ConverterHook.h"
#include "conversion/run/ConversionRun.h"
#include "conversion/run/OptionBuilder.h"
#include "conversion/run/ProgressTexts.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegLogger.h"
#include "engine/MainThreadDispatcher.h"
#include "profiles/model/FormatCatalogue.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> Interrupted{false};

extern "C" void OnInterrupt(int) {
  Interrupted = true;
  // A second Ctrl-C ends the program at once, for a user who does not want to wait.
  std::signal(SIGINT, SIG_DFL);
}

void Error(const std::string& text) { std::fprintf(stderr, "ondrel-convert: %s\n", text.c_str()); }

// Messages go to stderr; the frame-size question is answered from the command line.
class TCliDialogSeam : public TDialogSeam {
 public:
  TCliDialogSeam(bool yes, bool quiet) : FYes(yes), FQuiet(quiet) {}
  void ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) override {
    if (!FQuiet || icon == TMessageIcon::miError) Error(caption + ": " + text);
  }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    if (!FQuiet) Error(caption + ": " + text + (FYes ? " Yes (--yes)" : " No (see --yes)"));
    return FYes;
  }

 private:
  bool FYes;
  bool FQuiet;
};

// The settings are read from a private copy, so the command-line choices (format, folder,
// zoom) apply to this run only and the user's settings file stays as it is.
class TSettingsCopy {
 public:
  ~TSettingsCopy() {
    std::error_code ec;
    if (!FFolder.empty()) fs::remove_all(FFolder, ec);
  }
  bool Make(const std::string& original, std::string& error) {
    std::string pattern = (fs::temp_directory_path() / "ondrel-convert-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      error = "cannot create a temporary folder";
      return false;
    }
    FFolder = pattern;
    FFile = (fs::path(FFolder) / SettingsFileName).string();
    std::error_code ec;
    // A settings file that cannot be read (a folder, no permission) counts as missing: every
    // key then has its default, as for the desktop program.
    if (fs::is_regular_file(original, ec)) fs::copy_file(original, FFile, ec);
    return true;
  }
  const std::string& File() const { return FFile; }

 private:
  std::string FFolder;
  std::string FFile;
};

class TProgressLine {
 public:
  TProgressLine(bool quiet, int taskCount) : FQuiet(quiet), FTerminal(isatty(STDERR_FILENO) == 1), FCount(taskCount) {}

  void Start(int task, const TlvFilesRecord& job) {
    FTask = task;
    FName = fs::path(job.SourcePath).filename().string();
    FExpected = ExpectedJobDuration(job);
    FStarted = std::chrono::steady_clock::now();
    FLastStep = -1;
    FShown = false;
  }

  void Update(const TProgressInfo& info) {
    if (FQuiet || info.TaskIndex != FTask) return;
    const int percent = ProgressPercent(info.CurrentDuration, info.TotalDuration, FExpected);
    const int64_t current = KnownCurrentDuration(info.CurrentDuration);
    const int64_t expected = EffectiveTotalDuration(info.TotalDuration, FExpected);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStarted).count();
    const double speed = elapsed > 0 ? current / 1e6 / elapsed : 0;
    const std::string total = expected > 0 ? FormatClock(expected / 1000000) : "?";
    const std::string line = Format("[%d/%d] %s %3d%% %s / %s  %s  %.1fx", FTask + 1, FCount, FName.c_str(), percent,
                                    FormatClock(current / 1000000).c_str(), total.c_str(),
                                    FormatByteSize(info.TotalSize).c_str(), speed);
    if (FTerminal) {
      std::fprintf(stderr, "\r%-78s", line.c_str());
      FShown = true;
    } else if (percent / 10 != FLastStep) {
      FLastStep = percent / 10;
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
  }

  // Ends the job's line before anything else is printed.
  void Finish() {
    if (FShown) std::fputc('\n', stderr);
    FShown = false;
  }

 private:
  bool FQuiet;
  bool FTerminal;
  int FCount;
  int FTask = -1;
  std::string FName;
  int64_t FExpected = 0;  // the job's length when the converter does not know it
  std::chrono::steady_clock::time_point FStarted;
  int FLastStep = -1;
  bool FShown = false;
};

// The output folder in effect must be usable before any job starts; otherwise every job would
// fail one after the other with the same reason.
bool PrepareOutputFolder(const std::string& folder, std::string& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!IsDirectoryWritable(folder)) {
    error = "the output folder \"" + folder + "\" cannot be written";
    return false;
  }
  return true;
}

}  // namespace

int RunCliConversion(const TCliOptions& o) {
  TCliDialogSeam seam(o.Yes, o.Quiet);
  TDialogSeamOverride seamScope(seam);
  const TGlobalObject global;

  TSettingsCopy copy;
  std::string error;
  if (!copy.Make(global.SettingsFile(), error)) {
    Error(error);
    return 1;
  }
  TSettingsStore settings(copy.File());
  TFormatStore formats(global.FormatStoreFile());
  if (o.FormatCode) settings.SetCurrentFormat(FormatCaptionOf(*o.FormatCode), *o.FormatCode);
  if (o.OutputDir) settings.SetOutPutDir(*o.OutputDir);
  if (!PrepareOutputFolder(settings.OutPutDir(), error)) {
    Error(error);
    return 1;
  }

  TFFConverter converter;
  if (!converter.LoadLibraries(MediaLibraryFolder())) {
    Error(converter.LastErrorMessage());
    return 1;
  }
  if (o.LogLevel) {
    TFFLogger& logger = TFFLogger::Instance();
    logger.SetTriggerEventInMainThread(false);
    logger.SetOnLog([](void*, uint32_t, TLogLevel, const std::string& msg) { std::fprintf(stderr, "%s\n", msg.c_str()); });
    logger.InstallLibraryHook();
    logger.SetLevelFromText(*o.LogLevel);
  }
  TQueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  struct TDispatcherReset {
    ~TDispatcherReset() { SetMainThreadDispatcher(nullptr); }
  } dispatcherReset;
  converter.SetTriggerEventInMainThread(true);

  std::vector<std::unique_ptr<TlvFilesRecord>> jobs;
  std::vector<TRunJob> rows;
  for (const std::string& file : o.Files) {
    auto job = std::make_unique<TlvFilesRecord>();
    job->SourcePath = file;
    job->TrimStart = o.TrimStart;
    job->TrimLength = o.TrimLength;
    job->CropTop = o.CropTop;
    job->CropBottom = o.CropBottom;
    job->CropLeft = o.CropLeft;
    job->CropRight = o.CropRight;
    job->Brightness = o.Brightness;
    job->Contrast = o.Contrast;
    job->Saturation = o.Saturation;
    job->Exposure = o.Exposure;
    job->Watermarks = o.Items;
    rows.push_back({job.get(), true});
    jobs.push_back(std::move(job));
  }

  TConversionRun run(converter, settings, formats);
  // Not written into the settings copy: a stored zoom would make the format count as set up
  // by the user, and its other parameters would lose the format's defaults.
  if (o.Zoom) run.SetZoomOverride(*o.Zoom);
  int taskCount = 0;
  try {
    taskCount = run.Prepare(rows, TRunErrorPolicy::epSkip);
  } catch (const std::exception& e) {
    // A setting the builder cannot use (a volume that is not a number) stops the whole run.
    Error(e.what());
    converter.ClearTasks();
    return 1;
  }
  bool failed = false;
  for (const TRunFailure& failure : run.Failures()) {
    Error(failure.Message);
    failed = true;
  }
  if (taskCount == 0) return 1;

  TProgressLine progress(o.Quiet, taskCount);
  bool allDone = false;
  converter.SetOnProgress([&](TCustomFFConverter*, PProgressInfo info) {
    if (info->TaskIndex >= 0) progress.Update(*info);
  });
  const auto taskEnded = [&](const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
      allDone = true;
      return;
    }
    progress.Finish();
    const TlvFilesRecord* job = run.JobOfTask(info.TaskIndex);
    const std::string& output = run.OutputFileOfTask(info.TaskIndex);
    if (info.Finished) {
      std::printf("%s\n", output.c_str());
      std::fflush(stdout);
    } else {
      failed = true;
      const std::string reason = info.ExceptionMsg.empty() ? "stopped" : info.ExceptionMsg;
      Error((job ? job->SourcePath : output) + ": " + reason);
      // Half a file is no use to anyone and would take the next run's name.
      std::error_code ec;
      if (!output.empty()) fs::remove(output, ec);
    }
    if (info.TaskIndex + 1 < taskCount)
      if (const TlvFilesRecord* next = run.JobOfTask(info.TaskIndex + 1)) progress.Start(info.TaskIndex + 1, *next);
  };
  // Task notices may come from threads of their own; the state above belongs to this thread.
  converter.SetOnTerminate([&taskEnded](TCustomFFConverter*, const TTerminateInfo& notice) {
    RunEvent(true, [&taskEnded, &notice] { taskEnded(notice); });
  });

  Interrupted = false;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  sigaction(SIGINT, &action, &previous);
  sigaction(SIGTERM, &action, nullptr);

  converter.SetOnCustomHook(MakeConverterHook([&run](int task) -> const TlvFilesRecord* { return run.JobOfTask(task); }));

  progress.Start(0, *run.JobOfTask(0));
  run.Start();
  bool stopping = false;
  while (!allDone) {
    dispatcher.pumpFor(std::chrono::milliseconds(50));
    if (Interrupted && !stopping) {
      stopping = true;
      converter.Stop(false);
    }
  }
  sigaction(SIGINT, &previous, nullptr);
  std::signal(SIGTERM, SIG_DFL);
  converter.ClearTasks();
  return failed || stopping ? 1 : 0;
}
