// One open file of the player: the demultiplexing and decoding threads, the queues between
// them, the audio device and the display state. Private to player/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PlayerQueues.h"
#include "engine/Bitmap24.h"
#include "engine/FFmpegRAII.h"
#include "engine/UnicodeProtocol.h"
#include "engine/VideoSurface.h"

class TFFPlayer;

struct TPlayerOptions {
  std::string FileName;
  VideoSurface* Surface = nullptr;
  bool StartPaused = false;
  bool DisableAudio = false;
  bool DisableVideo = false;
  bool DisableDisplay = false;
  int FrameWidth = 0;
  int FrameHeight = 0;
};

// A bitmap subtitle, converted to BGRA at the video's coordinates.
struct TSubtitleRect {
  int X = 0, Y = 0, W = 0, H = 0;
  std::vector<uint8_t> Bgra;
};
struct TSubtitleItem {
  double Start = 0.0, End = 0.0;  // seconds, stream time
  int Serial = 0;
  std::vector<TSubtitleRect> Rects;
  std::string Text;  // text subtitles, for the host to draw
};

// The words of a text subtitle rectangle: an ASS event loses its leading fields and its
// override blocks, "\N" becomes a line break.
std::string SubtitlePlainText(const AVSubtitleRect& rect);

// Where a picture lands inside the display area.
struct TPictureRect {
  int X = 0, Y = 0, W = 0, H = 0;
};
// The aspect rule: full height, else full width; both even; centred. `aspect` <= 0 fills.
TPictureRect FitPicture(int areaWidth, int areaHeight, double aspect);

class TPlayerStream {
 public:
  TPlayerStream(TFFPlayer& owner, const TPlayerOptions& options);
  ~TPlayerStream();
  TPlayerStream(const TPlayerStream&) = delete;
  TPlayerStream& operator=(const TPlayerStream&) = delete;

  // Starts the demultiplexing thread and waits, pumping the dispatcher, until the file is
  // open or opening failed (the reason in `error`).
  bool Open(std::string& error);
  // Ends every thread and closes the decoders and the audio device. The container stays
  // open, so the probe attached to it stays valid until the stream is destroyed.
  void Stop();
  bool Stopped() const { return IsStopped; }

  AVFormatContext* Container() const { return Input.get(); }
  int64_t DurationUs() const;
  bool HasVideo() const { return VideoIndex >= 0; }
  int VideoWidth() const;
  int VideoHeight() const;
  bool IsImageSequence() const { return ImageInput; }

  // Play thread.
  void StartPlayback();
  // Shows what is due; returns the seconds until it wants to be called again.
  double Refresh();
  void Redraw();

  // Main thread, under the player mutex.
  void TogglePause();
  bool IsPaused() const { return Paused.load() || StartPausePending.load(); }
  bool PauseFlag() const { return Paused.load(); }
  // False when a seek is still pending.
  bool RequestSeek(int64_t position, int flags);
  bool SeekSettled() const;
  // The shown picture at the video size; false without one.
  bool Snapshot(TBitmap24& bitmap, int64_t& position);
  bool ReadBlocked() const { return ReadBusy.load(); }

 private:
  // PlayerDemux.cpp
  void DemuxThread();
  void OpenInput();
  void OpenComponents();
  bool OpenDecoder(int index, TCodecContext& codec);
  void ReadLoop();
  bool QueuesFull() const;
  void ReadOnePacket(AVPacket* packet);
  void DoSeek();
  void FinishOpen(int result, const std::string& error);
  static int InterruptCallback(void* opaque);
  void StartThread(std::thread& thread, void (TPlayerStream::*body)());

  // Decoding shared by the decoder threads: 1 frame, 0 end of stream, -1 aborted.
  int DecodeFrame(AVCodecContext* codec, TPacketQueue& queue, int& serial, bool& pending,
                  AVFrame* frame);

  // PlayerVideo.cpp
  void VideoThread();
  bool QueuePicture(AVFrame* frame, double pts, double duration, int serial);
  bool HookIntoFrame(AVFrame* source, TFrame& hooked, int64_t ptsUs);
  void SubtitleThread();
  bool ConvertSubtitle(const AVSubtitle& sub, double pts, int serial);

