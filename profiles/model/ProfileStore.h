// The two per-format schemas: the read-only format store (what a format offers) and the
// user's section of the settings file (what the user chose). Both use the section
// "formatInfo" + code.
#pragma once

#include <span>
#include <string>

#include "platform/IniFile.h"

std::string FormatSectionName(int code);

// A list value that means "this parameter does not apply to the format".
inline constexpr const char* NullListValue = "null";

namespace ProfileKey {
// Format store only.
inline constexpr const char* Format = "Format";
inline constexpr const char* FileExt = "FileExt";
// Lists (format store).
inline constexpr const char* VideoSize = "VideoSize";
inline constexpr const char* VideoBitRate = "VideoBitRate";
inline constexpr const char* FrameRate = "FrameRate";
inline constexpr const char* VideoEncoder = "VideoEncoder";
inline constexpr const char* AudioBitRate = "AudioBitRate";
inline constexpr const char* SampleRate = "SampleRate";
inline constexpr const char* AudioEncoder = "AudioEncoder";
inline constexpr const char* Channel = "Channel";
inline constexpr const char* Volume = "Volume";
// Indices: the format's defaults in the store, the user's choices in the settings file.
inline constexpr const char* iVideoSize = "iVideoSize";
inline constexpr const char* iVideoBitRate = "iVideoBitRate";
inline constexpr const char* iFrameRate = "iFrameRate";
inline constexpr const char* iVideoEncoder = "iVideoEncoder";
inline constexpr const char* iAudioBitRate = "iAudioBitRate";
inline constexpr const char* iSampleRate = "iSampleRate";
inline constexpr const char* iChannel = "iChannel";
inline constexpr const char* iVolume = "iVolume";
inline constexpr const char* iAudioEncoder = "iAudioEncoder";
// Values the conversion uses (settings file).
inline constexpr const char* paraVideoSize = "paraVideoSize";
inline constexpr const char* paraVideoBitRate = "paraVideoBitRate";
inline constexpr const char* paraFrameRate = "paraFrameRate";
inline constexpr const char* paraSampleRate = "paraSampleRate";
inline constexpr const char* paraAudioBitRate = "paraAudioBitRate";
inline constexpr const char* paraVideoEncoder = "paraVideoEncoder";
inline constexpr const char* paraAudioEncoder = "paraAudioEncoder";
inline constexpr const char* paraChannel = "paraChannel";
inline constexpr const char* paraVolume = "paraVolume";
inline constexpr const char* paraZoom = "paraZoom";
inline constexpr const char* Description = "Description";
// H.264 keys: in the format store, copied into the settings file when H.264 is chosen.
inline constexpr const char* paraBitExact = "paraBitExact";
inline constexpr const char* paraMaxBitrate = "paraMaxBitrate";
inline constexpr const char* paraBufferSize = "paraBufferSize";
inline constexpr const char* paraLevel = "paraLevel";
inline constexpr const char* paraQscale = "paraQscale";
inline constexpr const char* paraGop = "paraGop";
inline constexpr const char* paraCoder = "paraCoder";
}  // namespace ProfileKey

// The H.264 keys in the order they are copied.
std::span<const char* const> H264Keys();

// The format store, read-only. Missing file, section or key give the defaults, so a code
// without a section offers nothing ("null" lists) and writes ".mp4" files.
class TFormatStore {
 public:
  explicit TFormatStore(std::string fileName) : FIni(std::move(fileName)) {}
  const TIniFile& Ini() const { return FIni; }

  std::string Format(int code) const;   // "null" when missing
  std::string FileExt(int code) const;  // "mp4" when missing; without the dot
  std::string List(int code, const char* listKey) const;  // "null" when missing
  int DefaultIndex(int code, const char* indexKey) const;  // 0 when missing
  std::string H264Value(int code, const char* key) const;  // empty when missing

 private:
  TIniFile FIni;
};

// The zoom values of the settings file.
inline constexpr const char* ZoomFull = "full";
inline constexpr const char* ZoomLetterbox = "lbox";
inline constexpr const char* ZoomPan = "pan";
inline constexpr const char* ZoomCenter = "center";

// One user section, with the defaults each reader passes: the Settings dialog restores its
// boxes with one set, the conversion reads the values with another.
class TUserFormatSection {
 public:
  // The file is named, not held open (every access opens it), so a copy of it is the file.
  TUserFormatSection(const TIniFile& settings, int code) : FIni(settings), FSection(FormatSectionName(code)) {}
  const std::string& Section() const { return FSection; }

  int Index(const char* indexKey) const;  // 0 when missing
  // The dialog's defaults: "320x240", "800", "25", "44100", "96" for the five typed values,
  // "full" for the zoom, empty for the others.
  std::string EditorValue(const char* valueKey) const;
  // The conversion's defaults: "null", "512", "29.97", "44100", "128" for the typed values,
  // "2" channels, volume "256" (unchanged), "lbox" zoom, no encoders (see ConversionAudioEncoder).
  std::string ConversionValue(const char* valueKey) const;
  // The audio encoder of a conversion: "libfaac" when missing and the format has no video.
  std::string ConversionAudioEncoder(bool audioOnly) const;

  bool Write(const char* key, const std::string& value) { return FIni.WriteString(FSection, key, value); }
  bool WriteInteger(const char* key, int value) { return FIni.WriteInteger(FSection, key, value); }

 private:
  TIniFile FIni;
  std::string FSection;
};
