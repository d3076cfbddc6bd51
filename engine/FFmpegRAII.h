// Owners for the media libraries' objects, freed through the loader's bound entry points.
#pragma once

#include <memory>

#include "FFmpegEntryPoints.h"

struct TInputFormatCloser {
  void operator()(AVFormatContext* c) const { Lib.avformat_close_input(&c); }
};
using TInputFormat = std::unique_ptr<AVFormatContext, TInputFormatCloser>;

// Closes the output file (unless the format writes none or the I/O is custom), then frees.
struct TOutputFormatCloser {
  void operator()(AVFormatContext* c) const {
    if (c->oformat && !(c->oformat->flags & AVFMT_NOFILE) && !(c->flags & AVFMT_FLAG_CUSTOM_IO))
      Lib.avio_closep(&c->pb);
    Lib.avformat_free_context(c);
  }
};
using TOutputFormat = std::unique_ptr<AVFormatContext, TOutputFormatCloser>;

struct TCodecContextFree {
  void operator()(AVCodecContext* c) const { Lib.avcodec_free_context(&c); }
};
using TCodecContext = std::unique_ptr<AVCodecContext, TCodecContextFree>;

struct TFrameFree {
  void operator()(AVFrame* f) const { Lib.av_frame_free(&f); }
};
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;

struct TPacketFree {
  void operator()(AVPacket* p) const { Lib.av_packet_free(&p); }
};
using TPacket = std::unique_ptr<AVPacket, TPacketFree>;

struct TFilterGraphFree {
  void operator()(AVFilterGraph* g) const { Lib.avfilter_graph_free(&g); }
};
using TFilterGraph = std::unique_ptr<AVFilterGraph, TFilterGraphFree>;

struct TFilterInOutFree {
  void operator()(AVFilterInOut* io) const { Lib.avfilter_inout_free(&io); }
};
using TFilterInOut = std::unique_ptr<AVFilterInOut, TFilterInOutFree>;

struct TSwsContextFree {
  void operator()(SwsContext* s) const { Lib.sws_freeContext(s); }
};
using TSwsContext = std::unique_ptr<SwsContext, TSwsContextFree>;

struct TSwrContextFree {
  void operator()(SwrContext* s) const { Lib.swr_free(&s); }
};
using TSwrContext = std::unique_ptr<SwrContext, TSwrContextFree>;

struct TBsfContextFree {
  void operator()(AVBSFContext* b) const { Lib.av_bsf_free(&b); }
};
using TBsfContext = std::unique_ptr<AVBSFContext, TBsfContextFree>;

struct TAudioFifoFree {
  void operator()(AVAudioFifo* f) const { Lib.av_audio_fifo_free(f); }
};
using TAudioFifo = std::unique_ptr<AVAudioFifo, TAudioFifoFree>;

// An AVDictionary that frees itself; pass `&dict.Ptr` where the libraries want AVDictionary**.
struct TDictionary {
  AVDictionary* Ptr = nullptr;
  TDictionary() = default;
  TDictionary(const TDictionary&) = delete;
  TDictionary& operator=(const TDictionary&) = delete;
  ~TDictionary() {
    if (Ptr) Lib.av_dict_free(&Ptr);
  }
};
