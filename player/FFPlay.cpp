#include "FFPlay.h"

#include <chrono>
#include <cstdlib>
#include <utility>

#include "PlayerEvents.h"
#include "PlayerStream.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "PlayerLog.h"
#include "engine/MainThreadDispatcher.h"
#include "platform/Platform.h"

namespace {

enum TPlayCommand { pcQuit = 1, pcRedraw = 2 };

constexpr auto Slice = std::chrono::milliseconds(100);
constexpr int CloseSlices = 20;         // then the stream is closed from here
constexpr int BlockedReadSlices = 10;   // sooner when the reader hangs in the file
constexpr auto SeekWaitLimit = std::chrono::seconds(10);

const char* AudioDriverLabel(TAudioDriver driver) {
  return driver == adDirectSound ? "dsound" : driver == adWaveOut ? "waveout" : "";
}
const char* VideoDriverLabel(TVideoDriver driver) {
  return driver == vdDirectDraw ? "directx" : driver == vdGDI ? "windib" : "";
}

// The player mutex as the main thread takes it: a worker holding it may be waiting for a call
// on the main thread (an event, a log line), so the main thread pumps until it gets the lock.
class TMainLock {
 public:
  explicit TMainLock(std::recursive_mutex& mutex) : Mutex(mutex) {
    MainThreadDispatcher* dispatcher = GetMainThreadDispatcher();
    if (dispatcher && dispatcher->isMainThread()) {
      while (!Mutex.try_lock()) dispatcher->pumpFor(std::chrono::milliseconds(1));
    } else {
      Mutex.lock();
    }
  }
  ~TMainLock() { Mutex.unlock(); }
  TMainLock(const TMainLock&) = delete;
  TMainLock& operator=(const TMainLock&) = delete;

 private:
  std::recursive_mutex& Mutex;
};

struct THandlerScope {
  explicit THandlerScope(std::atomic<int>& depth) : Depth(depth) { ++Depth; }
  ~THandlerScope() { --Depth; }
  std::atomic<int>& Depth;
};

}  // namespace

struct TEventSession {
  TPlayerEventRing Ring;
  std::atomic<bool> Finished{true};
  std::thread Worker;
};

std::string AudioDriverName(TAudioDriver) { return ""; }
std::string VideoDriverName(TVideoDriver) { return ""; }

TFFPlayer::TFFPlayer() : Events(std::make_shared<TEventSession>()) {}

TFFPlayer::~TFFPlayer() {
  {
    std::lock_guard lock(HandlerMutex);
    FileOpenHandler = nullptr;
    HookHandler = nullptr;
    PositionHandler = nullptr;
    StateHandler = nullptr;
  }
  Close(true);
  JoinEventThreads(true);
}

bool TFFPlayer::LoadLibraries(const std::string& folder) {
  TFFmpegLoader& loader = TFFmpegLoader::Instance();
  loader.SetLibraryPath(folder);
  if (loader.Load(PlayerLibraries)) return true;
  std::lock_guard lock(ErrorMutex);
  ErrorText = loader.LastErrorMessage();
  return false;
}

bool TFFPlayer::LibrariesLoaded() const { return TFFmpegLoader::Instance().Loaded(PlayerLibraries); }

std::string TFFPlayer::LastErrorMessage() const {
  std::lock_guard lock(ErrorMutex);
  return ErrorText;
}

std::string TFFPlayer::FileName() const {
  std::lock_guard lock(ErrorMutex);
  return CurrentFile;
}

bool TFFPlayer::Fail(const std::string& text) {
  PlayerLog(this, llError, text);
  std::lock_guard lock(ErrorMutex);
  ErrorText = text;
  return false;
}

void TFFPlayer::SetAspectRatio(float value) {
  if (Aspect.exchange(value) != value) PostCommand(pcRedraw);
}

void TFFPlayer::SetAudioVolume(int value) { Volume = value < 0 ? 0 : value > 128 ? 128 : value; }

void TFFPlayer::SetOnFileOpen(TFileOpenEvent handler) {
  std::lock_guard lock(HandlerMutex);
  FileOpenHandler = std::move(handler);
}
void TFFPlayer::SetOnHook(TPlayerHookEvent handler) {
  std::lock_guard lock(HandlerMutex);
  HookHandler = std::move(handler);
}
void TFFPlayer::SetOnPosition(TPositionEvent handler) {
  std::lock_guard lock(HandlerMutex);
  PositionHandler = std::move(handler);
}
void TFFPlayer::SetOnState(TStateEvent handler) {
  std::lock_guard lock(HandlerMutex);
  StateHandler = std::move(handler);
}

// ---- Open -------------------------------------------------------------------------------

