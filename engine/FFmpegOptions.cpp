#include "FFmpegOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <unordered_map>

#include "CodecLookup.h"
#include "EngineError.h"
#include "FFUtils.h"
#include "FFmpegLogger.h"
#include "FFmpegPresets.h"
#include "platform/Platform.h"

namespace {

constexpr AVMediaType CodecContextOrder[] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                             AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};

// Data and attachment contexts have no media flag of their own; like the classic program they
// take every option the codec class knows (mask 0 matches any option).
int MediaFlag(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return AV_OPT_FLAG_VIDEO_PARAM;
    case AVMEDIA_TYPE_AUDIO: return AV_OPT_FLAG_AUDIO_PARAM;
    case AVMEDIA_TYPE_SUBTITLE: return AV_OPT_FLAG_SUBTITLE_PARAM;
    default: return 0;
  }
}

void Log(const TFFmpegOptions& task, TLogLevel level, const std::string& text) {
  TFFLogger::Instance().Log(task.LogSender(), level, text);
}

// ---- value conversions ----------------------------------------------------------------

template <typename TInt>
TInt ParseInteger(const std::string& value) {
  const char* first = value.data();
  const char* last = first + value.size();
  if (first != last && *first == '+') ++first;  // from_chars takes '-' only
  TInt result = 0;
  const auto [end, error] = std::from_chars(first, last, result);
  if (first == last || error != std::errc() || end != last)
    throw EFFmpegError("'" + value + "' is not a valid integer value");
  return result;
}

int ParseInt(const std::string& value) { return ParseInteger<int>(value); }

double ParseDouble(const std::string& value) {
  const char* first = value.data();
  const char* last = first + value.size();
  if (first != last && *first == '+') ++first;
  double result = 0;
  const auto [end, error] = std::from_chars(first, last, result);
  if (first == last || error != std::errc() || end != last)
    throw EFFmpegError("'" + value + "' is not a valid floating point value");
  return result;
}

bool ParseBool(const std::string& value) { return value != "0"; }

int64_t ParseTime(const std::string& option, const std::string& value, bool duration) {
  int64_t us = 0;
  if (Lib.av_parse_time(&us, value.c_str(), duration ? 1 : 0) < 0)
    throw EFFmpegError(Format("Invalid %s specification for %s: %s", duration ? "duration" : "date",
                              option.c_str(), value.c_str()));
  return us;
}

// A C integer literal (strtol base 0) at `p`, which is advanced past it and one more char.
long ReadNumberAndSeparator(const char*& p) {
  char* end = nullptr;
  const long n = std::strtol(p, &end, 0);
  p = end;
  if (*p) ++p;
  return n;
}

std::string Trim(const std::string& text) {
  const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
  auto first = std::find_if_not(text.begin(), text.end(), space);
  auto last = std::find_if_not(text.rbegin(), text.rend(), space).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TStreamKindOptions& Kind(TFFmpegOptions& task, char letter) {
  return letter == 'v' ? task.File.Video : letter == 'a' ? task.File.Audio : task.File.Subtitle;
}

// ---- library options ------------------------------------------------------------------

void LogInvalidValue(const std::string& name, const std::string& value) {
  Lib.av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(), name.c_str());
}

unsigned TypeBit(AVMediaType type) { return 1u << type; }

// The encoder (or decoder) the task currently selects for `type`, if it is known here.
const AVCodec* SelectedCodec(TFFmpegOptions& task, AVMediaType type) {
  const TStreamKindOptions* kind = type == AVMEDIA_TYPE_VIDEO      ? &task.File.Video
                                   : type == AVMEDIA_TYPE_AUDIO    ? &task.File.Audio
                                   : type == AVMEDIA_TYPE_SUBTITLE ? &task.File.Subtitle
                                                                   : nullptr;
  if (!kind || kind->StreamCopy || kind->CodecName.empty()) return nullptr;
  const std::string name = BridgeCodecName(kind->CodecName, true, task.Strictness(type));
  if (const AVCodec* c = Lib.avcodec_find_encoder_by_name(name.c_str())) return c;
  return Lib.avcodec_find_decoder_by_name(kind->CodecName.c_str());
}

const AVOption* FindPrivate(const AVClass* const* cls, const std::string& name) {
  if (!*cls) return nullptr;
  const AVOption* o = Lib.av_opt_find2(const_cast<const AVClass**>(cls), name.c_str(), nullptr, 0,
                                       AV_OPT_SEARCH_FAKE_OBJ, nullptr);
  return o && o->type != AV_OPT_TYPE_CONST ? o : nullptr;
}

// Every codec whose private options know `name`, as a set of media types.
unsigned PrivateCodecOptionTypes(const std::string& name) {
  unsigned types = 0;
  void* it = nullptr;
  while (const AVCodec* c = Lib.av_codec_iterate(&it))
    if (c->type >= 0 && c->type < AVMEDIA_TYPE_NB && FindPrivate(&c->priv_class, name)) types |= TypeBit(c->type);
  return types;
}

bool AnyCodecHasPrivate(const std::string& name, bool encoder) {
  void* it = nullptr;
  while (const AVCodec* c = Lib.av_codec_iterate(&it))
    if ((encoder ? Lib.av_codec_is_encoder(c) : Lib.av_codec_is_decoder(c)) && FindPrivate(&c->priv_class, name))
      return true;
  return false;
}

bool AnyFormatHasPrivate(const std::string& name, bool muxer) {
  void* it = nullptr;
  if (muxer) {
    while (const AVOutputFormat* f = Lib.av_muxer_iterate(&it))
      if (FindPrivate(&f->priv_class, name)) return true;
  } else {
    while (const AVInputFormat* f = Lib.av_demuxer_iterate(&it))
      if (FindPrivate(&f->priv_class, name)) return true;
  }
  return false;
}

// A private option is checked against the codec the task selected, when that codec has it;
// any other encoder judges it when it is opened.
bool PrivateValueAccepted(TFFmpegOptions& task, AVMediaType type, const std::string& name, const std::string& value) {
  const AVCodec* codec = SelectedCodec(task, type);
  if (!codec || !FindPrivate(&codec->priv_class, name)) return true;
  TCodecContext probe(Lib.avcodec_alloc_context3(codec));
  if (!probe || !probe->priv_data) return true;
  return Lib.av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) >= 0;
}

