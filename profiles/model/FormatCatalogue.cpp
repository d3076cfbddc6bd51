#include "FormatCatalogue.h"

#include "app/core/SettingsStore.h"

namespace {

// Captions as the program has always shown them, misspellings included: users and the
// settings files know the formats by these texts.
const std::vector<TCatalogueCategory>& Catalogue() {
  static const std::vector<TCatalogueCategory> catalogue = {
      {"XviD Video Format", {"XviD Video Format (*.avi)"}},
      {"3GP Video",
       {"3GPP -mpeg4 -3rd Generation Partnership Project (*.3gp)",
        "3GPP2 -mpeg4 -3rd Generation Partnership Project2 (*.3g2)", "Mobile Phone MPEG-4 Video(*.mp4)"}},
      {"Flash Video", {"Flash Video Format (*.flv)"}},
      {"Quick Time Video - MOV", {"MOV - Quick Time Video (*.mov)"}},
      {"General Video formates",
       {"MPEG-1 Video (*.mpg)", "MPEG-2 Video (*.mpg)", "MPEG-4 Video (*.mp4)", "H.264/MPEG-4 AVC Video (*.mp4)",
        "AVI Video (*.avi)", "WMV Video (*.wmv)", "Divx Video (*.avi)", "Xvid Video (*.avi)",
        "DV - NTSC -Digital Video Format (*.dv)", "DV - PAL -Digital Video Format (*.dv)"}},
      {"General Audio formates",
       {"MP3 MPEG Layer-3 Audio (*.mp3)", "AAC Advenced Audio Codec (*.aac)", "M4A MPEG-4 Audio (*.m4a)",
        "WMA - Windows Meida Audio (*.wma)", "WAV - Waveform Audio (*.wav)", "OGG Vorbis Audio Codec (*.ogg)",
        "AC-3 Audio Codec (*.ac3)"}},
  };
  return catalogue;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::span<const TCatalogueCategory> FormatCatalogue() { return Catalogue(); }

std::vector<int> CatalogueCodes() {
  std::vector<int> codes;
  for (size_t c = 0; c < Catalogue().size(); ++c)
    for (size_t p = 0; p < Catalogue()[c].Formats.size(); ++p)
      codes.push_back(FormatCodeOf(static_cast<int>(c), static_cast<int>(p)));
  return codes;
}

std::string FormatCaptionOf(int code) {
  if (code < 0) return {};
  const size_t category = static_cast<size_t>(code / 100), position = static_cast<size_t>(code % 100);
  if (category >= Catalogue().size() || position >= Catalogue()[category].Formats.size()) return {};
  return Catalogue()[category].Formats[position];
}

void TFormatCaptions::Clear() {
  for (auto& category : FCaptions)
    for (std::string& caption : category) caption.clear();
}

void TFormatCaptions::Fill() {
  Clear();
  for (size_t c = 0; c < Catalogue().size(); ++c)
    for (size_t p = 0; p < Catalogue()[c].Formats.size(); ++p) FCaptions[c][p] = Catalogue()[c].Formats[p];
}

bool ReadCategoryCollapsed(const TIniFile& settings, int category) {
  return settings.ReadBool(CategoryStateSection, std::to_string(category), true);
}

bool WriteCategoryCollapsed(TIniFile& settings, int category, bool collapsed) {
  return settings.WriteBool(CategoryStateSection, std::to_string(category), collapsed);
}

void TFormatChooserModel::Build(const TSettingsStore& settings) {
  FCaptions.Fill();
  FRows.clear();
  FSelectedRow = -1;
  for (int c = 0; c < CategoryCount; ++c) {
    FRows.push_back({Catalogue()[static_cast<size_t>(c)].Caption, {false, true, true, c}});
    if (!ReadCategoryCollapsed(settings.Ini(), c)) Expand(FRows.size() - 1);
  }
  FBoxText = settings.Ini().ReadString(SettingsSection, SettingKey::FormatName, DefaultFormatCaption);
  FSelectedRow = FindRow(FBoxText);
}

void TFormatChooserModel::Expand(size_t row) {
  if (row >= FRows.size() || !FRows[row].Info.IsCategory || !FRows[row].Info.Collapsed) return;
  const int category = FRows[row].Info.Code;
  size_t at = row + 1;
  for (int p = 0; p < TFormatCaptions::Size && !FCaptions.At(category, p).empty(); ++p, ++at)
    FRows.insert(FRows.begin() + static_cast<std::ptrdiff_t>(at),
                 TFormatRow{FCaptions.At(category, p), {true, false, false, FormatCodeOf(category, p)}});
  // A category without captions stays collapsed.
  if (at > row + 1) FRows[row].Info.Collapsed = false;
  if (FSelectedRow > static_cast<int>(row)) FSelectedRow += static_cast<int>(at - row - 1);
}

void TFormatChooserModel::Collapse(size_t row) {
  if (row >= FRows.size() || !FRows[row].Info.IsCategory) return;
  size_t end = row + 1;
  while (end < FRows.size() && !FRows[end].Info.IsCategory) ++end;
  const int removed = static_cast<int>(end - row - 1);
  FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(row + 1), FRows.begin() + static_cast<std::ptrdiff_t>(end));
  FRows[row].Info.Collapsed = true;
  if (FSelectedRow > static_cast<int>(row)) FSelectedRow = FSelectedRow <= static_cast<int>(row) + removed ? -1 : FSelectedRow - removed;
}

void TFormatChooserModel::Toggle(size_t row) {
  if (row >= FRows.size() || !FRows[row].Info.IsCategory) return;
  if (FRows[row].Info.Collapsed)
    Expand(row);
  else
    Collapse(row);
}

int TFormatChooserModel::FindRow(const std::string& text) const {
  const std::string wanted = Trimmed(text);
  for (size_t i = 0; i < FRows.size(); ++i)
    if (FRows[i].Text == wanted) return static_cast<int>(i);
  return -1;
}

bool TFormatChooserModel::SaveCategoryStates(TIniFile& settings) const {
  bool ok = true;
  for (const TFormatRow& row : FRows)
    if (row.Info.IsCategory) ok = WriteCategoryCollapsed(settings, row.Info.Code, row.Info.Collapsed) && ok;
  return ok;
}

bool TFormatChooserModel::Choose(size_t row, TSettingsStore* storeAtOnce) {
  if (row >= FRows.size() || !FRows[row].Info.IsFormat) return false;
  CurrentFormatName = FRows[row].Text;
  CurrentFormatCode = std::to_string(FRows[row].Info.Code);
  if (storeAtOnce) storeAtOnce->SetCurrentFormat(CurrentFormatName, FRows[row].Info.Code);
  FBoxText = CurrentFormatName;
  FSelectedRow = static_cast<int>(row);
  return true;
}
