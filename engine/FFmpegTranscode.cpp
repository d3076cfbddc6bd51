// The transcode step of a task: stream mapping, codec opening, the packet loop, flushing and
// the final report.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "CodecLock.h"
#include "EngineError.h"
#include "FFUtils.h"
#include "FFmpegFrames.h"
#include "FFmpegInternal.h"
#include "FFmpegLogger.h"
#include "Previewer.h"

namespace {

const char* KindName(AVMediaType type) {
  const char* name = Lib.av_get_media_type_string(type);
  return name ? name : "unknown";
}

std::string StreamLabel(int file, int stream, const char* codec) {
  return Format("#%d.%d (%s)", file, stream, codec);
}

}  // namespace

// One run of Transcode(): everything here lives only while the task converts.
struct TTranscodeRun {
  TCustomFFmpeg& Task;
  TFFmpegOptions& Options;
  TFrameConverter Frames;
  TPreviewer Window;
  TPacket Packet{Lib.av_packet_alloc()};
  TFrame Decoded{Lib.av_frame_alloc()};
  TFrame Filtered{Lib.av_frame_alloc()};
  TPacket Encoded{Lib.av_packet_alloc()};
  int64_t StartTime = Lib.av_gettime_relative();
  int64_t LastReport = StartTime;
  int64_t LastPreview = INT64_MIN;
  int FrameNumber = 0;  // video frames pre-processed so far
  std::unique_ptr<FILE, int (*)(FILE*)> Vstats{nullptr, std::fclose};  // per-frame statistics
  int64_t VstatsBytes = 0;  // video bytes written, for the statistics' averages
  int LastFileIndex = 0;
  int64_t LastDuration = 0;  // the last CurrentDuration reported
  int JoinIndex = 0;         // join mode: the input being written
  bool HookActive = false;
  bool FrameHooksActive = true;

  explicit TTranscodeRun(TCustomFFmpeg& task) : Task(task), Options(task.Options) {
    if (!Packet || !Decoded || !Filtered || !Encoded) throw EFFmpegError("Out of memory");
    HookActive = static_cast<bool>(Task.OnCustomHook);
  }

  void Log(TLogLevel level, const std::string& text) { TFFLogger::Instance().Log(&Task, level, text); }

  std::vector<TOutputStream*> AllOutputStreams() {
    std::vector<TOutputStream*> all;
    for (auto& out : Task.Outputs)
      for (auto& os : out->Streams) all.push_back(os.get());
    return all;
  }

  // --- stream mapping -----------------------------------------------------------------

  TInputStream* FindSource(TOutputStream& os, int outputIndex) {
    (void)outputIndex;
    // The best stream of the kind among the unused ones; in join mode the first input's.
    for (auto& in : Task.Inputs) {
      const int best = Lib.av_find_best_stream(in->Context.get(), os.Type, -1, -1, nullptr, 0);
      std::vector<int> order;
      if (best >= 0) order.push_back(best);
      for (int i = 0; i < static_cast<int>(in->Streams.size()); ++i)
        if (i != best) order.push_back(i);
      for (int i : order) {
        TInputStream& s = in->Streams[i];
        if (s.Stream->codecpar->codec_type == os.Type && s.Stream->discard != AVDISCARD_ALL && s.Outputs.empty())
          return &s;
      }
      if (Task.JoinMode) break;
    }
    // None unused: share the last one of the kind.
    TInputStream* last = nullptr;
    for (auto& in : Task.Inputs) {
      for (TInputStream& s : in->Streams)
        if (s.Stream->codecpar->codec_type == os.Type && s.Stream->discard != AVDISCARD_ALL) last = &s;
      if (Task.JoinMode) break;
    }
    return last;
  }