TLibraryOptionResult SetGenericOrPrivate(TFFmpegOptions& task, const std::string& name, const std::string& value,
                                         unsigned mediaMask, bool searchPrivate) {
  unsigned accepted = 0;
  bool known = false;
  for (AVMediaType type : CodecContextOrder) {
    if (mediaMask && !(mediaMask & TypeBit(type))) continue;
    AVCodecContext* ctx = task.DefaultCodecContext(type);
    if (!Lib.av_opt_find(ctx, name.c_str(), nullptr, MediaFlag(type), 0)) continue;
    known = true;
    if (Lib.av_opt_set(ctx, name.c_str(), value.c_str(), 0) < 0) {
      LogInvalidValue(name, value);
      return TLibraryOptionResult::Rejected;
    }
    accepted |= TypeBit(type);
  }
  if (known) {
    task.Record(name, accepted);
    if (name == "debug") TFFLogger::Instance().SetLogLevel(llDebug);
    return TLibraryOptionResult::Accepted;
  }
  if (AVFormatContext* fmt = task.DefaultFormatContext(); Lib.av_opt_find(fmt, name.c_str(), nullptr, 0, 0)) {
    if (Lib.av_opt_set(fmt, name.c_str(), value.c_str(), 0) < 0) {
      LogInvalidValue(name, value);
      return TLibraryOptionResult::Rejected;
    }
    task.Record(name, TRecordedOption::FormatTarget);
    if (name == "debug") TFFLogger::Instance().SetLogLevel(llDebug);
    return TLibraryOptionResult::Accepted;
  }
  if (SwsContext* sws = task.DefaultScalerContext(); Lib.av_opt_find(sws, name.c_str(), nullptr, 0, 0)) {
    if (Lib.av_opt_set(sws, name.c_str(), value.c_str(), 0) < 0) {
      LogInvalidValue(name, value);
      return TLibraryOptionResult::Rejected;
    }
    task.Record(name, TRecordedOption::ScalerTarget);
    int64_t flags = 0;
    if (Lib.av_opt_get_int(sws, "sws_flags", 0, &flags) >= 0) task.ScalerFlags = static_cast<int>(flags);
    return TLibraryOptionResult::Accepted;
  }
  if (searchPrivate) {
    // This generation moved many encoder settings into the encoders' own option tables.
    if (const unsigned types = PrivateCodecOptionTypes(name)) {
      for (AVMediaType type : CodecContextOrder)
        if ((types & TypeBit(type)) && !PrivateValueAccepted(task, type, name, value)) {
          LogInvalidValue(name, value);
          return TLibraryOptionResult::Rejected;
        }
      for (AVMediaType type : CodecContextOrder)
        if (types & TypeBit(type)) task.AddPendingCodecOption(type, {name, value, false}, false);
      return TLibraryOptionResult::Accepted;
    }
    if (AnyFormatHasPrivate(name, true) || AnyFormatHasPrivate(name, false)) {
      task.AddPendingFormatOption(name, value);
      return TLibraryOptionResult::Accepted;
    }
  }
  // "vb", "ab", "sfoo": the option without its media letter on that media's context.
  if (name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's')) {
    const AVMediaType type = name[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                             : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                                              : AVMEDIA_TYPE_SUBTITLE;
    const std::string rest = name.substr(1);
    AVCodecContext* ctx = task.DefaultCodecContext(type);
    if (Lib.av_opt_find(ctx, rest.c_str(), nullptr, MediaFlag(type), 0)) {
      if (Lib.av_opt_set(ctx, rest.c_str(), value.c_str(), 0) < 0) {
        LogInvalidValue(name, value);
        return TLibraryOptionResult::Rejected;
      }
      task.Record(rest, TypeBit(type));
      if (rest == "debug") TFFLogger::Instance().SetLogLevel(llDebug);
      return TLibraryOptionResult::Accepted;
    }
  }
  return TLibraryOptionResult::Unknown;
}

// ---- options with their own rules ------------------------------------------------------

