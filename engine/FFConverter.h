// The converter component: a list of conversion tasks, each one task engine with its input and
// output files, run on worker threads (or in the caller) and reported through four events:
// per-frame custom hook, preview bitmap, progress and termination.
#pragma once

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FFmpegEvents.h"
#include "probe/AVProbe.h"

class TCustomFFConverter;
struct TConverterTask;
struct TConverterThread;

// A time that is not set: the media libraries' no-timestamp value (AV_NOPTS_VALUE).
constexpr int64_t TimeNotSet = INT64_MIN;

// Priority of the worker threads. Linux offers idle, lowest, lower and normal to an unprivileged
// process; the higher ones run at normal.
enum class TTaskPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

struct TInputOptions {
  std::string FileName;          // empty: the name given to AddTask
  std::string FileFormat;        // forced input format ("f")
  int64_t TimeStart = TimeNotSet;  // µs ("ss")
  int32_t ProgramID = -1;        // "programid" when >= 0
  std::string ExtOptions;        // name=value lines
  int32_t Reserved1 = 0;         // kept for the record's shape; not read
  int32_t Reserved2 = 0;
};

// Metadata written to an output.
struct TStreamInfo {
  // Recording time in seconds since 1970-01-01 UTC (fractions allowed). Negative: not set;
  // 0: the moment SetOutputFile is called.
  double Timestamp = -1;
  int32_t Year = 0;   // written when > 0
  int32_t Track = 0;  // written when > 0
  std::string Title;  // the strings are written when not empty
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// A field whose effect carries a condition (such as "when > 0") is ignored when it fails; an
// empty text is never applied.
struct TOutputOptions {
  std::string FileName;  // empty: the name given to SetOutputFile
  std::string Reserved;  // kept for the record's shape; not read
  std::string FileFormat;         // "f"
  int32_t PacketSize = -1;        // "packetsize" when > 0
  int32_t MuxRate = -1;           // "muxrate" when > 0
  float MuxDelay = -1.0f;         // s, "muxdelay" when > 0
  float MuxPreload = -1.0f;       // s, "muxpreload" when > 0
  std::string AudioCodec;         // default "acodec"
  std::string AudioPreset;        // default "apre"
  bool DisableAudio = false;      // "an"
  int32_t AudioVolume = -1;       // "vol" when >= 0 (256: unchanged)
  int32_t AudioChannels = -1;     // "ac" when > 0
  int32_t AudioSampleRate = -1;   // "ar" when > 0
  int32_t AudioBitrate = -1;      // bit/s, "ab" when > 0
  int32_t AudioBitrateTolerance = -1;  // "abt" when > 0
  std::string AudioLanguage;      // "alang"
  int32_t AudioSync = 0;          // "async", as is
  std::string AudioTag;           // "atag"
  std::string VideoCodec;         // default "vcodec"
  std::string VideoPreset;        // default "vpre"
  bool DisableVideo = false;      // "vn"
  std::string FrameRate;          // "r"
  std::string FrameSize;          // default "s"
  std::string FrameAspectRatio;   // "aspect"
  int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;  // when > 0
  int32_t GroupOfPictures = -1;   // "g" when > 0
  int32_t VideoBitrate = -1;      // bit/s, "vb" when > 0
  int32_t VideoMaxRate = -1;      // "maxrate" when > 0
  int32_t VideoMinRate = -1;      // "minrate" when > 0
  int32_t VideoBitrateTolerance = -1;  // "bt" when > 0
  int32_t VideoBufSize = -1;      // "bufsize" when > 0
  int32_t VideoSync = -1;         // "vsync", as is (-1: automatic)
  std::string VideoTag;           // "vtag"
  std::string VideoFilters;       // default "vf"
  std::string VideoLanguage;      // "vlang"
  std::string SubtitleCodec;      // default "scodec"
  std::string SubtitlePreset;     // default "spre"
  bool DisableSubtitle = false;   // "sn"
  std::string SubtitleLanguage;   // "slang"
  bool InputSync = false;         // "isync"
  bool CopyTimestamps = false;    // "copyts"
  int64_t TimeStart = TimeNotSet;   // µs, "ss"
  int64_t TimeLength = TimeNotSet;  // µs, "t" (also the task's expected duration)
  TStreamInfo Metadata;
  int32_t Target = 0;             // 0 none, 1 VCD, 2 SVCD, 3 DVD
  int32_t TargetNorm = 0;         // 0 automatic, 1 PAL, 2 NTSC
  int32_t TargetFallbackNorm = 1;  // when automatic finds nothing: 1 PAL, else NTSC
  bool CustomHook = false;        // raise OnCustomHook for this task
  bool Join = false;              // all inputs of the task, one after the other, into this output
  std::string ExtOptions;         // name=value lines
  int32_t Reserved1 = 0;
  int32_t Reserved2 = 0;
};

using TCustomHookEvent = std::function<void(TCustomFFConverter* sender, PHookInfo info)>;
using TPreviewBitmapEvent = std::function<void(TCustomFFConverter* sender, const TPreviewInfo& info)>;
using TProgressEvent = std::function<void(TCustomFFConverter* sender, PProgressInfo info)>;
using TTerminateEvent = std::function<void(TCustomFFConverter* sender, const TTerminateInfo& info)>;

// Threads: OnCustomHook runs on the task's worker; OnProgress and OnPreviewBitmap run on the main
// thread of the installed MainThreadDispatcher when TriggerEventInMainThread (the worker waits),
// else on the worker; OnTerminate runs in threaded mode on a delivery thread of its own (the
// final notice after every task's own notice), in synchronous mode in the thread that ends the
// task. Each event kind is delivered one at a time and shares one record. An exception from a
// progress or preview handler ends that task with the exception's text; one from the hook
// handler is logged and leaves that frame unchanged; one from the termination handler is logged.
class TCustomFFConverter {
 public:
  TCustomFFConverter();
  // Stops the tasks and waits for every thread the component started; no event is raised.
  virtual ~TCustomFFConverter();
  TCustomFFConverter(const TCustomFFConverter&) = delete;
  TCustomFFConverter& operator=(const TCustomFFConverter&) = delete;

