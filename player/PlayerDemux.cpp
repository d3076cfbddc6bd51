// Opening the file and the demultiplexing thread: packets into the per-stream queues, seeks.
#include <cstring>

#include "FFPlay.h"
#include "PlayerStream.h"
#include "engine/CodecLock.h"
#include "engine/EngineError.h"
#include "engine/FFUtils.h"
#include "PlayerLog.h"
#include "engine/MainThreadDispatcher.h"

namespace {

constexpr int MinQueuedPackets = 25;
constexpr int64_t MaxQueuedBytes = 15 * 1024 * 1024;
constexpr int ReadErrorLimit = 50;  // consecutive failed reads that count as the end
constexpr auto IdleWait = std::chrono::milliseconds(10);

}  // namespace

TPlayerStream::TPlayerStream(TFFPlayer& owner, const TPlayerOptions& options)
    : Owner(owner), Options(options), StartPausePending(options.StartPaused) {}

TPlayerStream::~TPlayerStream() {
  Stop();
  Lib.av_channel_layout_uninit(&ResamplerLayout);
}

int64_t TPlayerStream::DurationUs() const {
  return Input && Input->duration != AV_NOPTS_VALUE ? Input->duration : -1;
}

int TPlayerStream::VideoWidth() const {
  return HasVideo() ? Input->streams[VideoIndex]->codecpar->width : 0;
}

int TPlayerStream::VideoHeight() const {
  return HasVideo() ? Input->streams[VideoIndex]->codecpar->height : 0;
}

bool TPlayerStream::Open(std::string& error) {
  try {
    StartThread(Demuxer, &TPlayerStream::DemuxThread);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  WaitPumping([&] {
    std::lock_guard lock(OpenMutex);
    return OpenResult != 0;
  });
  std::lock_guard lock(OpenMutex);
  if (OpenResult > 0) return true;
  error = OpenError;
  return false;
}

void TPlayerStream::FinishOpen(int result, const std::string& error) {
  std::lock_guard lock(OpenMutex);
  OpenResult = result;
  OpenError = error;
}

void TPlayerStream::Stop() {
  if (IsStopped) return;
  IsStopped = true;
  Abort = true;
  for (TPacketQueue* q : {&VideoPackets, &AudioPackets, &SubtitlePackets}) q->Abort();
  Pictures.Abort();
  AudioBlocks.Abort();
  Subtitles.Abort();
  DemuxWake.notify_all();
  if (Device) Lib.SDL_CloseAudioDevice(Device);
  Device = 0;
  // A worker may be handing a log line to the main thread; a main thread here keeps pumping.
  WaitPumping([&] { return Running.load() == 0; });
  for (std::thread* t : {&Demuxer, &VideoDecoder, &AudioDecoder, &SubtitleDecoder})
    if (t->joinable()) t->join();
  {
    std::lock_guard lock(CodecLock());
    VideoCodec.reset();
    AudioCodec.reset();
    SubtitleCodec.reset();
  }
  SeekDone = true;
  FirstPictureShown = true;
}

int TPlayerStream::InterruptCallback(void* opaque) {
  return static_cast<TPlayerStream*>(opaque)->Abort.load() ? 1 : 0;
}

void TPlayerStream::DemuxThread() {
  try {
    OpenInput();
    OpenComponents();
  } catch (const std::exception& e) {
    FinishOpen(-1, e.what());
    return;
  }
  FinishOpen(1, "");
  try {
    ReadLoop();
  } catch (const std::exception& e) {
    PlayerLog(&Owner, llError, e.what());
  }
}

void TPlayerStream::OpenInput() {
  AVFormatContext* ic = Lib.avformat_alloc_context();
  if (!ic) throw EFFmpegError("av_mallocz() failed.");
  ic->interrupt_callback.callback = &TPlayerStream::InterruptCallback;
  ic->interrupt_callback.opaque = this;
  TDictionary options;
  if (Options.FrameWidth > 0 && Options.FrameHeight > 0) {
    Lib.av_dict_set(&options.Ptr, "video_size",
                    Format("%dx%d", Options.FrameWidth, Options.FrameHeight).c_str(), 0);
    Lib.av_dict_set(&options.Ptr, "framerate", "25", 0);
  }
  const int opened = OpenInputFile(&ic, Io, ConvertFileName(Options.FileName), nullptr, &options.Ptr);
  if (opened < 0) throw EFFmpegError(ErrorText(Options.FileName, opened));
  Input.reset(ic);
  ImageInput = std::strcmp(ic->iformat->name, "image2") == 0;
  int found;
  {
    std::lock_guard lock(CodecLock());
    found = Lib.avformat_find_stream_info(ic, nullptr);
  }
  if (found < 0) throw EFFmpegError(Format("%s: could not find codec parameters", Options.FileName.c_str()));
}

bool TPlayerStream::OpenDecoder(int index, TCodecContext& codec) {
  AVStream* st = Input->streams[index];
  const AVCodec* decoder = Lib.avcodec_find_decoder(st->codecpar->codec_id);
  TCodecContext context(decoder ? Lib.avcodec_alloc_context3(decoder) : nullptr);
  int result = context ? Lib.avcodec_parameters_to_context(context.get(), st->codecpar) : -1;
  if (result >= 0) {
    context->pkt_timebase = st->time_base;
    context->thread_count = 0;
    std::lock_guard lock(CodecLock());
    result = Lib.avcodec_open2(context.get(), decoder, nullptr);
  }
  if (result < 0 || !context) {
    PlayerLog(&Owner, llError, "avcodec_open() failed.");
    std::lock_guard lock(CodecLock());
    context.reset();
    return false;
  }
  codec = std::move(context);
  return true;
}

void TPlayerStream::OpenComponents() {
  AVFormatContext* ic = Input.get();
  if (!Options.DisableVideo) {
    const int index = Lib.av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0 && OpenDecoder(index, VideoCodec)) VideoIndex = index;
  }
  if (!Options.DisableAudio) {
    const int index = Lib.av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, VideoIndex, nullptr, 0);
    if (index >= 0 && OpenDecoder(index, AudioCodec)) {
      if (OpenAudioDevice(AudioCodec.get())) {
        AudioIndex = index;
      } else {
        std::lock_guard lock(CodecLock());
        AudioCodec.reset();
      }
    }
  }
  if (VideoIndex >= 0) {
    const int index = Lib.av_find_best_stream(ic, AVMEDIA_TYPE_SUBTITLE, -1, VideoIndex, nullptr, 0);
    if (index >= 0 && OpenDecoder(index, SubtitleCodec)) SubtitleIndex = index;
  }
  if (VideoIndex < 0 && AudioIndex < 0)
    throw EFFmpegError(Format("%s: could not open codecs, no stream to play.", Options.FileName.c_str()));
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (static_cast<int>(i) != VideoIndex && static_cast<int>(i) != AudioIndex &&
        static_cast<int>(i) != SubtitleIndex)
      ic->streams[i]->discard = AVDISCARD_ALL;
  if (VideoIndex >= 0) VideoPackets.Start(), StartThread(VideoDecoder, &TPlayerStream::VideoThread);
  if (AudioIndex >= 0) AudioPackets.Start(), StartThread(AudioDecoder, &TPlayerStream::AudioThread);
  if (SubtitleIndex >= 0)
    SubtitlePackets.Start(), StartThread(SubtitleDecoder, &TPlayerStream::SubtitleThread);
}