void CheckBitRate(TFFmpegOptions& task, AVMediaType type) {
  int64_t rate = 0;
  if (Lib.av_opt_get_int(task.DefaultCodecContext(type), "b", 0, &rate) >= 0 && rate < 1000)
    Log(task, llWarning,
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void SetFrameSize(TFFmpegOptions& task, const std::string& value) {
  int w = 0, h = 0;
  if (Lib.av_parse_video_size(&w, &h, value.c_str()) < 0) throw EFFmpegError("Incorrect frame size");
  task.File.FrameWidth = w;
  task.File.FrameHeight = h;
  task.File.CropReferenceWidth = w;
  task.File.CropReferenceHeight = h;
}

void SetFrameRate(TFFmpegOptions& task, const std::string& value) {
  AVRational rate{0, 0};
  if (Lib.av_parse_video_rate(&rate, value.c_str()) < 0) throw EFFmpegError("Incorrect frame rate");
  task.File.FrameRate = rate;
}

void SetAspect(TFFmpegOptions& task, const std::string& value) {
  const EFFmpegError invalid("Incorrect aspect ratio specification.");
  double ratio = 0;
  const size_t colon = value.find(':');
  try {
    if (colon != std::string::npos) {
      const int x = ParseInt(value.substr(0, colon));
      const int y = ParseInt(value.substr(colon + 1));
      if (y <= 0) throw invalid;
      ratio = static_cast<double>(x) / y;
    } else {
      ratio = ParseDouble(value);
    }
  } catch (const EFFmpegError&) {
    throw invalid;
  }
  if (!(ratio > 0)) throw invalid;
  task.File.AspectRatio = ratio;
}

void SetPixelFormat(TFFmpegOptions& task, const std::string& value) {
  if (value == "list") {
    Log(task, llInfo, "Pixel formats:  name          nb_components  bits_per_pixel");
    for (const AVPixFmtDescriptor* d = Lib.av_pix_fmt_desc_next(nullptr); d; d = Lib.av_pix_fmt_desc_next(d))
      Log(task, llInfo, Format("%-16s %13d %15d", d->name, d->nb_components, Lib.av_get_bits_per_pixel(d)));
    return;
  }
  const AVPixelFormat format = Lib.av_get_pix_fmt(value.c_str());
  if (format == AV_PIX_FMT_NONE) throw EFFmpegError(Format("Unknown pixel format requested: %s", value.c_str()));
  task.File.PixelFormat = format;
}

void SetSampleFormat(TFFmpegOptions& task, const std::string& value) {
  if (value == "list") {
    Log(task, llInfo, "Sample formats: name   depth");
    for (int i = 0; i < AV_SAMPLE_FMT_NB; ++i) {
      const auto format = static_cast<AVSampleFormat>(i);
      Log(task, llInfo, Format("%-10s %5d", Lib.av_get_sample_fmt_name(format), Lib.av_get_bytes_per_sample(format) * 8));
    }
    return;
  }
  const AVSampleFormat format = Lib.av_get_sample_fmt(value.c_str());
  if (format == AV_SAMPLE_FMT_NONE) throw EFFmpegError(Format("Unknown sample format requested: %s", value.c_str()));
  task.File.SampleFormat = format;
}

// "croptop" .. "cropright". `label` is the part of the old deprecation note after "Crop".
void SetCrop(TFFmpegOptions& task, const std::string& value, int TFileOptions::*amount, bool vertical,
             const char* label) {
  const int n = ParseInt(value);
  if (n == 0) return;
  if (n < 0) throw EFFmpegError(Format("Incorrect %s crop size", LowerCase(label).c_str()));
  int& remaining = vertical ? task.File.CropReferenceHeight : task.File.CropReferenceWidth;
  if (n >= remaining)
    throw EFFmpegError(Format("%s crop dimensions are outside the range of the original image.\n"
                              "Remember to crop first and scale second.",
                              vertical ? "Vertical" : "Horizontal"));
  task.File.*amount = n;
  remaining -= n;
  Log(task, llWarning, Format("Crop%s is deprecated in favor of the crop avfilter", label));
}

void SetCodec(TFFmpegOptions& task, char letter, const std::string& value) {
  TStreamKindOptions& kind = Kind(task, letter);
  kind.StreamCopy = value == "copy";
  kind.CodecName = kind.StreamCopy ? std::string() : value;
}

void SetTag(TFFmpegOptions& task, char letter, const std::string& value) {
  if (value.size() != 4)
    throw EAssertionFailed(Format("%s tag parameter must be 4 chars",
                                  letter == 'v' ? "video" : letter == 'a' ? "audio" : "subtitle"));
  const auto c = [&](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(value[i])); };
  Kind(task, letter).CodecTag = c(0) | (c(1) << 8) | (c(2) << 16) | (c(3) << 24);
}

void SetMatrix(std::vector<uint16_t>& matrix, const std::string& value) {
  std::vector<uint16_t> coefficients(64);
  const char* p = value.c_str();
  for (int i = 0; i < 64; ++i) {
    coefficients[i] = static_cast<uint16_t>(std::strtol(p, nullptr, 10));
    if (i < 63) {
      p = std::strchr(p, ',');
      if (!p) throw EFFmpegError(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
      ++p;
    }
  }
  matrix = std::move(coefficients);
}

void AddStream(TFFmpegOptions& task, AVMediaType kind) {
  if (!task.Host() || task.Host()->OutputFileCount() <= 0)
    throw EFFmpegError("At least one output file must be specified");
  task.Host()->AddStreamToLastOutput(kind);
}

void SetStreamId(TFFmpegOptions& task, const std::string& name, const std::string& value) {
  const size_t colon = value.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
    throw EFFmpegError(Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                              value.c_str(), name.c_str()));
  const std::string indexText = value.substr(0, colon);
  int index = -1;
  try {
    index = ParseInt(indexText);
  } catch (const EFFmpegError&) {
  }
  if (index < 0 || index >= MaxStreams)
    throw EFFmpegError(Format("Invalid stream index \"%s\" for option \"%s\": it must be a number from 0 to %d",
                              indexText.c_str(), name.c_str(), MaxStreams - 1));
  const int id = ParseInt(value.substr(colon + 1));
  if (id < 0)
    throw EFFmpegError(Format("Invalid stream id \"%s\" for option \"%s\": it must not be negative",
                              value.substr(colon + 1).c_str(), name.c_str()));
  task.File.StreamIds[index] = id;
}

void AddBitstreamFilter(TFFmpegOptions& task, char letter, const std::string& value) {
  if (!value.empty() && value[0] == '=') return;
  const size_t eq = value.find('=');
  TBitstreamFilterSpec spec{value.substr(0, eq), eq == std::string::npos ? std::string() : value.substr(eq + 1)};
  if (!Lib.av_bsf_get_by_name(spec.Name.c_str()))
    throw EFFmpegError(Format("Unknown bitstream filter %s", spec.Name.c_str()));
  Kind(task, letter).BitstreamFilters.push_back(std::move(spec));
}

void AddFrameHook(TFFmpegOptions& task, const std::string& value) {
  const char separator = value.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> pieces;
  std::string piece;
  std::istringstream in(value);
  while (pieces.size() < 254 && std::getline(in, piece, separator))
    if (!piece.empty()) pieces.push_back(piece);
  if (pieces.empty() || !task.Host() || !task.Host()->AddFrameHook(pieces))
    throw EFFmpegError("Failed to add video hook function: " + value);
  task.FrameHooks.push_back(std::move(pieces));
}

void SetVstats(TFFmpegOptions& task) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string stamp = Format("%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
  task.VstatsFile = Format("%svstats_%s.log", Platform().ProgramFolder().c_str(), stamp.c_str());
}

void SetItsScale(TFFmpegOptions& task, const std::string& value) {
  const char* p = value.c_str();
  const long index = ReadNumberAndSeparator(p);
  if (index < 0 || index >= MaxStreams) throw EFFmpegError(Format("stream index over MAX_STREAMS(%d)", MaxStreams));
  task.File.InputTimeScale[index] = ParseDouble(p);
}

void AddMap(TFFmpegOptions& task, const std::string& value) {
  const char* p = value.c_str();
  TStreamMap map;
  map.File = static_cast<int>(ReadNumberAndSeparator(p));
  map.Stream = static_cast<int>(ReadNumberAndSeparator(p));
  if (*p) {
    map.SyncFile = static_cast<int>(ReadNumberAndSeparator(p));
    map.SyncStream = static_cast<int>(ReadNumberAndSeparator(p));
  } else {
    map.SyncFile = map.File;
    map.SyncStream = map.Stream;
  }
  task.StreamMaps.push_back(map);
}

void AddMetadataMap(TFFmpegOptions& task, const std::string& value) {
  const char* p = value.c_str();
  TMetadataMap map;
  map.OutputFile = static_cast<int>(ReadNumberAndSeparator(p));
  map.InputFile = static_cast<int>(ReadNumberAndSeparator(p));
  task.MetadataMaps.push_back(map);
}

void SetTargetOption(TFFmpegOptions& task, const std::string& value) {
  static const std::pair<const char*, TTargetNorm> prefixes[] = {
      {"pal-", TTargetNorm::PAL}, {"ntsc-", TTargetNorm::NTSC}, {"film-", TTargetNorm::FILM}};
  for (const auto& [prefix, norm] : prefixes)
    if (value.rfind(prefix, 0) == 0) return ApplyTarget(task, value.substr(std::strlen(prefix)), norm, "ntsc");
  ApplyTarget(task, value, TTargetNorm::Automatic, "ntsc");
}

// ---- the option table -------------------------------------------------------------------

using THandler = void (*)(TFFmpegOptions& task, const std::string& name, const std::string& value);

void DoNothing(TFFmpegOptions& task, const std::string& name, const std::string&) {
  Log(task, llInfo, "Do nothing: option - " + name);
}
void UsePadFilter(TFFmpegOptions&, const std::string&, const std::string&) {
  throw EFFmpegError("Please use vfilters=pad");
}

// A handler body; t: the task, n: the option name, v: the value.
#define ONDREL_OPT(...) [](TFFmpegOptions & t, const std::string& n, const std::string& v) { \
  (void)t; (void)n; (void)v; __VA_ARGS__; }

