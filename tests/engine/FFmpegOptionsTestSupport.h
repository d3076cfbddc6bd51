// Helpers of the option-language tests: a log capture, a host stand-in, and an encoder run
// that opens a codec with a task's recorded options and feeds it generated frames.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EngineError.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegLogger.h"
#include "engine/FFmpegOptions.h"
#include "engine/FFmpegRAII.h"

struct TLoggedLine {
  void* Sender;
  TLogLevel Level;
  std::string Text;
};

// Collects what the logger delivers while it lives.
class TLogCapture {
 public:
  explicit TLogCapture(bool libraryLog = false) {
    TFFLogger& logger = TFFLogger::Instance();
    logger.SetTriggerEventInMainThread(false);
    logger.SetLogLevel(llInfo);
    if (libraryLog) logger.InstallLibraryHook();
    logger.SetOnLog([this](void* sender, uint32_t, TLogLevel level, const std::string& msg) {
      std::lock_guard lock(Mutex);
      Lines.push_back({sender, level, msg});
    });
  }
  ~TLogCapture() { TFFLogger::Instance().SetOnLog(nullptr); }
  std::vector<TLoggedLine> Take() {
    std::lock_guard lock(Mutex);
    return std::exchange(Lines, {});
  }
  // The lines that `sender` logged.
  std::vector<TLoggedLine> From(void* sender) {
    std::vector<TLoggedLine> mine;
    for (TLoggedLine& l : Take())
      if (l.Sender == sender) mine.push_back(l);
    return mine;
  }

 private:
  std::mutex Mutex;
  std::vector<TLoggedLine> Lines;
};

class TFakeHost : public IFFmpegOptionsHost {
 public:
  int Outputs = 0;
  bool HookAccepted = true;
  std::vector<AVMediaType> AddedStreams;
  std::vector<std::vector<std::string>> Hooks;
  std::vector<AVRational> TimeBases;

  int OutputFileCount() const override { return Outputs; }
  void AddStreamToLastOutput(AVMediaType kind) override { AddedStreams.push_back(kind); }
  bool AddFrameHook(const std::vector<std::string>& arguments) override {
    Hooks.push_back(arguments);
    return HookAccepted;
  }
  std::vector<AVRational> InputVideoTimeBases() const override { return TimeBases; }
};

// Runs the message check of `fn`: it must raise E with exactly `text`.
template <typename E = EFFmpegError, typename F>
void ExpectRaises(F&& fn, const std::string& text) {
  try {
    fn();
    ADD_FAILURE() << "nothing raised; expected: " << text;
  } catch (const E& e) {
    EXPECT_EQ(e.what(), text);
  }
}

// Fills a frame with a moving pattern: any plane layout, any sample format.
inline void FillVideoFrame(AVFrame* f, int index) {
  const AVPixFmtDescriptor* d = Lib.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
  for (int p = 0; p < 4 && f->data[p]; ++p) {
    const bool chroma = (d->flags & AV_PIX_FMT_FLAG_PLANAR) && (p == 1 || p == 2);
    const int rows = chroma ? AV_CEIL_RSHIFT(f->height, d->log2_chroma_h) : f->height;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < f->linesize[p]; ++x)
        f->data[p][y * f->linesize[p] + x] = static_cast<uint8_t>(chroma ? 128 + ((x + index) & 15) : x + y + 3 * index);
  }
}

inline void FillAudioFrame(AVFrame* f, int64_t firstSample) {
  const auto format = static_cast<AVSampleFormat>(f->format);
  const bool planar = Lib.av_sample_fmt_is_planar(format);
  const int channels = f->ch_layout.nb_channels;
  const int perPlane = planar ? 1 : channels;
  const auto packed = Lib.av_get_packed_sample_fmt(format);
  for (int plane = 0; plane < (planar ? channels : 1); ++plane)
    for (int i = 0; i < f->nb_samples * perPlane; ++i) {
      const double v = 0.3 * std::sin(2 * M_PI * 440.0 * static_cast<double>(firstSample + i / perPlane) / f->sample_rate);
      uint8_t* at = f->extended_data[plane];
      switch (packed) {
        case AV_SAMPLE_FMT_U8: at[i] = static_cast<uint8_t>(128 + v * 127); break;
        case AV_SAMPLE_FMT_S16: reinterpret_cast<int16_t*>(at)[i] = static_cast<int16_t>(v * 32767); break;
        case AV_SAMPLE_FMT_S32: reinterpret_cast<int32_t*>(at)[i] = static_cast<int32_t>(v * 2147483647.0); break;
        case AV_SAMPLE_FMT_S64: reinterpret_cast<int64_t*>(at)[i] = static_cast<int64_t>(v * 9.2e18); break;
        case AV_SAMPLE_FMT_FLT: reinterpret_cast<float*>(at)[i] = static_cast<float>(v); break;
        case AV_SAMPLE_FMT_DBL: reinterpret_cast<double*>(at)[i] = v; break;
        default: break;
      }
    }
}

// What an encoder got and made.
struct TEncodeResult {
  std::string Error;                  // empty: opened and encoded
  std::vector<std::string> Unused;    // entries avcodec_open2 left in the dictionary
  std::vector<TPacket> Packets;      // in encoder time base
  TCodecContext Encoder;
};

