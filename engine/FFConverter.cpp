// The converter component: task list, runs, threads and event delivery.
#include "FFConverter.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <thread>

#include "EngineError.h"
#include "FFConverterInternal.h"
#include "FFUtils.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"
#include "MainThreadDispatcher.h"
#include "platform/Platform.h"

// A thread of the component: a task's worker, a termination delivery, or the terminate step of
// a task that never started.
struct TConverterThread {
  std::thread Thread;
  std::atomic<bool> Done{false};
};

namespace {

// The components whose progress, preview, hook or synchronous termination handler this thread
// is running.
thread_local std::vector<const TCustomFFConverter*> ActiveHandlers;

struct THandlerScope {
  explicit THandlerScope(const TCustomFFConverter* owner) { ActiveHandlers.push_back(owner); }
  ~THandlerScope() { ActiveHandlers.pop_back(); }
  THandlerScope(const THandlerScope&) = delete;
  THandlerScope& operator=(const THandlerScope&) = delete;
};

// Guards the preview flags of every converter's tasks.
std::mutex& PreviewFlagsLock() {
  static std::mutex lock;
  return lock;
}

TThreadPriority PlatformPriority(TTaskPriority priority) {
  switch (priority) {
    case TTaskPriority::tpIdle: return TThreadPriority::tpIdle;
    case TTaskPriority::tpLowest: return TThreadPriority::tpLowest;
    case TTaskPriority::tpLower: return TThreadPriority::tpLower;
    default: return TThreadPriority::tpNormal;
  }
}

void LogQuietly(void* sender, TLogLevel level, const std::string& text) {
  try {
    TFFLogger::Instance().Log(sender, level, text);
  } catch (...) {
    // A failing log handler must not take a worker thread down with it.
  }
}

template <class T>
std::shared_ptr<const T> Share(T handler) {
  return handler ? std::make_shared<const T>(std::move(handler)) : nullptr;
}

}  // namespace

TCustomFFConverter::TCustomFFConverter() = default;

TCustomFFConverter::~TCustomFFConverter() {
  SetOnCustomHook(nullptr);
  SetOnPreviewBitmap(nullptr);
  SetOnProgress(nullptr);
  SetOnTerminate(nullptr);
  Stop(true);
  // Every thread started here uses this object until its very end.
  WaitPumping([this] {
    std::lock_guard lock(ThreadsMutex);
    return std::all_of(Threads.begin(), Threads.end(), [](const auto& t) { return t->Done.load(); });
  });
  std::lock_guard lock(ThreadsMutex);
  for (auto& t : Threads)
    if (t->Thread.joinable()) t->Thread.join();
}

// --- properties and handlers --------------------------------------------------------------

void TCustomFFConverter::SetPreview(bool value) {
  PreviewOn = value;
  ApplyPreviewFlags();
}

void TCustomFFConverter::SetPreviewBitmap(bool value) {
  PreviewBitmapOn = value;
  ApplyPreviewFlags();
}

unsigned TCustomFFConverter::PreviewFlags() const { return (PreviewOn ? 1u : 0u) | (PreviewBitmapOn ? 2u : 0u); }

void TCustomFFConverter::ApplyPreviewFlags() {
  std::lock_guard flagsLock(PreviewFlagsLock());
  std::lock_guard lock(StateMutex);
  for (const auto& task : Tasks) task->Engine.SetPreviewFlags(PreviewFlags());
}

// Handlers are swapped whole under the lock, so a running task always calls a complete one.
template <typename T>
T ReadHandler(std::mutex& mutex, const std::shared_ptr<const T>& slot) {
  std::lock_guard lock(mutex);
  return slot ? *slot : nullptr;
}
template <typename T>
void WriteHandler(std::mutex& mutex, std::shared_ptr<const T>& slot, T handler) {
  auto shared = Share(std::move(handler));
  std::lock_guard lock(mutex);
  slot = std::move(shared);
}

