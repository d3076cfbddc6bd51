#include "SettingsStore.h"

#include <array>
#include <stdexcept>
#include <string_view>

#include "GlobalObject.h"
#include "platform/Platform.h"

namespace {

constexpr std::array<TSettingDef, 14> Defs{{
    {SettingKey::OutPutDir, TSettingType::stText, nullptr, 0, 0},
    {SettingKey::SnapOutPutDir, TSettingType::stText, nullptr, 0, 0},
    {SettingKey::OutPutFormat, TSettingType::stInteger, "0", 0, 0x7fffffff},
    {SettingKey::FormatCode, TSettingType::stText, "1", 0, 599},
    {SettingKey::FormatName, TSettingType::stText, DefaultFormatName, 0, 0},
    {SettingKey::SkinIndex, TSettingType::stInteger, "0", 0, 6},
    {SettingKey::Volume, TSettingType::stInteger, "0", 0, 128},
    {SettingKey::Mute, TSettingType::stInteger, "0", 0, 1},
    {SettingKey::Priority, TSettingType::stInteger, "1", 0, 3},
    {SettingKey::SnapFullSize, TSettingType::stBoolean, "1", 0, 1},
    {SettingKey::SnapSmallSize, TSettingType::stBoolean, "1", 0, 1},
    {SettingKey::SnapBmp, TSettingType::stBoolean, "1", 0, 1},
    {SettingKey::SnapJpg, TSettingType::stBoolean, "1", 0, 1},
    {SettingKey::JpgCmp, TSettingType::stInteger, "30", 1, 100},
}};

const TSettingDef& Def(std::string_view key) {
  for (const TSettingDef& d : Defs)
    if (key == d.Key) return d;
  throw std::logic_error("no such setting: " + std::string(key));
}

int IntDefault(const char* key) { return std::stoi(Def(key).Default); }

}  // namespace

std::span<const TSettingDef> SettingDefs() { return Defs; }

std::string TSettingsStore::OutPutDir() const {
  return FIni.ReadString(SettingsSection, SettingKey::OutPutDir, Platform().DefaultOutputFolder());
}
bool TSettingsStore::SetOutPutDir(const std::string& folder) {
  return FIni.WriteString(SettingsSection, SettingKey::OutPutDir, folder);
}
std::string TSettingsStore::SnapOutPutDir() const {
  return FIni.ReadString(SettingsSection, SettingKey::SnapOutPutDir, Platform().DefaultOutputFolder());
}
bool TSettingsStore::SetSnapOutPutDir(const std::string& folder) {
  return FIni.WriteString(SettingsSection, SettingKey::SnapOutPutDir, folder);
}

int TSettingsStore::OutPutFormat() const {
  return FIni.ReadInteger(SettingsSection, SettingKey::OutPutFormat, IntDefault(SettingKey::OutPutFormat));
}
bool TSettingsStore::SetOutPutFormat(int index) {
  return FIni.WriteInteger(SettingsSection, SettingKey::OutPutFormat, index);
}

std::string TSettingsStore::FormatCodeText() const {
  return FIni.ReadString(SettingsSection, SettingKey::FormatCode, Def(SettingKey::FormatCode).Default);
}
int TSettingsStore::FormatCode() const {
  return FIni.ReadInteger(SettingsSection, SettingKey::FormatCode, DefaultFormatCode);
}
std::string TSettingsStore::FormatName() const {
  return FIni.ReadString(SettingsSection, SettingKey::FormatName, DefaultFormatName);
}
bool TSettingsStore::SetCurrentFormat(const std::string& caption, int code) {
  const bool name = FIni.WriteString(SettingsSection, SettingKey::FormatName, caption);
  return FIni.WriteString(SettingsSection, SettingKey::FormatCode, std::to_string(code)) && name;
}

int TSettingsStore::SkinIndex(int defaultValue) const {
  return FIni.ReadInteger(SettingsSection, SettingKey::SkinIndex, defaultValue);
}
bool TSettingsStore::SetSkinIndex(int index) {
  return FIni.WriteInteger(SettingsSection, SettingKey::SkinIndex, index);
}
int TSettingsStore::Volume() const {
  return FIni.ReadInteger(SettingsSection, SettingKey::Volume, IntDefault(SettingKey::Volume));
}
bool TSettingsStore::SetVolume(int volume) { return FIni.WriteInteger(SettingsSection, SettingKey::Volume, volume); }
int TSettingsStore::Mute() const {
  return FIni.ReadInteger(SettingsSection, SettingKey::Mute, IntDefault(SettingKey::Mute));
}
bool TSettingsStore::SetMute(bool muted) { return FIni.WriteInteger(SettingsSection, SettingKey::Mute, muted ? 1 : 0); }
int TSettingsStore::Priority() const {
  return FIni.ReadInteger(SettingsSection, SettingKey::Priority, IntDefault(SettingKey::Priority));
}
bool TSettingsStore::SetPriority(int priority) {
  return FIni.WriteInteger(SettingsSection, SettingKey::Priority, priority);
}
bool TSettingsStore::SnapFullSize() const { return FIni.ReadBool(SettingsSection, SettingKey::SnapFullSize, true); }
bool TSettingsStore::SnapSmallSize() const { return FIni.ReadBool(SettingsSection, SettingKey::SnapSmallSize, true); }
bool TSettingsStore::SnapBmp() const { return FIni.ReadBool(SettingsSection, SettingKey::SnapBmp, true); }
bool TSettingsStore::SnapJpg() const { return FIni.ReadBool(SettingsSection, SettingKey::SnapJpg, true); }
int TSettingsStore::JpgCmp() const {
  return FIni.ReadInteger(SettingsSection, SettingKey::JpgCmp, IntDefault(SettingKey::JpgCmp));
}
bool TSettingsStore::SetSnapOptions(bool fullSize, bool smallSize, bool bmp, bool jpg, int jpgQuality) {
  bool ok = FIni.WriteBool(SettingsSection, SettingKey::SnapFullSize, fullSize);
  ok = FIni.WriteBool(SettingsSection, SettingKey::SnapSmallSize, smallSize) && ok;
  ok = FIni.WriteBool(SettingsSection, SettingKey::SnapBmp, bmp) && ok;
  ok = FIni.WriteBool(SettingsSection, SettingKey::SnapJpg, jpg) && ok;
  return FIni.WriteInteger(SettingsSection, SettingKey::JpgCmp, jpgQuality) && ok;
}

int VolumeSliderPosition(int storedVolume) {
  return storedVolume < 0 || storedVolume > 128 ? 64 : storedVolume;
}

TStartupFolders SettleStartupFolders(TSettingsStore& settings) {
  TStartupFolders folders{settings.OutPutDir(), settings.SnapOutPutDir()};
  if (!IsDirectoryWritable(folders.Output)) {
    folders.Output = Platform().FallbackOutputFolder();
    settings.SetOutPutDir(folders.Output);
  }
  if (!IsDirectoryWritable(folders.Snapshot)) {
    folders.Snapshot = Platform().FallbackOutputFolder();
    settings.SetSnapOutPutDir(folders.Snapshot);
  }
  return folders;
}
