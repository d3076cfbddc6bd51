// From the converter's option records and option text to the engine's options.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <initializer_list>

#include "FFConverterInternal.h"
#include "FFUtils.h"
#include "FFmpegOptions.h"

namespace {

std::string Trim(const std::string& text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

// Decimal text with a point, whatever the locale.
std::string NumberText(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// Microseconds as seconds with six decimals, the duration syntax of the option language.
std::string DurationText(int64_t us) {
  const uint64_t magnitude = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
  return Format("%s%llu.%06llu", us < 0 ? "-" : "", static_cast<unsigned long long>(magnitude / 1000000),
                static_cast<unsigned long long>(magnitude % 1000000));
}

// Seconds since 1970 as an ISO date in UTC, the date syntax of the option language.
std::string DateText(double secondsSince1970) {
  double whole = std::floor(secondsSince1970);
  int64_t micro = std::llround((secondsSince1970 - whole) * 1e6);
  if (micro >= 1000000) {
    whole += 1;
    micro -= 1000000;
  }
  const std::time_t t = static_cast<std::time_t>(whole);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec, static_cast<long long>(micro));
}

double SecondsNow() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1e6;
}

void Apply(TFFmpeg& engine, const char* name, const std::string& value) { engine.ApplyOption(name, value); }

void ApplyText(TFFmpeg& engine, const char* name, const std::string& value) {
  if (!value.empty()) engine.ApplyOption(name, value);
}

void ApplyPositive(TFFmpeg& engine, const char* name, int64_t value) {
  if (value > 0) engine.ApplyOption(name, std::to_string(value));
}

void ApplyFlag(TFFmpeg& engine, const char* name, bool value) {
  if (value) engine.ApplyOption(name, "1");
}

void ApplyMetadata(TFFmpeg& engine, const TStreamInfo& meta) {
  if (meta.Timestamp >= 0) Apply(engine, "timestamp", DateText(meta.Timestamp > 0 ? meta.Timestamp : SecondsNow()));
  if (meta.Year > 0) Apply(engine, "metadata", "year=" + std::to_string(meta.Year));
  if (meta.Track > 0) Apply(engine, "metadata", "track=" + std::to_string(meta.Track));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &meta.Title},     {"author", &meta.Author}, {"copyright", &meta.Copyright},
      {"comment", &meta.Comment}, {"album", &meta.Album},   {"genre", &meta.Genre}};
  for (const auto& [key, value] : texts)
    if (!value->empty()) Apply(engine, "metadata", std::string(key) + "=" + *value);
}

// The record's own fields, in the order the option language expects them.
void ApplyOutputFields(TFFmpeg& engine, const TOutputOptions& o) {
  ApplyText(engine, "f", o.FileFormat);
  ApplyPositive(engine, "packetsize", o.PacketSize);
  ApplyPositive(engine, "muxrate", o.MuxRate);
  if (o.MuxDelay > 0) Apply(engine, "muxdelay", NumberText(o.MuxDelay));
  if (o.MuxPreload > 0) Apply(engine, "muxpreload", NumberText(o.MuxPreload));
  ApplyFlag(engine, "an", o.DisableAudio);
  if (o.AudioVolume >= 0) Apply(engine, "vol", std::to_string(o.AudioVolume));
  ApplyPositive(engine, "ac", o.AudioChannels);
  ApplyPositive(engine, "ar", o.AudioSampleRate);
  ApplyPositive(engine, "ab", o.AudioBitrate);
  ApplyPositive(engine, "abt", o.AudioBitrateTolerance);
  ApplyText(engine, "alang", o.AudioLanguage);
  Apply(engine, "async", std::to_string(o.AudioSync));
  ApplyText(engine, "atag", o.AudioTag);
  ApplyFlag(engine, "vn", o.DisableVideo);
  ApplyText(engine, "r", o.FrameRate);
  ApplyText(engine, "aspect", o.FrameAspectRatio);
  ApplyPositive(engine, "croptop", o.CropTop);
  ApplyPositive(engine, "cropbottom", o.CropBottom);
  ApplyPositive(engine, "cropleft", o.CropLeft);
  ApplyPositive(engine, "cropright", o.CropRight);
  ApplyPositive(engine, "g", o.GroupOfPictures);
  ApplyPositive(engine, "vb", o.VideoBitrate);
  ApplyPositive(engine, "maxrate", o.VideoMaxRate);
  ApplyPositive(engine, "minrate", o.VideoMinRate);
  ApplyPositive(engine, "bt", o.VideoBitrateTolerance);
  ApplyPositive(engine, "bufsize", o.VideoBufSize);
  Apply(engine, "vsync", std::to_string(o.VideoSync));
  ApplyText(engine, "vtag", o.VideoTag);
  ApplyText(engine, "vlang", o.VideoLanguage);
  ApplyFlag(engine, "sn", o.DisableSubtitle);
  ApplyText(engine, "slang", o.SubtitleLanguage);
  ApplyFlag(engine, "isync", o.InputSync);
  ApplyFlag(engine, "copyts", o.CopyTimestamps);
  if (o.TimeStart != TimeNotSet) Apply(engine, "ss", DurationText(o.TimeStart));
  if (o.TimeLength != TimeNotSet) Apply(engine, "t", DurationText(o.TimeLength));
  ApplyMetadata(engine, o.Metadata);
}