TCustomHookEvent TCustomFFConverter::OnCustomHook() const { return ReadHandler(HandlerMutex, HookHandler); }
void TCustomFFConverter::SetOnCustomHook(TCustomHookEvent handler) {
  WriteHandler(HandlerMutex, HookHandler, std::move(handler));
}
TPreviewBitmapEvent TCustomFFConverter::OnPreviewBitmap() const { return ReadHandler(HandlerMutex, PreviewHandler); }
void TCustomFFConverter::SetOnPreviewBitmap(TPreviewBitmapEvent handler) {
  WriteHandler(HandlerMutex, PreviewHandler, std::move(handler));
}
TProgressEvent TCustomFFConverter::OnProgress() const { return ReadHandler(HandlerMutex, ProgressHandler); }
void TCustomFFConverter::SetOnProgress(TProgressEvent handler) {
  WriteHandler(HandlerMutex, ProgressHandler, std::move(handler));
}
TTerminateEvent TCustomFFConverter::OnTerminate() const { return ReadHandler(HandlerMutex, TerminateHandler); }
void TCustomFFConverter::SetOnTerminate(TTerminateEvent handler) {
  WriteHandler(HandlerMutex, TerminateHandler, std::move(handler));
}

std::string TCustomFFConverter::LastErrorMessage() const {
  std::lock_guard lock(StateMutex);
  return LastError;
}

void TCustomFFConverter::SetLastError(const std::string& text) {
  std::lock_guard lock(StateMutex);
  LastError = text;
}

bool TCustomFFConverter::LoadLibraries(const std::string& folder) {
  TFFmpegLoader& loader = TFFmpegLoader::Instance();
  loader.SetLibraryPath(folder);
  if (loader.Load(ConverterLibraries)) return true;
  SetLastError(loader.LastErrorMessage());
  return false;
}

bool TCustomFFConverter::LibrariesLoaded() const { return TFFmpegLoader::Instance().Loaded(ConverterLibraries); }

// --- the task list -------------------------------------------------------------------------

void TCustomFFConverter::RejectWhileWorking(const char* operation) const {
  std::lock_guard lock(StateMutex);
  if (Working) throw EFFmpegError(Format("Cannot %s while working.", operation));
}

std::shared_ptr<TConverterTask> TCustomFFConverter::TaskAt(int index) const {
  std::lock_guard lock(StateMutex);
  if (index < 0 || index >= static_cast<int>(Tasks.size()))
    throw EAssertionFailed(Format("List index out of bounds (%d)", index));
  return Tasks[index];
}

int TCustomFFConverter::TasksCount() const {
  std::lock_guard lock(StateMutex);
  return static_cast<int>(Tasks.size());
}

TAVProbe* TCustomFFConverter::InputProbe(int task, int input) const {
  std::lock_guard lock(StateMutex);
  if (task < 0 || task >= static_cast<int>(Tasks.size())) return nullptr;
  return Tasks[task]->Engine.InputProbe(input);
}

int TCustomFFConverter::AddTask(const std::string& fileName) { return AddTaskWith(fileName, nullptr); }

int TCustomFFConverter::AddTask(const std::string& fileName, const TInputOptions& options) {
  return AddTaskWith(fileName, &options);
}

