#include "ParameterEditors.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "app/core/DialogSeam.h"
#include "app/core/GlobalObject.h"

namespace K = ProfileKey;

namespace {

constexpr std::array<TParamBoxDef, ParamBoxCount> BoxDefs{{
    {TParamBox::pbVideoSize, "cmbVideoSize", true, "Frame Size:", true, K::VideoSize, K::iVideoSize, K::paraVideoSize, false},
    {TParamBox::pbVideoEncoder, "cmbVideoEncoder", true, "Encoder:", false, K::VideoEncoder, K::iVideoEncoder, K::paraVideoEncoder, true},
    {TParamBox::pbVideoBitRate, "cmbVideoBitRate", true, "BitRate (Kbps):", true, K::VideoBitRate, K::iVideoBitRate, K::paraVideoBitRate, false},
    {TParamBox::pbFrameRate, "cmbFrameRate", true, "FrameRate (Fps):", false, K::FrameRate, K::iFrameRate, K::paraFrameRate, false},
    {TParamBox::pbZoom, "cmbZoom", true, "Zoom:", false, nullptr, nullptr, K::paraZoom, false},
    {TParamBox::pbSampleRate, "cmbSamplerate", false, "SampleRate (Hz):", true, K::SampleRate, K::iSampleRate, K::paraSampleRate, true},
    {TParamBox::pbAudioEncoder, "cmbAudioEncoder", false, "Encoder:", false, K::AudioEncoder, K::iAudioEncoder, K::paraAudioEncoder, true},
    {TParamBox::pbChannel, "cmbChannel", false, "Channel:", false, K::Channel, K::iChannel, K::paraChannel, true},
    {TParamBox::pbVolume, "cmbVolume", false, "Volume:", false, K::Volume, K::iVolume, K::paraVolume, true},
    {TParamBox::pbAudioBitRate, "cmbAudioBitRate", false, "BitRate (Kbps):", true, K::AudioBitRate, K::iAudioBitRate, K::paraAudioBitRate, true},
}};

constexpr std::array<TNameMap, 27> VideoEncoders{{
    {"mpeg-4", "mpeg4"},       {"xvid", "libxvid"},         {"h264", "libx264"},       {"3gp", "3gp"},
    {"3g2", "3g2"},            {"mov", "mov"},              {"wmv1", "wmv1"},          {"wmv2", "wmv2"},
    {"wmv3", "wmv3"},          {"flv", "flv"},              {"swf", "swf"},            {"msmpeg4", "msmpeg4"},
    {"msmpeg4v1", "msmpeg4v1"}, {"msmpeg4v2", "msmpeg4v2"}, {"mpeg1video", "mpeg1video"}, {"mpeg2video", "mpeg2video"},
    {"h263", "h263"},          {"h263p", "h263p"},          {"rawvideo", "rawvideo"},  {"rv10", "rv10"},
    {"rv20", "rv20"},          {"dvvideo", "dvvideo"},      {"huffyuv", "huffyuv"},    {"ljpeg", "ljpeg"},
    {"mjpeg", "mjpeg"},        {"svq1", "svq1"},            {"zlib", "zlib"},
}};

constexpr std::array<TNameMap, 28> AudioEncoders{{
    {"mp3", "libmp3lame"},
    {"ogg", "vorbis"},
    {"mp2", "mp2"},
    {"aac", "libfaac"},
    {"ac-3", "ac3"},
    {"flac", "flac"},
    {"alac", "alac"},
    {"libamr_nb", "libopencore_amrnb"},
    {"adpcm_swf", "adpcm_swf"},
    {"adpcm_yamaha", "adpcm_yamaha"},
    {"pcm-8bit", "pcm_s8"},
    {"pcm-16bit", "pcm_s16be"},
    {"pcm-24bit", "pcm_s24be"},
    {"pcm-32bit", "pcm_s32be"},
    {"pcm-32bit float", "pcm_f32be"},
    {"pcm-64bit float", "pcm_f64be"},
    {"ccitt a-law(8-bit)", "pcm_alaw"},
    {"ccitt mu-law(8-bit)", "pcm_mulaw"},
    {"ima adpcm(4-bit)", "adpcm_ima_qt"},
    {"gsm", "libgsm"},
    {"pcm_s16", "pcm_s16le"},
    {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"},
    {"pcm_mulaw", "pcm_mulaw"},
    {"adpcm_ms", "adpcm_ms"},
    {"adpcm_ima_wav", "adpcm_ima_wav"},
    {"wma1", "wmav1"},
    {"wma2", "wmav2"},
}};

// The engine's volume is 256 for unchanged; these are the percentages it offers.
constexpr std::array<int, 12> VolumePercents{25, 50, 75, 100, 125, 150, 175, 200, 250, 300, 350, 400};

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::optional<std::string> Lookup(std::span<const TNameMap> table, const std::string& entry) {
  for (const TNameMap& row : table)
    if (entry == row.first) return std::string(row.second);
  return std::nullopt;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int> ParseInt(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A frame dimension: digits only (a size has no sign) that fit in int.
std::optional<int> ParseDimension(std::string_view text) {
  if (!AllDigits(text)) return std::nullopt;
  return ParseInt(text);
}

int EvenTowardZero(int value) {
  const int even = value - value % 2;
  return even == 0 ? 2 : even;
}

TCheckResult Rejected(const std::string& message) {
  return {false, ProductTitleText, message, "", true};
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool ContainsAsSource(const std::string& text) { return LowerCase(text).find("as source") != std::string::npos; }

}  // namespace

std::span<const TParamBoxDef> ParamBoxDefs() { return BoxDefs; }
const TParamBoxDef& ParamBoxDef(TParamBox box) { return BoxDefs[static_cast<size_t>(box)]; }

TListFill SplitListValue(const std::string& value, bool emptyIsNull) {
  if (value == NullListValue || (emptyIsNull && value.empty())) return {};
  TListFill fill{true, {}};
  if (value.empty()) return fill;
  size_t start = 0;
  for (size_t comma; (comma = value.find(',', start)) != std::string::npos; start = comma + 1)
    fill.Entries.push_back(value.substr(start, comma - start));
  fill.Entries.push_back(value.substr(start));
  return fill;
}

std::span<const TNameMap> VideoEncoderTable() { return VideoEncoders; }
std::span<const TNameMap> AudioEncoderTable() { return AudioEncoders; }

std::optional<std::string> MapVideoEncoder(const std::string& entry) { return Lookup(VideoEncoders, LowerCase(entry)); }
std::optional<std::string> MapAudioEncoder(const std::string& entry) { return Lookup(AudioEncoders, LowerCase(entry)); }

std::optional<std::string> MapChannel(const std::string& entry) {
  if (entry == "as source") return "as source";
  if (entry == "mono 1 channel") return "1";
  if (entry == "stereo 2 channels") return "2";
  return std::nullopt;
}

std::optional<std::string> MapVolume(const std::string& entry) {
  if (entry.empty()) return std::nullopt;
  const std::optional<int> percent = ParseInt(std::string_view(entry).substr(0, entry.size() - 1));
  if (!percent || std::find(VolumePercents.begin(), VolumePercents.end(), *percent) == VolumePercents.end())
    return std::nullopt;
  return std::to_string(*percent * 256 / 100);
}

bool IsWholeNumber(const std::string& text) {
  std::string_view digits(text);
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  return AllDigits(digits) && ParseInt(text).has_value();
}

bool IsDecimalNumber(const std::string& text) {
  std::string_view rest(text);
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) rest.remove_prefix(1);
  const size_t dot = rest.find('.');
  if (dot == std::string_view::npos) return AllDigits(rest);
  const std::string_view whole = rest.substr(0, dot), fraction = rest.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return false;
  return (whole.empty() || AllDigits(whole)) && (fraction.empty() || AllDigits(fraction));
}

TCheckResult CheckFrameSize(const std::string& text) {
  if (ContainsAsSource(text)) return {};
  const size_t x = text.find('x');
  if (x == std::string::npos) return Rejected("Frame Size is not a valid value!");
  const std::optional<int> width = ParseDimension(std::string_view(text).substr(0, x));
  const std::optional<int> height = ParseDimension(std::string_view(text).substr(x + 1));
  if (!width || !height) return Rejected("Frame Size is not a valid value!");
  if (*width % 2 == 0 && *height % 2 == 0 && *width != 0 && *height != 0) return {};
  const std::string corrected = std::to_string(EvenTowardZero(*width)) + "x" + std::to_string(EvenTowardZero(*height));
  return {false, "Input Error!", "Frame Size must be a multiple of 2.\nThe correct value:" + corrected, corrected, false};
}

TCheckResult CheckVideoBitRate(const std::string& text) {
  if (text == "as source" || IsWholeNumber(text)) return {};
  return Rejected("Video BitRate is not a valid value!");
}

TCheckResult CheckAudioBitRate(const std::string& text) {
  if (text == "as source" || IsDecimalNumber(text)) return {};
  return Rejected("Audio BitRate is not a valid value!");
}

TCheckResult CheckSampleRate(const std::string& text) {
  if (text == "as source" || IsWholeNumber(text)) return {};
  return Rejected("Audio SampleRate is not a valid value!");
}

TKeyVerdict FilterKey(TParamBox box, const std::string& text, char key) {
  const bool digit = key >= '0' && key <= '9';
  switch (box) {
    case TParamBox::pbVideoSize:
      if (text.empty() || key == BackspaceKey || digit) return TKeyVerdict::kvAccept;
      return key == 'x' && text.find('x') == std::string::npos ? TKeyVerdict::kvAccept : TKeyVerdict::kvRefuse;
    case TParamBox::pbVideoBitRate:
    case TParamBox::pbSampleRate:
    case TParamBox::pbAudioBitRate:
      return key == BackspaceKey || digit ? TKeyVerdict::kvAccept : TKeyVerdict::kvRefuseWithMessage;
    default:
      return TKeyVerdict::kvAccept;
  }
}

TParameterModel::TParameterModel() {
  TBoxState& zoom = State(TParamBox::pbZoom);
  zoom.Entries.assign(std::begin(ZoomEntries), std::end(ZoomEntries));
  zoom.Enabled = true;
}

void TParameterModel::LoadLists(const TFormatStore& store, int code) {
  for (const TParamBoxDef& def : BoxDefs) {
    if (!def.ListKey) continue;
    TListFill fill = SplitListValue(store.List(code, def.ListKey), def.EmptyListIsNull);
    TBoxState& box = State(def.Box);
    box.Entries = std::move(fill.Entries);
    box.Enabled = fill.Enabled;
    box.ItemIndex = -1;
    box.Text.clear();
  }
}

void TParameterModel::RestoreSelections(const TIniFile& settings, int code, bool withTypedValues) {
  const TUserFormatSection section(settings, code);
  for (const TParamBoxDef& def : BoxDefs) {
    if (!def.IndexKey) continue;
    const int index = section.Index(def.IndexKey);
    const bool typedValueBox = def.Editable || def.Box == TParamBox::pbFrameRate;
    if (withTypedValues && typedValueBox && index < 0) {
      State(def.Box).ItemIndex = -1;
      State(def.Box).Text = section.EditorValue(def.ValueKey);
    } else {
      Select(def.Box, index);
    }
  }
  const std::string zoom = section.EditorValue(K::paraZoom);
  if (zoom == ZoomFull) Select(TParamBox::pbZoom, 0);
  else if (zoom == ZoomLetterbox) Select(TParamBox::pbZoom, 1);
  else if (zoom == ZoomPan) Select(TParamBox::pbZoom, 2);
  else if (zoom == ZoomCenter) Select(TParamBox::pbZoom, 3);  // no such entry: the box shows nothing
  EnableGroups();
}

void TParameterModel::EnableGroups() {
  const bool video = !Box(TParamBox::pbVideoEncoder).Entries.empty();
  const bool audio = !Box(TParamBox::pbAudioEncoder).Entries.empty();
  for (const TParamBoxDef& def : BoxDefs) {
    TBoxState& box = State(def.Box);
    box.Enabled = def.Video ? video : audio;
    box.GreyText = !box.Enabled;
  }
  TBoxState& audioBitRate = State(TParamBox::pbAudioBitRate);
  if (audioBitRate.Entries.empty()) {
    audioBitRate.Enabled = false;
    audioBitRate.GreyText = true;
  }
}

void TParameterModel::ApplyDefaults(const TFormatStore& store, int code) {
  for (const TParamBoxDef& def : BoxDefs)
    if (def.IndexKey) Select(def.Box, store.DefaultIndex(code, def.IndexKey));
  Select(TParamBox::pbZoom, 0);
}

void TParameterModel::RestoreOrShowDefaults(const TIniFile& settings, const TFormatStore& store, int code,
                                            bool withTypedValues) {
  RestoreSelections(settings, code, withTypedValues);
  if (!TConversionValues(settings, store, code).FromFormatDefaults()) return;
  ApplyDefaults(store, code);
  Select(TParamBox::pbZoom, 1);  // the run's own choice when no zoom is stored
  EnableGroups();
}

void TParameterModel::Select(TParamBox box, int index) {
  TBoxState& state = State(box);
  if (index < 0 || index >= static_cast<int>(state.Entries.size())) {
    state.ItemIndex = -1;
    state.Text.clear();
    return;
  }
  state.ItemIndex = index;
  state.Text = state.Entries[static_cast<size_t>(index)];
}

void TParameterModel::SetText(TParamBox box, const std::string& text) {
  TBoxState& state = State(box);
  state.ItemIndex = -1;
  state.Text = text;
}

TKeyVerdict TParameterModel::KeyPress(TParamBox box, char key) {
  const TKeyVerdict verdict = FilterKey(box, Box(box).Text, key);
  if (verdict == TKeyVerdict::kvRefuseWithMessage)
    DialogSeam().ShowMessage(ProductTitleText, NumericKeyMessage, TMessageIcon::miInformation);
  if (verdict != TKeyVerdict::kvAccept) return verdict;
  TBoxState& state = State(box);
  if (!ParamBoxDef(box).Editable) return verdict;
  if (key == BackspaceKey) {
    if (!state.Text.empty()) state.Text.pop_back();
  } else {
    state.Text.push_back(key);
  }
  state.ItemIndex = -1;
  return verdict;
}

TCheckResult TParameterModel::LeaveBox(TParamBox box) {
  const std::string& text = Box(box).Text;
  TCheckResult result;
  switch (box) {
    case TParamBox::pbVideoSize: result = CheckFrameSize(text); break;
    case TParamBox::pbVideoBitRate: result = CheckVideoBitRate(text); break;
    case TParamBox::pbAudioBitRate: result = CheckAudioBitRate(text); break;
    case TParamBox::pbSampleRate: result = CheckSampleRate(text); break;
    default: return result;
  }
  if (!result.Message.empty())
    DialogSeam().ShowMessage(result.Caption, result.Message,
                             result.Caption == "Input Error!" ? TMessageIcon::miError : TMessageIcon::miInformation);
  if (!result.Corrected.empty()) SetText(box, result.Corrected);
  if (result.ResetBox && Box(box).Entries.size() > 1) Select(box, 1);
  return result;
}

namespace {

// Sets `key` in `values`, replacing an earlier setting of it, so each key appears once.
void Put(TStoredValues& values, const char* key, std::string value) {
  for (auto& [name, stored] : values)
    if (name == key) {
      stored = std::move(value);
      return;
    }
  values.emplace_back(key, std::move(value));
}

}  // namespace

TStoredValues TParameterModel::StoredValues(const TFormatStore& store, int code) const {
  TStoredValues values;
  for (const char* key : {K::iVideoSize, K::iVideoBitRate, K::iVideoEncoder, K::iFrameRate, K::iSampleRate,
                          K::iAudioBitRate, K::iChannel, K::iVolume, K::iAudioEncoder}) {
    const auto def = std::find_if(BoxDefs.begin(), BoxDefs.end(),
                                  [&](const TParamBoxDef& d) { return d.IndexKey && std::string_view(d.IndexKey) == key; });
    Put(values, key, std::to_string(Box(def->Box).ItemIndex));
  }
  Put(values, K::paraVideoSize, Box(TParamBox::pbVideoSize).Text);
  Put(values, K::paraVideoBitRate, Box(TParamBox::pbVideoBitRate).Text);
  Put(values, K::paraFrameRate, Box(TParamBox::pbFrameRate).Text);

  static constexpr const char* zoomValues[] = {ZoomFull, ZoomLetterbox, ZoomPan};
  const int zoom = Box(TParamBox::pbZoom).ItemIndex;
  if (zoom >= 0 && zoom < 3) Put(values, K::paraZoom, zoomValues[zoom]);

  if (const auto video = MapVideoEncoder(Box(TParamBox::pbVideoEncoder).Text)) {
    Put(values, K::paraVideoEncoder, *video);
    if (*video == H264EncoderValue) AddH264Keys(values, store, code);
  }

  Put(values, K::paraSampleRate, Box(TParamBox::pbSampleRate).Text);
  Put(values, K::paraAudioBitRate, Box(TParamBox::pbAudioBitRate).Text);
  if (const auto channel = MapChannel(Box(TParamBox::pbChannel).Text)) Put(values, K::paraChannel, *channel);
  if (const auto volume = MapVolume(Box(TParamBox::pbVolume).Text)) Put(values, K::paraVolume, *volume);

  const std::string& audioEntry = Box(TParamBox::pbAudioEncoder).Text;
  if (const auto audio = MapAudioEncoder(audioEntry)) {
    Put(values, K::paraAudioEncoder, *audio);
    // GSM exists only as 8000 Hz mono, whatever the other boxes show.
    if (LowerCase(audioEntry) == GsmEntry) {
      Put(values, K::paraSampleRate, "8000");
      Put(values, K::paraChannel, "1");
    }
  }
  return values;
}

void TParameterModel::StoreValues(TIniFile& settings, const TFormatStore& store, int code) const {
  TUserFormatSection section(settings, code);
  for (const auto& [key, value] : StoredValues(store, code)) section.Write(key.c_str(), value);
}

void TParameterModel::AddH264Keys(TStoredValues& values, const TFormatStore& store, int code) const {
  for (const char* key : H264Keys()) {
    const std::string value = store.H264Value(code, key);
    if (value.empty()) continue;
    bool passes;
    if (std::string_view(key) == K::paraBitExact) {
      passes = LowerCase(value) == "true";
    } else {
      const std::optional<int> number = IsWholeNumber(value) ? ParseInt(value) : std::nullopt;
      passes = number && (std::string_view(key) == K::paraCoder ? *number >= 0 : *number > 0);
    }
    if (passes) Put(values, key, value);
  }
}

TStoredValues FormatDefaultValues(const TFormatStore& store, int code) {
  TParameterModel model;
  model.LoadLists(store, code);
  model.ApplyDefaults(store, code);
  return model.StoredValues(store, code);
}

namespace {

// The value keys: a user section without any of them was never stored by the Settings dialog.
bool HoldsValueKeys(const TIniFile& settings, const std::string& section) {
  for (const std::string& name : settings.ReadSection(section))
    for (const TParamBoxDef& def : BoxDefs)
      if (SameText(name, def.ValueKey)) return true;
  return false;
}

// What a value read back from the file would be: one line, without surrounding blanks.
std::string AsReadBack(std::string value) {
  for (char& c : value)
    if (c == '\n' || c == '\r') c = ' ';
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
  const auto first = std::find_if_not(value.begin(), value.end(), blank);
  const auto last = std::find_if_not(value.rbegin(), value.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

}  // namespace

TConversionValues::TConversionValues(const TIniFile& settings, const TFormatStore& store, int code)
    : FSection(settings, code) {
  if (!HoldsValueKeys(settings, FSection.Section())) FDefaults = FormatDefaultValues(store, code);
}

const std::string* TConversionValues::Default(const char* valueKey) const {
  if (!FDefaults) return nullptr;
  for (const auto& [key, value] : *FDefaults)
    if (SameText(key, valueKey)) return &value;
  return nullptr;
}

std::string TConversionValues::Value(const char* valueKey) const {
  if (const std::string* value = Default(valueKey)) return AsReadBack(*value);
  return FSection.ConversionValue(valueKey);
}

std::string TConversionValues::AudioEncoder(bool audioOnly) const {
  if (const std::string* value = Default(K::paraAudioEncoder)) return AsReadBack(*value);
  return FSection.ConversionAudioEncoder(audioOnly);
}
