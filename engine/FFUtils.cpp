#include "FFUtils.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "EngineError.h"
#include "FFmpegEntryPoints.h"

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, format, args);
  }
  return text;
}

namespace {

// Magnitude and sign of a time, without overflow for INT64_MIN. A time that prints as zero
// gets no sign.
struct TSplitTime {
  const char* Sign;
  uint64_t Milliseconds;
};

TSplitTime SplitTime(int64_t microseconds) {
  const uint64_t magnitude =
      microseconds < 0 ? 0 - static_cast<uint64_t>(microseconds) : static_cast<uint64_t>(microseconds);
  const uint64_t milliseconds = magnitude / 1000;
  return {microseconds < 0 && milliseconds > 0 ? "-" : "", milliseconds};
}

std::string FixedTwoDecimals(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string FormatClock(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  return Format("%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
}

std::string FormatTimeCode(int64_t microseconds) {
  if (microseconds == AV_NOPTS_VALUE) return "N/A";
  const TSplitTime t = SplitTime(microseconds);
  const auto ms = static_cast<unsigned long long>(t.Milliseconds);
  return Format("%s%02llu:%02llu:%02llu.%03llu", t.Sign, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                ms % 1000);
}

std::string FormatSeconds(int64_t microseconds) {
  const TSplitTime t = SplitTime(microseconds);
  const auto ms = static_cast<unsigned long long>(t.Milliseconds);
  return Format("%s%llu.%03llu", t.Sign, ms / 1000, ms % 1000);
}

int64_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  constexpr double limit = 9223372036854775808.0;  // 2^63
  if (value >= limit) return std::numeric_limits<int64_t>::max();
  if (value <= -limit) return std::numeric_limits<int64_t>::min();
  const double below = std::floor(value);
  const double fraction = value - below;  // exact for doubles
  double rounded = below;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) rounded = below + 1.0;
  if (rounded >= limit) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(rounded);
}

std::string FormatByteSize(int64_t bytes) {
  constexpr int64_t KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024;
  const auto scaled = [bytes](int64_t unit, const char* suffix) {
    return FixedTwoDecimals(static_cast<double>(bytes) / static_cast<double>(unit)) + suffix;
  };
  if (bytes > GiB) return scaled(GiB, " GB");
  if (bytes > MiB) return scaled(MiB, " MB");
  if (bytes > KiB) return scaled(KiB, " KB");
  return std::to_string(bytes) + " Byte";
}

std::string ErrorCodeText(int errorCode) {
  switch (errorCode) {
    case AVERROR(ENOENT): return "No such file or directory";
    case AVERROR(EIO): return "I/O error";
    case AVERROR(ENOMEM): return "Not enough memory";
    case AVERROR(EINVAL):
    case AVERROR_INVALIDDATA: return "Invalid data found when processing input";
    case AVERROR_EOF: return "End of file";
    case AVERROR(EDOM): return "Number syntax expected in filename";
    case AVERROR(EILSEQ):
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_MUXER_NOT_FOUND: return "Unknown format";
    case AVERROR(ENOPROTOOPT):
    case AVERROR_PROTOCOL_NOT_FOUND: return "Unsupported network protocol";
    case AVERROR_PATCHWELCOME: return "Not yet implemented in FFmpeg";
    // Our pipe reader's answer to a silent sender, and the network protocols'.
    case AVERROR(ETIMEDOUT): return "Timed out waiting for data";
    default: return Format("Error number %d occurred", errorCode);
  }
}

std::string ErrorText(const std::string& name, int errorCode) {
  return name + ": " + ErrorCodeText(errorCode);
}

std::string MediaTypeName(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return "Video";
    case AVMEDIA_TYPE_AUDIO: return "Audio";
    case AVMEDIA_TYPE_DATA: return "Data";
    case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
    default: return "Unknown";
  }
}

namespace {

std::string CodecTagText(uint32_t tag) {
  bool printable = true;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t c = (tag >> shift) & 0xff;
    printable = printable && c >= 32 && c <= 126;
  }
  if (!printable) return Format("0x%04x", tag);
  return Format("%c%c%c%c / 0x%04X", static_cast<int>(tag & 0xff), static_cast<int>((tag >> 8) & 0xff),
                static_cast<int>((tag >> 16) & 0xff), static_cast<int>(tag >> 24), tag);
}

}  // namespace

std::string CodecNameText(const AVCodecParameters* par, bool encoder) {
  if (!par) throw EAssertionFailed("CodecNameText: no codec parameters");
  const AVCodec* codec =
      encoder ? Lib.avcodec_find_encoder(par->codec_id) : Lib.avcodec_find_decoder(par->codec_id);
  if (codec) {
    if (codec->long_name && *codec->long_name) return Format("%s(%s)", codec->name, codec->long_name);
    return codec->name;
  }
  if (par->codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  if (const AVCodecDescriptor* descriptor = Lib.avcodec_descriptor_get(par->codec_id))
    return descriptor->name;
  return CodecTagText(par->codec_tag);
}

std::string MetadataValue(const AVDictionary* dict, const std::string& key, const std::string& defaultValue) {
  const AVDictionaryEntry* entry = Lib.av_dict_get(dict, key.c_str(), nullptr, 0);
  return entry && entry->value ? std::string(entry->value) : defaultValue;
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

std::string FileTimeToText(int64_t secondsSince1970) {
  const time_t time = static_cast<time_t>(secondsSince1970);
  struct tm local {};
  tzset();  // localtime_r alone may keep a zone read before TZ changed
  if (!localtime_r(&time, &local)) return std::string();
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length);
}
