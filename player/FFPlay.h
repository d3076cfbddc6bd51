// The player component: plays one media file into a host surface, with audio through SDL's
// audio device, and reports file-open, position and state events to its host.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Bitmap24.h"
#include "engine/VideoSurface.h"
#include "probe/AVProbe.h"

// Unscoped: the rest of the program reads `psEnd`, not `TPlayState::psEnd`.
enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };
enum TAudioDriver { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver { vdDefault, vdDirectDraw, vdGDI };

class TFFPlayer;
class TPlayerStream;
struct TEventSession;

using TFileOpenEvent =
    std::function<void(TFFPlayer* sender, int64_t duration, int32_t frameWidth,
                       int32_t frameHeight, int32_t& screenWidth, int32_t& screenHeight)>;
// Runs on the video-decoding thread; the bitmap may be changed in place.
using TPlayerHookEvent = std::function<void(TFFPlayer* sender, TBitmap24& bitmap, int64_t pts)>;
using TPositionEvent = std::function<void(TFFPlayer* sender, int64_t pts)>;
using TStateEvent = std::function<void(TFFPlayer* sender, TPlayState state)>;

// The SDL driver variable value of a driver choice; "" keeps SDL's own choice. The Windows
// drivers have no counterpart in SDL2 here, so they give "" too.
std::string AudioDriverName(TAudioDriver driver);
std::string VideoDriverName(TVideoDriver driver);

class TFFPlayer {
 public:
  TFFPlayer();
  // Closes with waiting. Not from inside one of this player's own handlers: the handler's
  // caller still uses the player after the handler returns, so defer the destruction (a Qt
  // owner uses deleteLater).
  ~TFFPlayer();
  TFFPlayer(const TFFPlayer&) = delete;
  TFFPlayer& operator=(const TFFPlayer&) = delete;

  bool LoadLibraries(const std::string& folder);
  bool LibrariesLoaded() const;

  // Plays `fileName` into `surface` (null: decode without showing). Main thread only.
  bool Open(const std::string& fileName, VideoSurface* surface, bool startPaused = false);
  void Pause();
  void Resume();
  // flags: 1 backward, 2 position is a byte offset, 4 any frame (decodes up to the target).
  void Seek(int64_t position, int flags = 0, bool wait = false);
  void Close(bool wait);
  // The picture being shown, converted to 24 bits at the video size; black before the first
  // picture, empty without video. Owned by the player and overwritten by the next call.
  const TBitmap24& CurrentFrame(int64_t* position = nullptr);
  bool Paused() const;
  int64_t CurrentPosition() const { return Position.load(); }

  std::string LastErrorMessage() const;
  std::string FileName() const;
  VideoSurface* ScreenHandle() const { return Surface; }
  TPlayState State() const { return CurrentState.load(); }
  TAVProbe& Probe() { return OwnProbe; }
  std::string Version() const { return "2.3"; }
  std::string About;

  float AspectRatio() const { return Aspect.load(); }
  void SetAspectRatio(float value);
  TAudioDriver AudioDriver() const { return AudioDrv; }
  void SetAudioDriver(TAudioDriver value) { AudioDrv = value; }
  TVideoDriver VideoDriver() const { return VideoDrv; }
  void SetVideoDriver(TVideoDriver value) { VideoDrv = value; }
  int AudioVolume() const { return Volume.load(); }
  void SetAudioVolume(int value);
  bool Mute() const { return Muted.load(); }
  void SetMute(bool value) { Muted = value; }
  bool DisableAudio() const { return NoAudio; }
  void SetDisableAudio(bool value) { NoAudio = value; }
  bool DisableVideo() const { return NoVideo; }
  void SetDisableVideo(bool value) { NoVideo = value; }
  bool DisableDisplay() const { return NoDisplay; }
  void SetDisableDisplay(bool value) { NoDisplay = value; }
  int32_t FrameWidth() const { return ForcedWidth; }
  void SetFrameWidth(int32_t value) { ForcedWidth = value; }
  int32_t FrameHeight() const { return ForcedHeight; }
  void SetFrameHeight(int32_t value) { ForcedHeight = value; }
  bool Hook() const { return HookOn.load(); }
  void SetHook(bool value) { HookOn = value; }
  int32_t ScreenWidth() const { return AreaWidth.load(); }
  void SetScreenWidth(int32_t value) { AreaWidth = value; }
  int32_t ScreenHeight() const { return AreaHeight.load(); }
  void SetScreenHeight(int32_t value) { AreaHeight = value; }
  bool TriggerEventInMainThread() const { return ToMainThread.load(); }
  void SetTriggerEventInMainThread(bool value) { ToMainThread = value; }

