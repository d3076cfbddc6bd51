#include "AVProbe.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "engine/CodecLock.h"
#include "engine/EngineError.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegEntryPoints.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegRAII.h"
#include "engine/UnicodeProtocol.h"

namespace {

const char* const NotLoadedText = "file not loaded.";

// Every library a probe may touch, in the order the old checks ran.
void RequireLibraries() {
  static const std::pair<TMediaLibrary, const char*> required[] = {
      {TMediaLibrary::libAVCodec, "LibAVCodec not loaded."},
      {TMediaLibrary::libAVFormat, "LibAVFormat not loaded."},
      {TMediaLibrary::libAVUtil, "LibAVUtil not loaded."},
      {TMediaLibrary::libSwScale, "LibSwScale not loaded."}};
  const TFFmpegLoader& loader = TFFmpegLoader::Instance();
  for (const auto& [library, text] : required)
    if (!loader.IsLoaded(library)) throw EFFmpegError(text);
}

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// The stream's time base fit for rescaling: a zero denominator (seen in broken files) would
// divide by zero, so it takes the numerator's place, or 1 when that is zero too.
AVRational UsableTimeBase(AVRational tb) {
  if (tb.den == 0) tb.den = tb.num != 0 ? tb.num : 1;
  return tb;
}

int64_t ToMicroseconds(int64_t value, AVRational tb) {
  return Lib.av_rescale_q(value, UsableTimeBase(tb), AVRational{1, AV_TIME_BASE});
}

// "S.uuuuuu", the sign in front of the whole number.
std::string SecondsAndMicros(int64_t microseconds) {
  const uint64_t magnitude = microseconds < 0 ? 0 - static_cast<uint64_t>(microseconds)
                                              : static_cast<uint64_t>(microseconds);
  return Format("%s%llu.%.6llu", microseconds < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude / AV_TIME_BASE),
                static_cast<unsigned long long>(magnitude % AV_TIME_BASE));
}

// The leading decimal number of a tag value ("2009-05-04" gives 2009, "3/12" gives 3);
// 0 when it starts with none.
int64_t LeadingNumber(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  while (first != last && *first == ' ') ++first;
  int64_t value = 0;
  std::from_chars(first, last, value);
  return value;
}

int32_t YearOf(const AVDictionary* tags) {
  std::string date = MetadataValue(tags, "date");
  if (date.empty()) date = MetadataValue(tags, "year");
  const size_t digits = std::find_if(date.begin(), date.end(), [](char c) { return c < '0' || c > '9'; }) -
                        date.begin();
  // A compact "YYYYMMDD" date holds the year in its first four digits.
  if (digits > 4) date.resize(4);
  return ClampToInt32(LeadingNumber(date));
}

// Seconds since 1970 of the "creation_time" tag (ISO 8601); 0 when absent or unreadable.
int64_t CreationTimestamp(const AVDictionary* tags) {
  const std::string text = MetadataValue(tags, "creation_time");
  if (text.empty()) return 0;
  int64_t microseconds = 0;
  if (Lib.av_parse_time(&microseconds, text.c_str(), 0) < 0) return 0;
  return microseconds / AV_TIME_BASE;
}

// Library text formatted under a decimal-comma locale of the host (a Qt GUI sets the
// user's) would show "29,97"; the probe's texts always use "C" rules.
class TCNumericScope {
 public:
  TCNumericScope() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (c) Previous = uselocale(c);
  }
  ~TCNumericScope() {
    if (Previous) uselocale(Previous);
  }
  TCNumericScope(const TCNumericScope&) = delete;
  TCNumericScope& operator=(const TCNumericScope&) = delete;

 private:
  locale_t Previous = static_cast<locale_t>(0);
};

std::string FixedText(double value, int decimals) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return std::string(buffer, result.ptr);
}

bool IsSet(AVRational q) { return q.num != 0 && q.den != 0; }