const std::unordered_map<std::string_view, THandler>& OptionTable() {
  static const std::unordered_map<std::string_view, THandler> table = {
      {"L", DoNothing}, {"h", DoNothing}, {"version", DoNothing}, {"formats", DoNothing},
      {"codecs", DoNothing}, {"bsfs", DoNothing}, {"protocols", DoNothing}, {"filters", DoNothing},
      {"loglevel", ONDREL_OPT(TFFLogger::Instance().SetLevelFromText(v))},
      {"f", ONDREL_OPT(if (v == "pgmyuv") {
         t.PgmYuv = true;
         t.File.ForcedFormat = "image2";
         Log(t, llInfo, "pgmyuv format is deprecated, use image2");
       } else t.File.ForcedFormat = v)},
      {"i", DoNothing}, {"y", DoNothing},
      {"map", ONDREL_OPT(AddMap(t, v))},
      {"map_meta_data", ONDREL_OPT(AddMetadataMap(t, v))},
      {"t", ONDREL_OPT(t.File.RecordingTime = ParseTime(n, v, true); t.ExpectedDuration = t.File.RecordingTime)},
      {"fs", ONDREL_OPT(t.File.SizeLimit = ParseInteger<int64_t>(v))},
      {"ss", ONDREL_OPT(t.File.StartTime = ParseTime(n, v, true))},
      {"itsoffset", ONDREL_OPT(t.File.InputTimeOffset = ParseTime(n, v, true))},
      {"itsscale", ONDREL_OPT(SetItsScale(t, v))},
      {"timestamp", ONDREL_OPT(t.File.RecordingTimestamp = ParseTime(n, v, false))},
      {"metadata", ONDREL_OPT(const size_t eq = v.find('=');
                              if (eq == std::string::npos) throw EFFmpegError("Missing =");
                              t.File.Metadata.push_back({v.substr(0, eq), v.substr(eq + 1)}))},
      {"dframes", ONDREL_OPT(t.File.DataFrameLimit = ParseInt(v))},
      {"benchmark", DoNothing},
      // The old text named Windows; the option is just as absent here.
      {"timelimit", ONDREL_OPT(Log(t, llWarning, "Warning: -timelimit not implemented"))},
      {"dump", ONDREL_OPT(t.DumpPackets = ParseBool(v))},
      {"hex", ONDREL_OPT(t.HexDump = ParseBool(v))},
      {"re", ONDREL_OPT(t.RateEmulation = ParseBool(v))},
      {"loop_input", ONDREL_OPT(t.LoopInput = ParseBool(v))},
      {"loop_output", ONDREL_OPT(t.LoopOutput = ParseInt(v))},
      {"v", ONDREL_OPT(t.Verbosity = ParseInt(v))},
      {"target", ONDREL_OPT(SetTargetOption(t, v))},
      {"threads", ONDREL_OPT(const int threads = ParseInt(v);
                             if (threads < 0) throw EFFmpegError(Format("Invalid thread count '%s'", v.c_str()));
                             t.ThreadCount = threads)},
      {"vsync", ONDREL_OPT(t.VideoSync = ParseInt(v))},
      {"async", ONDREL_OPT(t.AudioSync = ParseInt(v))},
      {"adrift_threshold", ONDREL_OPT(t.AudioDriftThreshold = ParseDouble(v))},
      {"vglobal", ONDREL_OPT(t.VideoGlobalHeader = ParseInt(v))},
      {"copyts", ONDREL_OPT(t.CopyTimestamps = true)},
      {"shortest", ONDREL_OPT(t.Shortest = ParseBool(v))},
      {"dts_delta_threshold", ONDREL_OPT(t.DtsDeltaThreshold = ParseDouble(v))},
      {"programid", ONDREL_OPT(t.ProgramId = ParseInt(v))},
      {"xerror", ONDREL_OPT(t.ExitOnError = true)},
      {"copyinkf", ONDREL_OPT(t.CopyInitialNonKeyframes = ParseInt(v))},
      {"b", ONDREL_OPT(if (ApplyLibraryOption(t, n, v) == TLibraryOptionResult::Accepted)
                         CheckBitRate(t, AVMEDIA_TYPE_VIDEO))},
      {"vb", ONDREL_OPT(if (ApplyLibraryOption(t, n, v) == TLibraryOptionResult::Accepted)
                          CheckBitRate(t, AVMEDIA_TYPE_VIDEO))},
      {"vframes", ONDREL_OPT(t.File.Video.FrameLimit = ParseInt(v))},
      {"r", ONDREL_OPT(SetFrameRate(t, v))},
      {"s", ONDREL_OPT(SetFrameSize(t, v))},
      {"aspect", ONDREL_OPT(SetAspect(t, v))},
      {"pix_fmt", ONDREL_OPT(SetPixelFormat(t, v))},
      {"croptop", ONDREL_OPT(SetCrop(t, v, &TFileOptions::CropTop, true, "Top"))},
      {"cropbottom", ONDREL_OPT(SetCrop(t, v, &TFileOptions::CropBottom, true, "Bottom"))},
      {"cropleft", ONDREL_OPT(SetCrop(t, v, &TFileOptions::CropLeft, false, "Left"))},
      {"cropright", ONDREL_OPT(SetCrop(t, v, &TFileOptions::CropRight, false, "Right"))},
      {"padtop", UsePadFilter}, {"padbottom", UsePadFilter}, {"padleft", UsePadFilter},
      {"padright", UsePadFilter}, {"padcolor", UsePadFilter},
      {"intra", ONDREL_OPT(t.IntraOnly = ParseBool(v))},
      {"vn", ONDREL_OPT(t.File.Video.Disabled = ParseBool(v))},
      {"vdt", ONDREL_OPT(t.VideoDiscard = ParseInt(v))},
      {"qscale", ONDREL_OPT(const double q = ParseDouble(v);
                            if (!(q > 0 && q <= 255)) throw EFFmpegError("qscale must be > 0.0 and <= 255");
                            t.File.VideoQuantiser = q)},
      {"rc_override", ONDREL_OPT(t.RcOverride = v)},
      {"vcodec", ONDREL_OPT(SetCodec(t, 'v', v))},
      {"me_threshold", ONDREL_OPT(t.MeThreshold = ParseInt(v))},
      {"sameq", ONDREL_OPT(t.SameQuant = ParseBool(v))},
      {"pass", ONDREL_OPT(const int pass = ParseInt(v);
                          if (pass != 1 && pass != 2) throw EFFmpegError("pass number can be only 1 or 2");
                          t.PassNumber = pass)},
      {"passlogfile", ONDREL_OPT(t.PassLogFile = v)},
      {"deinterlace", ONDREL_OPT(t.Deinterlace = ParseBool(v))},
      {"psnr", ONDREL_OPT(t.DoPsnr = ParseBool(v))},
      {"vstats", ONDREL_OPT(SetVstats(t))},
      {"vstats_file", ONDREL_OPT(t.VstatsFile = v)},
      {"vhook", ONDREL_OPT(AddFrameHook(t, v))},
      {"vfilters", ONDREL_OPT(t.File.VideoFilters = v)},
      {"vf", ONDREL_OPT(t.File.VideoFilters = v)},
      {"intra_matrix", ONDREL_OPT(SetMatrix(t.File.IntraMatrix, v))},
      {"inter_matrix", ONDREL_OPT(SetMatrix(t.File.InterMatrix, v))},
      {"top", ONDREL_OPT(t.TopFieldFirst = ParseInt(v))},
      {"dc", ONDREL_OPT(t.IntraDcPrecision = ParseInt(v))},
      {"vtag", ONDREL_OPT(SetTag(t, 'v', v))},
      {"newvideo", ONDREL_OPT(AddStream(t, AVMEDIA_TYPE_VIDEO))},
      {"vlang", ONDREL_OPT(t.File.Video.Language = v)},
      {"qphist", ONDREL_OPT(t.QpHistogram = ParseBool(v))},
      {"force_fps", ONDREL_OPT(t.ForceFps = ParseBool(v))},
      {"streamid", ONDREL_OPT(SetStreamId(t, n, v))},
      {"ab", ONDREL_OPT(if (ApplyLibraryOption(t, n, v) == TLibraryOptionResult::Accepted)
                          CheckBitRate(t, AVMEDIA_TYPE_AUDIO))},
      {"aframes", ONDREL_OPT(t.File.Audio.FrameLimit = ParseInt(v))},
      {"aq", ONDREL_OPT(t.File.AudioQuantiser = ParseDouble(v))},
      {"ar", ONDREL_OPT(if (const int rate = ParseInt(v); rate > 0) t.File.AudioSampleRate = rate)},
      {"ac", ONDREL_OPT(if (const int channels = ParseInt(v); channels > 0) t.File.AudioChannels = channels)},
      {"an", ONDREL_OPT(t.File.Audio.Disabled = ParseBool(v))},
      {"acodec", ONDREL_OPT(SetCodec(t, 'a', v))},
      {"atag", ONDREL_OPT(SetTag(t, 'a', v))},
      {"vol", ONDREL_OPT(t.Volume = ParseInt(v))},
      {"newaudio", ONDREL_OPT(AddStream(t, AVMEDIA_TYPE_AUDIO))},
      {"alang", ONDREL_OPT(t.File.Audio.Language = v)},
      {"sample_fmt", ONDREL_OPT(SetSampleFormat(t, v))},
      {"sn", ONDREL_OPT(t.File.Subtitle.Disabled = ParseBool(v))},
      {"scodec", ONDREL_OPT(SetCodec(t, 's', v))},
      {"newsubtitle", ONDREL_OPT(AddStream(t, AVMEDIA_TYPE_SUBTITLE))},
      {"slang", ONDREL_OPT(t.File.Subtitle.Language = v)},
      {"stag", ONDREL_OPT(SetTag(t, 's', v))},
      {"vc", ONDREL_OPT(t.VideoChannel = ParseInt(v))},
      {"tvstd", ONDREL_OPT(t.TvStandard = v)},
      {"isync", ONDREL_OPT(t.InputSync = ParseBool(v))},
      {"muxdelay", ONDREL_OPT(t.MuxMaxDelay = ParseDouble(v))},
      {"muxpreload", ONDREL_OPT(t.MuxPreload = ParseDouble(v))},
      {"absf", ONDREL_OPT(AddBitstreamFilter(t, 'a', v))},
      {"vbsf", ONDREL_OPT(AddBitstreamFilter(t, 'v', v))},
      {"sbsf", ONDREL_OPT(AddBitstreamFilter(t, 's', v))},
      {"apre", ONDREL_OPT(ApplyPreset(t, n, v))},
      {"vpre", ONDREL_OPT(ApplyPreset(t, n, v))},
      {"spre", ONDREL_OPT(ApplyPreset(t, n, v))},
      {"fpre", ONDREL_OPT(ApplyPreset(t, n, v))},
  };
  return table;
}