void TPlayerStream::StartThread(std::thread& thread, void (TPlayerStream::*body)()) {
  ++Running;
  try {
    thread = std::thread([this, body] {
      try {
        (this->*body)();
      } catch (const std::exception& e) {
        PlayerLog(&Owner, llError, e.what());
      } catch (...) {
      }
      --Running;
    });
  } catch (const std::exception&) {
    --Running;
    throw EFFmpegError("SDL_CreateThread() failed.");
  }
}

// ---- Reading ----------------------------------------------------------------------------

bool TPlayerStream::QueuesFull() const {
  const int64_t bytes = VideoPackets.Bytes() + AudioPackets.Bytes() + SubtitlePackets.Bytes();
  if (bytes > MaxQueuedBytes) return true;
  return (AudioIndex < 0 || AudioPackets.Count() > MinQueuedPackets) &&
         (VideoIndex < 0 || VideoPackets.Count() > MinQueuedPackets);
}

void TPlayerStream::ReadLoop() {
  TPacket packet(Lib.av_packet_alloc());
  if (!packet) throw EFFmpegError("av_mallocz() failed.");
  bool readPaused = false;
  while (!Abort) {
    if (Paused != readPaused) {
      readPaused = Paused;
      readPaused ? Lib.av_read_pause(Input.get()) : Lib.av_read_play(Input.get());
    }
    bool seek;
    {
      std::lock_guard lock(SeekMutex);
      seek = SeekRequested;
    }
    if (seek) DoSeek();
    if (QueuesFull() || Eof) {
      std::unique_lock lock(WakeMutex);
      DemuxWake.wait_for(lock, IdleWait);
      continue;
    }
    ReadOnePacket(packet.get());
  }
}