// ID3v2 frame names some demuxers leave in the tags, shown by what they mean.
std::string DisplayKey(const char* key) {
  static const std::pair<const char*, const char*> frames[] = {
      {"TALB", "album"},     {"TAL", "album"},       {"TCOM", "composer"},  {"TCON", "genre"},
      {"TCO", "genre"},      {"TCOP", "copyright"},  {"TDRL", "date"},      {"TENC", "encoder"},
      {"TEN", "encoder"},    {"TIT2", "title"},      {"TT2", "title"},      {"TLAN", "language"},
      {"TPE1", "artist"},    {"TP1", "artist"},      {"TPOS", "disc"},      {"TPUB", "publisher"},
      {"TRCK", "track"},     {"TRK", "track"},       {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
      {"TSOT", "titlesort"}, {"TYER", "year"}};
  for (const auto& [frame, name] : frames)
    if (std::string_view(key) == frame) return name;
  return key;
}

void AppendMetadata(std::string& text, const AVDictionary* tags, const char* indent) {
  const int count = Lib.av_dict_count(tags);
  if (count == 0) return;
  const AVDictionaryEntry* first = Lib.av_dict_get(tags, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  // The language alone is already in the stream line.
  if (count == 1 && std::string_view(first->key) == "language") return;
  text += Format("%sMetadata:\n", indent);
  for (const AVDictionaryEntry* tag = first; tag; tag = Lib.av_dict_get(tags, "", tag, AV_DICT_IGNORE_SUFFIX)) {
    if (std::string_view(tag->key) == "language") continue;
    text += Format("%s  %-16s: %s\n", indent, DisplayKey(tag->key).c_str(), tag->value ? tag->value : "");
  }
}

// The libraries' one-line description of the stream's codec, from its parameters only.
std::string CodecDescription(const AVStream* st) {
  TCodecContext codec(Lib.avcodec_alloc_context3(nullptr));
  if (!codec || Lib.avcodec_parameters_to_context(codec.get(), st->codecpar) < 0)
    return MediaTypeName(st->codecpar->codec_type);
  char buffer[1024] = {};
  Lib.avcodec_string(buffer, sizeof buffer, codec.get(), 0);
  return buffer;
}

}  // namespace

std::string StreamRateText(double value) {
  const double hundredths = std::round(value * 100);
  if (std::fmod(hundredths, 100) != 0) return FixedText(value, 2);
  if (std::fmod(hundredths, 100000) != 0) return FixedText(value, 0);
  return FixedText(value / 1000, 0) + "k";
}

TCustomAVProbe::TCustomAVProbe() = default;

TCustomAVProbe::~TCustomAVProbe() { Close(); }

void TCustomAVProbe::Report(TLogLevel level, const std::string& text) {
  ErrorMessage = text;
  TFFLogger::Instance().Log(this, level, text);
}

bool TCustomAVProbe::LoadFile(const std::string& fileName, const std::string& formatName) {
  RequireLibraries();
  Close();
  const AVInputFormat* format = nullptr;
  if (!formatName.empty()) {
    format = Lib.av_find_input_format(formatName.c_str());
    if (!format) {
      ErrorMessage = Format("Unknown input format: %s", formatName.c_str());
      return false;
    }
  }
  AVFormatContext* context = Lib.avformat_alloc_context();
  if (!context) {
    Report(llError, ErrorText(fileName, AVERROR(ENOMEM)));
    return false;
  }
  context->flags |= AVFMT_FLAG_NONBLOCK;
  // On failure the libraries free the context.
  const int opened = OpenInputFile(&context, Io, ConvertFileName(fileName), format, nullptr);
  if (opened < 0) {
    Report(llError, ErrorText(fileName, opened));
    Close();
    return false;
  }
  Context = context;
  Owned = true;
  int found;
  {
    std::lock_guard lock(CodecLock());
    found = Lib.avformat_find_stream_info(Context, nullptr);
  }
  if (found < 0) {
    ErrorMessage = Format("%s: could not find codec parameters", fileName.c_str());
    Close();
    return false;
  }
  RefreshStreams();
  ForcedFormat = formatName;
  return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext* context) {
  RequireLibraries();
  Close();
  Context = context;
  Owned = false;
  RefreshStreams();
}

void TCustomAVProbe::Close() {
  if (Context && Owned) Lib.avformat_close_input(&Context);
  Context = nullptr;
  Owned = false;
  Io.reset();  // after the context, which reads through it
  ForcedFormat.clear();
  Counts = TCounts();
}

void TCustomAVProbe::RefreshStreams() {
  Counts = TCounts();
  if (!Context) return;
  TCounts counts;
  if (Context->pb) counts.FileSize = Lib.avio_size(Context->pb);
  // Formats that read no file themselves (image sequences, devices) have no I/O context.
  if (counts.FileSize <= 0) counts.FileSize = Context->url ? FileSizeOf(GetFileName()) : -1;
  counts.StreamCount = ClampToInt32(Context->nb_streams);
  counts.ProgramCount = ClampToInt32(Context->nb_programs);
  counts.AudioStreamCount = counts.VideoStreamCount = counts.SubtitleStreamCount = 0;
  for (int i = 0; i < counts.StreamCount; ++i) {
    int32_t* count = nullptr;
    int32_t* first = nullptr;
    switch (Context->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_AUDIO: count = &counts.AudioStreamCount, first = &counts.FirstAudioStream; break;
      case AVMEDIA_TYPE_VIDEO: count = &counts.VideoStreamCount, first = &counts.FirstVideoStream; break;
      case AVMEDIA_TYPE_SUBTITLE:
        count = &counts.SubtitleStreamCount, first = &counts.FirstSubtitleStream;
        break;
      default: continue;
    }
    ++*count;
    if (*first < 0) *first = i;
  }
  Counts = counts;
}

bool TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& info) {
  info = TFileStreamInfo();
  if (!Context) {
    Report(llWarning, NotLoadedText);
    return false;
  }
  const AVDictionary* tags = Context->metadata;
  info.StartTime = Context->start_time == AV_NOPTS_VALUE ? -1 : Context->start_time;
  info.Duration = Context->duration == AV_NOPTS_VALUE ? -1 : Context->duration;
  info.BitRate = ClampToInt32(Context->bit_rate);
  info.Timestamp = CreationTimestamp(tags);
  info.Year = YearOf(tags);
  info.Track = ClampToInt32(LeadingNumber(MetadataValue(tags, "track")));
  info.Title = MetadataValue(tags, "title");
  info.Author = MetadataValue(tags, "author", MetadataValue(tags, "artist"));
  info.Copyright = MetadataValue(tags, "copyright");
  info.Comment = MetadataValue(tags, "comment");
  info.Album = MetadataValue(tags, "album");
  info.Genre = MetadataValue(tags, "genre");
  return true;
}

