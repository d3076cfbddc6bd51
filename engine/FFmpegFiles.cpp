// Opening a task's input and output files and creating its output streams.
#include <algorithm>

#include "CodecLock.h"
#include "EngineError.h"
#include "FFUtils.h"
#include "FFmpegInternal.h"
#include "FFmpegLoader.h"
#include "FFmpegLogger.h"

TCustomFFmpeg::TCustomFFmpeg() : Options(this, this) {}

TCustomFFmpeg::~TCustomFFmpeg() {
  Outputs.clear();
  Inputs.clear();
}

void TCustomFFmpeg::Reset() {
  if (!TFFmpegLoader::Instance().Loaded(ConverterLibraries)) return;
  Outputs.clear();
  Inputs.clear();
  FrameHooks.Release();
  Options.Reset();
  JoinMode = false;
  StopRequested = false;
  FinishedFlag = false;
  LastError.clear();
}

void TCustomFFmpeg::ApplyOption(const std::string& name, const std::string& value) {
  ApplyFFmpegOption(Options, name, value);
}

int TCustomFFmpeg::InputCount() const { return static_cast<int>(Inputs.size()); }
int TCustomFFmpeg::OutputCount() const { return static_cast<int>(Outputs.size()); }
int TCustomFFmpeg::OutputFileCount() const { return OutputCount(); }

TAVProbe* TCustomFFmpeg::InputProbe(int index) const {
  if (index < 0 || index >= InputCount()) return nullptr;
  return Inputs[index]->Probe.get();
}

std::vector<AVRational> TCustomFFmpeg::InputVideoTimeBases() const {
  std::vector<AVRational> result;
  for (const auto& in : Inputs)
    for (const TInputStream& s : in->Streams)
      if (s.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) result.push_back(s.Stream->time_base);
  return result;
}

bool TCustomFFmpeg::AddFrameHook(const std::vector<std::string>& arguments) { return FrameHooks.Add(arguments); }

unsigned TCustomFFmpeg::PreviewFlags() const { return Preview; }
void TCustomFFmpeg::SetPreviewFlags(unsigned flags) { Preview = flags; }

void TCustomFFmpeg::SetPaused(bool paused) {
  {
    std::lock_guard lock(PauseMutex);
    Paused = paused;
  }
  PauseChanged.notify_all();
}

void TCustomFFmpeg::WaitWhilePaused() {
  std::unique_lock lock(PauseMutex);
  PauseChanged.wait(lock, [&] { return !Paused || StopRequested; });
}

namespace {

void Note(TCustomFFmpeg* task, TLogLevel level, const std::string& text) {
  TFFLogger::Instance().Log(task, level, text);
}

// After a file is opened the per-file settings start again from the inputs' first video and
// audio streams, so an output without settings of its own follows its (first) source.
void TakeInputSettings(TFFmpegOptions& options, const std::vector<std::unique_ptr<TInputFile>>& inputs) {
  options.ResetFileOptions();
  bool video = false, audio = false;
  for (const auto& in : inputs)
    for (const TInputStream& s : in->Streams) {
      const AVCodecParameters* par = s.Stream->codecpar;
      if (par->codec_type == AVMEDIA_TYPE_AUDIO && !audio && par->sample_rate > 0) {
        audio = true;
        options.File.AudioSampleRate = par->sample_rate;
        if (par->ch_layout.nb_channels > 0) options.File.AudioChannels = par->ch_layout.nb_channels;
      } else if (par->codec_type == AVMEDIA_TYPE_VIDEO && !video && par->width > 0 && par->height > 0) {
        video = true;
        options.SetSourceFrameSize(par->width, par->height);
      }
    }
}

bool KindDisabled(const TFileOptions& file, AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return file.Video.Disabled;
    case AVMEDIA_TYPE_AUDIO: return file.Audio.Disabled;
    case AVMEDIA_TYPE_SUBTITLE: return file.Subtitle.Disabled;
    default: return false;
  }
}

}  // namespace