#undef ONDREL_OPT

// ---- the recorded options, applied to new contexts --------------------------------------

void CopyOption(void* from, void* to, const std::string& name, TFFmpegOptions& task, const char* owner) {
  uint8_t* text = nullptr;
  if (Lib.av_opt_get(from, name.c_str(), 0, &text) < 0 || !text) return;
  if (Lib.av_opt_set(to, name.c_str(), reinterpret_cast<const char*>(text), 0) < 0)
    Log(task, llWarning, Format("Option '%s' could not be set on %s", name.c_str(), owner));
  Lib.av_free(text);
}

void SetDict(TDictionary& dict, const std::string& name, const std::string& value) {
  Lib.av_dict_set(&dict.Ptr, name.c_str(), value.c_str(), 0);
}

std::string CreationTimeText(int64_t microseconds) {
  const std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec, static_cast<int>(microseconds % 1000000));
}

}  // namespace

// ---- TFFmpegOptions -----------------------------------------------------------------------

TFFmpegOptions::TFFmpegOptions(IFFmpegOptionsHost* host, void* logSender)
    : HostPtr(host), Sender(logSender ? logSender : this) {}

TFFmpegOptions::~TFFmpegOptions() = default;

void TFFmpegOptions::Reset() {
  static_cast<TTaskOptions&>(*this) = TTaskOptions();
  for (TCodecContext& c : CodecContexts) c.reset();
  FormatContext.reset();
  ScalerContext.reset();
  Recorded.clear();
  for (auto& list : PendingCodec) list.clear();
  PendingFormat.clear();
  Warned.clear();
}