int TCustomFFConverter::AddTaskWith(const std::string& fileName, const TInputOptions* options) {
  RejectWhileWorking("AddTask");
  if (!LibrariesLoaded()) {
    SetLastError("The converter's libraries are not loaded.");
    return -1;
  }
  auto task = std::make_shared<TConverterTask>();
  try {
    TConverterTask* raw = task.get();
    TFFmpeg& engine = task->Engine;
    engine.Reset();
    engine.Options.Verbosity = 1;
    {
      std::lock_guard flagsLock(PreviewFlagsLock());
      engine.SetPreviewFlags(PreviewFlags());
    }
    engine.OnPreviewBitmap = [this, raw](const TPreviewInfo& info) { DoPreviewBitmap(*raw, info); };
    std::string name = fileName;
    if (options) {
      TInputOptions record = *options;
      if (record.FileName.empty()) record.FileName = fileName;
      name = record.FileName;
      task->InputRecords[engine.InputCount()] = record;
      ApplyInputOptions(engine, record);
    }
    if (!engine.OpenInput(name)) {
      SetLastError(engine.LastErrorMessage());
      return -1;
    }
    engine.OnProgress = [this, raw](TProgressInfo& info) { DoProgress(*raw, info); };
  } catch (const std::exception& e) {
    SetLastError(e.what());
    return -1;
  }
  std::lock_guard lock(StateMutex);
  if (Working) throw EFFmpegError("Cannot AddTask while working.");
  Tasks.push_back(std::move(task));
  return static_cast<int>(Tasks.size()) - 1;
}

bool TCustomFFConverter::SetOutputFile(int task, const std::string& fileName) {
  return SetOutputFileWith(task, fileName, nullptr);
}

bool TCustomFFConverter::SetOutputFile(int task, const std::string& fileName, const TOutputOptions& options) {
  return SetOutputFileWith(task, fileName, &options);
}

bool TCustomFFConverter::SetOutputFileWith(int index, const std::string& fileName, const TOutputOptions* options) {
  RejectWhileWorking("SetOutputFile");
  const std::shared_ptr<TConverterTask> task = TaskAt(index);
  TConverterTask* raw = task.get();
  TFFmpeg& engine = task->Engine;
  const int slot = engine.OutputCount();
  if (slot >= MaxFiles) {
    SetLastError(Format("max output files %d reached", MaxFiles));
    return false;
  }
  try {
    std::string name = fileName;
    bool join = false;
    TOutputStreamPlan plan;
    task->OutputRecords[slot] = TOutputOptions();
    if (options) {
      TOutputOptions record = *options;
      if (record.FileName.empty()) record.FileName = fileName;
      name = record.FileName;
      task->OutputRecords[slot] = record;
      plan = ApplyOutputOptions(engine, record);
      if (record.CustomHook) engine.OnCustomHook = [this, raw](THookInfo& info) { DoCustomHook(*raw, info); };
      join = record.Join;
    }
    if (engine.OpenOutput(name, join) < 0) {
      SetLastError(engine.LastErrorMessage());
      task->OutputRecords[slot] = TOutputOptions();
      return false;
    }
    if (options) AddRequestedStreams(engine, plan);
    return true;
  } catch (const std::exception& e) {
    SetLastError(e.what());
    if (engine.OutputCount() == slot) task->OutputRecords[slot] = TOutputOptions();
    return false;
  }
}

void TCustomFFConverter::RemoveTask(int index) {
  RejectWhileWorking("RemoveTask");
  std::shared_ptr<TConverterTask> removed;
  {
    std::lock_guard lock(StateMutex);
    if (index < 0 || index >= static_cast<int>(Tasks.size()))
      throw EAssertionFailed(Format("List index out of bounds (%d)", index));
    removed = std::move(Tasks[index]);
    Tasks.erase(Tasks.begin() + index);
  }
}

void TCustomFFConverter::ClearTasks() {
  std::vector<std::shared_ptr<TConverterTask>> freed;
  {
    std::lock_guard lock(StateMutex);
    if (Working && !AllTerminated) throw EFFmpegError("Cannot ClearTasks while working.");
    // A job that is still unwinding holds its own reference, so its task outlives this.
    freed.swap(Tasks);
    LastError.clear();
    FinishedCount = NextIndex = ToStart = 0;
    AllTerminated = Threaded = Working = false;
  }
  freed.clear();
  ReapThreads();
}

// --- runs ----------------------------------------------------------------------------------

