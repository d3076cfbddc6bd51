#include "conversion/hook/ItemSpec.h"

#include <QImageReader>
#include <QString>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

#include "conversion/hook/WmText.h"

const char* const ItemSpecHelp =
    "Watermarks (both options repeat; later items are drawn over earlier ones):\n"
    "  --text 'TEXT@X,Y[,WxH][;KEY[=VALUE]]...'     draw TEXT in a box\n"
    "  --picture 'FILE@X,Y[,WxH][;KEY[=VALUE]]...'  draw a picture file (BMP)\n"
    "                           The last @ ends TEXT or FILE. X,Y: the top-left\n"
    "                           corner in source pixels; WxH: the box size (default:\n"
    "                           the text's extent or the picture's size; pictures\n"
    "                           are scaled to it). KEYs, separated by ';':\n"
    "    opacity=0..255         255 (default) opaque, 0 invisible\n"
    "    from=S, to=S           the whole seconds of the source to show the item in\n"
    "                           (default: from 0 to the end)\n"
    "    font=FACE, size=PT     text only: font, size in points (1..1000, default 24)\n"
    "    bold, italic, underline, strike   text only: the style\n"
    "    color=#RRGGBB          text only: the text's colour (default #FFFFFF)\n"
    "    background=#RRGGBB     text only: an opaque box behind it (default: none)\n"
    "  Example: --text 'Holiday 2024@10,10;size=18;color=#FFFF00;to=5'\n";

namespace {

constexpr int kMaxPosition = 100000;  // pixels, either way
constexpr int kMaxBoxSide = 100000;
constexpr int kMinPoints = 1;
constexpr int kMaxPoints = 1000;
constexpr int kDefaultPoints = 24;

bool ParseInt(std::string_view text, int min, int max, int& value) {
  int parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || parsed < min || parsed > max)
    return false;
  value = parsed;
  return true;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

bool ParseNumber(std::string_view name, std::string_view text, int min, int max, int& value, std::string& error) {
  if (ParseInt(text, min, max, value)) return true;
  error = std::string(name) + " must be a whole number from " + std::to_string(min) + " to " +
          std::to_string(max) + ", not " + Quoted(text);
  return false;
}

bool ParseColor(std::string_view name, std::string_view text, int32_t& color, std::string& error) {
  unsigned rgb = 0;  // unsigned: no sign is taken
  if (text.size() == 7 && text[0] == '#' &&
      std::from_chars(text.data() + 1, text.data() + 7, rgb, 16).ptr == text.data() + 7) {
    color = WmColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    return true;
  }
  error = std::string(name) + " must be a colour #RRGGBB, not " + Quoted(text);
  return false;
}

// "X,Y" or "X,Y,WxH"; width and height stay 0 without a size.
bool ParseGeometry(std::string_view text, int& x, int& y, int& width, int& height, std::string& error) {
  const size_t first = text.find(',');
  const size_t second = first == std::string_view::npos ? first : text.find(',', first + 1);
  const std::string_view xText = text.substr(0, first);
  const std::string_view yText =
      first == std::string_view::npos ? std::string_view() : text.substr(first + 1, second - first - 1);
  if (first == std::string_view::npos || xText.empty() || yText.empty()) {
    error = "the position must be X,Y or X,Y,WxH, not " + Quoted(text);
    return false;
  }
  if (!ParseNumber("x", xText, -kMaxPosition, kMaxPosition, x, error) ||
      !ParseNumber("y", yText, -kMaxPosition, kMaxPosition, y, error))
    return false;
  width = height = 0;
  if (second == std::string_view::npos) return true;
  const std::string_view size = text.substr(second + 1);
  const size_t times = size.find('x');
  if (times == std::string_view::npos) {
    error = "the size must be WxH, not " + Quoted(size);
    return false;
  }
  return ParseNumber("the width", size.substr(0, times), 1, kMaxBoxSide, width, error) &&
         ParseNumber("the height", size.substr(times + 1), 1, kMaxBoxSide, height, error);
}

// The parts every item has; `head` gets the text or file name, `keys` what follows the
// geometry, without its leading ";".
struct TSpecParts {
  std::string_view Head;
  int X = 0, Y = 0, Width = 0, Height = 0;
  std::string_view Keys;
};

bool SplitSpec(std::string_view spec, const char* headName, TSpecParts& parts, std::string& error) {
  const size_t at = spec.rfind('@');
  if (at == std::string_view::npos) {
    error = std::string("missing @X,Y after the ") + headName;
    return false;
  }
  parts.Head = spec.substr(0, at);
  if (parts.Head.empty()) {
    error = std::string("the ") + headName + " is empty";
    return false;
  }
  const std::string_view rest = spec.substr(at + 1);
  const size_t semicolon = rest.find(';');
  parts.Keys = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
  return ParseGeometry(rest.substr(0, semicolon), parts.X, parts.Y, parts.Width, parts.Height, error);
}

// Calls apply(key, value, hasValue) for each ";"-separated entry; empty entries are skipped.
template <class Apply>
bool ForEachKey(std::string_view keys, Apply apply) {
  while (!keys.empty()) {
    const size_t end = keys.find(';');
    const std::string_view entry = keys.substr(0, end);
    keys = end == std::string_view::npos ? std::string_view() : keys.substr(end + 1);
    if (entry.empty()) continue;
    const size_t equals = entry.find('=');
    const bool hasValue = equals != std::string_view::npos;
    if (!apply(entry.substr(0, equals), hasValue ? entry.substr(equals + 1) : std::string_view(), hasValue))
      return false;
  }
  return true;
}

// The keys both kinds take: nullopt for any other key, else whether its value is good.
std::optional<bool> ApplyCommonKey(std::string_view key, std::string_view value, bool hasValue, int32_t& opacity,
                                   TWmRec& item, std::string& error) {
  if (key != "opacity" && key != "from" && key != "to") return std::nullopt;
  if (!hasValue) {
    error = std::string(key) + " needs a value";
    return false;
  }
  if (key == "opacity") return ParseNumber(key, value, kWmOpacityMin, kWmOpacityMax, opacity, error);
  return ParseNumber(key, value, 0, INT32_MAX, key == "from" ? item.StartSecond : item.EndSecond, error);
}

bool CheckPeriod(const TWmRec& item, std::string& error) {
  if (item.EndSecond >= item.StartSecond) return true;
  error = "to (" + std::to_string(item.EndSecond) + ") is before from (" + std::to_string(item.StartSecond) + ")";
  return false;
}

std::string UnknownKey(std::string_view key) { return "unknown key " + Quoted(key); }

}  // namespace