bool TCustomFFmpeg::OpenInput(const std::string& fileName) {
  try {
    if (InputCount() >= MaxFiles) throw EFFmpegError("Too many input files");
    auto in = std::make_unique<TInputFile>();
    in->Name = fileName;
    const TFileOptions file = Options.File;
    const AVInputFormat* format = nullptr;
    if (!file.ForcedFormat.empty()) {
      format = Lib.av_find_input_format(file.ForcedFormat.c_str());
      if (!format) throw EFFmpegError(Format("Unknown input format: \"%s\"", file.ForcedFormat.c_str()));
    }
    AVFormatContext* ctx = Lib.avformat_alloc_context();
    if (!ctx) throw EFFmpegError("avformat_alloc_context failed");
    // A stop request also ends a read that waits on a pipe or the network.
    ctx->interrupt_callback.callback = [](void* task) {
      return static_cast<TCustomFFmpeg*>(task)->StopRequestedFlag() ? 1 : 0;
    };
    ctx->interrupt_callback.opaque = this;
    TDictionary formatOptions;
    ApplyRecordedFormatOptions(Options, ctx, false, formatOptions);
    const int opened = OpenInputFile(&ctx, in->Io, ConvertFileName(fileName), format, &formatOptions.Ptr);
    if (opened < 0) throw EFFmpegError(ErrorText(fileName, opened));
    in->Context.reset(ctx);
    LogUnusedOptions(Options, formatOptions.Ptr, "input '" + fileName + "'");
    int found;
    {
      std::lock_guard lock(CodecLock());
      found = Lib.avformat_find_stream_info(ctx, nullptr);
    }
    if (found < 0) throw EFFmpegError(Format("%s: could not find codec parameters", fileName.c_str()));
    if (file.StartTime != 0) {
      const int64_t target = file.StartTime + (ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0);
      if (Lib.avformat_seek_file(ctx, -1, INT64_MIN, target, target, 0) < 0 && Options.Verbosity > 0)
        Note(this, llWarning, Format("%s: could not seek to position %0.3f", fileName.c_str(), target / 1e6));
    }
    in->Streams.resize(ctx->nb_streams);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      TInputStream& s = in->Streams[i];
      s.Stream = ctx->streams[i];
      s.FileIndex = InputCount();
      s.TimeScale = i < MaxStreams ? file.InputTimeScale[i] : 1.0;
      const AVMediaType type = s.Stream->codecpar->codec_type;
      if (type < AVMEDIA_TYPE_UNKNOWN || type >= AVMEDIA_TYPE_NB) throw EFFmpegError("invalid codec_type");
      if (KindDisabled(file, type)) s.Stream->discard = AVDISCARD_ALL;
    }
    // Timestamps are shifted so the output starts at 0, unless they are copied as they are.
    const int64_t start = ctx->start_time != AV_NOPTS_VALUE ? ctx->start_time : 0;
    in->TimeOffset = file.InputTimeOffset - (Options.CopyTimestamps ? 0 : start + file.StartTime);
    if (ctx->duration > 0)
      Options.ExpectedDuration = std::max(Options.ExpectedDuration, ctx->duration - file.StartTime);
    in->Probe = std::make_unique<TAVProbe>();
    in->Probe->AttachContext(ctx);
    Inputs.push_back(std::move(in));
    TakeInputSettings(Options, Inputs);
    return true;
  } catch (const std::exception& e) {
    LastError = e.what();
    return false;
  }
}

namespace {

const TStreamKindOptions& KindOptions(const TFileOptions& file, AVMediaType type) {
  return type == AVMEDIA_TYPE_VIDEO ? file.Video : type == AVMEDIA_TYPE_AUDIO ? file.Audio : file.Subtitle;
}

AVCodecID DefaultCodec(const AVOutputFormat* format, AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return format->video_codec;
    case AVMEDIA_TYPE_AUDIO: return format->audio_codec;
    case AVMEDIA_TYPE_SUBTITLE: return format->subtitle_codec;
    default: return AV_CODEC_ID_NONE;
  }
}

// The first stream of the kind that is read; in join mode only the first input counts.
const AVStream* FirstInputStream(const std::vector<std::unique_ptr<TInputFile>>& inputs, AVMediaType type,
                                 bool firstInputOnly = false) {
  for (const auto& in : inputs) {
    for (const TInputStream& s : in->Streams)
      if (s.Stream->codecpar->codec_type == type && s.Stream->discard != AVDISCARD_ALL) return s.Stream;
    if (firstInputOnly) break;
  }
  return nullptr;
}