inline std::string LibraryError(const char* what, int code) { return Format("%s: %s", what, ErrorCodeText(code).c_str()); }

// Allocates an encoder context for `codec`, lets `setup` fill in the stream parameters, applies
// the task's recorded options (when a task is given), opens it and encodes `seconds` of frames.
template <typename TSetup>
TEncodeResult EncodeWith(const AVCodec* codec, TFFmpegOptions* task, TSetup&& setup, double seconds = 1.0,
                         int extraFlags = 0) {
  TEncodeResult r;
  r.Encoder.reset(Lib.avcodec_alloc_context3(codec));
  AVCodecContext* c = r.Encoder.get();
  setup(c);
  c->flags |= extraFlags;
  TDictionary options;
  if (task) ApplyRecordedCodecOptions(*task, c, codec, options);
  if (const int e = Lib.avcodec_open2(c, codec, &options.Ptr); e < 0) {
    r.Error = LibraryError("avcodec_open2", e);
    return r;
  }
  const AVDictionaryEntry* left = nullptr;
  while ((left = Lib.av_dict_get(options.Ptr, "", left, AV_DICT_IGNORE_SUFFIX)))
    r.Unused.push_back(std::string(left->key) + "=" + left->value);
  if (task) LogUnusedOptions(*task, options.Ptr, Format("encoder '%s'", codec->name));
  TFrame frame(Lib.av_frame_alloc());
  TPacket packet(Lib.av_packet_alloc());
  const bool video = codec->type == AVMEDIA_TYPE_VIDEO;
  int frames = 0;
  int samplesPerFrame = 0;
  if (video) {
    frames = static_cast<int>(std::lround(seconds * c->time_base.den / c->time_base.num));
  } else {
    samplesPerFrame = c->frame_size > 0 ? c->frame_size : 1024;
    frames = static_cast<int>(std::ceil(seconds * c->sample_rate / samplesPerFrame));
  }
  auto drain = [&]() -> int {
    for (;;) {
      const int e = Lib.avcodec_receive_packet(c, packet.get());
      if (e == AVERROR(EAGAIN) || e == AVERROR_EOF) return 0;
      if (e < 0) return e;
      r.Packets.emplace_back(Lib.av_packet_clone(packet.get()));
      Lib.av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < frames; ++i) {
    Lib.av_frame_unref(frame.get());
    if (video) {
      frame->format = c->pix_fmt;
      frame->width = c->width;
      frame->height = c->height;
      frame->pts = i;
    } else {
      frame->format = c->sample_fmt;
      frame->sample_rate = c->sample_rate;
      frame->nb_samples = samplesPerFrame;
      Lib.av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
      frame->pts = static_cast<int64_t>(i) * samplesPerFrame;
    }
    if (const int e = Lib.av_frame_get_buffer(frame.get(), 0); e < 0) {
      r.Error = LibraryError("av_frame_get_buffer", e);
      return r;
    }
    if (video)
      FillVideoFrame(frame.get(), i);
    else
      FillAudioFrame(frame.get(), frame->pts);
    if (const int e = Lib.avcodec_send_frame(c, frame.get()); e < 0) {
      r.Error = LibraryError("avcodec_send_frame", e);
      return r;
    }
    if (const int e = drain(); e < 0) {
      r.Error = LibraryError("avcodec_receive_packet", e);
      return r;
    }
  }
  Lib.avcodec_send_frame(c, nullptr);
  if (const int e = drain(); e < 0) r.Error = LibraryError("avcodec_receive_packet", e);
  if (r.Error.empty() && r.Packets.empty()) r.Error = "no packet";
  return r;
}

// The usual small test picture: 160x120 at 25 frames per second.
inline void SmallVideo(AVCodecContext* c) {
  c->width = 160;
  c->height = 120;
  c->time_base = AVRational{1, 25};
  c->framerate = AVRational{25, 1};
  c->pix_fmt = c->codec && c->codec->pix_fmts ? c->codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
}

// The x264 settings line libx264 writes into its first packets (or header).
inline std::string X264Settings(const TEncodeResult& r) {
  const auto search = [](const uint8_t* data, size_t size) -> std::string {
    static const char marker[] = "options: ";
    const auto* end = data + size;
    const auto* at = std::search(data, end, marker, marker + sizeof marker - 1);
    if (at == end) return {};
    const auto* stop = std::find(at, end, 0);
    return std::string(at, stop);
  };
  if (r.Encoder && r.Encoder->extradata)
    if (std::string s = search(r.Encoder->extradata, r.Encoder->extradata_size); !s.empty()) return " " + s + " ";
  for (const TPacket& p : r.Packets)
    if (std::string s = search(p->data, static_cast<size_t>(p->size)); !s.empty()) return " " + s + " ";
  return {};
}

// profile_idc and level_idc of the first H.264 sequence parameter set.
inline std::pair<int, int> H264ProfileAndLevel(const TEncodeResult& r) {
  for (const TPacket& p : r.Packets)
    for (int i = 0; i + 6 < p->size; ++i) {
      const uint8_t* b = p->data + i;
      if (b[0] == 0 && b[1] == 0 && b[2] == 1 && (b[3] & 0x1f) == 7) return {b[4], b[6]};
    }
  return {-1, -1};
}