  std::string About;  // free text
  std::string Version() const { return "3.3"; }

  // Bit 0 / bit 1 of each task's preview flags; setting them also sets every existing task.
  bool Preview() const { return PreviewOn; }
  void SetPreview(bool value);
  bool PreviewBitmap() const { return PreviewBitmapOn; }
  void SetPreviewBitmap(bool value);
  // Milliseconds between two progress reports of a task; values <= 100 are stored as 100.
  int32_t ProgressInterval() const { return Interval; }
  void SetProgressInterval(int32_t value) { Interval = value <= 100 ? 100 : value; }
  // Applied to each worker thread when its task starts.
  TTaskPriority ThreadPriority() const { return Priority; }
  void SetThreadPriority(TTaskPriority value) { Priority = value; }
  bool TriggerEventInMainThread() const { return ToMainThread; }
  void SetTriggerEventInMainThread(bool value) { ToMainThread = value; }

  // Handlers may be set or cleared at any time, also while tasks run.
  TCustomHookEvent OnCustomHook() const;
  void SetOnCustomHook(TCustomHookEvent handler);
  TPreviewBitmapEvent OnPreviewBitmap() const;
  void SetOnPreviewBitmap(TPreviewBitmapEvent handler);
  TProgressEvent OnProgress() const;
  void SetOnProgress(TProgressEvent handler);
  TTerminateEvent OnTerminate() const;
  void SetOnTerminate(TTerminateEvent handler);

  // The text of the last failed LoadLibraries, AddTask or SetOutputFile.
  std::string LastErrorMessage() const;
  // A probe of the component's own, free for the application's use.
  TAVProbe& AVProbe() { return Probe; }

  bool LoadLibraries(const std::string& folder);
  bool LibrariesLoaded() const;

  // The operations below that change the task list raise EFFmpegError "Cannot <name> while
  // working." from StartTask until ClearTasks; an invalid task index raises EAssertionFailed.