void TPlayerStream::ReadOnePacket(AVPacket* packet) {
  ReadBusy = true;
  const int result = Lib.av_read_frame(Input.get(), packet);
  ReadBusy = false;
  if (result < 0) {
    const bool end = result == AVERROR_EOF || (Input->pb && Lib.avio_feof(Input->pb)) ||
                     ++ReadFailures > ReadErrorLimit;
    if (result != AVERROR_EOF && result != AVERROR(EAGAIN))
      PlayerLogFmt(&Owner, llError, "error #%d while reading file: %s", result,
                                   ErrorCodeText(result).c_str());
    if (end && !Eof) {
      for (auto [index, queue] : {std::pair{VideoIndex, &VideoPackets}, {AudioIndex, &AudioPackets},
                                  {SubtitleIndex, &SubtitlePackets}})
        if (index >= 0) queue->PutEnd();
      Eof = true;
      PlayerLogFmt(&Owner, llInfo, "reach end of file: %s", Options.FileName.c_str());
    }
    return;
  }
  ReadFailures = 0;
  Eof = false;
  if (packet->stream_index == VideoIndex)
    VideoPackets.Put(packet);
  else if (packet->stream_index == AudioIndex)
    AudioPackets.Put(packet);
  else if (packet->stream_index == SubtitleIndex)
    SubtitlePackets.Put(packet);
  else
    Lib.av_packet_unref(packet);
}

bool TPlayerStream::RequestSeek(int64_t position, int flags) {
  if (!SeekSettled()) return false;
  int64_t target = position;
  if (!(flags & AVSEEK_FLAG_BYTE)) {
    const int64_t duration = DurationUs();
    if (duration > 0 && target > duration) target = duration;
    if (Input->start_time != AV_NOPTS_VALUE) target += Input->start_time;
  }
  {
    std::lock_guard lock(SeekMutex);
    SeekRequested = true;
    SeekTarget = target;
    SeekFlags = flags;
    SeekDone = false;
    FirstPictureShown = false;
  }
  DemuxWake.notify_all();
  return true;
}

bool TPlayerStream::SeekSettled() const { return SeekDone && FirstPictureShown; }

// "Any frame" seeks to the key frame before the target and lets the decoders drop what lies
// before it, so the first picture shown is the one asked for.
void TPlayerStream::DoSeek() {
  int64_t target;
  int flags;
  {
    std::lock_guard lock(SeekMutex);
    target = SeekTarget;
    flags = SeekFlags;
  }
  AVFormatContext* ic = Input.get();
  int result;
  if (flags & AVSEEK_FLAG_BYTE)
    result = Lib.av_seek_frame(ic, -1, target, AVSEEK_FLAG_BYTE | (flags & AVSEEK_FLAG_BACKWARD));
  else if ((flags & (AVSEEK_FLAG_ANY | AVSEEK_FLAG_BACKWARD)) && target > 0)
    result = Lib.avformat_seek_file(ic, -1, INT64_MIN, target, target, 0);
  else
    result = Lib.avformat_seek_file(ic, -1, target, target, INT64_MAX, 0);
  if (result < 0 && !(flags & AVSEEK_FLAG_BYTE))
    result = Lib.avformat_seek_file(ic, -1, INT64_MIN, target, INT64_MAX, 0);
  if (result < 0) {
    PlayerLogFmt(&Owner, llError, "%s: error while seeking", Options.FileName.c_str());
  } else {
    for (TPacketQueue* q : {&VideoPackets, &AudioPackets, &SubtitlePackets}) q->Flush();
    const bool accurate = (flags & AVSEEK_FLAG_ANY) && !(flags & AVSEEK_FLAG_BYTE);
    AccurateTarget = target / static_cast<double>(AV_TIME_BASE);
    AccurateSerial = accurate ? VideoPackets.Serial() : -1;
    AccurateAudioSerial = accurate ? AudioPackets.Serial() : -1;
    ExternalClock.Set(target / static_cast<double>(AV_TIME_BASE), 0);
    Eof = false;
  }
  std::lock_guard lock(SeekMutex);
  SeekRequested = false;
  if (result < 0 || VideoIndex < 0) FirstPictureShown = true;
  SeekDone = true;
}

// ---- Decoding shared by the decoder threads -----------------------------------------------

int TPlayerStream::DecodeFrame(AVCodecContext* codec, TPacketQueue& queue, int& serial,
                               bool& pending, AVFrame* frame) {
  for (;;) {
    if (pending && serial == queue.Serial()) {
      const int r = Lib.avcodec_receive_frame(codec, frame);
      if (r >= 0) return 1;
      if (r == AVERROR_EOF) {
        pending = false;
        Lib.avcodec_flush_buffers(codec);
        return 0;
      }
      if (r != AVERROR(EAGAIN)) pending = false;
    }
    TPacketQueue::TEntry entry;
    if (!queue.Get(entry)) return -1;
    if (entry.Serial != serial) {
      Lib.avcodec_flush_buffers(codec);
      serial = entry.Serial;
    }
    if (entry.Serial != queue.Serial()) continue;
    const int sent = Lib.avcodec_send_packet(codec, entry.Packet.get());
    pending = true;
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF)
      PlayerLogFmt(&Owner, llWarning, "decoding failed: %s", ErrorCodeText(sent).c_str());
  }
}