void TFFmpegOptions::ResetFileOptions() { File = TFileOptions(); }

void TFFmpegOptions::SetSourceFrameSize(int width, int height) {
  File.CropReferenceWidth = width;
  File.CropReferenceHeight = height;
}

AVCodecContext* TFFmpegOptions::DefaultCodecContext(AVMediaType type) {
  if (type < 0 || type >= AVMEDIA_TYPE_NB) throw EAssertionFailed("DefaultCodecContext: no such media type");
  if (!CodecContexts[type]) {
    if (!Lib.avcodec_alloc_context3) throw EAssertionFailed("TFFmpegOptions: avcodec is not loaded");
    CodecContexts[type].reset(Lib.avcodec_alloc_context3(nullptr));
    if (!CodecContexts[type]) throw EFFmpegError("Out of memory");
    CodecContexts[type]->codec_type = type;
  }
  return CodecContexts[type].get();
}

AVFormatContext* TFFmpegOptions::DefaultFormatContext() {
  if (!FormatContext) {
    if (!Lib.avformat_alloc_context) throw EAssertionFailed("TFFmpegOptions: avformat is not loaded");
    FormatContext.reset(Lib.avformat_alloc_context());
    if (!FormatContext) throw EFFmpegError("Out of memory");
  }
  return FormatContext.get();
}

SwsContext* TFFmpegOptions::DefaultScalerContext() {
  if (!ScalerContext) {
    if (!Lib.sws_alloc_context) throw EAssertionFailed("TFFmpegOptions: swscale is not loaded");
    ScalerContext.reset(Lib.sws_alloc_context());
    if (!ScalerContext) throw EFFmpegError("Out of memory");
  }
  return ScalerContext.get();
}

int TFFmpegOptions::Strictness(AVMediaType type) const {
  if (type < 0 || type >= AVMEDIA_TYPE_NB || !CodecContexts[type]) return FF_COMPLIANCE_NORMAL;
  return CodecContexts[type]->strict_std_compliance;
}

const std::vector<TPendingOption>& TFFmpegOptions::PendingCodecOptions(AVMediaType type) const {
  static const std::vector<TPendingOption> none;
  return type >= 0 && type < AVMEDIA_TYPE_NB ? PendingCodec[type] : none;
}

void TFFmpegOptions::WarnOnce(const std::string& text) {
  if (Warned.insert(text).second) Log(*this, llWarning, text);
}

void TFFmpegOptions::Record(const std::string& name, unsigned targets) {
  for (TRecordedOption& r : Recorded)
    if (r.Name == name) {
      r.Targets |= targets;
      return;
    }
  Recorded.push_back({name, targets});
}

void TFFmpegOptions::AddPendingCodecOption(AVMediaType type, const TDeferredOption& option, bool bridged) {
  std::vector<TPendingOption>& list = PendingCodec[type];
  // A private option given twice keeps its last value; bridged flag constants accumulate.
  if (!bridged)
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const TPendingOption& p) { return !p.Bridged && p.Option.Name == option.Name; }),
               list.end());
  list.push_back({option, bridged});
}

void TFFmpegOptions::AddPendingFormatOption(const std::string& name, const std::string& value) {
  for (TOptionPair& p : PendingFormat)
    if (p.Name == name) {
      p.Value = value;
      return;
    }
  PendingFormat.push_back({name, value});
}

// ---- entry points -------------------------------------------------------------------------

void ApplyFFmpegOption(TFFmpegOptions& task, const std::string& name, const std::string& value) {
  const auto& table = OptionTable();
  if (const auto it = table.find(name); it != table.end())
    it->second(task, name, value);
  else
    ApplyLibraryOption(task, name, value);
}