AVStream* TCustomAVProbe::StreamOfKind(int index, bool audio) {
  if (!Context) {
    Report(llWarning, NotLoadedText);
    return nullptr;
  }
  if (index < 0) {
    index = audio ? Counts.FirstAudioStream : Counts.FirstVideoStream;
    if (index < 0) {
      Report(llError, audio ? "no audio stream." : "no video stream.");
      return nullptr;
    }
  }
  if (index >= Counts.StreamCount) {
    Report(llError, Format("stream index #%d is invalid.", index));
    return nullptr;
  }
  AVStream* st = Context->streams[index];
  if (st->codecpar->codec_type != (audio ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO)) {
    Report(llError, Format(audio ? "stream #%d is not audio stream." : "stream #%d is not video stream.", index));
    return nullptr;
  }
  return st;
}

namespace {

void FillCommon(TStreamInfoCommon& info, const AVStream* st) {
  info.Language = MetadataValue(st->metadata, "language");
  info.CodecName = CodecNameText(st->codecpar, false);
  if (st->start_time != AV_NOPTS_VALUE) {
    info.StartTime = st->start_time;
    info.StartTimeUs = ToMicroseconds(st->start_time, st->time_base);
  }
  if (st->duration != AV_NOPTS_VALUE) {
    info.Duration = st->duration;
    info.DurationUs = ToMicroseconds(st->duration, st->time_base);
  }
  info.BitRate = ClampToInt32(st->codecpar->bit_rate);
}

}  // namespace

