#include "CliOptions.h"

#include "conversion/hook/ItemSpec.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

const char* const UsageConversion =
    "Usage: ondrel-convert [OPTION]... FILE...\n"
    "Converts each FILE into the current output format of Ondrel XviD Converter's settings\n"
    "(or the one given with --format), one after the other, into the settings' output folder.\n"
    "\n"
    "Conversion:\n"
    "  --format CODE            the output format (see --list-formats)\n"
    "  --output-dir DIR         write the output files into DIR\n"
    "  --trim-start SECONDS     start converting at this time of each source\n"
    "  --trim-length SECONDS    convert only this long a part\n"
    "  --crop TOP:BOTTOM:LEFT:RIGHT  cut these margins (source pixels) off the picture\n"
    "  --zoom full|lbox|pan|center   how the picture fits the output frame (the format's\n"
    "                           stored choice otherwise; lbox when none is stored)\n"
    "  --brightness N           0..512 (255: unchanged)\n"
    "  --contrast N             -100..100 (0: unchanged)\n"
    "  --saturation N           0..512 (255: unchanged)\n"
    "  --exposure N             -255..512 (0: unchanged)\n"
    "  --yes                    answer Yes to the question whether to use 320x240 when the\n"
    "                           format's frame size is unusable (default: No, the source size)\n"
    "  --quiet                  no progress, no messages except errors\n"
    "  --log-level LEVEL        print the engine's log at LEVEL (quiet, panic, fatal, error,\n"
    "                           warning, info, verbose, debug) to stderr\n"
    "\n";

const char* const UsageInformation =
    "Information:\n"
    "  --list-formats           list the output formats: code, caption, file extension\n"
    "  --info FILE              describe FILE's container and streams and exit\n"
    "  --libraries              load the media libraries and report each one\n"
    "  --version                print the program version and exit\n"
    "  --help                   print this help and exit\n"
    "\n"
    "Settings are read from the data folder of the desktop program ($ONDREL_DATA_DIR, else\n"
    "$XDG_CONFIG_HOME/ondrelxvidconverter or ~/.config/ondrelxvidconverter) and never changed.\n"
    "Exit status: 0 when every file was converted, 1 when any failed or was stopped (Ctrl-C),\n"
    "2 for a usage error.\n";

bool ParseInt(std::string_view text, long min, long max, int32_t& value) {
  const std::string s(text);
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0' || v < min || v > max) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool ParseSeconds(std::string_view text, int64_t& micros) {
  const std::string s(text);
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  // A day is far beyond any job; the bound keeps the product inside int64.
  if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(v) || v < 0 || v > 86400.0 * 366) return false;
  micros = static_cast<int64_t>(std::llround(v * 1e6));
  return true;
}

bool ParseCrop(std::string_view text, TCliOptions& o) {
  int32_t values[4];
  for (int i = 0; i < 4; ++i) {
    const size_t colon = text.find(':');
    const std::string_view part = i < 3 ? text.substr(0, colon) : text;
    if ((i < 3 && colon == std::string_view::npos) || !ParseInt(part, 0, 100000, values[i])) return false;
    if (i < 3) text.remove_prefix(colon + 1);
  }
  o.CropTop = values[0];
  o.CropBottom = values[1];
  o.CropLeft = values[2];
  o.CropRight = values[3];
  return true;
}

}  // namespace

std::string CliUsage() { return std::string(UsageConversion) + ItemSpecHelp + "\n" + UsageInformation; }