// The codec of a subtitle stream nobody chose: the container's default, or for text cues a
// container that takes timed text without naming a default (MP4, MOV, 3GP) gets mov_text,
// so a film's subtitles are not lost on the way to such a file.
AVCodecID ImplicitSubtitleCodec(const AVOutputFormat* format, const AVStream* source) {
  if (format->subtitle_codec != AV_CODEC_ID_NONE) return format->subtitle_codec;
  const AVCodecDescriptor* in = source ? Lib.avcodec_descriptor_get(source->codecpar->codec_id) : nullptr;
  if (in && (in->props & AV_CODEC_PROP_TEXT_SUB) &&
      Lib.avformat_query_codec(format, AV_CODEC_ID_MOV_TEXT, FF_COMPLIANCE_NORMAL) == 1)
    return AV_CODEC_ID_MOV_TEXT;
  return AV_CODEC_ID_NONE;
}

const char* StreamKindName(AVMediaType type) {
  return type == AVMEDIA_TYPE_VIDEO ? "video" : type == AVMEDIA_TYPE_AUDIO ? "audio" : "subtitle";
}

}  // namespace

bool SubtitlesConvertible(const AVStream* source, AVCodecID target) {
  if (!source || target == AV_CODEC_ID_NONE) return false;
  const AVCodecDescriptor* in = Lib.avcodec_descriptor_get(source->codecpar->codec_id);
  const AVCodecDescriptor* out = Lib.avcodec_descriptor_get(target);
  constexpr int kinds = AV_CODEC_PROP_TEXT_SUB | AV_CODEC_PROP_BITMAP_SUB;
  return in && out && (in->props & kinds) != 0 && (in->props & kinds) == (out->props & kinds) &&
         Lib.avcodec_find_decoder(source->codecpar->codec_id) && Lib.avcodec_find_encoder(target);
}

void TCustomFFmpeg::AddOutputStream(TOutputFile& out, AVMediaType type) {
  auto os = std::make_unique<TOutputStream>();
  os->File = &out;
  os->Type = type;
  os->Settings = out.Settings;
  const TStreamKindOptions& kind = KindOptions(out.Settings, type);
  os->Copy = kind.StreamCopy;
  os->FrameLimit = kind.FrameLimit;
  os->BitstreamFilterSpecs = kind.BitstreamFilters;
  if (!os->Copy) {
    if (!kind.CodecName.empty()) {
      os->Codec = FindStreamCodec(Options, kind.CodecName, type, true);
    } else {
      const AVCodecID id = type == AVMEDIA_TYPE_SUBTITLE
                               ? ImplicitSubtitleCodec(out.Context->oformat, FirstInputStream(Inputs, type))
                               : Lib.av_guess_codec(out.Context->oformat, nullptr, out.Name.c_str(), nullptr, type);
      os->Codec = id != AV_CODEC_ID_NONE ? Lib.avcodec_find_encoder(id) : nullptr;
      if (!os->Codec) throw EFFmpegError(Format("Unknown encoder '%s'", Lib.avcodec_get_name(id)));
    }
  }
  os->Stream = Lib.avformat_new_stream(out.Context.get(), nullptr);
  if (!os->Stream) throw EFFmpegError("Could not alloc stream");
  const int index = os->Stream->index;
  if (index < MaxStreams && out.Settings.StreamIds[index] != 0) os->Stream->id = out.Settings.StreamIds[index];
  if (!kind.Language.empty()) Lib.av_dict_set(&os->Stream->metadata, "language", kind.Language.c_str(), 0);
  out.Streams.push_back(std::move(os));
}

