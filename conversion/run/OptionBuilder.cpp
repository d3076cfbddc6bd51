#include "OptionBuilder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

#include "app/core/DialogSeam.h"
#include "profiles/model/ParameterEditors.h"

namespace K = ProfileKey;

namespace {

constexpr const char* AsSource = "as source";
constexpr const char* DefaultSizeQuestion = "Error output Video Size.Use the default size 320x240?";

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

template <size_t N>
bool OneOf(const std::string& text, const std::array<const char*, N>& names) {
  return std::any_of(names.begin(), names.end(), [&](const char* name) { return text == name; });
}

// A whole number as the number tests of the parameter boxes accept it.
std::optional<int> WholeNumber(const std::string& text) {
  if (!IsWholeNumber(text)) return std::nullopt;
  std::string_view digits(text);
  if (digits.front() == '+') digits.remove_prefix(1);
  int value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

// A count the engine takes when above 0 ("paraChannel", "paraSampleRate").
std::optional<int> PositiveWholeNumber(const std::string& text) {
  if (text == AsSource) return std::nullopt;
  const std::optional<int> value = WholeNumber(text);
  return value && *value > 0 ? value : std::nullopt;
}

// Volume 256 is unchanged; anything else must be a whole number, or the conversion stops.
void ApplyVolume(const std::string& text, TOutputOptions& output) {
  if (text == "256") return;
  const std::optional<int> volume = WholeNumber(text);
  if (!volume) throw EConvertError("'" + text + "' is not a valid integer value");
  output.AudioVolume = *volume;
}

// kbit/s, whole or decimal, to bit/s, truncated. Done on the digits, so "96.5" is exactly
// 96500 and no binary fraction turns 128.1 into 128099.
std::optional<int32_t> KilobitsToBits(const std::string& text) {
  if (!IsDecimalNumber(text)) return std::nullopt;
  std::string_view rest(text);
  if (rest.front() == '-') return std::nullopt;
  if (rest.front() == '+') rest.remove_prefix(1);
  const size_t dot = rest.find('.');
  std::string_view whole = rest.substr(0, dot);
  std::string fraction(dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1).substr(0, 3));
  fraction.resize(3, '0');
  whole.remove_prefix(std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.size() > 7) return std::nullopt;  // beyond what a 32-bit bit rate holds
  int64_t kilobits = 0, millis = 0;
  std::from_chars(whole.data(), whole.data() + whole.size(), kilobits);
  std::from_chars(fraction.data(), fraction.data() + fraction.size(), millis);
  const int64_t bits = kilobits * 1000 + millis;
  if (bits <= 0 || bits > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(bits);
}

// The channel, sample-rate and bit-rate values of the audio stream, shared by both branches.
void ApplyAudioRates(const TConversionValues& values, TOutputOptions& output) {
  if (const auto rate = PositiveWholeNumber(values.Value(K::paraSampleRate))) output.AudioSampleRate = *rate;
  if (const auto bits = KilobitsToBits(values.Value(K::paraAudioBitRate))) output.AudioBitrate = *bits;
}

// Name=value lines, split as the engine splits them: true when one of them sets `name`.
bool HasOptionLine(std::string lines, std::string_view name) {
  for (size_t at; (at = lines.find("<CRLF>")) != std::string::npos;) lines.replace(at, 6, "\n");
  size_t start = 0;
  while (start <= lines.size()) {
    size_t end = lines.find_first_of("\r\n", start);
    if (end == std::string::npos) end = lines.size();
    const std::string line = Trimmed(lines.substr(start, end - start));
    if (LowerCase(Trimmed(line.substr(0, line.find('=')))) == name) return true;
    start = end + 1;
  }
  return false;
}

void AddOptionLine(std::string& lines, const std::string& line) {
  if (!lines.empty() && lines.back() != '\n') lines += '\n';
  lines += line;
}

void ApplyTarget(const std::string& format, const std::string& videoSize, TOutputOptions& output) {
  struct TTargetRow {
    const char* Format;
    int32_t Target, Norm;
    const char* WideSize;  // the size that gives 16:9; nullptr: always 4:3
  };
  static constexpr TTargetRow rows[] = {
      {"ntsc-dvd", 3, 2, "720x480"}, {"pal-dvd", 3, 1, "720x576"},  {"ntsc-vcd", 1, 2, nullptr},
      {"pal-vcd", 1, 1, nullptr},    {"ntsc-svcd", 2, 2, nullptr}, {"pal-svcd", 2, 1, nullptr},
  };
  for (const TTargetRow& row : rows)
    if (format == row.Format) {
      output.Target = row.Target;
      output.TargetNorm = row.Norm;
      output.FrameAspectRatio = row.WideSize && videoSize == row.WideSize ? "16:9" : "4:3";
    }
}

void ApplyVideoCodec(const std::string& encoder, const std::string& format, TOutputOptions& output) {
  static constexpr std::array<const char*, 21> engineEncoders{
      "mpeg4", "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
      "huffyuv", "dvvideo", "rawvideo", "h263p", "h263", "rv10", "rv20",
      "ljpeg", "mjpeg", "svq1", "zlib", "wmv1", "wmv2", "libx264"};
  // Other names the editors store ("mov", "flv", ...) leave the choice to the container.
  if (!OneOf(encoder, engineEncoders)) return;
  output.VideoCodec = encoder;
  if (encoder == "mpeg2video") output.Target = 3;
  if (encoder != "libx264") return;
  if (format == "psp") output.VideoPreset = "libx264-psp";
  else if (format == "ipod") output.VideoPreset = "libx264-ipod";
  else if (format == "ps3") output.VideoPreset = "libx264-ps3";
  else output.VideoPreset = "libx264-mp4";
  // iPod players refuse B-frames, and the ipod preset does not turn them off.
  if (output.VideoPreset == "libx264-ipod" && !HasOptionLine(output.ExtOptions, "bf"))
    AddOptionLine(output.ExtOptions, "bf=0");
}

void ApplyRateAndContainer(const TConversionValues& values, const std::string& storedFormat,
                           const std::string& format, const TVideoStreamInfo& source, TOutputOptions& output) {
  const std::string bitRate = values.Value(K::paraVideoBitRate);
  const std::optional<int> kilobits = bitRate == AsSource ? std::nullopt : WholeNumber(bitRate);
  if (kilobits) {
    const int64_t bits = int64_t{*kilobits} * 1000;
    if (bits > 0 && bits <= INT32_MAX) output.VideoBitrate = static_cast<int32_t>(bits);
  } else if (source.BitRate > 0) {
    output.VideoBitrate = source.BitRate;
  }

  const std::string frameRate = values.Value(K::paraFrameRate);
  if (frameRate != AsSource && IsDecimalNumber(frameRate)) {
    double fps = 0;
    std::from_chars(frameRate.data(), frameRate.data() + frameRate.size(), fps);
    if (fps > 0) output.FrameRate = frameRate;
  }

  static constexpr std::array<const char*, 10> containers{"ipod", "3gp", "3g2", "avi", "psp",
                                                          "mov",  "vcd", "flv", "mpegts", "vob"};
  if (OneOf(format, containers)) output.FileFormat = storedFormat;
}

struct TSize {
  int W = 0, H = 0;
};

// A frame dimension: a whole number above 0, else the source's.
int Dimension(const std::string& text, int source) {
  const std::optional<int> value = WholeNumber(text);
  return value && *value > 0 ? *value : source;
}

// H.263 knows five frame sizes; other sizes go to the next one up that holds the width.
void ApplyH263Size(const std::string& sizeText, TSize& size) {
  static constexpr std::array<const char*, 5> h263Sizes{"704x576", "352x288", "176x144", "160x120", "128x96"};
  if (OneOf(sizeText, h263Sizes) || size.W <= 176) return;
  size = size.W <= 352 ? TSize{352, 288} : TSize{704, 576};
}

TSize OutputSize(const std::string& sizeText, const std::string& videoCodec, TSize source) {
  // The Settings dialog takes any text that holds "as source" as the source size.
  if (LowerCase(sizeText).find(AsSource) != std::string::npos) return source;
  const size_t x = sizeText.find('x');
  if (x != std::string::npos && x > 0 && x + 1 < sizeText.size()) {
    TSize size{Dimension(sizeText.substr(0, x), source.W), Dimension(sizeText.substr(x + 1), source.H)};
    if (LowerCase(videoCodec) == "h263") ApplyH263Size(sizeText, size);
    return size;
  }
  if (DialogSeam().AskYesNo("Warning", DefaultSizeQuestion)) return {320, 240};
  return source;
}

// The even margin on each side when a picture of size `inner` is centred in `outer`.
int Pad(int outer, int inner) { return 2 * ((outer - 2 * (inner / 2)) / 4); }

struct TMargins {
  int Top = 0, Bottom = 0, Left = 0, Right = 0;
};

// The bars that fit the source picture into W x H with its proportions kept. The scaled
// sizes are worked out on whole numbers (srcH × W ÷ srcW is Trunc(srcH / (srcW / W))), so
// no rounding of a ratio moves a margin by a pixel.
TMargins LetterboxMargins(TSize src, TSize out) {
  TMargins m;
  const int64_t sw = src.W, sh = src.H, w = out.W, h = out.H;
  const auto bars = [&] { m.Top = m.Bottom = Pad(out.H, static_cast<int>(sh * w / sw)); };
  const auto sides = [&] { m.Left = m.Right = Pad(out.W, static_cast<int>(sw * h / sh)); };
  const auto fitBy = [&](bool equalBoth) {
    const int64_t wide = sw * h, tall = sh * w;  // rw > rh  <=>  srcW·H > srcH·W
    m = {};
    if (wide > tall) bars();
    else if (wide < tall || !equalBoth) sides();
    else { bars(); sides(); }
  };
  if (out.W <= src.W && out.H >= src.H) { m = {}; bars(); }   // A
  if (out.W >= src.W && out.H <= src.H) { m = {}; sides(); }  // B
  if (out.W >= src.W && out.H >= src.H) fitBy(true);          // C
  if (out.W <= src.W && out.H <= src.H) fitBy(false);         // D
  if (out.W == src.W && out.H == src.H) m = {};               // E
  return m;
}

std::string SizeText(int w, int h, const char* separator) { return std::to_string(w) + separator + std::to_string(h); }

// Pan and scan: cut the sides (or top and bottom) so the picture becomes 4:3, on top of the
// job's own crop, in even amounts.
void PanToFourByThree(TSize src, const TlvFilesRecord& job, TOutputOptions& output) {
  const int64_t cw = src.W - job.CropLeft - job.CropRight, ch = src.H - job.CropTop - job.CropBottom;
  if (cw <= 0 || ch <= 0) return;
  const auto even = [](int64_t excess, int crop) { return static_cast<int32_t>(2 * ((excess / 2 + crop) / 2)); };
  if (3 * cw > 4 * ch) {
    const int64_t excess = (3 * cw - 4 * ch) / 3;  // width beyond 4:3
    output.CropLeft = even(excess, job.CropLeft);
    output.CropRight = even(excess, job.CropRight);
  } else if (3 * cw < 4 * ch) {
    const int64_t excess = (4 * ch - 3 * cw) / 4;  // height beyond 4:3
    output.CropTop = even(excess, job.CropTop);
    output.CropBottom = even(excess, job.CropBottom);
  }
}

void CopyJobCrop(const TlvFilesRecord& job, TOutputOptions& output) {
  output.CropTop = job.CropTop;
  output.CropBottom = job.CropBottom;
  output.CropLeft = job.CropLeft;
  output.CropRight = job.CropRight;
}

// "full" stretches the picture over W x H, "pan" first cuts it to 4:3, "lbox" and "center"
// scale it inside W x H and fill the rest with bars ("center" in black). Returns the filter
// text of the mode (empty when it needs none).
std::string ApplyZoom(const TlvFilesRecord& job, TSize src, TSize out, TOutputOptions& output) {
  const std::string& mode = job.ZoomMode;
  const bool known = mode == ZoomFull || mode == ZoomLetterbox || mode == ZoomPan || mode == ZoomCenter;
  if (!known || src.W <= 0 || src.H <= 0 || out.W <= 0 || out.H <= 0) return {};
  // The frame the encoder gets is W x H in every mode; its aspect is that of the frame, so
  // the picture keeps square pixels inside it.
  output.FrameAspectRatio = SizeText(out.W, out.H, ":");
  if (mode == ZoomFull || mode == ZoomPan) {
    if (job.IsCropped()) CopyJobCrop(job, output);
    if (mode == ZoomPan) PanToFourByThree(src, job, output);
    output.FrameSize = SizeText(out.W, out.H, "x");
    return {};
  }
  const TMargins m = LetterboxMargins(src, out);
  const int w = out.W - m.Left - m.Right, h = out.H - m.Top - m.Bottom;
  const std::string pad = "pad=" + SizeText(out.W, out.H, ":") + ":" + SizeText(m.Left, m.Top, ":");
  if (mode == ZoomCenter || !job.IsCropped()) {
    output.FrameSize = SizeText(w, h, "x");
    return mode == ZoomCenter ? pad + ":black" : pad;
  }
  // The engine crops by the crop fields before any filter runs, so the filter only scales
  // the cropped picture into the space the whole picture would take.
  CopyJobCrop(job, output);
  return "scale=" + SizeText(w, h, ":") + "," + pad;
}

void BuildAudioOnly(const TConversionValues& values, TOutputOptions& output, TInputOptions& input) {
  output.AudioCodec = values.AudioEncoder(true);
  if (const auto channels = PositiveWholeNumber(values.Value(K::paraChannel))) output.AudioChannels = *channels;
  ApplyAudioRates(values, output);
  ApplyVolume(values.Value(K::paraVolume), output);
  if (!HasOptionLine(input.ExtOptions, "vn")) AddOptionLine(input.ExtOptions, "vn=1");
  output.DisableVideo = true;
  output.DisableSubtitle = true;
}

void BuildVideoAudio(const TConversionValues& values, TOutputOptions& output) {
  std::string encoder = values.AudioEncoder(false);
  if (encoder == "libamr_nb") encoder = "libopencore_amrnb";
  output.AudioCodec = encoder;
  if (Trimmed(encoder).empty()) output.DisableAudio = true;
  const std::string channels = values.Value(K::paraChannel);
  if (channels != AsSource) {
    if (const auto count = WholeNumber(channels)) output.AudioChannels = *count;
  }
  ApplyVolume(values.Value(K::paraVolume), output);
  ApplyAudioRates(values, output);
}

}  // namespace

void BuildOutputOptions(const TlvFilesRecord& job, int formatCode, TOutputOptions& output, TCustomAVProbe& probe,
                        TInputOptions& input, const TSettingsStore& settings, const TFormatStore& formats) {
  const TConversionValues values(settings.Ini(), formats, formatCode);
  const std::string storedFormat = formats.Format(formatCode);
  const std::string format = LowerCase(storedFormat);
  const std::string sizeText = values.Value(K::paraVideoSize);

  ApplyTarget(format, sizeText, output);

  const std::string videoEncoder = values.Value(K::paraVideoEncoder);
  if (Trimmed(videoEncoder).empty()) {
    BuildAudioOnly(values, output, input);
    return;
  }
  ApplyVideoCodec(videoEncoder, format, output);

  std::string filter;
  if (probe.VideoStreamCount() <= 0) {
    output.DisableVideo = true;
  } else {
    TVideoStreamInfo source;
    probe.GetVideoStreamInfo(probe.FirstVideoStream(), source);
    ApplyRateAndContainer(values, storedFormat, format, source, output);
    const TSize src{source.Width, source.Height};
    const TSize out = OutputSize(sizeText, output.VideoCodec, src);
    for (int32_t* crop : {&output.CropTop, &output.CropBottom, &output.CropLeft, &output.CropRight})
      if (*crop == -1) *crop = 0;
    filter = ApplyZoom(job, src, out, output);
  }
  // An empty filter adds nothing: a trailing comma would be an empty filter in the graph.
  if (!filter.empty()) output.VideoFilters = output.VideoFilters.empty() ? filter : output.VideoFilters + "," + filter;

  BuildVideoAudio(values, output);
}
