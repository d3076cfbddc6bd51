// The command line of ondrel-convert, parsed into one record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "editing/render/WaterMark.h"

enum class TCliCommand { ccConvert, ccHelp, ccVersion, ccLibraries, ccListFormats, ccInfo };

struct TCliOptions {
  TCliCommand Command = TCliCommand::ccConvert;
  std::vector<std::string> Files;  // sources to convert, or the one file of --info
  std::optional<int> FormatCode;
  std::optional<std::string> OutputDir;
  int64_t TrimStart = 0;   // µs
  int64_t TrimLength = 0;  // µs; 0: to the end
  int32_t CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  std::optional<std::string> Zoom;
  int32_t Brightness = kBrightnessDefault;
  int32_t Contrast = kContrastDefault;
  int32_t Saturation = kSaturationDefault;
  int32_t Exposure = kExposureDefault;
  struct TItemSpec {
    bool Text = true;  // false: a picture item
    std::string Spec;
  };
  std::vector<TItemSpec> ItemSpecs;  // --text / --picture values, in the order given
  std::vector<TWmRec> Items;         // the same, parsed by ParseCliItems
  std::optional<std::string> LogLevel;  // the engine's log to stderr at this level
  bool Yes = false;
  bool Quiet = false;
};

// Fills `options` from argv; false with a one-line `error` for a usage error. Item specs are
// kept as given: a text box is measured with Qt's fonts, which need the GUI library up.
bool ParseCliOptions(int argc, const char* const* argv, TCliOptions& options, std::string& error);

// The --help text.
std::string CliUsage();

// Turns the item specs into watermark items; false with a one-line `error`. Needs a
// QGuiApplication.
bool ParseCliItems(TCliOptions& options, std::string& error);