void TCustomFFConverter::StartTask(int count) {
  std::vector<std::shared_ptr<TConverterTask>> run;
  const bool threaded = count > 0;
  {
    std::lock_guard lock(StateMutex);
    if (Working) throw EFFmpegError("Cannot StartTask while working.");
    FinishedCount = 0;
    NextIndex = 0;
    ToStart = static_cast<int>(Tasks.size());
    AllTerminated = Tasks.empty();
    Threaded = threaded;
    Working = true;
    for (size_t i = 0; i < Tasks.size(); ++i) {
      Tasks[i]->Index = static_cast<int>(i);
      Tasks[i]->Engine.TaskIndex = static_cast<int>(i);
    }
    run = Tasks;
  }
  ReapThreads();
  if (run.empty()) {
    // Nothing to run is a run that has ended: the final notice lets the host close up.
    if (auto handler = [this] { std::lock_guard lock(HandlerMutex); return TerminateHandler; }())
      DeliverTerminate(handler, TTerminateInfo{-1, true, false, std::string()}, threaded, true);
    return;
  }
  if (threaded) {
    for (int i = 0; i < count && StartNextTask(); ++i) {
    }
    return;
  }
  while (StartNextTask()) {
  }
  WaitForSynchronousRun(run);
}

// Tasks stopped from a handler terminate on threads of their own; the synchronous call ends
// only when they, and the final notice, are through.
void TCustomFFConverter::WaitForSynchronousRun(const std::vector<std::shared_ptr<TConverterTask>>& tasks) {
  WaitPumping([&] {
    std::lock_guard lock(StateMutex);
    return std::all_of(tasks.begin(), tasks.end(), [](const auto& t) {
      return t->State == TConverterTask::TState::Created || t->Unwound.load();
    });
  });
}

bool TCustomFFConverter::StartNextTask() {
  std::shared_ptr<TConverterTask> task;
  bool threaded;
  {
    std::lock_guard lock(StateMutex);
    if (ToStart <= 0 || NextIndex >= static_cast<int>(Tasks.size())) return false;
    --ToStart;
    task = Tasks[NextIndex++];
    threaded = Threaded;
    // A task is started once: one already running or terminated is left alone.
    if (task->State != TConverterTask::TState::Created) return true;
    task->State = TConverterTask::TState::Running;
    task->HasWorker = threaded;
    task->Suspended = false;
  }
  task->Engine.ReportInterval = static_cast<int64_t>(ProgressInterval()) * 1000;
  if (!threaded) {
    task->Runner = std::this_thread::get_id();
    RunJob(*task);
    return true;
  }
  const TTaskPriority priority = ThreadPriority();
  try {
    Spawn([this, task, priority] {
      Platform().SetCurrentThreadPriority(PlatformPriority(priority));
      task->Runner = std::this_thread::get_id();
      RunJob(*task);
    });
  } catch (const std::system_error& e) {
    task->Exception = true;
    task->ExceptionMsg = e.what();
    LogQuietly(&task->Engine, llQuiet, task->ExceptionMsg);
    Terminate(*task);
    task->Unwound = true;
  }
  return true;
}

void TCustomFFConverter::RunJob(TConverterTask& task) {
  TFFmpeg& engine = task.Engine;
  const auto fail = [&](const std::string& text) {
    task.Exception = true;
    task.ExceptionMsg = text;
    LogQuietly(&engine, llQuiet, text);
  };
  if (engine.OutputCount() == 0) {
    fail("At least one output file must be specified");
  } else if (engine.InputCount() == 0) {
    fail("At least one input file must be specified");
  } else {
    try {
      engine.Transcode();
    } catch (const std::exception& e) {
      fail(e.what());
    } catch (...) {
      fail("Unknown error");
    }
  }
  Terminate(task);
  task.Unwound = true;
}

