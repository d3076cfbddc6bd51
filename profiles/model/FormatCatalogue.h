// The built-in catalogue of output formats and the GUI-free model of the format chooser:
// its rows, expanding and collapsing categories, the stored category states and choosing a
// format. A format's code is category * 100 + position, both counted from 0.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/IniFile.h"

class TSettingsStore;

struct TCatalogueCategory {
  const char* Caption;
  std::vector<const char*> Formats;  // captions in position order
};

inline constexpr int CategoryCount = 6;
// Section "lstformat" of the settings file: key "0".."5" per category, true = collapsed.
inline constexpr const char* CategoryStateSection = "lstformat";

std::span<const TCatalogueCategory> FormatCatalogue();
inline constexpr int FormatCodeOf(int category, int position) { return category * 100 + position; }
// Every catalogue code in catalogue order.
std::vector<int> CatalogueCodes();
// The caption of a catalogue code; empty for a code the catalogue does not have (such as 1).
std::string FormatCaptionOf(int code);

// Captions by category and position; an empty text means no format there.
class TFormatCaptions {
 public:
  static constexpr int Size = 51;
  void Clear();
  void Fill();  // from the catalogue, after clearing
  const std::string& At(int category, int position) const { return FCaptions[category][position]; }

 private:
  std::array<std::array<std::string, Size>, Size> FCaptions;
};

struct TItemInfo {
  bool IsFormat = false;
  bool IsCategory = false;
  bool Collapsed = false;  // header rows: the category's format rows are not in the list
  int32_t Code = 0;        // header: the category number; format row: the format code
  bool operator==(const TItemInfo&) const = default;
};

struct TFormatRow {
  std::string Text;
  TItemInfo Info;
};

bool ReadCategoryCollapsed(const TIniFile& settings, int category);
bool WriteCategoryCollapsed(TIniFile& settings, int category, bool collapsed);

// What one form (main window, Settings dialog) keeps for its chooser.
class TFormatChooserModel {
 public:
  // Rebuilds captions and rows from the catalogue and the stored category states, puts the
  // stored "FormatName" (default: the code 1 caption) into the box text and selects the row
  // that matches it with surrounding blanks removed (none when nothing matches).
  void Build(const TSettingsStore& settings);
  // Header rows only; anything else is ignored.
  void Expand(size_t row);
  void Collapse(size_t row);
  void Toggle(size_t row);
  // The row whose text equals `text` with surrounding blanks removed; -1 when none does.
  int FindRow(const std::string& text) const;
  // Writes the Collapsed flag of every header row.
  bool SaveCategoryStates(TIniFile& settings) const;
  // Choosing a format row: the current name and code follow it and the box shows it; with
  // `storeAtOnce` (the main window) the choice is written to "settings" at once. False for a
  // row that is not a format row.
  bool Choose(size_t row, TSettingsStore* storeAtOnce);

  const std::vector<TFormatRow>& Rows() const { return FRows; }
  const TFormatCaptions& Captions() const { return FCaptions; }
  int SelectedRow() const { return FSelectedRow; }
  void SetSelectedRow(int row) { FSelectedRow = row; }
  const std::string& BoxText() const { return FBoxText; }
  std::string CurrentFormatName;
  std::string CurrentFormatCode;

 private:
  TFormatCaptions FCaptions;
  std::vector<TFormatRow> FRows;
  int FSelectedRow = -1;
  std::string FBoxText;
};