TLibraryOptionResult ApplyLibraryOption(TFFmpegOptions& task, const std::string& name, const std::string& value) {
  const TBridgedOption bridged = BridgeOption(name, value);
  TLibraryOptionResult result = TLibraryOptionResult::Unknown;
  for (const std::string& text : bridged.Dropped) task.WarnOnce(text);
  if (!bridged.Dropped.empty() || !bridged.Deferred.empty()) result = TLibraryOptionResult::Accepted;
  // What the bridge keeps for the encoder is not looked up again among private options.
  const bool searchPrivate = bridged.Deferred.empty();
  for (const TOptionPair& g : bridged.Generic) {
    const TLibraryOptionResult r = SetGenericOrPrivate(task, g.Name, g.Value, bridged.CodecMediaMask, searchPrivate);
    if (r == TLibraryOptionResult::Rejected) return r;
    if (r == TLibraryOptionResult::Accepted) result = r;
  }
  for (const auto& [type, option] : bridged.Deferred) task.AddPendingCodecOption(type, option, true);
  return result;
}

void ApplyPreset(TFFmpegOptions& task, const std::string& option, const std::string& value) {
  if (option.empty() || value.empty()) return;
  std::string presetName = value;
  std::string text;
  bool found = false;
  if (option != "fpre") {
    const TStreamKindOptions& kind = Kind(task, option[0]);
    std::string candidate = value;
    const char* builtIn = FindBuiltInPreset(candidate);
    if (!builtIn && !kind.StreamCopy && !kind.CodecName.empty()) {
      candidate = kind.CodecName + "-" + value;
      builtIn = FindBuiltInPreset(candidate);
    }
    if (builtIn) {
      const auto presets = BuiltInPresets();
      for (const TBuiltInPreset& p : presets)
        if (p.Text == builtIn && LowerCase(p.Name) == LowerCase(candidate)) presetName = p.Name;
      text = builtIn;
      found = true;
    }
  }
  if (!found) {
    if (!Platform().FileExists(value)) throw EFFmpegError(Format("Preset \"%s\" not found", value.c_str()));
    std::ifstream in(value, std::ios::binary);
    if (!in) throw EFFmpegError(Format("Preset \"%s\" cannot be read", value.c_str()));
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw EFFmpegError(Format("Preset \"%s\" cannot be read", value.c_str()));
  }
  // One line ending for all: files may come from any system.
  std::string normalised;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      normalised += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      normalised += text[i];
    }
  }
  std::istringstream lines(Trim(normalised));
  std::string line;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    const std::string val = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
    if (key.empty() || val.empty())
      throw EFFmpegError(Format("%s: Invalid syntax: \"%s\"", presetName.c_str(), line.c_str()));
    const std::string lowerKey = LowerCase(key);
    if (lowerKey == "acodec" || lowerKey == "vcodec" || lowerKey == "scodec") {
      SetCodec(task, lowerKey[0], val);
    } else if (ApplyLibraryOption(task, key, val) != TLibraryOptionResult::Accepted) {
      throw EFFmpegError(Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                presetName.c_str(), line.c_str(), key.c_str(), val.c_str()));
    }
  }
}