  // A new task reading `fileName`; its index, or -1 with LastErrorMessage.
  int AddTask(const std::string& fileName);
  int AddTask(const std::string& fileName, const TInputOptions& options);
  // One more output of the task (at most 20); false with LastErrorMessage.
  bool SetOutputFile(int task, const std::string& fileName);
  bool SetOutputFile(int task, const std::string& fileName, const TOutputOptions& options);
  void RemoveTask(int task);
  // Frees every task, the last error and the run's state. Raises "Cannot ClearTasks while
  // working." until every task of a run has terminated. A task whose job is still unwinding
  // (this may be called from the final notice) lives on until the job has returned.
  void ClearTasks();
  // Runs the tasks, `count` at once on worker threads and returning at once; count <= 0 runs
  // them one after the other in the caller and returns after the final notice.
  void StartTask(int count);
  // Cooperative: a paused task waits between two packets.
  void Pause();
  void Resume();
  // Stops every task; each task of the run still ends with one termination event, then the
  // final notice follows. With `wait` the call returns when the running jobs have returned and
  // the never-started tasks have terminated, pumping the dispatcher on the main thread. Called
  // from inside a progress, preview, hook or synchronous termination handler it does not wait,
  // because the job it would wait for is the one waiting for that handler.
  void Stop(bool wait);
  int TasksCount() const;
  // The probe of input `input` of task `task`; null when there is none.
  TAVProbe* InputProbe(int task, int input) const;

 protected:
  // The targets of the engine's callbacks; `task` is the task that raises the event.
  virtual void DoCustomHook(TConverterTask& task, THookInfo& info);
  virtual void DoPreviewBitmap(TConverterTask& task, const TPreviewInfo& info);
  virtual void DoProgress(TConverterTask& task, TProgressInfo& info);
  virtual void DoTerminate(TConverterTask& task);

 private:
  int AddTaskWith(const std::string& fileName, const TInputOptions* options);
  bool SetOutputFileWith(int task, const std::string& fileName, const TOutputOptions* options);
  void RejectWhileWorking(const char* operation) const;
  std::shared_ptr<TConverterTask> TaskAt(int index) const;
  void SetLastError(const std::string& text);
  unsigned PreviewFlags() const;
  void ApplyPreviewFlags();
  bool StartNextTask();
  void RunJob(TConverterTask& task);
  void Terminate(TConverterTask& task);
  void DeliverTerminate(const std::shared_ptr<const TTerminateEvent>& handler, const TTerminateInfo& info,
                        bool threaded, bool final);
  void WaitForSynchronousRun(const std::vector<std::shared_ptr<TConverterTask>>& tasks);
  bool InHandler() const;
  void Spawn(std::function<void()> body);
  void ReapThreads();

  std::atomic<bool> PreviewOn{false};
  std::atomic<bool> PreviewBitmapOn{false};
  std::atomic<int32_t> Interval{500};
  std::atomic<TTaskPriority> Priority{TTaskPriority::tpNormal};
  std::atomic<bool> ToMainThread{true};

  mutable std::mutex HandlerMutex;
  std::shared_ptr<const TCustomHookEvent> HookHandler;
  std::shared_ptr<const TPreviewBitmapEvent> PreviewHandler;
  std::shared_ptr<const TProgressEvent> ProgressHandler;
  std::shared_ptr<const TTerminateEvent> TerminateHandler;

  TAVProbe Probe;

  // The task list and the run's state.
  mutable std::mutex StateMutex;
  std::vector<std::shared_ptr<TConverterTask>> Tasks;
  std::string LastError;
  int FinishedCount = 0;
  int NextIndex = 0;
  int ToStart = 0;
  bool AllTerminated = false;
  bool Threaded = false;
  bool Working = false;

  // One record and one lock per event kind; the termination lock is re-entered when a task
  // that cannot get a thread terminates from inside another task's termination.
  std::mutex HookLock, PreviewLock, ProgressLock;
  std::recursive_mutex TerminateLock;
  THookInfo HookRecord;
  TPreviewInfo PreviewRecord;
  TProgressInfo ProgressRecord;
  TTerminateInfo TerminateRecord;

  // Task notices still being delivered; the final notice waits for them.
  std::mutex NoticeMutex;
  std::condition_variable NoticesDelivered;
  int PendingNotices = 0;

  // Every thread the component starts; finished ones are joined at the next occasion.
  std::mutex ThreadsMutex;
  std::list<std::unique_ptr<TConverterThread>> Threads;
};

class TFFConverter : public TCustomFFConverter {};
