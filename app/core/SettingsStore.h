// Section "settings" of the settings file: every key the program uses, with the default its
// readers pass, and the start-up rules for the two folders.
#pragma once

#include <span>
#include <string>

#include "platform/IniFile.h"

inline constexpr const char* SettingsSection = "settings";

namespace SettingKey {
inline constexpr const char* OutPutDir = "OutPutDir";
inline constexpr const char* SnapOutPutDir = "SnapOutPutDir";
inline constexpr const char* OutPutFormat = "OutPutFormat";
inline constexpr const char* FormatCode = "FormatCode";
inline constexpr const char* FormatName = "FormatName";
inline constexpr const char* SkinIndex = "skinIndex";
inline constexpr const char* Volume = "volume";
inline constexpr const char* Mute = "mute";
inline constexpr const char* Priority = "priority";
inline constexpr const char* SnapFullSize = "snapFullSize";
inline constexpr const char* SnapSmallSize = "snapSmallSize";
inline constexpr const char* SnapBmp = "snapBmp";
inline constexpr const char* SnapJpg = "snapJpg";
inline constexpr const char* JpgCmp = "jpgCmp";
}  // namespace SettingKey

// The current format before the user has chosen one: code 1, shown by its caption in the
// format box and by its short name elsewhere.
inline constexpr int DefaultFormatCode = 1;
inline constexpr const char* DefaultFormatName = "iPod Video MPEG-4";
inline constexpr const char* DefaultFormatCaption = "Apple iPod Video MPEG-4 Movie (*.mp4)";

enum class TSettingType { stText, stInteger, stBoolean };

struct TSettingDef {
  const char* Key;
  TSettingType Type;
  // The default of the main readers; nullptr for the folders, whose default is the
  // platform's default output folder.
  const char* Default;
  int Min;  // integers: the range the program writes (0, 0 for texts)
  int Max;
};

std::span<const TSettingDef> SettingDefs();

class TSettingsStore {
 public:
  explicit TSettingsStore(std::string fileName) : FIni(std::move(fileName)) {}

  TIniFile& Ini() { return FIni; }
  const TIniFile& Ini() const { return FIni; }

  std::string OutPutDir() const;
  bool SetOutPutDir(const std::string& folder);
  std::string SnapOutPutDir() const;
  bool SetSnapOutPutDir(const std::string& folder);

  int OutPutFormat() const;
  bool SetOutPutFormat(int index);

  // The code as text ("1" when missing), as the windows keep it, and as a number (1 when
  // missing or not a number), as the job list and the run use it.
  std::string FormatCodeText() const;
  int FormatCode() const;
  std::string FormatName() const;  // "iPod Video MPEG-4" when missing
  // Both keys of a choice; the code in decimal text.
  bool SetCurrentFormat(const std::string& caption, int code);

  // The skin menu reads the index with 1 as its default, start-up with 0.
  int SkinIndex(int defaultValue = 0) const;
  bool SetSkinIndex(int index);
  int Volume() const;  // the stored value, 0 when missing; see VolumeSliderPosition
  bool SetVolume(int volume);
  int Mute() const;  // 1 muted, 0 not; other values are left to the caller
  bool SetMute(bool muted);
  int Priority() const;
  bool SetPriority(int priority);
  bool SnapFullSize() const;
  bool SnapSmallSize() const;
  bool SnapBmp() const;
  bool SnapJpg() const;
  int JpgCmp() const;
  bool SetSnapOptions(bool fullSize, bool smallSize, bool bmp, bool jpg, int jpgQuality);

 private:
  TIniFile FIni;
};

// The preview volume slider's position for a stored volume: values outside 0..128 show 64.
int VolumeSliderPosition(int storedVolume);

struct TStartupFolders {
  std::string Output;
  std::string Snapshot;
};

// The folder check of the first show of the main window: a stored output or snapshot folder
// that is missing or not writable is replaced by the platform's fallback folder, and the
// replacement is stored. The fallback folder is not created here.
TStartupFolders SettleStartupFolders(TSettingsStore& settings);