  // PlayerDisplay.cpp
  double RefreshVideo();
  double RefreshAudioOnly();
  bool TakeDuePicture(double& remaining);
  double TargetDelay(double delay) const;
  double MasterClock() const;
  void Present(int64_t timeUs);
  void DrawPicture(const TPicture& picture);
  void BlendSubtitles(double pts);
  void BlendSubtitleRect(const TSubtitleRect& rect);
  void DrawWave();
  void PrepareArea(int width, int height);
  void CheckSurfaceSize();
  void CheckEnd();
  bool AtEnd() const;
  void AfterPictureShown(const TPicture& picture);
  int64_t ToFileTime(double seconds) const;

  // PlayerAudio.cpp
  bool OpenAudioDevice(AVCodecContext* codec);
  void AudioThread();
  bool ConvertAudio(AVFrame* frame, TAudioBlock& block);
  static void AudioCallback(void* opaque, uint8_t* stream, int length);
  void FillAudio(uint8_t* stream, int length);
  bool NextAudioBlock();
  void KeepWave(const uint8_t* data, int length);

  TFFPlayer& Owner;
  const TPlayerOptions Options;

  std::unique_ptr<TUnicodeFile> Io;
  TInputFormat Input;
  bool ImageInput = false;
  std::atomic<bool> Abort{false};
  std::atomic<bool> ReadBusy{false};
  bool IsStopped = false;
  int ReadFailures = 0;
  std::thread Demuxer, VideoDecoder, AudioDecoder, SubtitleDecoder;
  std::atomic<int> Running{0};  // threads that have not finished their body

  std::mutex OpenMutex;
  std::condition_variable OpenSignal;
  int OpenResult = 0;  // 0 opening, 1 open, -1 failed
  std::string OpenError;

  int VideoIndex = -1, AudioIndex = -1, SubtitleIndex = -1;
  TCodecContext VideoCodec, AudioCodec, SubtitleCodec;
  TPacketQueue VideoPackets, AudioPackets, SubtitlePackets;
  TBoundedQueue<TPicture> Pictures{2};
  TBoundedQueue<TAudioBlock> AudioBlocks{8};
  TBoundedQueue<TSubtitleItem> Subtitles{4};
  TClock AudioClock{AudioPackets.SerialPointer()};
  TClock VideoClock{VideoPackets.SerialPointer()};
  TClock ExternalClock;
  std::atomic<int> VideoFinished{-1}, AudioFinished{-1};

  // Seeking, between the caller and the demultiplexing thread.
  std::mutex SeekMutex;
  bool SeekRequested = false;
  int64_t SeekTarget = 0;
  int SeekFlags = 0;
  std::atomic<bool> SeekPending{false};
  std::atomic<bool> SeekDone{true};
  std::atomic<bool> FirstPictureShown{true};
  std::atomic<int> AccurateSerial{-1}, AccurateAudioSerial{-1};
  std::atomic<double> AccurateTarget{0.0};
  std::atomic<bool> Eof{false};
  std::mutex WakeMutex;
  std::condition_variable DemuxWake;

  std::atomic<bool> Paused{false};
  std::atomic<bool> StartPausePending{false};
  int PicturesShown = 0;

  // Display, on the play thread (and the snapshot, under the player mutex).
  TPicture Shown;
  bool HasShown = false;
  double FrameTimer = 0.0;
  bool EndReported = false;
  std::atomic<bool> NewPictureQueued{false};
  TBitmap24 Display;
  TPictureRect Placed;
  TSurfaceSize LastClientSize;
  TSwsContext DisplayScaler, SnapshotScaler;
  double LastWaveTime = 0.0;
  std::vector<TSubtitleItem> ActiveSubtitles;
  std::string DueText;        // text of the subtitles due with the last picture drawn
  std::string PresentedText;  // what the surface was last given

  // Hook work area, on the video-decoding thread.
  TBitmap24 HookBitmap;
  TSwsContext ToRgb, FromRgb;
  int LastWidth = 0, LastHeight = 0, LastFormat = -1;

  // Audio output.
  uint32_t Device = 0;
  int DeviceFormat = -1;  // AVSampleFormat
  int DeviceRate = 0, DeviceChannels = 0, DeviceSdlFormat = 0;
  int BytesPerSecond = 0;
  TSwrContext Resampler;
  AVChannelLayout ResamplerLayout{};
  int ResamplerFormat = -1, ResamplerRate = 0;
  TAudioBlock Playing;  // callback thread only
  size_t PlayingOffset = 0;
  std::mutex WaveMutex;
  std::vector<float> Wave;  // the latest samples of the first channels, for the picture
  size_t WaveHead = 0;
};