bool TFFPlayer::Open(const std::string& fileName, VideoSurface* surface, bool startPaused) {
  if (!LibrariesLoaded()) return Fail("libav or libsdl not loaded.");
  Close(true);
  {
    std::lock_guard lock(ErrorMutex);
    ErrorText.clear();
  }
  return OpenStream(fileName, surface, startPaused);
}

bool TFFPlayer::OpenStream(const std::string& fileName, VideoSurface* surface, bool startPaused) {
  Surface = surface;
  if (!StartSdl()) return false;
  TPlayerOptions options;
  options.FileName = fileName;
  options.Surface = surface;
  options.StartPaused = startPaused;
  options.DisableAudio = NoAudio;
  options.DisableDisplay = NoDisplay;
  options.DisableVideo = NoVideo || NoDisplay;
  options.FrameWidth = ForcedWidth;
  options.FrameHeight = ForcedHeight;
  auto stream = std::make_unique<TPlayerStream>(*this, options);
  std::string error;
  if (!stream->Open(error)) {
    stream.reset();
    StopSdl();
    return Fail(error);
  }
  {
    TMainLock lock(PlayerMutex);
    Stream = std::move(stream);
    OwnProbe.AttachContext(Stream->Container());
  }
  {
    std::lock_guard lock(ErrorMutex);
    CurrentFile = fileName;
  }
  RaiseFileOpen();
  try {
    StartThreads();
  } catch (const std::exception&) {
    Close(true);
    return Fail("SDL_CreateThread() failed.");
  }
  return true;
}

// SDL2 has none of the Windows drivers, so a choice of one keeps SDL's default and says so.
static void ApplyDriverChoice(TFFPlayer* sender, const char* variable, const std::string& name,
                              const char* wanted) {
  if (!name.empty()) {
    Platform().SetEnv(variable, name);
  } else if (*wanted) {
    PlayerLogFmt(sender, llInfo, "%s \"%s\" is not available, using SDL's default",
                                 variable, wanted);
  }
}

bool TFFPlayer::StartSdl() {
  ApplyDriverChoice(this, "SDL_AUDIODRIVER", AudioDriverName(AudioDrv), AudioDriverLabel(AudioDrv));
  ApplyDriverChoice(this, "SDL_VIDEODRIVER", VideoDriverName(VideoDrv), VideoDriverLabel(VideoDrv));
  // Pictures go to the host's surface, so of SDL only the audio device and timers are used.
  const Uint32 systems = SDL_INIT_TIMER | (NoAudio ? 0 : SDL_INIT_AUDIO);
  if (Lib.SDL_InitSubSystem(systems) != 0) {
    return Fail(Format("Could not initialize SDL with ScreenHandle(%u): %s",
                       static_cast<unsigned>(reinterpret_cast<uintptr_t>(Surface)),
                       Lib.SDL_GetError()));
  }
  SdlSystems = systems;
  const char* audio = NoAudio ? nullptr : Lib.SDL_GetCurrentAudioDriver();
  PlayerLogFmt(this, llDebug, "using audio driver: %s\n", audio ? audio : "none");
  PlayerLogFmt(this, llDebug, "using video driver: %s\n", "host surface");
  return true;
}

void TFFPlayer::StopSdl() {
  if (SdlSystems == 0) return;
  Lib.SDL_QuitSubSystem(std::exchange(SdlSystems, 0));
}

void TFFPlayer::RaiseFileOpen() {
  int64_t duration = 0;
  int32_t width = -1, height = -1;
  {
    TMainLock lock(PlayerMutex);
    duration = Stream->IsImageSequence() ? 0 : Stream->DurationUs();
    if (Stream->HasVideo()) {
      width = Stream->VideoWidth();
      height = Stream->VideoHeight();
    }
  }
  TFileOpenEvent handler;
  {
    std::lock_guard lock(HandlerMutex);
    handler = FileOpenHandler;
  }
  if (handler) {
    int32_t screenWidth = AreaWidth, screenHeight = AreaHeight;
    try {
      RunEvent(ToMainThread, [&] { handler(this, duration, width, height, screenWidth, screenHeight); });
    } catch (const std::exception& e) {
      PlayerLog(this, llError, std::string("Error occurs OnFileOpen: ") + e.what());
    }
    AreaWidth = screenWidth;
    AreaHeight = screenHeight;
  }
  if ((AreaWidth == 0 || AreaHeight == 0) && Surface) {
    const TSurfaceSize size = Surface->clientSize();
    AreaWidth = size.Width;
    AreaHeight = size.Height;
  }
}