bool ParseTextItem(const std::string& spec, TWmRec& item, std::string& error) {
  TSpecParts parts;
  if (!SplitSpec(spec, "text", parts, error)) return false;
  item = TWmRec();
  item.Kind = kWmKindText;
  item.Text = std::string(parts.Head);
  item.TextX = parts.X;
  item.TextY = parts.Y;
  item.TextOpacity = kWmOpacityMax;
  item.StartSecond = 0;
  item.EndSecond = INT32_MAX;
  item.Font.Size = kDefaultPoints;
  item.Font.Color = WmColor(255, 255, 255);
  const bool keysOk = ForEachKey(parts.Keys, [&](std::string_view key, std::string_view value, bool hasValue) {
    if (const auto common = ApplyCommonKey(key, value, hasValue, item.TextOpacity, item, error)) return *common;
    bool* flag = key == "bold"        ? &item.Font.Bold
                 : key == "italic"    ? &item.Font.Italic
                 : key == "underline" ? &item.Font.Underline
                 : key == "strike"    ? &item.Font.StrikeOut
                                      : nullptr;
    if (flag != nullptr) {
      if (hasValue) error = std::string(key) + " takes no value";
      *flag = true;
      return !hasValue;
    }
    if (key != "font" && key != "size" && key != "color" && key != "background") {
      error = UnknownKey(key);
      return false;
    }
    if (!hasValue || value.empty()) {
      error = std::string(key) + " needs a value";
      return false;
    }
    if (key == "font") {
      item.Font.Face = std::string(value);
      return true;
    }
    if (key == "size") return ParseNumber(key, value, kMinPoints, kMaxPoints, item.Font.Size, error);
    if (key == "color") return ParseColor(key, value, item.Font.Color, error);
    item.HasBackColor = true;
    return ParseColor(key, value, item.BackColor, error);
  });
  if (!keysOk || !CheckPeriod(item, error)) return false;
  if (parts.Width > 0) {
    item.TextWidth = parts.Width;
    item.TextHeight = parts.Height;
  } else {
    const QSize extent = WmTextExtent(item.Text, item.Font);
    item.TextWidth = extent.width();
    item.TextHeight = extent.height();
  }
  return true;
}

bool ParsePictureItem(const std::string& spec, TWmRec& item, std::string& error) {
  TSpecParts parts;
  if (!SplitSpec(spec, "file name", parts, error)) return false;
  item = TWmRec();
  item.Kind = kWmKindImage;
  item.ImagePath = std::string(parts.Head);
  item.ImageX = parts.X;
  item.ImageY = parts.Y;
  item.ImageOpacity = kWmOpacityMax;
  item.StartSecond = 0;
  item.EndSecond = INT32_MAX;
  const bool keysOk = ForEachKey(parts.Keys, [&](std::string_view key, std::string_view value, bool hasValue) {
    if (const auto common = ApplyCommonKey(key, value, hasValue, item.ImageOpacity, item, error)) return *common;
    error = UnknownKey(key) + " for a picture";
    return false;
  });
  if (!keysOk || !CheckPeriod(item, error)) return false;
  // Read now, so a wrong name is an error at once and not a picture missing from the output.
  QImageReader reader(QString::fromStdString(item.ImagePath));
  const QSize size = reader.size();
  if (!reader.canRead() || !size.isValid()) {
    error = "cannot read the picture " + Quoted(item.ImagePath);
    return false;
  }
  item.ImageWidth = parts.Width > 0 ? parts.Width : size.width();
  item.ImageHeight = parts.Width > 0 ? parts.Height : size.height();
  return true;
}
