#include "TestMedia.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegRAII.h"
#include "engine/UnicodeProtocol.h"
#include "probe/AVProbe.h"

void RequireConverterLibraries() {
  TFFmpegLoader& loader = TFFmpegLoader::Instance();
  ASSERT_TRUE(loader.Load(ConverterLibraries)) << loader.LastErrorMessage();
}

namespace {

struct TGenError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Check(int result, const char* what) {
  if (result < 0) {
    char text[256] = {};
    Lib.av_strerror(result, text, sizeof text);
    throw TGenError(Format("%s: %s", what, text));
  }
}

// One generated stream: a filter source feeding an encoder feeding the muxer.
struct TGenStream {
  TCodecContext Encoder;
  TFilterGraph Graph;
  AVFilterContext* Sink = nullptr;
  AVStream* Stream = nullptr;
  bool SourceDone = false;
  bool EncoderDone = false;
};

const AVCodec* FindEncoder(const std::string& name) {
  const AVCodec* codec = Lib.avcodec_find_encoder_by_name(name.c_str());
  if (!codec) throw TGenError("no encoder " + name);
  return codec;
}

void BuildGraph(TGenStream& s, const std::string& description, bool audio) {
  s.Graph.reset(Lib.avfilter_graph_alloc());
  if (!s.Graph) throw TGenError("avfilter_graph_alloc");
  const AVFilter* sink = Lib.avfilter_get_by_name(audio ? "abuffersink" : "buffersink");
  Check(Lib.avfilter_graph_create_filter(&s.Sink, sink, "out", nullptr, nullptr, s.Graph.get()),
        "create sink");
  TFilterInOut inputs(Lib.avfilter_inout_alloc());
  if (!inputs) throw TGenError("avfilter_inout_alloc");
  inputs->name = Lib.av_strdup("out");
  inputs->filter_ctx = s.Sink;
  AVFilterInOut* in = inputs.release();
  AVFilterInOut* out = nullptr;
  const int parsed = Lib.avfilter_graph_parse_ptr(s.Graph.get(), description.c_str(), &in, &out, nullptr);
  Lib.avfilter_inout_free(&in);
  Lib.avfilter_inout_free(&out);
  Check(parsed, "parse graph");
  Check(Lib.avfilter_graph_config(s.Graph.get(), nullptr), "configure graph");
}

void OpenEncoder(TGenStream& s, const AVCodec* codec, AVFormatContext* oc) {
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) s.Encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(Lib.avcodec_open2(s.Encoder.get(), codec, nullptr), "open encoder");
  s.Stream = Lib.avformat_new_stream(oc, nullptr);
  if (!s.Stream) throw TGenError("avformat_new_stream");
  s.Stream->time_base = s.Encoder->time_base;
  Check(Lib.avcodec_parameters_from_context(s.Stream->codecpar, s.Encoder.get()), "stream parameters");
}

void AddVideo(TGenStream& s, const TTestMediaSpec& spec, AVFormatContext* oc) {
  const AVCodec* codec = FindEncoder(spec.VideoCodec);
  s.Encoder.reset(Lib.avcodec_alloc_context3(codec));
  AVCodecContext* c = s.Encoder.get();
  c->width = spec.Width;
  c->height = spec.Height;
  c->time_base = AVRational{spec.FrameRateDen, spec.FrameRateNum};
  c->framerate = AVRational{spec.FrameRateNum, spec.FrameRateDen};
  c->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
  c->bit_rate = spec.VideoBitRate;
  c->gop_size = 12;
  c->thread_count = 1;
  OpenEncoder(s, codec, oc);
  BuildGraph(s,
             Format("testsrc=size=%dx%d:rate=%d/%d:duration=%g,format=pix_fmts=%s", spec.Width,
                    spec.Height, spec.FrameRateNum, spec.FrameRateDen, spec.Duration,
                    Lib.av_get_pix_fmt_name(c->pix_fmt)),
             false);
}