void TFFPlayer::StartThreads() {
  {
    std::lock_guard lock(CommandMutex);
    Commands = 0;
  }
  if (Events->Worker.joinable()) RetiredEvents.push_back(Events);
  Events = std::make_shared<TEventSession>();
  Events->Finished = false;
  PlayFinished = false;
  try {
    Events->Worker = std::thread(&TFFPlayer::EventThread, this, Events);
    PlayWorker = std::thread(&TFFPlayer::PlayThread, this);
  } catch (...) {
    if (!Events->Worker.joinable()) Events->Finished = true;
    PlayFinished = true;
    Events->Ring.Post({pekQuit, 0, 0});
    throw;
  }
}

// ---- Pause, resume, seek, snapshot --------------------------------------------------------

void TFFPlayer::Pause() {
  TMainLock lock(PlayerMutex);
  if (!Stream || Stream->Stopped() || Stream->IsPaused()) return;
  Stream->TogglePause();
  ReportState(psPause);
}

void TFFPlayer::Resume() {
  TMainLock lock(PlayerMutex);
  if (!Stream || Stream->Stopped() || !Stream->IsPaused()) return;
  Stream->TogglePause();
  ReportState(psResume);
}

bool TFFPlayer::Paused() const {
  TMainLock lock(PlayerMutex);
  return !Stream || Stream->Stopped() || Stream->IsPaused();
}

void TFFPlayer::Seek(int64_t position, int flags, bool wait) {
  {
    TMainLock lock(PlayerMutex);
    if (!Stream || Stream->Stopped() || !Stream->RequestSeek(position, flags)) return;
  }
  if (!wait) return;
  const auto settled = [&] {
    TMainLock lock(PlayerMutex);
    return !Stream || Stream->Stopped() || Stream->SeekSettled();
  };
  const auto deadline = std::chrono::steady_clock::now() + SeekWaitLimit;
  while (!WaitPumping(settled, Slice) && std::chrono::steady_clock::now() < deadline) {
  }
}

const TBitmap24& TFFPlayer::CurrentFrame(int64_t* position) {
  TMainLock lock(PlayerMutex);
  int64_t shown = -1;
  if (Stream && Stream->HasVideo()) {
    Snapshot.SetSize(Stream->VideoWidth(), Stream->VideoHeight());
    Snapshot.Clear();
    if (!Stream->Snapshot(Snapshot, shown)) shown = -1;
  } else {
    Snapshot.SetSize(0, 0);
  }
  if (position) *position = shown;
  return Snapshot;
}

// ---- Close ------------------------------------------------------------------------------

void TFFPlayer::PostCommand(int command) {
  {
    std::lock_guard lock(CommandMutex);
    Commands |= command;
  }
  CommandSignal.notify_all();
}

int TFFPlayer::WaitCommands(double seconds) {
  std::unique_lock lock(CommandMutex);
  if (Commands == 0 && seconds > 0)
    CommandSignal.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return Commands != 0; });
  return std::exchange(Commands, 0);
}

void TFFPlayer::PostQuit() { PostCommand(pcQuit); }

void TFFPlayer::ResumeForClose() {
  TMainLock lock(PlayerMutex);
  if (Stream && !Stream->Stopped() && Stream->PauseFlag()) Stream->TogglePause();
}

void TFFPlayer::Close(bool wait) {
  ResumeForClose();
  PostQuit();
  if (!wait) return;
  CloseWaiting();
  JoinFinishedThreads();
  StopSdl();
}

void TFFPlayer::CloseWaiting() {
  for (int slice = 1; !PlayFinished; ++slice) {
    if (WaitPumping([&] { return PlayFinished.load(); }, Slice)) break;
    TMainLock lock(PlayerMutex);
    PostQuit();
    const bool blocked = Stream && Stream->ReadBlocked();
    if (slice >= CloseSlices || (blocked && slice >= BlockedReadSlices)) {
      CloseStreamLocked();
      break;
    }
  }
  WaitPumping([&] { return PlayFinished.load(); });
  // The event thread ends with the stop notice. Called from one of its own events, it waits
  // for this call, so it is left to finish and joined later.
  if (HandlerDepth > 0) return;
  if (!WaitPumping([&] { return Events->Finished.load(); }, std::chrono::seconds(2))) {
    Events->Ring.Post({pekQuit, 0, 0});
    WaitPumping([&] { return Events->Finished.load(); });
  }
}