bool TCustomAVProbe::GetAudioStreamInfo(int index, TAudioStreamInfo& info) {
  info = TAudioStreamInfo();
  const AVStream* st = StreamOfKind(index, true);
  if (!st) return false;
  FillCommon(info, st);
  const AVCodecParameters* par = st->codecpar;
  info.Channels = par->ch_layout.nb_channels;
  info.SampleRate = par->sample_rate;
  info.SampleFormat = par->format;
  return true;
}

bool TCustomAVProbe::GetVideoStreamInfo(int index, TVideoStreamInfo& info) {
  info = TVideoStreamInfo();
  AVStream* st = StreamOfKind(index, false);
  if (!st) return false;
  FillCommon(info, st);
  const AVCodecParameters* par = st->codecpar;
  info.Height = par->height;
  info.Width = par->width;
  if (par->width > 0 && par->height > 0) {
    // The stream's own aspect ratio wins over the codec's, as a player would show it.
    AVRational sar = Lib.av_guess_sample_aspect_ratio(Context, st, nullptr);
    if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
    info.DisplayAspectRatio = static_cast<float>(av_q2d(sar) * par->width / par->height);
  }
  info.PixelFormat = par->format;
  const AVRational rate = IsSet(st->r_frame_rate) ? st->r_frame_rate : st->avg_frame_rate;
  if (IsSet(rate)) {
    info.FrameRateNum = rate.num;
    info.FrameRateDen = rate.den;
  }
  return true;
}

bool TCustomAVProbe::IsStreamOfType(int index, int mediaType) {
  if (!Context) {
    Report(llWarning, NotLoadedText);
    return false;
  }
  if (index < 0 || index >= Counts.StreamCount) {
    Report(llError, Format("stream index #%d is invalid.", index));
    return false;
  }
  return Context->streams[index]->codecpar->codec_type == mediaType;
}

bool TCustomAVProbe::IsAudioStream(int index) { return IsStreamOfType(index, AVMEDIA_TYPE_AUDIO); }

bool TCustomAVProbe::IsVideoStream(int index) { return IsStreamOfType(index, AVMEDIA_TYPE_VIDEO); }

std::string TCustomAVProbe::GetFileName() const {
  return Context && Context->url ? DecodeFileName(Context->url) : std::string();
}

std::string TCustomAVProbe::GetFormatName() const {
  return Context && Context->iformat && Context->iformat->name ? Context->iformat->name : std::string();
}