void AddAudio(TGenStream& s, const TTestMediaSpec& spec, AVFormatContext* oc) {
  const AVCodec* codec = FindEncoder(spec.AudioCodec);
  s.Encoder.reset(Lib.avcodec_alloc_context3(codec));
  AVCodecContext* c = s.Encoder.get();
  c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  c->sample_rate = spec.SampleRate;
  Lib.av_channel_layout_default(&c->ch_layout, spec.Channels);
  c->bit_rate = spec.AudioBitRate;
  c->time_base = AVRational{1, spec.SampleRate};
  OpenEncoder(s, codec, oc);
  char layout[64] = {};
  Lib.av_channel_layout_describe(&c->ch_layout, layout, sizeof layout);
  BuildGraph(s,
             Format("sine=frequency=440:beep_factor=4:sample_rate=%d:duration=%g,"
                    "aformat=sample_fmts=%s:channel_layouts=%s",
                    spec.SampleRate, spec.Duration, Lib.av_get_sample_fmt_name(c->sample_fmt), layout),
             true);
  if (c->frame_size > 0 && !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
    Lib.av_buffersink_set_frame_size(s.Sink, static_cast<unsigned>(c->frame_size));
}

// Enough of a style sheet for the text encoders, which take their styles from it.
constexpr const char* AssHeader =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, "
    "MarginV, Encoding\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\n\n[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

void AddSubtitles(TGenStream& s, const TTestMediaSpec& spec, AVFormatContext* oc) {
  const AVCodec* codec = FindEncoder(spec.SubtitleCodec);
  s.Encoder.reset(Lib.avcodec_alloc_context3(codec));
  AVCodecContext* c = s.Encoder.get();
  c->time_base = AV_TIME_BASE_Q;
  const size_t length = std::strlen(AssHeader);
  c->subtitle_header = static_cast<uint8_t*>(Lib.av_mallocz(length + 1));
  if (!c->subtitle_header) throw TGenError("av_mallocz");
  std::memcpy(c->subtitle_header, AssHeader, length);
  c->subtitle_header_size = static_cast<int>(length);
  OpenEncoder(s, codec, oc);
}

// The cues go to the muxer first; its interleaving puts them among the other packets.
void WriteCues(TGenStream& s, const TTestMediaSpec& spec, AVFormatContext* oc, AVPacket* pkt) {
  for (int second = 0; second < spec.Duration; ++second) {
    AVSubtitle sub{};
    sub.num_rects = 1;
    sub.rects = static_cast<AVSubtitleRect**>(Lib.av_mallocz(sizeof(AVSubtitleRect*)));
    if (!sub.rects) throw TGenError("av_mallocz");
    sub.rects[0] = static_cast<AVSubtitleRect*>(Lib.av_mallocz(sizeof(AVSubtitleRect)));
    if (!sub.rects[0]) {
      Lib.avsubtitle_free(&sub);
      throw TGenError("av_mallocz");
    }
    sub.rects[0]->type = SUBTITLE_ASS;
    sub.rects[0]->ass = Lib.av_strdup(Format("%d,0,Default,,0,0,0,,Line %d", second, second).c_str());
    sub.pts = second * int64_t{AV_TIME_BASE};
    sub.end_display_time = 800;
    const int made = Lib.av_new_packet(pkt, 64 * 1024);
    const int size = made < 0 ? made : Lib.avcodec_encode_subtitle(s.Encoder.get(), pkt->data, pkt->size, &sub);
    Lib.avsubtitle_free(&sub);
    Check(size, "encode subtitle");
    Lib.av_shrink_packet(pkt, size);
    pkt->pts = pkt->dts = Lib.av_rescale_q(second * int64_t{AV_TIME_BASE}, AV_TIME_BASE_Q, s.Stream->time_base);
    pkt->duration = Lib.av_rescale_q(800, AVRational{1, 1000}, s.Stream->time_base);
    pkt->stream_index = s.Stream->index;
    Check(Lib.av_interleaved_write_frame(oc, pkt), "write subtitle");
  }
}

// Drains every packet the encoder has ready into the muxer.
void WritePackets(TGenStream& s, AVFormatContext* oc, AVPacket* pkt) {
  for (;;) {
    const int r = Lib.avcodec_receive_packet(s.Encoder.get(), pkt);
    if (r == AVERROR(EAGAIN)) return;
    if (r == AVERROR_EOF) {
      s.EncoderDone = true;
      return;
    }
    Check(r, "receive packet");
    Lib.av_packet_rescale_ts(pkt, s.Encoder->time_base, s.Stream->time_base);
    pkt->stream_index = s.Stream->index;
    Check(Lib.av_interleaved_write_frame(oc, pkt), "write packet");
  }
}

// Moves one frame (or the end of stream) from the source to the encoder.
void Step(TGenStream& s, AVFormatContext* oc, AVFrame* frame, AVPacket* pkt) {
  const int r = Lib.av_buffersink_get_frame(s.Sink, frame);
  if (r == AVERROR_EOF) {
    s.SourceDone = true;
    Check(Lib.avcodec_send_frame(s.Encoder.get(), nullptr), "flush encoder");
  } else {
    Check(r, "pull frame");
    frame->pts = Lib.av_rescale_q(frame->pts, Lib.av_buffersink_get_time_base(s.Sink),
                                  s.Encoder->time_base);
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    const int sent = Lib.avcodec_send_frame(s.Encoder.get(), frame);
    Lib.av_frame_unref(frame);
    Check(sent, "send frame");
  }
  WritePackets(s, oc, pkt);
}

// The stream whose next frame is earliest, so the muxer gets packets in time order.
TGenStream* NextStream(TGenStream* a, TGenStream* b, const int64_t* next) {
  if (!a || a->SourceDone) return (b && !b->SourceDone) ? b : nullptr;
  if (!b || b->SourceDone) return a;
  return Lib.av_compare_ts(next[0], a->Encoder->time_base, next[1], b->Encoder->time_base) <= 0 ? a : b;
}

void Generate(const std::string& path, const TTestMediaSpec& spec) {
  AVFormatContext* raw = nullptr;
  const std::string display = DecodeFileName(path);
  Check(Lib.avformat_alloc_output_context2(&raw, nullptr,
                                           spec.Container.empty() ? nullptr : spec.Container.c_str(),
                                           display.c_str()),
        "output context");
  TOutputFormat oc(raw);
  TGenStream video, audio;
  if (!spec.VideoCodec.empty()) AddVideo(video, spec, oc.get());
  if (!spec.AudioCodec.empty()) AddAudio(audio, spec, oc.get());
  TGenStream subtitles;
  if (!spec.SubtitleCodec.empty()) AddSubtitles(subtitles, spec, oc.get());
  std::unique_ptr<TUnicodeFile> io;
  Check(OpenOutputFile(oc.get(), io, path, nullptr), "open output");
  Check(Lib.avformat_write_header(oc.get(), nullptr), "write header");
  TFrame frame(Lib.av_frame_alloc());
  TPacket pkt(Lib.av_packet_alloc());
  if (subtitles.Encoder) WriteCues(subtitles, spec, oc.get(), pkt.get());
  TGenStream* v = video.Encoder ? &video : nullptr;
  TGenStream* a = audio.Encoder ? &audio : nullptr;
  int64_t next[2] = {0, 0};
  while (TGenStream* s = NextStream(v, a, next)) {
    Step(*s, oc.get(), frame.get(), pkt.get());
    const int64_t step = s == v ? 1 : (s->Encoder->frame_size > 0 ? s->Encoder->frame_size : 1024);
    next[s == v ? 0 : 1] += step;
  }
  Check(Lib.av_write_trailer(oc.get()), "write trailer");
  if (io) oc->pb = nullptr;
}

}  // namespace