// Joins the event threads that have finished; with `all`, waits for each first (a thread
// still inside one of our handlers on this thread cannot finish and is left running).
void TFFPlayer::JoinEventThreads(bool all) {
  RetiredEvents.push_back(Events);
  for (auto& session : RetiredEvents) {
    if (all && session->Worker.joinable() && HandlerDepth == 0) {
      session->Ring.Post({pekQuit, 0, 0});
      WaitPumping([&] { return session->Finished.load(); });
    }
    if (session->Worker.joinable() && session->Finished) session->Worker.join();
  }
  RetiredEvents.pop_back();
  std::erase_if(RetiredEvents, [](const auto& session) { return !session->Worker.joinable(); });
  if (all)
    for (auto& session : RetiredEvents) session->Worker.detach();
}

void TFFPlayer::JoinFinishedThreads() {
  if (PlayWorker.joinable()) PlayWorker.join();
  JoinEventThreads(false);
  TMainLock lock(PlayerMutex);
  CloseStreamLocked();
  OwnProbe.Close();  // forgets the attached container before it goes
  Stream.reset();
}

void TFFPlayer::CloseStreamLocked() {
  if (!Stream || Stream->Stopped()) return;
  Stream->Stop();
  Position = -1;
  ReportedPosition = -1;
  if (Surface) Surface->clear();
}

// ---- Play thread ------------------------------------------------------------------------

void TFFPlayer::PlayThread() {
  ReportState(psPlay);
  {
    std::lock_guard lock(PlayerMutex);
    if (Stream) Stream->StartPlayback();
  }
  double remaining = 0.0;
  while (PlayStep(WaitCommands(remaining), remaining)) {
  }
  ReportState(psStop);
  PlayFinished = true;
}

// One turn of the display loop; false when the loop ends.
bool TFFPlayer::PlayStep(int commands, double& remaining) {
  std::lock_guard lock(PlayerMutex);
  if (!Stream || Stream->Stopped()) return false;
  try {
    if (commands & pcQuit) {
      CloseStreamLocked();
      return false;
    }
    if (commands & pcRedraw) Stream->Redraw();
    remaining = Stream->Refresh();
    return true;
  } catch (const std::exception& e) {
    PlayerLog(this, llFatal, std::string("PlayThread Exception: ") + e.what());
    CloseStreamLocked();
    return false;
  }
}

// ---- Events -----------------------------------------------------------------------------

void TFFPlayer::ReportState(TPlayState state) {
  CurrentState = state;
  bool wanted;
  {
    std::lock_guard lock(HandlerMutex);
    wanted = static_cast<bool>(StateHandler);
  }
  if (wanted)
    Events->Ring.Post({pekState, state, 0});
  else if (state == psStop)
    Events->Ring.Post({pekQuit, 0, 0});
}

void TFFPlayer::UpdatePosition(int64_t position) {
  Position = position;
  const int64_t reported = ReportedPosition;
  if (std::llabs(position - reported) <= 10000) return;
  ReportedPosition = position;
  bool wanted;
  {
    std::lock_guard lock(HandlerMutex);
    wanted = static_cast<bool>(PositionHandler);
  }
  if (wanted) Events->Ring.Post({pekPosition, 0, position});
}

bool TFFPlayer::HookWanted() {
  if (!HookOn) return false;
  std::lock_guard lock(HandlerMutex);
  return static_cast<bool>(HookHandler);
}

void TFFPlayer::CallHook(TBitmap24& bitmap, int64_t pts) {
  TPlayerHookEvent handler;
  {
    std::lock_guard lock(HandlerMutex);
    handler = HookHandler;
  }
  if (handler) handler(this, bitmap, pts);
}

void TFFPlayer::EventThread(TFFPlayer* self, std::shared_ptr<TEventSession> session) {
  for (;;) {
    TPlayerEvent event;
    if (!session->Ring.Take(event, std::chrono::seconds(1))) continue;
    if (event.Kind == pekQuit) break;
    self->DeliverEvent(event.Kind, static_cast<TPlayState>(event.State), event.Position);
    if (event.Kind == pekState && event.State == psStop) break;
  }
  session->Finished = true;
}

void TFFPlayer::DeliverEvent(int kind, TPlayState state, int64_t position) {
  TPositionEvent onPosition;
  TStateEvent onState;
  {
    std::lock_guard lock(HandlerMutex);
    onPosition = PositionHandler;
    onState = StateHandler;
  }
  try {
    if (kind == pekPosition && onPosition)
      RunEvent(ToMainThread, [&] {
        THandlerScope scope(HandlerDepth);
        onPosition(this, position);
      });
    else if (kind == pekState && onState)
      RunEvent(ToMainThread, [&] {
        THandlerScope scope(HandlerDepth);
        onState(this, state);
      });
  } catch (const std::exception& e) {
    PlayerLog(this, llError, std::string("Error occurs in an event handler: ") + e.what());
  } catch (...) {
    PlayerLog(this, llError, "Error occurs in an event handler");
  }
}