std::string TCustomAVProbe::StreamLine(int index) const {
  const AVStream* st = Context->streams[index];
  const AVCodecParameters* par = st->codecpar;
  std::string line = Format("Stream #%d", index);
  if (Context->iformat && (Context->iformat->flags & AVFMT_SHOW_IDS)) line += Format("[0x%x]", st->id);
  const std::string language = MetadataValue(st->metadata, "language");
  if (!language.empty()) line += "(" + language + ")";
  int64_t gcd = Lib.av_gcd(st->time_base.num, st->time_base.den);
  if (gcd == 0) gcd = 1;
  line += Format(", %lld/%lld: ", static_cast<long long>(st->time_base.num / gcd),
                 static_cast<long long>(st->time_base.den / gcd));
  line += CodecDescription(st);
  if (st->sample_aspect_ratio.num != 0 && av_cmp_q(st->sample_aspect_ratio, par->sample_aspect_ratio) != 0) {
    int darNum = 0, darDen = 0;
    Lib.av_reduce(&darNum, &darDen, static_cast<int64_t>(par->width) * st->sample_aspect_ratio.num,
                  static_cast<int64_t>(par->height) * st->sample_aspect_ratio.den, 1024 * 1024);
    line += Format(", PAR %d:%d DAR %d:%d", st->sample_aspect_ratio.num, st->sample_aspect_ratio.den, darNum,
                   darDen);
  }
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    // This generation keeps no codec time base in the parameters, and finding one would mean
    // opening a decoder, so there is no "tbc".
    const auto rate = [&line](double value, const char* unit) {
      if (value != 0 && std::isfinite(value)) line += ", " + StreamRateText(value) + " " + unit;
    };
    if (IsSet(st->avg_frame_rate)) rate(av_q2d(st->avg_frame_rate), "fps");
    if (IsSet(st->r_frame_rate)) rate(av_q2d(st->r_frame_rate), "tbr");
    if (IsSet(st->time_base)) rate(1 / av_q2d(st->time_base), "tbn");
  }
  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + SecondsAndMicros(ToMicroseconds(st->start_time, st->time_base));
  if (st->duration == AV_NOPTS_VALUE || st->duration < 0)
    line += ", Duration: N/A";
  else
    line += ", Duration: " + FormatTimeCode(ToMicroseconds(st->duration, st->time_base));
  return line + "\n";
}

std::string TCustomAVProbe::GetFileInfoText() {
  if (!Context) {
    Report(llWarning, NotLoadedText);
    return std::string();
  }
  TCNumericScope numeric;
  const AVInputFormat* format = Context->iformat;
  std::string text = "File Name: " + GetFileName() + "\n";
  text += "Format Name: " + GetFormatName() + "\n";
  text += std::string("Format Long Name: ") + (format && format->long_name ? format->long_name : "") + "\n";
  text += "File Size: " + FormatByteSize(Counts.FileSize) + "\n";
  if (Context->duration == AV_NOPTS_VALUE || Context->duration < 0)
    text += "Duration: N/A\n";
  else
    text += "Duration: " + FormatTimeCode(Context->duration) + "\n";
  if (Context->start_time != AV_NOPTS_VALUE && Context->start_time >= 0)
    text += "StartTime: " + SecondsAndMicros(Context->start_time) + "\n";
  if (Context->bit_rate < 1)
    text += "Bit Rate: N/A\n";
  else
    text += Format("Bit Rate: %lld kb/s\n", static_cast<long long>(Context->bit_rate / 1000));
  const int64_t timestamp = CreationTimestamp(Context->metadata);
  if (timestamp > 0) text += "Time Stamp: " + FileTimeToText(timestamp) + "\n";
  AppendMetadata(text, Context->metadata, "");

  const int streamCount = Counts.StreamCount;
  std::vector<bool> printed(static_cast<size_t>(std::max(streamCount, 0)), false);
  for (unsigned p = 0; p < Context->nb_programs; ++p) {
    const AVProgram* program = Context->programs[p];
    // This generation's demuxers name a program with "service_provider" and "service_name".
    std::string provider = MetadataValue(program->metadata, "service_provider");
    if (provider.empty()) provider = MetadataValue(program->metadata, "provider_name", "N/A");
    std::string name = MetadataValue(program->metadata, "service_name");
    if (name.empty()) name = MetadataValue(program->metadata, "name", "N/A");
    text += Format("Program %d %s@%s\n", program->id, provider.c_str(), name.c_str());
    AppendMetadata(text, program->metadata, "  ");
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned index = program->stream_index[k];
      if (index >= printed.size()) continue;
      text += StreamLine(static_cast<int>(index));
      AppendMetadata(text, Context->streams[index]->metadata, "  ");
      printed[index] = true;
    }
  }
  for (int i = 0; i < streamCount; ++i) {
    if (printed[static_cast<size_t>(i)]) continue;
    text += StreamLine(i);
    AppendMetadata(text, Context->streams[i]->metadata, "  ");
  }
  return text;
}