void ApplyTarget(TFFmpegOptions& task, const std::string& type, TTargetNorm norm, const std::string& fallbackNorm) {
  static const char* const normNames[] = {"", "PAL", "NTSC", "FILM"};
  if (norm == TTargetNorm::Automatic) {
    const AVRational rate = task.File.FrameRate;
    if (rate.den == 0) throw EFFmpegError("frame_rate is invalid.");
    const auto normOf = [](int64_t milliHertz) {
      if (milliHertz == 25000) return TTargetNorm::PAL;
      if (milliHertz == 29970 || milliHertz == 23976) return TTargetNorm::NTSC;
      return TTargetNorm::Automatic;
    };
    norm = normOf(RoundHalfEven(1000.0 * rate.num / rate.den));
    if (norm == TTargetNorm::Automatic && task.Host())
      for (const AVRational& tb : task.Host()->InputVideoTimeBases()) {
        if (tb.num == 0) continue;
        norm = normOf(RoundHalfEven(1000.0 * tb.den / tb.num));
        if (norm != TTargetNorm::Automatic) break;
      }
    if (norm != TTargetNorm::Automatic) {
      if (task.ShowTargetNotes())
        Log(task, llVerbose, Format("Assuming %s for target.", normNames[static_cast<int>(norm)]));
    } else {
      norm = fallbackNorm == "film" ? TTargetNorm::FILM : fallbackNorm == "ntsc" ? TTargetNorm::NTSC : TTargetNorm::PAL;
    }
  }
  const bool pal = norm == TTargetNorm::PAL;
  const char* frameRate = pal ? "25" : norm == TTargetNorm::NTSC ? "30000/1001" : "24000/1001";
  const char* gop = pal ? "15" : "18";
  const auto set = [&](const char* name, const char* value) { ApplyFFmpegOption(task, name, value); };
  const auto assumeAspect = [&](const char* aspect) {
    if (task.File.AspectRatio != 0) return;
    set("aspect", aspect);
    Log(task, llInfo, Format("Assuming %s for aspect ratio", aspect));
  };
  if (type == "vcd") {
    set("vcodec", "mpeg1video");
    set("acodec", "mp2");
    set("f", "vcd");
    set("s", pal ? "352x288" : "352x240");
    set("r", frameRate);
    set("g", gop);
    set("b", "1150000");
    set("maxrate", "1150000");
    set("minrate", "1150000");
    set("bufsize", "327680");  // 40 KiB, the VCD decoder buffer
    set("ab", "224000");
    task.File.AudioSampleRate = 44100;
    task.File.AudioChannels = 2;
    set("packetsize", "2324");
    set("muxrate", "1411200");
    // A VCD player expects 36000 + 3 * 1200 ticks of 90 kHz before the first packet.
    task.MuxPreload = (36000 + 3 * 1200) / 90000.0;
    assumeAspect("4:3");
  } else if (type == "svcd") {
    set("vcodec", "mpeg2video");
    set("acodec", "mp2");
    set("f", "svcd");
    set("s", pal ? "480x576" : "480x480");
    set("r", frameRate);
    set("g", gop);
    set("b", "2040000");
    set("maxrate", "2516000");
    set("minrate", "0");
    set("bufsize", "1835008");  // 224 KiB
    set("flags", "+scan_offset");
    set("ab", "224000");
    task.File.AudioSampleRate = 44100;
    if (task.File.AudioChannels == 1) task.File.AudioChannels = 2;
    set("packetsize", "2324");
    assumeAspect("4:3");
  } else if (type == "dvd") {
    set("vcodec", "mpeg2video");
    set("acodec", "ac3");
    set("f", "dvd");
    set("s", pal ? "720x576" : "720x480");
    set("r", frameRate);
    set("g", gop);
    set("b", "6000000");
    set("maxrate", "9000000");
    set("minrate", "0");
    set("bufsize", "1835008");
    set("ab", "448000");
    task.File.AudioSampleRate = 48000;
    if (task.File.AudioChannels == 1) task.File.AudioChannels = 2;
    set("packetsize", "2048");  // one DVD sector
    set("muxrate", "10080000");
    assumeAspect("16:9");
  } else if (type == "dv" || type == "dv50") {
    set("f", "dv");
    set("s", pal ? "720x576" : "720x480");
    set("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    set("r", frameRate);
    task.File.AudioSampleRate = 48000;
    task.File.AudioChannels = 2;
  } else {
    throw EFFmpegError("Unknown target type");
  }
}

const AVCodec* FindStreamCodec(TFFmpegOptions& task, const std::string& name, AVMediaType type, bool encoder) {
  std::string note;
  const AVCodec* codec = FindCodecByName(name, type, encoder, task.Strictness(type), &note);
  if (!note.empty()) Log(task, llInfo, note);
  return codec;
}

void ApplyRecordedCodecOptions(TFFmpegOptions& task, AVCodecContext* ctx, const AVCodec* codec,
                               TDictionary& privateOptions) {
  const AVMediaType type = codec->type;
  if (type < 0 || type >= AVMEDIA_TYPE_NB) return;
  AVCodecContext* defaults = task.DefaultCodecContext(type);
  const std::string owner = Format("%s '%s'", Lib.av_codec_is_encoder(codec) ? "encoder" : "decoder", codec->name);
  for (const TRecordedOption& r : task.RecordedOptions())
    if ((r.Targets & TypeBit(type)) && Lib.av_opt_find(defaults, r.Name.c_str(), nullptr, MediaFlag(type), 0))
      CopyOption(defaults, ctx, r.Name, task, owner.c_str());
  ctx->thread_count = task.ThreadCount;

  // A private option goes to the side that has it: "crf" is no business of a decoder, and
  // only a decoder's own options would tell it anything.
  const bool encoder = Lib.av_codec_is_encoder(codec);
  std::vector<TDeferredOption> deferred;
  for (const TPendingOption& p : task.PendingCodecOptions(type)) {
    if (p.Bridged)
      deferred.push_back(p.Option);
    else if (AnyCodecHasPrivate(p.Option.Name, encoder))
      SetDict(privateOptions, p.Option.Name, p.Option.Value);
  }
  if (!encoder) return;  // the bridge speaks of encoder settings
  const TEncoderTranslation translated = TranslateForEncoder(codec, ctx, deferred);
  for (const TOptionPair& p : translated.Private) {
    const AVDictionaryEntry* existing = Lib.av_dict_get(privateOptions.Ptr, p.Name.c_str(), nullptr, 0);
    if (p.Name == "x264-params" && existing)
      SetDict(privateOptions, p.Name, std::string(existing->value) + ":" + p.Value);
    else
      SetDict(privateOptions, p.Name, p.Value);
  }
  for (const std::string& text : translated.Dropped) task.WarnOnce(text);
  if (type == AVMEDIA_TYPE_VIDEO && task.MeThreshold != 0)
    task.WarnOnce(DroppedOptionText("me_threshold", "the encoders no longer skip motion search below a threshold"));
}

void ApplyRecordedFormatOptions(TFFmpegOptions& task, AVFormatContext* ctx, bool output, TDictionary& privateOptions) {
  AVFormatContext* defaults = task.DefaultFormatContext();
  for (const TRecordedOption& r : task.RecordedOptions())
    if ((r.Targets & TRecordedOption::FormatTarget) && Lib.av_opt_find(defaults, r.Name.c_str(), nullptr, 0, 0))
      CopyOption(defaults, ctx, r.Name, task, "the format context");
  for (const TOptionPair& p : task.PendingFormatOptions())
    if (AnyFormatHasPrivate(p.Name, output)) SetDict(privateOptions, p.Name, p.Value);
  if (!output) {
    if (task.LoopInput && !Lib.av_dict_get(privateOptions.Ptr, "loop", nullptr, 0))
      SetDict(privateOptions, "loop", "1");
    return;
  }
  ctx->max_delay = static_cast<int>(task.MuxMaxDelay * AV_TIME_BASE);
  const AVClass* const* muxerClass = ctx->oformat ? &ctx->oformat->priv_class : nullptr;
  // The preload and the loop count left the format context for the muxers that use them.
  if (muxerClass && FindPrivate(muxerClass, "preload") && !Lib.av_dict_get(privateOptions.Ptr, "preload", nullptr, 0))
    SetDict(privateOptions, "preload", std::to_string(static_cast<int64_t>(task.MuxPreload * AV_TIME_BASE)));
  if (muxerClass && FindPrivate(muxerClass, "loop") && !Lib.av_dict_get(privateOptions.Ptr, "loop", nullptr, 0))
    SetDict(privateOptions, "loop", std::to_string(task.LoopOutput));
  if (task.File.RecordingTimestamp)
    Lib.av_dict_set(&ctx->metadata, "creation_time", CreationTimeText(*task.File.RecordingTimestamp).c_str(), 0);
}

void ApplyRecordedScalerOptions(TFFmpegOptions& task, SwsContext* ctx) {
  SwsContext* defaults = task.DefaultScalerContext();
  for (const TRecordedOption& r : task.RecordedOptions())
    if (r.Targets & TRecordedOption::ScalerTarget) CopyOption(defaults, ctx, r.Name, task, "the scaler");
}

void LogUnusedOptions(TFFmpegOptions& task, const AVDictionary* leftover, const std::string& owner) {
  const AVDictionaryEntry* e = nullptr;
  while ((e = Lib.av_dict_get(leftover, "", e, AV_DICT_IGNORE_SUFFIX)))
    task.WarnOnce(Format("Option '%s' (value '%s') was not used by %s; ignored", e->key, e->value, owner.c_str()));
}