void ApplyTargetOf(TFFmpeg& engine, const TOutputOptions& o) {
  if (o.Target < 1 || o.Target > 3) return;
  static const char* const types[] = {"vcd", "svcd", "dvd"};
  const TTargetNorm norm = o.TargetNorm == 1   ? TTargetNorm::PAL
                           : o.TargetNorm == 2 ? TTargetNorm::NTSC
                                               : TTargetNorm::Automatic;
  ApplyTarget(engine.Options, types[o.Target - 1], norm, o.TargetFallbackNorm == 1 ? "pal" : "ntsc");
}

// The stream settings an extra stream of each kind takes.
const std::vector<std::string>& StreamSettings(const std::string& kind) {
  static const std::vector<std::string> audio = {"acodec", "apre"};
  static const std::vector<std::string> video = {"vcodec", "vpre", "s", "vf"};
  static const std::vector<std::string> subtitle = {"scodec", "spre"};
  return kind == "newaudio" ? audio : kind == "newvideo" ? video : subtitle;
}

}  // namespace

std::vector<TOptionPair> ParseOptionText(const std::string& text) {
  std::string block = Trim(text);
  ReplaceAll(block, "\r\n", "\n");
  ReplaceAll(block, "\r", "\n");
  ReplaceAll(block, "<CRLF>", "\n");
  std::vector<TOptionPair> pairs;
  size_t start = 0;
  while (start <= block.size()) {
    size_t end = block.find('\n', start);
    if (end == std::string::npos) end = block.size();
    // Blanks around a name or a value are never part of it.
    const std::string line = Trim(block.substr(start, end - start));
    if (!line.empty()) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos)
        pairs.push_back({LowerCase(line), std::string()});
      else
        pairs.push_back({LowerCase(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1))});
    }
    start = end + 1;
  }
  return pairs;
}

void ApplyInputOptions(TFFmpeg& engine, const TInputOptions& options) {
  // Stream creation, presets and filters belong to outputs; codecs and size here describe the
  // input.
  for (const TOptionPair& p : ParseOptionText(options.ExtOptions))
    if (!OneOf(p.Name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"}))
      engine.ApplyOption(p.Name, p.Value);
  ApplyText(engine, "f", options.FileFormat);
  if (options.TimeStart != TimeNotSet) Apply(engine, "ss", DurationText(options.TimeStart));
  if (options.ProgramID >= 0) Apply(engine, "programid", std::to_string(options.ProgramID));
}

TOutputStreamPlan ApplyOutputOptions(TFFmpeg& engine, const TOutputOptions& o) {
  TOutputStreamPlan plan;
  plan.Defaults = {{"acodec", o.AudioCodec}, {"vcodec", o.VideoCodec},  {"scodec", o.SubtitleCodec},
                   {"apre", o.AudioPreset},  {"vpre", o.VideoPreset},   {"spre", o.SubtitlePreset},
                   {"s", o.FrameSize},       {"vf", o.VideoFilters}};
  plan.Lines = ParseOptionText(o.ExtOptions);
  // The first setting of a kind in the text stands in for an empty record field; every one of
  // them also waits for an extra stream that may take it.
  for (const TOptionPair& line : plan.Lines) {
    const std::string name = line.Name == "vfilters" ? "vf" : line.Name;
    const auto it = plan.Defaults.find(name);
    if (it == plan.Defaults.end() || line.Value.empty()) continue;
    if (it->second.empty()) it->second = line.Value;
    plan.Pending.push_back({name, line.Value});
  }

  ApplyTargetOf(engine, o);
  ApplyText(engine, "acodec", plan.Defaults["acodec"]);
  ApplyText(engine, "vcodec", plan.Defaults["vcodec"]);
  ApplyText(engine, "scodec", plan.Defaults["scodec"]);
  ApplyText(engine, "apre", plan.Defaults["apre"]);
  ApplyText(engine, "vpre", plan.Defaults["vpre"]);
  ApplyText(engine, "spre", plan.Defaults["spre"]);
  for (const TOptionPair& line : plan.Lines)
    if (!OneOf(line.Name, {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf", "acodec",
                           "vcodec", "scodec", "s"}))
      engine.ApplyOption(line.Name, line.Value);
  ApplyOutputFields(engine, o);
  ApplyText(engine, "s", plan.Defaults["s"]);
  ApplyText(engine, "vf", plan.Defaults["vf"]);
  return plan;
}

void AddRequestedStreams(TFFmpeg& engine, TOutputStreamPlan& plan) {
  for (const TOptionPair& line : plan.Lines) {
    if (!OneOf(line.Name, {"newaudio", "newvideo", "newsubtitle"})) continue;
    for (const std::string& setting : StreamSettings(line.Name)) {
      std::string value = plan.Defaults[setting];
      const auto pending = std::find_if(plan.Pending.begin(), plan.Pending.end(),
                                        [&](const TOptionPair& p) { return p.Name == setting; });
      if (pending != plan.Pending.end()) {
        value = pending->Value;
        plan.Pending.erase(pending);
      }
      if (!value.empty()) engine.ApplyOption(setting, value);
    }
    engine.ApplyOption(line.Name, line.Value);
  }
}