bool ParseCliOptions(int argc, const char* const* argv, TCliOptions& o, std::string& error) {
  o = TCliOptions();
  bool commandGiven = false;
  const auto command = [&](TCliCommand c) {
    if (commandGiven && o.Command != c) {
      error = "only one of --help, --version, --libraries, --list-formats and --info may be given";
      return false;
    }
    commandGiven = true;
    o.Command = c;
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.size() < 2 || arg.substr(0, 2) != "--") {
      o.Files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      for (++i; i < argc; ++i) o.Files.emplace_back(argv[i]);
      break;
    }
    std::string name(arg);
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    const auto takeValue = [&]() {
      if (hasValue) return true;
      if (i + 1 >= argc) {
        error = "option '" + name + "' needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    const auto bad = [&](const char* what) {
      error = "invalid value '" + value + "' for " + name + " (" + what + ")";
      return false;
    };
    const auto flag = [&]() {
      if (!hasValue) return true;
      error = "option '" + name + "' takes no value";
      return false;
    };

    if (name == "--help") {
      if (!flag() || !command(TCliCommand::ccHelp)) return false;
    } else if (name == "--version") {
      if (!flag() || !command(TCliCommand::ccVersion)) return false;
    } else if (name == "--libraries") {
      if (!flag() || !command(TCliCommand::ccLibraries)) return false;
    } else if (name == "--list-formats") {
      if (!flag() || !command(TCliCommand::ccListFormats)) return false;
    } else if (name == "--info") {
      if (!takeValue() || !command(TCliCommand::ccInfo)) return false;
      o.Files.push_back(value);
    } else if (name == "--yes") {
      if (!flag()) return false;
      o.Yes = true;
    } else if (name == "--quiet") {
      if (!flag()) return false;
      o.Quiet = true;
    } else if (name == "--log-level") {
      if (!takeValue()) return false;
      static const char* const levels[] = {"quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug"};
      if (std::find(std::begin(levels), std::end(levels), value) == std::end(levels))
        return bad("quiet, panic, fatal, error, warning, info, verbose or debug");
      o.LogLevel = value;
    } else if (name == "--format") {
      int32_t code = 0;
      if (!takeValue()) return false;
      if (!ParseInt(value, 0, 100000, code)) return bad("a format code, see --list-formats");
      o.FormatCode = code;
    } else if (name == "--output-dir") {
      if (!takeValue()) return false;
      if (value.empty()) return bad("a folder");
      o.OutputDir = value;
    } else if (name == "--trim-start") {
      if (!takeValue()) return false;
      if (!ParseSeconds(value, o.TrimStart)) return bad("seconds, 0 or more");
    } else if (name == "--trim-length") {
      if (!takeValue()) return false;
      if (!ParseSeconds(value, o.TrimLength) || o.TrimLength <= 0) return bad("seconds, more than 0");
    } else if (name == "--crop") {
      if (!takeValue()) return false;
      if (!ParseCrop(value, o)) return bad("TOP:BOTTOM:LEFT:RIGHT in pixels, 0 or more");
    } else if (name == "--zoom") {
      if (!takeValue()) return false;
      if (value != "full" && value != "lbox" && value != "pan" && value != "center")
        return bad("full, lbox, pan or center");
      o.Zoom = value;
    } else if (name == "--brightness") {
      if (!takeValue()) return false;
      if (!ParseInt(value, kBrightnessMin, kBrightnessMax, o.Brightness)) return bad("0..512");
    } else if (name == "--contrast") {
      if (!takeValue()) return false;
      if (!ParseInt(value, kContrastMin, kContrastMax, o.Contrast)) return bad("-100..100");
    } else if (name == "--saturation") {
      if (!takeValue()) return false;
      if (!ParseInt(value, kSaturationMin, kSaturationMax, o.Saturation)) return bad("0..512");
    } else if (name == "--exposure") {
      if (!takeValue()) return false;
      if (!ParseInt(value, kExposureMin, kExposureMax, o.Exposure)) return bad("-255..512");
    } else if (name == "--text" || name == "--picture") {
      if (!takeValue()) return false;
      o.ItemSpecs.push_back({name == "--text", value});
    } else {
      error = "unknown option '" + name + "'";
      return false;
    }
  }
  if (o.Command == TCliCommand::ccConvert && o.Files.empty()) {
    error = "no file to convert";
    return false;
  }
  return true;
}

bool ParseCliItems(TCliOptions& o, std::string& error) {
  o.Items.clear();
  for (const TCliOptions::TItemSpec& spec : o.ItemSpecs) {
    TWmRec item;
    std::string why;
    if (!(spec.Text ? ParseTextItem(spec.Spec, item, why) : ParsePictureItem(spec.Spec, item, why))) {
      error = std::string(spec.Text ? "--text" : "--picture") + " '" + spec.Spec + "': " + why;
      return false;
    }
    o.Items.push_back(std::move(item));
  }
  return true;
}