void TCustomFFmpeg::CreateOutputStreams(TOutputFile& out) {
  const AVOutputFormat* format = out.Context->oformat;
  for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}) {
    const TStreamKindOptions& kind = KindOptions(out.Settings, type);
    const bool chosen = !kind.CodecName.empty() || kind.StreamCopy;
    if (kind.Disabled || !FirstInputStream(Inputs, type, JoinMode)) continue;
    if (type == AVMEDIA_TYPE_SUBTITLE && !chosen) {
      // A subtitle track nobody asked for is converted only when it can be (text to text,
      // pictures to pictures): it must not make the conversion fail.
      const AVStream* source = FirstInputStream(Inputs, type, JoinMode);
      const AVCodecID codec = ImplicitSubtitleCodec(format, source);
      if (codec == AV_CODEC_ID_NONE) continue;
      if (!SubtitlesConvertible(source, codec)) {
        TFFLogger::Instance().Log(this, llInfo, "Subtitle stream left out: it cannot be converted for this container");
        continue;
      }
    } else if (!chosen && DefaultCodec(format, type) == AV_CODEC_ID_NONE) {
      continue;
    }
    try {
      AddOutputStream(out, type);
      out.Streams.back()->Optional = type == AVMEDIA_TYPE_SUBTITLE && !chosen;
    } catch (const std::exception& e) {
      throw EFFmpegError(Format("new_%s_stream fail: %s", StreamKindName(type), e.what()));
    }
  }
}

void TCustomFFmpeg::AddStreamToLastOutput(AVMediaType kind) {
  if (Outputs.empty()) throw EFFmpegError("At least one output file must be specified");
  TOutputFile& out = *Outputs.back();
  out.Settings = Options.File;
  AddOutputStream(out, kind);
}

namespace {

void SetOutputMetadata(AVFormatContext* ctx, const TFileOptions& file) {
  for (const TOptionPair& pair : file.Metadata)
    Lib.av_dict_set(&ctx->metadata, pair.Name.c_str(), pair.Value.c_str(), 0);
}

}  // namespace

int TCustomFFmpeg::OpenOutput(const std::string& fileName, bool join) {
  try {
    if (JoinMode) throw EFFmpegError("Cannot join more than one output file.");
    if (OutputCount() >= MaxFiles) throw EFFmpegError("Too many output files");
    auto out = std::make_unique<TOutputFile>();
    out->Name = fileName;
    out->Settings = Options.File;
    const std::string& forced = out->Settings.ForcedFormat;
    const std::string display = DecodeFileName(fileName);
    const AVOutputFormat* format = Lib.av_guess_format(forced.empty() ? nullptr : forced.c_str(),
                                                       forced.empty() ? display.c_str() : nullptr, nullptr);
    if (!format) {
      if (!forced.empty())
        throw EFFmpegError(Format("Requested output format '%s' is not a suitable output format", forced.c_str()));
      throw EFFmpegError(Format("Unable to find a suitable output format for '%s'", fileName.c_str()));
    }
    AVFormatContext* ctx = nullptr;
    CheckResult(Lib.avformat_alloc_output_context2(&ctx, format, nullptr, display.c_str()), "Out of memory");
    out->Context.reset(ctx);
    JoinMode = join && InputCount() > 1;
    try {
      CreateOutputStreams(*out);
    } catch (...) {
      JoinMode = false;
      throw;
    }
    SetOutputMetadata(ctx, out->Settings);
    if ((format->flags & AVFMT_NEEDNUMBER) && !Lib.av_filename_number_test(display.c_str()))
      throw EFFmpegError(ErrorText(fileName, AVERROR(EDOM)));
    const int opened = OpenOutputFile(ctx, out->Io, ConvertFileName(fileName), nullptr);
    if (opened < 0) throw EFFmpegError(ErrorText(fileName, opened));
    ApplyRecordedFormatOptions(Options, ctx, true, out->FormatOptions);
    if (JoinMode) {
      int64_t total = 0;
      for (const auto& in : Inputs)
        if (in->Context->duration > 0) total += in->Context->duration;
      Options.ExpectedDuration = total > 0 ? total : -1;
    }
    if (out->Settings.RecordingTime != INT64_MAX) Options.ExpectedDuration = out->Settings.RecordingTime;
    Outputs.push_back(std::move(out));
    TakeInputSettings(Options, Inputs);
    return OutputCount();
  } catch (const std::exception& e) {
    LastError = e.what();
    return -1;
  }
}