  TInputStream* MappedSource(const TStreamMap& map, AVMediaType type, int fileIndex, int streamIndex) {
    if (map.File < 0 || map.File >= Task.InputCount() || map.Stream < 0 ||
        map.Stream >= static_cast<int>(Task.Inputs[map.File]->Streams.size()))
      throw EFFmpegError(Format("Could not find input stream #%d.%d", map.File, map.Stream));
    TInputStream& s = Task.Inputs[map.File]->Streams[map.Stream];
    if (s.Stream->codecpar->codec_type != type)
      throw EFFmpegError(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", map.File,
                                map.Stream, KindName(s.Stream->codecpar->codec_type), fileIndex, streamIndex,
                                KindName(type)));
    return &s;
  }

  void MapStreams() {
    const auto all = AllOutputStreams();
    // Join mode reads the first input first; the others wait their turn.
    if (Task.JoinMode)
      for (int i = 1; i < Task.InputCount(); ++i)
        for (TInputStream& s : Task.Inputs[i]->Streams) s.Stream->discard = AVDISCARD_ALL;
    if (!Options.StreamMaps.empty() && Options.StreamMaps.size() != all.size())
      throw EFFmpegError("Number of stream maps must match number of output streams");
    size_t next = 0;
    for (int f = 0; f < Task.OutputCount(); ++f) {
      TOutputFile& out = *Task.Outputs[f];
      if (out.Streams.empty()) throw EFFmpegError(Format("Output file #%d does not contain any stream", f));
      for (auto& os : out.Streams) {
        const int index = os->Stream->index;
        os->Source = Options.StreamMaps.empty() ? FindSource(*os, f)
                                                : MappedSource(Options.StreamMaps[next++], os->Type, f, index);
        if (!os->Source)
          throw EFFmpegError(Format("Could not find input stream matching output stream #%d.%d (%s)", f, index,
                                    KindName(os->Type)));
        os->Source->Outputs.push_back(os.get());
        os->Source->Discard = false;
        if (!os->Copy) os->Source->DecodingNeeded = true;
      }
    }
    for (auto& in : Task.Inputs)
      for (TInputStream& s : in->Streams)
        if (s.Discard) s.Stream->discard = AVDISCARD_ALL;
  }

  // --- codecs -------------------------------------------------------------------------

  void CheckCopyAllowed(const TOutputStream& os) {
    if (os.Type == AVMEDIA_TYPE_VIDEO) {
      if (Task.OnCustomHook) throw EFFmpegError("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
      if (!Options.FrameHooks.empty())
        throw EFFmpegError("-vcodec copy and -vhook are incompatible (frames are not decoded)");
      if (Task.PreviewFlags() != 0)
        throw EFFmpegError("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
    }
    if (os.Type == AVMEDIA_TYPE_AUDIO && Options.Volume != 256)
      throw EFFmpegError("-acodec copy and -vol are incompatible (frames are not decoded)");
  }

  void SetUpCopy(TOutputStream& os) {
    CheckCopyAllowed(os);
    const AVStream* in = os.Source->Stream;
    CheckResult(Lib.avcodec_parameters_copy(os.Stream->codecpar, in->codecpar), "Out of memory");
    const AVOutputFormat* format = os.File->Context->oformat;
    unsigned tag = 0;
    if (format->codec_tag && in->codecpar->codec_tag &&
        !(Lib.av_codec_get_tag2(format->codec_tag, in->codecpar->codec_id, &tag) && tag == in->codecpar->codec_tag))
      os.Stream->codecpar->codec_tag = 0;
    os.Stream->time_base = in->time_base;
    os.Stream->avg_frame_rate = in->avg_frame_rate;
    os.Stream->r_frame_rate = in->r_frame_rate;
    os.Stream->sample_aspect_ratio = in->sample_aspect_ratio;
    Lib.av_dict_copy(&os.Stream->metadata, in->metadata, AV_DICT_DONT_OVERWRITE);
  }

  void OpenDecoder(TInputStream& s) {
    if (s.Decoder) return;
    const AVCodecParameters* par = s.Stream->codecpar;
    const AVCodec* codec = Lib.avcodec_find_decoder(par->codec_id);
    const std::string label = StreamLabel(s.FileIndex, s.Stream->index, KindName(par->codec_type));
    if (!codec) throw EFFmpegError(Format("Decoder (codec id %d) not found for input stream %s", par->codec_id, label.c_str()));
    s.Decoder.reset(Lib.avcodec_alloc_context3(codec));
    if (!s.Decoder) throw EFFmpegError("Out of memory");
    CheckResult(Lib.avcodec_parameters_to_context(s.Decoder.get(), par), "Out of memory");
    s.Decoder->pkt_timebase = s.Stream->time_base;
    s.Decoder->thread_count = Options.ThreadCount;
    std::lock_guard lock(CodecLock());
    if (Lib.avcodec_open2(s.Decoder.get(), codec, nullptr) < 0)
      throw EFFmpegError(Format("Error while opening decoder for input stream %s", label.c_str()));
  }

  AVRational OutputFrameRate(const TOutputStream& os) {
    AVRational rate = os.Settings.FrameRate;
    if (rate.den == 0 || rate.num <= 0) rate = Lib.av_guess_frame_rate(nullptr, os.Source->Stream, nullptr);
    if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
    if (os.Codec->supported_framerates) {
      const int best = Lib.av_find_nearest_q_idx(rate, os.Codec->supported_framerates);
      rate = os.Codec->supported_framerates[best];
    }
    // Encoders keep their time base denominators within 16 bits.
    Lib.av_reduce(&rate.num, &rate.den, rate.num, rate.den, 65535);
    return rate;
  }

  void ConfigureVideoEncoder(TOutputStream& os) {
    AVCodecContext* enc = os.Encoder.get();
    enc->width = Lib.av_buffersink_get_w(os.Filter.Sink);
    enc->height = Lib.av_buffersink_get_h(os.Filter.Sink);
    enc->pix_fmt = static_cast<AVPixelFormat>(Lib.av_buffersink_get_format(os.Filter.Sink));
    enc->framerate = OutputFrameRate(os);
    enc->time_base = AVRational{enc->framerate.den, enc->framerate.num};
    AVRational sar = Lib.av_buffersink_get_sample_aspect_ratio(os.Filter.Sink);
    if (os.Settings.AspectRatio > 0 && enc->height > 0)
      sar = Lib.av_d2q(os.Settings.AspectRatio * enc->height / enc->width, 255);
    enc->sample_aspect_ratio = sar;
    os.Stream->sample_aspect_ratio = sar;
    if (os.Settings.VideoQuantiser > 0) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(FF_QP2LAMBDA * os.Settings.VideoQuantiser);
    }
    if (Options.IntraOnly) enc->gop_size = 0;
    if (Options.DoPsnr) enc->flags |= AV_CODEC_FLAG_PSNR;
  }

  void ConfigureAudioEncoder(TOutputStream& os) {
    AVCodecContext* enc = os.Encoder.get();
    enc->sample_rate = Lib.av_buffersink_get_sample_rate(os.Filter.Sink);
    enc->sample_fmt = static_cast<AVSampleFormat>(Lib.av_buffersink_get_format(os.Filter.Sink));
    CheckResult(Lib.av_buffersink_get_ch_layout(os.Filter.Sink, &enc->ch_layout), "Out of memory");
    enc->time_base = AVRational{1, enc->sample_rate};
    if (os.Settings.AudioQuantiser != -99999) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = static_cast<int>(FF_QP2LAMBDA * os.Settings.AudioQuantiser);
    }
  }

  void SetUpPass(TOutputStream& os, int index) {
    if (Options.PassNumber == 0) return;
    const std::string base = Options.PassLogFile.empty() ? "ffmpeg2pass" : Options.PassLogFile;
    os.PassLogName = Format("%s-%d.log", base.c_str(), index);
    AVCodecContext* enc = os.Encoder.get();
    // libx264 keeps its statistics in a file of its own making.
    if (std::strcmp(os.Codec->name, "libx264") == 0)
      Lib.av_dict_set(&os.EncoderOptions.Ptr, "stats", os.PassLogName.c_str(), 0);
    if (Options.PassNumber == 1) {
      enc->flags |= AV_CODEC_FLAG_PASS1;
      if (std::strcmp(os.Codec->name, "libx264") == 0) return;
      os.PassLog = std::fopen(os.PassLogName.c_str(), "wb");
      if (!os.PassLog)
        throw EFFmpegError(Format("Cannot write log file %s for pass-1 encoding", os.PassLogName.c_str()));
      return;
    }
    enc->flags |= AV_CODEC_FLAG_PASS2;
    if (std::strcmp(os.Codec->name, "libx264") == 0) return;
    std::ifstream file(os.PassLogName, std::ios::binary);
    if (!file)
      throw EFFmpegError(Format("Cannot read file: Error reading log file \"%s\" for pass-2 encoding",
                                os.PassLogName.c_str()));
    const std::string stats((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    enc->stats_in = static_cast<char*>(Lib.av_malloc(stats.size() + 1));
    if (!enc->stats_in)
      throw EFFmpegError(Format("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
                                os.PassLogName.c_str()));
    std::memcpy(enc->stats_in, stats.c_str(), stats.size() + 1);
  }

  // libx264 looks 40 pictures ahead by default; above 720p those pictures alone take some
  // 250 MB. Half of that keeps nearly all of the rate control's gain, and a 1080p conversion
  // under 400 MB. A look-ahead the user or a preset chose stays.
  void LimitLookahead(TOutputStream& os) {
    if (std::strcmp(os.Codec->name, "libx264") != 0 || os.Encoder->width * os.Encoder->height <= 1280 * 720) return;
    for (const char* name : {"rc-lookahead", "rc_lookahead"})
      if (Lib.av_dict_get(os.EncoderOptions.Ptr, name, nullptr, 0)) return;
    Lib.av_dict_set(&os.EncoderOptions.Ptr, "rc-lookahead", "20", 0);
  }

  void OpenEncoder(TOutputStream& os, int fileIndex) {
    const int index = os.Stream->index;
    const std::string label = StreamLabel(fileIndex, index, KindName(os.Type));
    os.Encoder.reset(Lib.avcodec_alloc_context3(os.Codec));
    if (!os.Encoder) throw EFFmpegError("Out of memory");
    ApplyRecordedCodecOptions(Options, os.Encoder.get(), os.Codec, os.EncoderOptions);
    BuildFilter(os, os.Source->Decoder.get());
    if (os.Type == AVMEDIA_TYPE_VIDEO)
      ConfigureVideoEncoder(os);
    else
      ConfigureAudioEncoder(os);
    if (os.File->Context->oformat->flags & AVFMT_GLOBALHEADER) os.Encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    SetUpPass(os, index);
    LimitLookahead(os);
    {
      std::lock_guard lock(CodecLock());
      if (Lib.avcodec_open2(os.Encoder.get(), os.Codec, &os.EncoderOptions.Ptr) < 0)
        throw EFFmpegError(Format("Error while opening encoder for output stream %s - maybe incorrect parameters such "
                                  "as bit_rate, rate, width or height. Please check error log message to find out "
                                  "more detail information.",
                                  label.c_str()));
    }
    LogUnusedOptions(Options, os.EncoderOptions.Ptr, Format("encoder '%s'", os.Codec->name));
    if (os.Type == AVMEDIA_TYPE_AUDIO && os.Encoder->frame_size > 0 &&
        !(os.Codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
      Lib.av_buffersink_set_frame_size(os.Filter.Sink, static_cast<unsigned>(os.Encoder->frame_size));
    CheckResult(Lib.avcodec_parameters_from_context(os.Stream->codecpar, os.Encoder.get()), "Out of memory");
    os.Stream->time_base = os.Encoder->time_base;
    if (os.Type == AVMEDIA_TYPE_VIDEO) os.Stream->avg_frame_rate = os.Encoder->framerate;
    for (const TBitstreamFilterSpec& spec : os.BitstreamFilterSpecs) AddBitstreamFilter(os, spec);
  }

  void OpenSubtitleEncoder(TOutputStream& os, int fileIndex) {
    const std::string label = StreamLabel(fileIndex, os.Stream->index, KindName(os.Type));
    const AVCodecContext* dec = os.Source->Decoder.get();
    if (!SubtitlesConvertible(os.Source->Stream, os.Codec->id))
      throw EFFmpegError(Format("Cannot convert the subtitles of input stream #%d.%d (%s) to %s for output stream %s",
                                os.Source->FileIndex, os.Source->Stream->index, Lib.avcodec_get_name(dec->codec_id),
                                os.Codec->name, label.c_str()));
    os.Encoder.reset(Lib.avcodec_alloc_context3(os.Codec));
    if (!os.Encoder) throw EFFmpegError("Out of memory");
    AVCodecContext* enc = os.Encoder.get();
    ApplyRecordedCodecOptions(Options, enc, os.Codec, os.EncoderOptions);
    enc->time_base = AV_TIME_BASE_Q;
    enc->width = dec->width;
    enc->height = dec->height;
    // Text encoders take their styles from the decoder's header.
    if (dec->subtitle_header && dec->subtitle_header_size > 0) {
      enc->subtitle_header = static_cast<uint8_t*>(Lib.av_mallocz(dec->subtitle_header_size + 1));
      if (!enc->subtitle_header) throw EFFmpegError("Out of memory");
      std::memcpy(enc->subtitle_header, dec->subtitle_header, dec->subtitle_header_size);
      enc->subtitle_header_size = dec->subtitle_header_size;
    }
    if (os.File->Context->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    {
      std::lock_guard lock(CodecLock());
      if (Lib.avcodec_open2(enc, os.Codec, &os.EncoderOptions.Ptr) < 0)
        throw EFFmpegError(Format("Error while opening encoder for output stream %s", label.c_str()));
    }
    LogUnusedOptions(Options, os.EncoderOptions.Ptr, Format("encoder '%s'", os.Codec->name));
    CheckResult(Lib.avcodec_parameters_from_context(os.Stream->codecpar, enc), "Out of memory");
    os.Stream->time_base = AVRational{1, 1000};
    for (const TBitstreamFilterSpec& spec : os.BitstreamFilterSpecs) AddBitstreamFilter(os, spec);
  }

  void AddBitstreamFilter(TOutputStream& os, const TBitstreamFilterSpec& spec) {
    const AVBitStreamFilter* filter = Lib.av_bsf_get_by_name(spec.Name.c_str());
    if (!filter) throw EFFmpegError(Format("Unknown bitstream filter %s", spec.Name.c_str()));
    AVBSFContext* raw = nullptr;
    CheckResult(Lib.av_bsf_alloc(filter, &raw), "Out of memory");
    TBsfContext bsf(raw);
    const AVCodecParameters* in = os.BitstreamFilters.empty() ? os.Stream->codecpar : os.BitstreamFilters.back()->par_out;
    CheckResult(Lib.avcodec_parameters_copy(bsf->par_in, in), "Out of memory");
    bsf->time_base_in = os.Stream->time_base;
    if (!spec.Arguments.empty() && raw->filter->priv_class)
      Lib.av_opt_set(raw->priv_data, raw->filter->priv_class->option ? raw->filter->priv_class->option->name : "",
                     spec.Arguments.c_str(), 0);
    CheckResult(Lib.av_bsf_init(raw), Format("Error initializing bitstream filter: %s", spec.Name.c_str()));
    os.BitstreamFilters.push_back(std::move(bsf));
  }

  // --- filters ------------------------------------------------------------------------

  std::string VideoChain(const TOutputStream& os, int width, int height) {
    const TFileOptions& s = os.Settings;
    std::string chain;
    const int cw = width - s.CropLeft - s.CropRight, ch = height - s.CropTop - s.CropBottom;
    if (s.CropLeft || s.CropRight || s.CropTop || s.CropBottom) {
      if (cw <= 0 || ch <= 0) throw EFFmpegError("Error opening filters: the crop leaves no picture");
      chain += Format("crop=%d:%d:%d:%d,", cw, ch, s.CropLeft, s.CropTop);
    }
    int ow = s.CropReferenceWidth > 0 ? s.CropReferenceWidth : cw;
    int oh = s.CropReferenceHeight > 0 ? s.CropReferenceHeight : ch;
    if (os.Type == AVMEDIA_TYPE_VIDEO && (ow != cw || oh != ch))
      chain += Format("scale=%d:%d:flags=0x%X,", ow, oh, static_cast<unsigned>(Options.ScalerFlags));
    if (!s.VideoFilters.empty()) chain += s.VideoFilters + ",";
    const AVPixelFormat* formats = os.Codec->pix_fmts;
    AVPixelFormat wanted = s.PixelFormat;
    if (wanted == AV_PIX_FMT_NONE && os.Codec->id == AV_CODEC_ID_DVVIDEO) {
      // DV fixes the sampling by its norm: 4:1:1 for 480 lines, 4:2:0 for 576. A user filter
      // (letterbox bars) may change the height after the scaler; the NTSC rate tells then.
      const AVRational rate = OutputFrameRate(os);
      const bool ntscRate = rate.num > 0 && rate.den > 0 && std::abs(av_q2d(rate) - 30000.0 / 1001) < 0.01;
      const bool ntsc = oh == 480 || (oh != 576 && ntscRate);
      wanted = ntsc ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
    } else if (wanted == AV_PIX_FMT_NONE && formats) {
      wanted = Lib.avcodec_find_best_pix_fmt_of_list(formats, static_cast<AVPixelFormat>(os.Filter.Format), 0, nullptr);
    }
    if (wanted != AV_PIX_FMT_NONE) chain += Format("format=pix_fmts=%s,", Lib.av_get_pix_fmt_name(wanted));
    if (chain.empty()) chain = "null,";
    chain.pop_back();
    return chain;
  }

  std::string AudioChain(const TOutputStream& os) {
    const TFileOptions& s = os.Settings;
    std::string chain;
    if (Options.AudioSync > 1) chain += Format("aresample=async=%d:first_pts=0,", Options.AudioSync);
    if (Options.Volume != 256) chain += Format("volume=%g,", Options.Volume / 256.0);
    const AVCodec* codec = os.Codec;
    AVSampleFormat format = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (s.SampleFormat != AV_SAMPLE_FMT_NONE) format = s.SampleFormat;
    const int rate = ClosestSampleRate(codec, s.AudioSampleRate);
    AVChannelLayout layout{};
    Lib.av_channel_layout_default(&layout, s.AudioChannels > 0 ? s.AudioChannels : 2);
    char layoutName[64] = {};
    Lib.av_channel_layout_describe(&layout, layoutName, sizeof layoutName);
    Lib.av_channel_layout_uninit(&layout);
    chain += Format("aformat=sample_fmts=%s:sample_rates=%d:channel_layouts=%s", Lib.av_get_sample_fmt_name(format),
                    rate, layoutName);
    return chain;
  }

  int ClosestSampleRate(const AVCodec* codec, int wanted) {
    if (!codec->supported_samplerates) return wanted;
    int best = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r) {
      if (*r == wanted) return wanted;
      if (!best || std::abs(*r - wanted) < std::abs(best - wanted)) best = *r;
    }
    Log(llWarning, Format("Requested sampling rate unsupported using closest supported (%d)", best));
    return best;
  }

  void BuildFilter(TOutputStream& os, const AVCodecContext* dec) {
    TStreamFilter& f = os.Filter;
    std::string sourceArgs;
    const bool video = os.Type == AVMEDIA_TYPE_VIDEO;
    if (video) {
      f.Width = dec->width;
      f.Height = dec->height;
      f.Format = dec->pix_fmt;
      const AVRational sar = dec->sample_aspect_ratio.num > 0 ? dec->sample_aspect_ratio : AVRational{0, 1};
      sourceArgs = Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", dec->width, dec->height,
                          dec->pix_fmt, AV_TIME_BASE, sar.num, sar.den);
    } else {
      f.SampleRate = dec->sample_rate;
      f.Format = dec->sample_fmt;
      Lib.av_channel_layout_uninit(&f.Layout);
      CheckResult(Lib.av_channel_layout_copy(&f.Layout, &dec->ch_layout), "Out of memory");
      if (f.Layout.order == AV_CHANNEL_ORDER_UNSPEC) Lib.av_channel_layout_default(&f.Layout, f.Layout.nb_channels);
      char layout[64] = {};
      Lib.av_channel_layout_describe(&f.Layout, layout, sizeof layout);
      sourceArgs = Format("time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", AV_TIME_BASE,
                          dec->sample_rate, Lib.av_get_sample_fmt_name(dec->sample_fmt), layout);
    }
    const std::string chain = video ? VideoChain(os, dec->width, dec->height) : AudioChain(os);
    f.Graph.reset(Lib.avfilter_graph_alloc());
    if (!f.Graph) throw EFFmpegError("Error opening filters!");
    f.Graph->nb_threads = 1;
    const std::string detail = ConfigureGraph(f, video, sourceArgs, chain);
    if (!detail.empty()) throw EFFmpegError("Error opening filters: " + detail);
  }

  std::string ConfigureGraph(TStreamFilter& f, bool video, const std::string& sourceArgs, const std::string& chain) {
    AVFilterGraph* graph = f.Graph.get();
    if (Lib.avfilter_graph_create_filter(&f.Source, Lib.avfilter_get_by_name(video ? "buffer" : "abuffer"), "in",
                                         sourceArgs.c_str(), nullptr, graph) < 0)
      return "cannot create the source (" + sourceArgs + ")";
    if (Lib.avfilter_graph_create_filter(&f.Sink, Lib.avfilter_get_by_name(video ? "buffersink" : "abuffersink"),
                                         "out", nullptr, nullptr, graph) < 0)
      return "cannot create the sink";
    if (video) graph->scale_sws_opts = Lib.av_strdup(Format("flags=0x%X", static_cast<unsigned>(Options.ScalerFlags)).c_str());
    TFilterInOut outputs(Lib.avfilter_inout_alloc()), inputs(Lib.avfilter_inout_alloc());
    if (!outputs || !inputs) return "out of memory";
    outputs->name = Lib.av_strdup("in");
    outputs->filter_ctx = f.Source;
    inputs->name = Lib.av_strdup("out");
    inputs->filter_ctx = f.Sink;
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    const int parsed = Lib.avfilter_graph_parse_ptr(graph, chain.c_str(), &in, &out, nullptr);
    Lib.avfilter_inout_free(&in);
    Lib.avfilter_inout_free(&out);
    if (parsed < 0) return ErrorText(chain, parsed);
    const int configured = Lib.avfilter_graph_config(graph, nullptr);
    if (configured < 0) return ErrorText(chain, configured);
    return {};
  }

  // Rebuilds a stream's graph when the decoded pictures or sound change shape, keeping the
  // encoder's size and format.
  void RefilterIfChanged(TOutputStream& os, const AVFrame* frame) {
    TStreamFilter& f = os.Filter;
    bool changed;
    if (os.Type == AVMEDIA_TYPE_VIDEO) {
      changed = frame->width != f.Width || frame->height != f.Height || frame->format != f.Format;
      if (changed)
        Log(llQuiet, Format("Input Stream #%d.%d frame size changed to %dx%d, %s", os.Source->FileIndex,
                            os.Source->Stream->index, frame->width, frame->height,
                            Lib.av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format))));
    } else {
      changed = frame->sample_rate != f.SampleRate || frame->format != f.Format ||
                frame->ch_layout.nb_channels != f.Layout.nb_channels;
    }
    if (!changed) return;
    TCodecContext shape(Lib.avcodec_alloc_context3(nullptr));
    if (!shape) throw EFFmpegError("Out of memory");
    shape->width = frame->width;
    shape->height = frame->height;
    shape->pix_fmt = static_cast<AVPixelFormat>(frame->format);
    shape->sample_fmt = static_cast<AVSampleFormat>(frame->format);
    shape->sample_aspect_ratio = frame->sample_aspect_ratio;
    shape->sample_rate = frame->sample_rate;
    CheckResult(Lib.av_channel_layout_copy(&shape->ch_layout, &frame->ch_layout), "Out of memory");
    if (os.Type == AVMEDIA_TYPE_VIDEO) {
      // Crops follow the new size in proportion, in even amounts.
      TFileOptions& s = os.Settings;
      auto scale = [](int amount, int now, int before) { return before > 0 ? (amount * now / before) & ~1 : amount; };
      s.CropTop = scale(s.CropTop, frame->height, f.Height);
      s.CropBottom = scale(s.CropBottom, frame->height, f.Height);
      s.CropLeft = scale(s.CropLeft, frame->width, f.Width);
      s.CropRight = scale(s.CropRight, frame->width, f.Width);
      s.CropReferenceWidth = os.Encoder->width;
      s.CropReferenceHeight = os.Encoder->height;
      s.PixelFormat = os.Encoder->pix_fmt;
      s.VideoFilters.clear();  // the user's graph already shaped the encoder's size
    }
    BuildFilter(os, shape.get());
    if (os.Type == AVMEDIA_TYPE_AUDIO && os.Encoder->frame_size > 0 &&
        !(os.Codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
      Lib.av_buffersink_set_frame_size(os.Filter.Sink, static_cast<unsigned>(os.Encoder->frame_size));
  }

  // --- setup --------------------------------------------------------------------------

  void Setup() {
    MapStreams();
    for (auto& in : Task.Inputs)
      for (TInputStream& s : in->Streams)
        if (s.DecodingNeeded) OpenDecoder(s);
    for (int f = 0; f < Task.OutputCount(); ++f) {
      TOutputFile& out = *Task.Outputs[f];
      for (auto& os : out.Streams) {
        if (os->Copy)
          SetUpCopy(*os);
        else if (os->Type == AVMEDIA_TYPE_SUBTITLE)
          OpenSubtitleEncoder(*os, f);
        else
          OpenEncoder(*os, f);
      }
      if (Lib.avformat_write_header(out.Context.get(), &out.FormatOptions.Ptr) < 0) {
        const std::string text = Format("Could not write header for output file #%d (incorrect codec parameters ?)", f);
        Log(llError, text);
        throw EFFmpegError(text);
      }
      LogUnusedOptions(Options, out.FormatOptions.Ptr, "output '" + out.Name + "'");
      out.HeaderWritten = true;
    }
    LogSessionDescription();
    LogMapping();
  }

  // Outputs that are all RTP streams need their session description to be played at all.
  void LogSessionDescription() {
    std::vector<AVFormatContext*> contexts;
    for (auto& out : Task.Outputs) {
      if (!out->HeaderWritten || std::strcmp(out->Context->oformat->name, "rtp") != 0) return;
      contexts.push_back(out->Context.get());
    }
    if (contexts.empty()) return;
    char sdp[16384];
    if (Lib.av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp, sizeof sdp) < 0) {
      Log(llError, "Cannot create the session description of the RTP outputs");
      return;
    }
    Log(llInfo, std::string("SDP:\r\n") + sdp);
  }

  void LogMapping() {
    Log(llVerbose, "Stream mapping:");
    for (int f = 0; f < Task.OutputCount(); ++f)
      for (auto& os : Task.Outputs[f]->Streams)
        Log(llVerbose, Format("  Stream #%d.%d -> #%d.%d (%s)", os->Source->FileIndex, os->Source->Stream->index, f,
                              os->Stream->index, os->Copy ? "copy" : os->Codec->name));
  }

  // --- writing ------------------------------------------------------------------------

  void WritePacket(TOutputStream& os, AVPacket* pkt) {
    pkt->stream_index = os.Stream->index;
    for (auto& bsf : os.BitstreamFilters) {
      const int sent = Lib.av_bsf_send_packet(bsf.get(), pkt);
      if (sent < 0) return BitstreamFilterFailed(os, *bsf, sent);
      const int received = Lib.av_bsf_receive_packet(bsf.get(), pkt);
      if (received == AVERROR(EAGAIN)) return;
      if (received < 0) return BitstreamFilterFailed(os, *bsf, received);
    }
    if (pkt->dts != AV_NOPTS_VALUE) {
      const int64_t t = Lib.av_rescale_q(pkt->dts + pkt->duration, os.Stream->time_base, AV_TIME_BASE_Q);
      os.LastTime = std::max(os.LastTime, t);
    }
    const int written = Lib.av_interleaved_write_frame(os.File->Context.get(), pkt);
    if (written < 0) throw EFFmpegError(ErrorText("av_interleaved_write_frame()", written));
    ++os.FramesWritten;
  }

  void BitstreamFilterFailed(TOutputStream& os, const AVBSFContext& bsf, int error) {
    const std::string text = Format("%s failed for stream %d, codec %s", bsf.filter->name, os.Stream->index,
                                    os.Copy ? "copy" : os.Codec->name) +
                             ": " + ErrorCodeText(error);
    Lib.av_packet_unref(Encoded.get());
    if (Options.ExitOnError) throw EFFmpegError(text);
    Log(llError, text);
  }

  void DrainEncoder(TOutputStream& os) {
    for (;;) {
      const int r = Lib.avcodec_receive_packet(os.Encoder.get(), Encoded.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) throw EFFmpegError(os.Type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed");
      size_t qualitySize = 0;
      const uint8_t* q = Lib.av_packet_get_side_data(Encoded.get(), AV_PKT_DATA_QUALITY_STATS, &qualitySize);
      if (q && qualitySize >= 4)
        os.LastQuality = static_cast<int>(q[0] | q[1] << 8 | q[2] << 16 | static_cast<uint32_t>(q[3]) << 24);
      if (os.PassLog && os.Encoder->stats_out) std::fputs(os.Encoder->stats_out, os.PassLog);
      if (os.Type == AVMEDIA_TYPE_VIDEO && !Options.VstatsFile.empty()) WriteVstats(os, q, qualitySize);
      Lib.av_packet_rescale_ts(Encoded.get(), os.Encoder->time_base, os.Stream->time_base);
      WritePacket(os, Encoded.get());
      Lib.av_packet_unref(Encoded.get());
    }
  }

  // One line per encoded picture, before its packet leaves the encoder's time base.
  void WriteVstats(TOutputStream& os, const uint8_t* quality, size_t qualitySize) {
    if (!Vstats) {
      Vstats.reset(std::fopen(Options.VstatsFile.c_str(), "w"));
      if (!Vstats) throw EFFmpegError("fopen fail: " + Options.VstatsFile);
    }
    const AVCodecContext* enc = os.Encoder.get();
    const AVPacket* pkt = Encoded.get();
    VstatsBytes += pkt->size;
    std::string line = Format("frame= %5d q= %2.1f ", static_cast<int>(os.FramesWritten + 1),
                              os.LastQuality < 0 ? 0.0 : os.LastQuality / static_cast<double>(FF_QP2LAMBDA));
    // The side data holds the picture type at byte 4 and, with PSNR on, the squared error of
    // the luma plane from byte 8.
    if (Options.DoPsnr && quality && qualitySize >= 16) {
      uint64_t error = 0;
      for (int i = 0; i < 8; ++i) error |= static_cast<uint64_t>(quality[8 + i]) << (8 * i);
      const double samples = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
      line += Format("PSNR= %6.2f ", error > 0 ? -10.0 * std::log10(error / samples) : 99.99);
    }
    const double time = pkt->pts != AV_NOPTS_VALUE ? pkt->pts * av_q2d(enc->time_base) : 0.0;
    const double frameTime = enc->framerate.num > 0 ? av_q2d(AVRational{enc->framerate.den, enc->framerate.num}) : 0.04;
    line += Format("f_size= %6d s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ", pkt->size,
                   VstatsBytes / 1024.0, time, pkt->size * 8 / frameTime / 1000.0,
                   time > 0 ? VstatsBytes * 8 / time / 1000.0 : 0.0);
    const int type = quality && qualitySize >= 5 ? quality[4] : static_cast<int>(AV_PICTURE_TYPE_NONE);
    line += Format("type= %c\n", Lib.av_get_picture_type_char(static_cast<AVPictureType>(type)));
    std::fputs(line.c_str(), Vstats.get());
  }

  void Encode(TOutputStream& os, AVFrame* frame) {
    const int sent = Lib.avcodec_send_frame(os.Encoder.get(), frame);
    if (sent < 0 && sent != AVERROR_EOF)
      throw EFFmpegError(os.Type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed" : "Audio encoding failed");
    DrainEncoder(os);
  }

  // --- video --------------------------------------------------------------------------

  void RunCustomHook(TInputStream& s, AVFrame* frame) {
    THookInfo info;
    info.TaskIndex = Task.TaskIndex;
    info.FrameNumber = FrameNumber;
    info.PTS = s.CurrentTime;
    TBitmap24* bitmap = Frames.ToBitmap(frame);
    if (!bitmap) {
      Log(llError, "Cannot initialize the toRGB conversion context");
      HookActive = false;
      return;
    }
    info.Bitmap = bitmap;
    try {
      Task.OnCustomHook(info);
    } catch (const std::exception& e) {
      Log(llError, std::string("Error occurs OnCustomHook: ") + e.what());
      info.Update = false;
    }
    if (info.Update && !Frames.FromBitmap(frame)) {
      Log(llError, "Cannot initialize the fromRGB conversion context");
      info.StopHook = true;
    }
    if (info.StopHook) {
      HookActive = false;
      FrameHooksActive = false;  // a stopped hook ends all per-frame drawing of the task
    }
  }

  void MaybePreview(const AVFrame* frame, int64_t timeUs) {
    const unsigned flags = Task.PreviewFlags();
    if (!(flags & 1)) Window.Close();
    const bool toHost = (flags & 2) && Task.OnPreviewBitmap;
    if (!toHost && !(flags & 1)) return;
    const int64_t now = Lib.av_gettime_relative();
    if (LastPreview != INT64_MIN && now - LastPreview < Task.MinimumPreviewGap) return;
    LastPreview = now;
    const TBitmap24* bitmap = Frames.ToPreviewBitmap(frame);
    if (!bitmap) {
      Log(llError, "Cannot initialize the toRGB conversion context");
      Task.SetPreviewFlags(flags & ~(toHost ? 2u : 1u));
      return;
    }
    if (!toHost) {
      // The floating window; once the user closes it, the task stops previewing.
      if (!Window.Show(*bitmap, timeUs)) Task.SetPreviewFlags(Task.PreviewFlags() & ~1u);
      return;
    }
    TPreviewInfo info;
    info.TaskIndex = Task.TaskIndex;
    info.Bitmap = bitmap;
    info.FrameNumber = FrameNumber;
    info.PTS = timeUs;
    Task.OnPreviewBitmap(info);
  }

  // Drops or repeats pictures so a constant-rate output keeps its clock.
  // The filtered frame's time from the output's start, in µs; false when it lies before the
  // start or past the recording time (which finishes the stream).
  bool OutputTime(TOutputStream& os, const AVFrame* frame, int64_t& timeUs) {
    const AVRational sinkBase = Lib.av_buffersink_get_time_base(os.Filter.Sink);
    timeUs = Lib.av_rescale_q(frame->pts, sinkBase, AV_TIME_BASE_Q) - os.Settings.StartTime;
    if (timeUs < 0) return false;
    if (os.Settings.RecordingTime != INT64_MAX && timeUs >= os.Settings.RecordingTime) {
      os.Finished = true;
      return false;
    }
    return true;
  }

  void EncodeVideo(TOutputStream& os, AVFrame* frame) {
    AVCodecContext* enc = os.Encoder.get();
    int64_t timeUs = 0;
    if (!OutputTime(os, frame, timeUs)) return;
    const double ideal = timeUs / 1e6 / av_q2d(enc->time_base);
    const bool variable = Options.VideoSync == 2 ||
                          (Options.VideoSync < 0 && (os.File->Context->oformat->flags & AVFMT_VARIABLE_FPS));
    const double delta = ideal - os.NextPts;
    int copies = 1;
    if (variable ? delta <= -0.6 : delta < -1.1) {
      copies = 0;
    } else if (!variable && delta > 1.1) {
      copies = static_cast<int>(std::lrint(delta));
    }
    if (variable && delta > 0) os.NextPts = std::llrint(ideal);
    if (copies == 0) {
      ++os.Drops;
      if (Options.ShowDropDupNotes()) Log(llVerbose, "*** drop!");
      return;
    }
    if (copies > 1) {
      os.Dups += copies - 1;
      if (Options.ShowDropDupNotes()) Log(llVerbose, Format("*** %d dup!", copies - 1));
    }
    for (int i = 0; i < copies && !Task.StopRequested; ++i) {
      if (os.FramesWritten >= os.FrameLimit) {
        os.Finished = true;
        return;
      }
      frame->pts = os.NextPts++;
      os.SentEnd = Lib.av_rescale_q(os.NextPts, enc->time_base, AV_TIME_BASE_Q);
      frame->pict_type = AV_PICTURE_TYPE_NONE;
      Encode(os, frame);
      MaybePreview(frame, Lib.av_rescale_q(frame->pts, enc->time_base, AV_TIME_BASE_Q));
    }
  }

  void EncodeAudio(TOutputStream& os, AVFrame* frame) {
    AVCodecContext* enc = os.Encoder.get();
    int64_t timeUs = 0;
    if (!OutputTime(os, frame, timeUs)) return;
    frame->pts = Lib.av_rescale_q(timeUs, AV_TIME_BASE_Q, enc->time_base);
    os.SentEnd = std::max(os.SentEnd, timeUs + Lib.av_rescale_q(frame->nb_samples, AVRational{1, enc->sample_rate},
                                                                AV_TIME_BASE_Q));
    Encode(os, frame);
  }

  void PullFiltered(TOutputStream& os) {
    for (;;) {
      const int r = Lib.av_buffersink_get_frame(os.Filter.Sink, Filtered.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) throw EFFmpegError(ErrorText("filter graph", r));
      if (!os.Finished) {
        if (os.Type == AVMEDIA_TYPE_VIDEO)
          EncodeVideo(os, Filtered.get());
        else
          EncodeAudio(os, Filtered.get());
      }
      Lib.av_frame_unref(Filtered.get());
    }
  }

  void FilterAndEncode(TOutputStream& os, AVFrame* frame) {
    if (os.Finished) return;
    RefilterIfChanged(os, frame);
    const int r = Lib.av_buffersrc_add_frame_flags(os.Filter.Source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (r < 0) throw EFFmpegError(ErrorText("filter graph", r));
    PullFiltered(os);
  }

  // --- decoding -----------------------------------------------------------------------

  void HandleDecoded(TInputStream& s, AVFrame* frame) {
    const TInputFile& in = *Task.Inputs[s.FileIndex];
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) ts = frame->pts;
    int64_t timeUs = ts != AV_NOPTS_VALUE ? Lib.av_rescale_q(ts, s.Stream->time_base, AV_TIME_BASE_Q) : s.CurrentTime;
    timeUs = static_cast<int64_t>(timeUs * s.TimeScale) + in.TimeOffset;
    s.CurrentTime = timeUs;
    frame->pts = timeUs;
    if (s.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      ++FrameNumber;
      if (HookActive)
        RunCustomHook(s, frame);
      else if (FrameHooksActive)
        Task.FrameHooks.Process(frame, timeUs);
    }
    for (TOutputStream* os : s.Outputs) FilterAndEncode(*os, frame);
  }

  void Decode(TInputStream& s, const AVPacket* pkt) {
    const int sent = Lib.avcodec_send_packet(s.Decoder.get(), pkt);
    if (sent < 0 && sent != AVERROR_EOF) {
      DecodingError(s);
      return;
    }
    // Frame threads hand pictures back late, so only a single-threaded decoder's count per
    // packet says how many frames the packet held.
    const bool countable = pkt && !(s.Decoder->active_thread_type & FF_THREAD_FRAME);
    for (int frames = 0;; ++frames) {
      const int r = Lib.avcodec_receive_frame(s.Decoder.get(), Decoded.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) {
        DecodingError(s);
        return;
      }
      if (frames == 1 && countable) NoteMultipleFrames(s);
      HandleDecoded(s, Decoded.get());
      Lib.av_frame_unref(Decoded.get());
    }
  }

  void NoteMultipleFrames(TInputStream& s) {
    if (Options.Verbosity <= 0 || (s.MultipleFramesNoted && Options.Verbosity <= 1)) return;
    s.MultipleFramesNoted = true;
    Log(llError, Format("Multiple frames in a packet from stream %d", s.Stream->index));
  }

  void DecodeSubtitle(TInputStream& s, const AVPacket* pkt) {
    AVSubtitle sub{};
    int got = 0;
    const int r = Lib.avcodec_decode_subtitle2(s.Decoder.get(), &sub, &got, const_cast<AVPacket*>(pkt));
    if (r < 0) return DecodingError(s);
    if (!got) return;
    struct TSubtitleFree {
      AVSubtitle* Sub;
      ~TSubtitleFree() { Lib.avsubtitle_free(Sub); }
    } release{&sub};
    if (sub.num_rects == 0) return;  // nothing to show
    if (sub.pts == AV_NOPTS_VALUE) {
      if (Options.ExitOnError) throw EFFmpegError("Subtitle packets must have a pts");
      Log(llError, "Subtitle packets must have a pts");
      return;
    }
    const TInputFile& in = *Task.Inputs[s.FileIndex];
    // One shown span per packet: the start moves into pts, the end becomes the duration.
    const int64_t shown = static_cast<int64_t>(sub.pts * s.TimeScale) + in.TimeOffset + sub.start_display_time * 1000LL;
    s.CurrentTime = shown;
    const uint32_t length = sub.end_display_time > sub.start_display_time ? sub.end_display_time - sub.start_display_time : 0;
    sub.end_display_time = length;
    sub.start_display_time = 0;
    for (TOutputStream* os : s.Outputs) {
      if (os->Copy || os->Finished || !os->Encoder) continue;
      const int64_t t = shown - os->Settings.StartTime;
      if (t < 0) continue;
      if (os->Settings.RecordingTime != INT64_MAX && t >= os->Settings.RecordingTime) {
        os->Finished = true;
        continue;
      }
      sub.pts = t;
      constexpr int MaxSubtitleSize = 1024 * 1024;
      CheckResult(Lib.av_new_packet(Encoded.get(), MaxSubtitleSize), "Out of memory");
      const int size = Lib.avcodec_encode_subtitle(os->Encoder.get(), Encoded->data, MaxSubtitleSize, &sub);
      if (size < 0) {
        Lib.av_packet_unref(Encoded.get());
        if (!os->Optional) throw EFFmpegError("Subtitle encoding failed");
        // A track nobody asked for must not cost the conversion: it ends here.
        Log(llWarning, Format("Subtitle encoding failed; output stream #%d of the subtitles ends here", os->Stream->index));
        os->Finished = true;
        continue;
      }
      Lib.av_shrink_packet(Encoded.get(), size);
      Encoded->pts = Encoded->dts = Lib.av_rescale_q(t, AV_TIME_BASE_Q, os->Stream->time_base);
      Encoded->duration = Lib.av_rescale_q(length, AVRational{1, 1000}, os->Stream->time_base);
      WritePacket(*os, Encoded.get());
      Lib.av_packet_unref(Encoded.get());
    }
  }

  void DecodingError(const TInputStream& s) {
    const std::string text = Format("Error while decoding stream #%d.%d (%s)", s.FileIndex, s.Stream->index,
                                    KindName(s.Stream->codecpar->codec_type));
    if (Options.ExitOnError) throw EFFmpegError(text);
    if (Options.Verbosity >= 0) Log(llVerbose, text);
  }

  void CopyPacket(TInputStream& s, TOutputStream& os, const AVPacket* pkt) {
    const TInputFile& in = *Task.Inputs[s.FileIndex];
    const int64_t offset = Lib.av_rescale_q(in.TimeOffset - os.Settings.StartTime, AV_TIME_BASE_Q, s.Stream->time_base);
    if (pkt->pts != AV_NOPTS_VALUE) {
      const int64_t t = Lib.av_rescale_q(pkt->pts, s.Stream->time_base, AV_TIME_BASE_Q) + in.TimeOffset;
      if (t < os.Settings.StartTime) return;
      if (os.Settings.RecordingTime != INT64_MAX && t - os.Settings.StartTime >= os.Settings.RecordingTime) {
        os.Finished = true;
        return;
      }
    }
    if (os.FramesWritten >= os.FrameLimit) {
      os.Finished = true;
      return;
    }
    CheckResult(Lib.av_packet_ref(Encoded.get(), pkt), "Out of memory");
    if (Encoded->pts != AV_NOPTS_VALUE) Encoded->pts += offset;
    if (Encoded->dts != AV_NOPTS_VALUE) Encoded->dts += offset;
    Lib.av_packet_rescale_ts(Encoded.get(), s.Stream->time_base, os.Stream->time_base);
    WritePacket(os, Encoded.get());
    Lib.av_packet_unref(Encoded.get());
  }

  void ProcessPacket(TInputFile& in, AVPacket* pkt) {
    if (pkt->stream_index < 0 || pkt->stream_index >= static_cast<int>(in.Streams.size())) return;
    TInputStream& s = in.Streams[pkt->stream_index];
    if (s.Discard) return;
    for (TOutputStream* os : s.Outputs)
      if (os->Copy && !os->Finished) CopyPacket(s, *os, pkt);
    if (!s.DecodingNeeded) return;
    if (s.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
      DecodeSubtitle(s, pkt);
    else
      Decode(s, pkt);
  }

  // --- the loop -----------------------------------------------------------------------

  bool AllFinished() {
    for (auto& out : Task.Outputs) {
      // Cues after the picture and the sound have ended are of no use; without this a trimmed
      // job would read on to the next cue, perhaps the end of the film.
      bool othersFinished = true, hasOthers = false;
      for (auto& os : out->Streams)
        if (os->Type != AVMEDIA_TYPE_SUBTITLE) {
          hasOthers = true;
          othersFinished = othersFinished && os->Finished;
        }
      for (auto& os : out->Streams) {
        if (os->Finished) continue;
        if (os->Type == AVMEDIA_TYPE_SUBTITLE && hasOthers && othersFinished) {
          os->Finished = true;
          continue;
        }
        return false;
      }
    }
    return true;
  }

  // The input whose output streams lag most, so the outputs grow evenly. In join mode the
  // inputs are read one after the other.
  TInputFile* ChooseInput() {
    if (Task.JoinMode) return JoinIndex < Task.InputCount() ? Task.Inputs[JoinIndex].get() : nullptr;
    // Subtitle streams have long gaps; they lead the choice only when nothing else is left.
    for (const bool subtitles : {false, true}) {
      TInputFile* chosen = nullptr;
      int64_t least = INT64_MAX;
      for (auto& out : Task.Outputs)
        for (auto& os : out->Streams) {
          if (os->Finished || (os->Type == AVMEDIA_TYPE_SUBTITLE) != subtitles) continue;
          TInputFile* in = Task.Inputs[os->Source->FileIndex].get();
          if (in->Eof) continue;
          if (os->LastTime < least) {
            least = os->LastTime;
            chosen = in;
          }
        }
      if (chosen) return chosen;
    }
    return nullptr;
  }

  bool SizeLimitReached() {
    const int64_t limit = Task.Outputs.empty() ? 0 : Task.Outputs[0]->Settings.SizeLimit;
    if (limit <= 0) return false;
    AVIOContext* pb = Task.Outputs[0]->Context->pb;
    return pb && Lib.avio_seek(pb, 0, SEEK_CUR) >= limit;
  }

  // Subtitle decoders hold nothing back that a flush would give.
  void FlushDecoder(TInputStream& s) {
    if (!s.DecodingNeeded || s.DecoderFlushed) return;
    s.DecoderFlushed = true;
    if (s.Stream->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) Decode(s, nullptr);
  }

  void FinishInput(TInputFile& in) {
    in.Eof = true;
    for (TInputStream& s : in.Streams) FlushDecoder(s);
    for (TInputStream& s : in.Streams)
      for (TOutputStream* os : s.Outputs)
        if (os->Copy || Options.Shortest) os->Finished = true;
    if (Options.Shortest)
      for (auto& out : Task.Outputs)
        for (auto& os : out->Streams) os->Finished = true;
  }

  void Loop() {
    while (!Task.StopRequested) {
      Task.WaitWhilePaused();
      if (Task.StopRequested || AllFinished() || SizeLimitReached()) break;
      TInputFile* in = ChooseInput();
      if (!in) break;
      const int r = Lib.av_read_frame(in->Context.get(), Packet.get());
      if (r == AVERROR(EAGAIN)) {
        Lib.av_usleep(10000);
        continue;
      }
      LastFileIndex = FileIndexOf(in);
      // A stop ends reads through the interrupt callback; that is no end of the input.
      if (r < 0 && Task.StopRequested) break;
      if (r < 0) {
        if (Task.JoinMode)
          NextJoinedInput();
        else
          FinishInput(*in);
        continue;
      }
      ProcessPacket(*in, Packet.get());
      Lib.av_packet_unref(Packet.get());
      if (Lib.av_gettime_relative() - LastReport >= Task.ReportInterval) Report(false);
    }
  }

  // Join mode: the current input has ended; the next one continues the same output streams
  // where this one stopped.
  void NextJoinedInput() {
    TInputFile& done = *Task.Inputs[JoinIndex];
    done.Eof = true;
    for (TInputStream& s : done.Streams)
      if (s.DecodingNeeded && !s.DecoderFlushed) {
        s.DecoderFlushed = true;
        Decode(s, nullptr);
      }
    if (++JoinIndex >= Task.InputCount()) return;
    TInputFile& next = *Task.Inputs[JoinIndex];
    int64_t end = 0;
    for (TOutputStream* os : AllOutputStreams()) end = std::max(end, os->SentEnd);
    const int64_t start = next.Context->start_time != AV_NOPTS_VALUE ? next.Context->start_time : 0;
    next.TimeOffset = end - start;
    for (TOutputStream* os : AllOutputStreams()) {
      TInputStream* source = FindJoinSource(next, os->Type);
      if (!source) continue;
      std::erase(os->Source->Outputs, os);
      os->Source = source;
      source->Outputs.push_back(os);
      source->Discard = false;
      if (!os->Copy) {
        source->DecodingNeeded = true;
        OpenDecoder(*source);
      }
    }
    for (TInputStream& s : next.Streams) s.Stream->discard = s.Discard ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
  }

  TInputStream* FindJoinSource(TInputFile& in, AVMediaType type) {
    const int best = Lib.av_find_best_stream(in.Context.get(), type, -1, -1, nullptr, 0);
    return best >= 0 ? &in.Streams[best] : nullptr;
  }

  int FileIndexOf(const TInputFile* in) {
    for (int i = 0; i < Task.InputCount(); ++i)
      if (Task.Inputs[i].get() == in) return i;
    return -1;
  }

  void FlushAll() {
    for (auto& in : Task.Inputs)
      for (TInputStream& s : in->Streams) FlushDecoder(s);
    for (auto& out : Task.Outputs)
      for (auto& os : out->Streams) {
        if (os->Copy || os->EncoderFlushed || !os->Encoder || os->Type == AVMEDIA_TYPE_SUBTITLE) continue;
        if (os->Filter.Source && Lib.av_buffersrc_add_frame_flags(os->Filter.Source, nullptr, 0) >= 0)
          PullFiltered(*os);
        os->EncoderFlushed = true;
        Encode(*os, nullptr);
      }
  }

  // --- progress -----------------------------------------------------------------------

  void Report(bool final) {
    LastReport = Lib.av_gettime_relative();
    TProgressInfo info;
    info.TaskIndex = Task.TaskIndex;
    info.FileIndex = final ? -1 : LastFileIndex;
    info.TotalDuration = Options.ExpectedDuration;
    AVIOContext* pb = Task.Outputs.empty() ? nullptr : Task.Outputs[0]->Context->pb;
    if (pb) {
      const int64_t size = Lib.avio_size(pb);
      info.TotalSize = size > 0 ? size : Lib.avio_seek(pb, 0, SEEK_CUR);
      if (info.TotalSize < 0) info.TotalSize = 0;
    }
    int64_t smallest = INT64_MAX;
    const TOutputStream* video = nullptr;
    for (auto& out : Task.Outputs)
      for (auto& os : out->Streams) {
        if (os->Type == AVMEDIA_TYPE_VIDEO && !video) video = os.get();
        if (os->LastTime > 0 && os->Type != AVMEDIA_TYPE_SUBTITLE) smallest = std::min(smallest, os->LastTime);
      }
    if (video) {
      if (video->FramesWritten == 0) return;  // nothing to show before the first picture
      const double seconds = (LastReport - StartTime) / 1e6;
      info.FrameNumber = static_cast<int>(video->FramesWritten);
      info.FPS = seconds > 1 ? static_cast<int>(video->FramesWritten / seconds + 0.5) : 0;
      info.Quality = video->Copy || video->LastQuality < 0 ? -1.0f : video->LastQuality / 118.0f;
    }
    info.CurrentDuration = smallest == INT64_MAX ? 10000000000LL * 1000000 : smallest;
    // Streams start at different moments; the figure the user sees never runs backwards.
    info.CurrentDuration = std::max<int64_t>({info.CurrentDuration, 10000, LastDuration});
    if (smallest != INT64_MAX) LastDuration = info.CurrentDuration;
    info.BitRate = static_cast<float>(info.TotalSize * 8.0 / (info.CurrentDuration / 1e6) / 1000.0);
    if (Task.OnProgress) {
      Task.OnProgress(info);
    } else if (Options.Verbosity >= 0) {
      Log(llVerbose, Format("frame=%5d fps=%3d q=%3.1f size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", info.FrameNumber,
                            info.FPS, info.Quality, info.TotalSize / 1024.0, info.CurrentDuration / 1e6,
                            info.BitRate));
    }
  }

  // --- the run ------------------------------------------------------------------------

  void Run() {
    Setup();
    Loop();
    if (!Task.StopRequested) FlushAll();
    for (auto& out : Task.Outputs)
      if (out->HeaderWritten) {
        const int r = Lib.av_write_trailer(out->Context.get());
        if (r < 0) throw EFFmpegError(ErrorText(out->Name, r));
      }
    Report(true);
  }

  void CloseCodecs() {
    std::lock_guard lock(CodecLock());
    for (auto& out : Task.Outputs)
      for (auto& os : out->Streams) {
        if (os->Encoder) Lib.av_freep(&os->Encoder->stats_in);  // ours, not the codec's
        os->Encoder.reset();
        if (os->PassLog) std::fclose(std::exchange(os->PassLog, nullptr));
      }
    for (auto& in : Task.Inputs)
      for (TInputStream& s : in->Streams) s.Decoder.reset();
  }
};

void TCustomFFmpeg::Transcode() {
  FinishedFlag = false;
  if (Inputs.empty() || Outputs.empty()) throw EFFmpegError("At least one output file must be specified");
  TTranscodeRun run(*this);
  try {
    run.Run();
  } catch (...) {
    run.CloseCodecs();
    throw;
  }
  run.CloseCodecs();
  FinishedFlag = !StopRequested;
}