std::string MakeTestMedia(const std::string& path, const TTestMediaSpec& spec) {
  try {
    Generate(path, spec);
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

TDecodedCounts DecodeAll(const std::string& path) { return DecodeAll(path, nullptr); }

TDecodedCounts DecodeAll(const std::string& path, const std::function<void(const AVFrame&, double)>& onPicture) {
  TDecodedCounts counts;
  AVFormatContext* raw = nullptr;
  if (Lib.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return {0, 0, 1};
  TInputFormat ctx(raw);
  if (Lib.avformat_find_stream_info(raw, nullptr) < 0) return {0, 0, 1};
  std::vector<TCodecContext> decoders(raw->nb_streams);
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    // Subtitle decoders do not take part in the send/receive interface.
    const AVMediaType type = raw->streams[i]->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
    const AVCodec* codec = Lib.avcodec_find_decoder(raw->streams[i]->codecpar->codec_id);
    if (!codec) continue;
    decoders[i].reset(Lib.avcodec_alloc_context3(codec));
    Lib.avcodec_parameters_to_context(decoders[i].get(), raw->streams[i]->codecpar);
    if (Lib.avcodec_open2(decoders[i].get(), codec, nullptr) < 0) ++counts.Errors;
  }
  TPacket pkt(Lib.av_packet_alloc());
  TFrame frame(Lib.av_frame_alloc());
  auto drain = [&](unsigned i) {
    while (Lib.avcodec_receive_frame(decoders[i].get(), frame.get()) >= 0) {
      const bool video = decoders[i]->codec_type == AVMEDIA_TYPE_VIDEO;
      (video ? counts.VideoFrames : counts.AudioFrames)++;
      if (video && onPicture && frame->best_effort_timestamp != AV_NOPTS_VALUE)
        onPicture(*frame, frame->best_effort_timestamp * av_q2d(raw->streams[i]->time_base));
      Lib.av_frame_unref(frame.get());
    }
  };
  while (Lib.av_read_frame(raw, pkt.get()) >= 0) {
    const unsigned i = static_cast<unsigned>(pkt->stream_index);
    if (decoders[i]) {
      if (Lib.avcodec_send_packet(decoders[i].get(), pkt.get()) < 0) ++counts.Errors;
      drain(i);
    }
    Lib.av_packet_unref(pkt.get());
  }
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    if (decoders[i]) {
      Lib.avcodec_send_packet(decoders[i].get(), nullptr);
      drain(i);
    }
  return counts;
}

TMediaFacts InspectMedia(const std::string& path) {
  TMediaFacts facts;
  TAVProbe probe;
  if (!probe.LoadFile(path)) return facts;
  facts.Opened = true;
  facts.VideoStreams = probe.VideoStreamCount();
  facts.AudioStreams = probe.AudioStreamCount();
  TFileStreamInfo file;
  if (probe.GetFileStreamInfo(file)) facts.Seconds = file.Duration / 1e6;
  TVideoStreamInfo video;
  if (probe.GetVideoStreamInfo(-1, video)) {
    facts.VideoCodec = Lib.avcodec_get_name(probe.FormatContext()->streams[probe.FirstVideoStream()]->codecpar->codec_id);
    facts.Width = video.Width;
    facts.Height = video.Height;
  }
  return facts;
}
