#include "ProfileStore.h"

#include <array>
#include <string_view>

namespace {

constexpr std::array<const char*, 7> H264KeyList{
    ProfileKey::paraBitExact, ProfileKey::paraMaxBitrate, ProfileKey::paraBufferSize, ProfileKey::paraLevel,
    ProfileKey::paraQscale,   ProfileKey::paraGop,        ProfileKey::paraCoder};

struct TValueDefaults {
  const char* Key;
  const char* Editor;
  const char* Conversion;
};

// Each reader passes its own default; both sets live here.
constexpr std::array<TValueDefaults, 10> ValueDefaults{{
    {ProfileKey::paraVideoSize, "320x240", "null"},
    {ProfileKey::paraVideoBitRate, "800", "512"},
    {ProfileKey::paraFrameRate, "25", "29.97"},
    {ProfileKey::paraSampleRate, "44100", "44100"},
    {ProfileKey::paraAudioBitRate, "96", "128"},
    {ProfileKey::paraVideoEncoder, "", ""},
    {ProfileKey::paraAudioEncoder, "", ""},
    {ProfileKey::paraChannel, "", "2"},
    // No stored volume means unchanged: a default of 3 (of 256) would make the audio of
    // every format the user never set up all but silent.
    {ProfileKey::paraVolume, "", "256"},
    {ProfileKey::paraZoom, ZoomFull, ZoomLetterbox},
}};

const TValueDefaults* DefaultsOf(std::string_view key) {
  for (const TValueDefaults& d : ValueDefaults)
    if (key == d.Key) return &d;
  return nullptr;
}

}  // namespace

std::string FormatSectionName(int code) { return "formatInfo" + std::to_string(code); }

std::span<const char* const> H264Keys() { return H264KeyList; }

std::string TFormatStore::Format(int code) const {
  return FIni.ReadString(FormatSectionName(code), ProfileKey::Format, NullListValue);
}
std::string TFormatStore::FileExt(int code) const {
  return FIni.ReadString(FormatSectionName(code), ProfileKey::FileExt, "mp4");
}
std::string TFormatStore::List(int code, const char* listKey) const {
  return FIni.ReadString(FormatSectionName(code), listKey, NullListValue);
}
int TFormatStore::DefaultIndex(int code, const char* indexKey) const {
  return FIni.ReadInteger(FormatSectionName(code), indexKey, 0);
}
std::string TFormatStore::H264Value(int code, const char* key) const {
  return FIni.ReadString(FormatSectionName(code), key, "");
}

int TUserFormatSection::Index(const char* indexKey) const { return FIni.ReadInteger(FSection, indexKey, 0); }

std::string TUserFormatSection::EditorValue(const char* valueKey) const {
  const TValueDefaults* d = DefaultsOf(valueKey);
  return FIni.ReadString(FSection, valueKey, d ? d->Editor : "");
}

std::string TUserFormatSection::ConversionValue(const char* valueKey) const {
  const TValueDefaults* d = DefaultsOf(valueKey);
  return FIni.ReadString(FSection, valueKey, d ? d->Conversion : "");
}

std::string TUserFormatSection::ConversionAudioEncoder(bool audioOnly) const {
  return FIni.ReadString(FSection, ProfileKey::paraAudioEncoder, audioOnly ? "libfaac" : "");
}