void TCustomFFConverter::Terminate(TConverterTask& task) {
  {
    std::lock_guard lock(StateMutex);
    task.State = TConverterTask::TState::Terminated;
    task.HasWorker = false;
    task.Suspended = false;
  }
  try {
    DoTerminate(task);
  } catch (const std::exception& e) {
    LogQuietly(this, llError, std::string("Error occurs OnTerminate: ") + e.what());
  }
}

void TCustomFFConverter::Pause() {
  std::lock_guard lock(StateMutex);
  for (const auto& task : Tasks)
    if (task->HasWorker && !task->Suspended) {
      task->Engine.SetPaused(true);
      task->Suspended = true;
    }
}

void TCustomFFConverter::Resume() {
  std::lock_guard lock(StateMutex);
  for (const auto& task : Tasks)
    if (task->HasWorker && task->Suspended) {
      task->Engine.SetPaused(false);
      task->Suspended = false;
    }
}

bool TCustomFFConverter::InHandler() const {
  return std::find(ActiveHandlers.begin(), ActiveHandlers.end(), this) != ActiveHandlers.end();
}

void TCustomFFConverter::Stop(bool wait) {
  std::vector<std::shared_ptr<TConverterTask>> tasks;
  {
    std::lock_guard lock(StateMutex);
    ToStart = 0;
    // Outside a run no task is part of one; they keep waiting for StartTask.
    if (!Working) return;
    tasks = Tasks;
  }
  const bool mayWait = wait && !InHandler();
  for (const auto& task : tasks) {
    bool running = false, neverStarted = false;
    {
      std::lock_guard lock(StateMutex);
      if (task->State == TConverterTask::TState::Running) {
        running = true;
        task->Suspended = false;
      } else if (task->State == TConverterTask::TState::Created) {
        // Claimed here, so no start can take it any more.
        task->State = TConverterTask::TState::Terminated;
        neverStarted = true;
      }
    }
    if (running) {
      task->Engine.RequestStop();
      task->Engine.SetPaused(false);
      if (mayWait && task->Runner.load() != std::this_thread::get_id())
        WaitPumping([&] { return task->Unwound.load(); });
    } else if (neverStarted) {
      auto terminate = [this, task] {
        Terminate(*task);
        task->Unwound = true;
      };
      try {
        Spawn(terminate);
      } catch (const std::system_error&) {
        terminate();
      }
      if (mayWait) WaitPumping([&] { return task->Unwound.load(); });
    }
  }
}

// --- events --------------------------------------------------------------------------------

void TCustomFFConverter::DoCustomHook(TConverterTask& task, THookInfo& info) {
  std::shared_ptr<const TCustomHookEvent> handler;
  {
    std::lock_guard lock(HandlerMutex);
    handler = HookHandler;
  }
  if (!handler) return;
  std::lock_guard lock(HookLock);
  HookRecord = info;
  HookRecord.TaskIndex = task.Index;
  {
    THandlerScope scope(this);
    // An exception goes back to the engine, which logs it and leaves the frame unchanged.
    (*handler)(this, &HookRecord);
  }
  info.Update = HookRecord.Update;
  info.StopHook = HookRecord.StopHook;
}

void TCustomFFConverter::DoPreviewBitmap(TConverterTask& task, const TPreviewInfo& info) {
  std::shared_ptr<const TPreviewBitmapEvent> handler;
  {
    std::lock_guard lock(HandlerMutex);
    handler = PreviewHandler;
  }
  if (!handler) return;
  std::lock_guard lock(PreviewLock);
  PreviewRecord = info;
  PreviewRecord.TaskIndex = task.Index;
  RunEvent(TriggerEventInMainThread(), [&] {
    THandlerScope scope(this);
    (*handler)(this, PreviewRecord);
  });
}

