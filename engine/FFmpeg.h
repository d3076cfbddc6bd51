// The task engine: one conversion task, up to 20 inputs and 20 outputs configured by options
// of the option language, transcoded by a decode -> filter -> encode -> mux loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FFmpegEvents.h"
#include "FFmpegOptions.h"
#include "FrameHooks.h"

class TAVProbe;
struct TInputFile;
struct TOutputFile;
struct TOutputStream;
struct TInputStream;

constexpr int MaxFiles = 20;

class TCustomFFmpeg : public IFFmpegOptionsHost {
 public:
  TCustomFFmpeg();
  ~TCustomFFmpeg() override;
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // Back to an empty task; needs the converter's libraries (does nothing without them).
  void Reset();
  // One option of the option language; raises EFFmpegError.
  void ApplyOption(const std::string& name, const std::string& value);

  // Opens an input with the per-file settings given so far; false with LastErrorMessage set.
  bool OpenInput(const std::string& fileName);
  // Opens an output; returns the number of outputs, or -1 with LastErrorMessage set.
  int OpenOutput(const std::string& fileName, bool join);
  const std::string& LastErrorMessage() const { return LastError; }
  int InputCount() const;
  int OutputCount() const;
  TAVProbe* InputProbe(int index) const;

  // Runs the task to its end or to a stop request; raises EFFmpegError on a fatal error.
  // Resources are released on every path.
  void Transcode();
  void RequestStop() { StopRequested = true; }
  bool StopRequestedFlag() const { return StopRequested; }
  // Cooperative pause: the loop waits between packets.
  void SetPaused(bool paused);
  bool Finished() const { return FinishedFlag; }

  int TaskIndex = 0;
  TFFmpegOptions Options;
  // Microseconds between two progress reports.
  int64_t ReportInterval = 500000;
  // Bit 0: preview window, bit 1: preview bitmap event.
  void SetPreviewFlags(unsigned flags);
  unsigned PreviewFlags() const;
  int64_t MinimumPreviewGap = 100000;

  std::function<void(THookInfo&)> OnCustomHook;
  std::function<void(const TPreviewInfo&)> OnPreviewBitmap;
  std::function<void(TProgressInfo&)> OnProgress;

  // IFFmpegOptionsHost
  int OutputFileCount() const override;
  void AddStreamToLastOutput(AVMediaType kind) override;
  bool AddFrameHook(const std::vector<std::string>& arguments) override;
  std::vector<AVRational> InputVideoTimeBases() const override;

 private:
  friend struct TTranscodeRun;
  std::vector<std::unique_ptr<TInputFile>> Inputs;
  std::vector<std::unique_ptr<TOutputFile>> Outputs;
  TFrameHooks FrameHooks;
  std::string LastError;
  bool JoinMode = false;
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> FinishedFlag{false};
  std::atomic<unsigned> Preview{0};
  std::mutex PauseMutex;
  std::condition_variable PauseChanged;
  bool Paused = false;

  void CreateOutputStreams(TOutputFile& out);
  void AddOutputStream(TOutputFile& out, AVMediaType kind);
  void WaitWhilePaused();
};

class TFFmpeg : public TCustomFFmpeg {};