  void SetOnFileOpen(TFileOpenEvent handler);
  void SetOnHook(TPlayerHookEvent handler);
  void SetOnPosition(TPositionEvent handler);
  void SetOnState(TStateEvent handler);

 private:
  friend class TPlayerStream;

  bool OpenStream(const std::string& fileName, VideoSurface* surface, bool startPaused);
  bool StartSdl();
  void StopSdl();
  void RaiseFileOpen();
  void StartThreads();
  void JoinFinishedThreads();
  void CloseWaiting();
  void ResumeForClose();
  void PostQuit();
  void CloseStreamLocked();
  bool Fail(const std::string& text);

  // Called by the stream's threads.
  void ReportState(TPlayState state);
  void UpdatePosition(int64_t position);
  bool HookWanted();
  void CallHook(TBitmap24& bitmap, int64_t pts);
  void PostCommand(int command);
  int WaitCommands(double seconds);
  void PlayThread();
  bool PlayStep(int commands, double& remaining);
  static void EventThread(TFFPlayer* self, std::shared_ptr<TEventSession> session);
  void JoinEventThreads(bool all);
  void DeliverEvent(int kind, TPlayState state, int64_t position);

  // Serialises event handling of the play thread against Close and the main thread's calls.
  mutable std::recursive_mutex PlayerMutex;
  std::unique_ptr<TPlayerStream> Stream;
  // The event thread of the current file and its ring. One still delivering an event when
  // the next file opens (a handler that reopens) is retired and joined once it has finished.
  std::shared_ptr<TEventSession> Events;
  std::vector<std::shared_ptr<TEventSession>> RetiredEvents;
  std::thread PlayWorker;
  std::atomic<bool> PlayFinished{true};
  // Requests to the play thread (bits of TPlayCommand), in place of the SDL event queue.
  std::mutex CommandMutex;
  std::condition_variable CommandSignal;
  int Commands = 0;
  std::atomic<int> HandlerDepth{0};  // events of this player running now
  uint32_t SdlSystems = 0;  // the SDL subsystems this player started

  mutable std::mutex ErrorMutex;
  std::string ErrorText;
  std::string CurrentFile;
  VideoSurface* Surface = nullptr;
  TAVProbe OwnProbe;
  TBitmap24 Snapshot;

  std::atomic<TPlayState> CurrentState{psStop};
  std::atomic<int64_t> Position{-1};
  std::atomic<int64_t> ReportedPosition{-1};

  std::atomic<float> Aspect{0.0f};
  TAudioDriver AudioDrv = adDefault;
  TVideoDriver VideoDrv = vdDefault;
  std::atomic<int> Volume{128};
  std::atomic<bool> Muted{false};
  bool NoAudio = false;
  bool NoVideo = false;
  bool NoDisplay = false;
  int32_t ForcedWidth = 0;
  int32_t ForcedHeight = 0;
  std::atomic<bool> HookOn{false};
  std::atomic<int32_t> AreaWidth{0};
  std::atomic<int32_t> AreaHeight{0};
  std::atomic<bool> ToMainThread{true};

  mutable std::mutex HandlerMutex;
  TFileOpenEvent FileOpenHandler;
  TPlayerHookEvent HookHandler;
  TPositionEvent PositionHandler;
  TStateEvent StateHandler;
};