void TCustomFFConverter::DoProgress(TConverterTask& task, TProgressInfo& info) {
  std::shared_ptr<const TProgressEvent> handler;
  {
    std::lock_guard lock(HandlerMutex);
    handler = ProgressHandler;
  }
  if (!handler) return;
  std::lock_guard lock(ProgressLock);
  ProgressRecord = info;
  ProgressRecord.TaskIndex = task.Index;
  RunEvent(TriggerEventInMainThread(), [&] {
    THandlerScope scope(this);
    (*handler)(this, &ProgressRecord);
  });
}

void TCustomFFConverter::DoTerminate(TConverterTask& task) {
  std::lock_guard terminateLock(TerminateLock);
  std::shared_ptr<const TTerminateEvent> handler;
  {
    std::lock_guard lock(HandlerMutex);
    handler = TerminateHandler;
  }
  bool threaded;
  {
    std::lock_guard lock(StateMutex);
    threaded = Threaded;
  }
  if (handler) {
    TerminateRecord.TaskIndex = task.Index;
    TerminateRecord.Finished = task.Engine.Finished();
    TerminateRecord.Exception = task.Exception;
    TerminateRecord.ExceptionMsg = task.Exception ? task.ExceptionMsg : std::string();
    DeliverTerminate(handler, TerminateRecord, threaded, false);
  }
  bool final = false, startNext = false;
  {
    std::lock_guard lock(StateMutex);
    ++FinishedCount;
    if (ToStart <= 0) {
      if (FinishedCount == static_cast<int>(Tasks.size())) {
        AllTerminated = true;
        final = true;
      }
    } else {
      startNext = threaded;
    }
  }
  if (final && handler) DeliverTerminate(handler, TTerminateInfo{-1, true, false, std::string()}, threaded, true);
  if (startNext) StartNextTask();
}

void TCustomFFConverter::DeliverTerminate(const std::shared_ptr<const TTerminateEvent>& handler,
                                          const TTerminateInfo& info, bool threaded, bool final) {
  const auto call = [this, handler](const TTerminateInfo& record) {
    try {
      (*handler)(this, record);
    } catch (const std::exception& e) {
      LogQuietly(this, llError, std::string("Error occurs OnTerminate: ") + e.what());
    }
  };
  if (!threaded) {
    THandlerScope scope(this);
    call(info);
    return;
  }
  if (!final) {
    std::lock_guard lock(NoticeMutex);
    ++PendingNotices;
  }
  auto deliver = [this, call, info, final] {
    if (final) {
      // The final notice comes last: after every task's own notice has been handled.
      std::unique_lock lock(NoticeMutex);
      NoticesDelivered.wait(lock, [this] { return PendingNotices == 0; });
    }
    call(info);
    if (!final) {
      std::lock_guard lock(NoticeMutex);
      --PendingNotices;
      NoticesDelivered.notify_all();
    }
  };
  try {
    Spawn(deliver);
  } catch (const std::system_error&) {
    deliver();
  }
}

// --- threads -------------------------------------------------------------------------------

void TCustomFFConverter::Spawn(std::function<void()> body) {
  ReapThreads();
  auto slot = std::make_unique<TConverterThread>();
  TConverterThread* raw = slot.get();
  std::lock_guard lock(ThreadsMutex);
  raw->Thread = std::thread([raw, body = std::move(body)]() mutable {
    body();
    // What the body holds (possibly the last reference to a task) goes before the thread counts
    // as done, so joining it never waits for long.
    body = nullptr;
    raw->Done = true;
  });
  Threads.push_back(std::move(slot));
}

void TCustomFFConverter::ReapThreads() {
  std::list<std::unique_ptr<TConverterThread>> finished;
  {
    std::lock_guard lock(ThreadsMutex);
    for (auto it = Threads.begin(); it != Threads.end();) {
      const auto next = std::next(it);
      if ((*it)->Done && (*it)->Thread.get_id() != std::this_thread::get_id())
        finished.splice(finished.end(), Threads, it);
      it = next;
    }
  }
  for (auto& t : finished) t->Thread.join();
}
