#include "ProgressTexts.h"

#include <algorithm>
#include <cmath>

int64_t KnownCurrentDuration(int64_t currentDuration) {
  return currentDuration >= NoOutputTimeYet ? 0 : std::max<int64_t>(currentDuration, 0);
}

int64_t ExpectedJobDuration(const TlvFilesRecord& job) {
  if (job.TrimLength > 0) return job.TrimLength;
  const int64_t rest = int64_t{job.DurationSeconds} * 1'000'000 - std::max<int64_t>(job.TrimStart, 0);
  return std::max<int64_t>(rest, 0);
}

int64_t EffectiveTotalDuration(int64_t totalDuration, int64_t expected) {
  if (totalDuration > 0) return totalDuration;
  return std::max<int64_t>(expected, 0);
}

int ProgressPercent(int64_t currentDuration, int64_t totalDuration, int64_t expected) {
  const int64_t total = EffectiveTotalDuration(totalDuration, expected);
  if (total <= 0) return 0;
  const int64_t current = KnownCurrentDuration(currentDuration);
  // current < 10^16, so current × 100 cannot overflow.
  return static_cast<int>(std::clamp<int64_t>(current * 100 / total, 0, 100));
}

std::string SecondsText(int64_t microseconds) { return std::to_string(microseconds / 1'000'000) + " Second"; }

std::string KilobytesText(int64_t bytes) { return std::to_string(bytes / 1000) + " kb"; }

std::string TaskNumberText(int task, int count) {
  return "[" + std::to_string(task + 1) + "/" + std::to_string(count) + "]";
}

namespace {

bool StartsCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

// Byte offset where character `n` of the UTF-8 text begins; its size when it has fewer.
size_t CharacterOffset(const std::string& text, size_t n) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (StartsCharacter(text[i]) && seen++ == n) return i;
  return text.size();
}

// ".ext" of the file name at the end of the path; empty when it has no dot.
std::string FileExtension(const std::string& path) {
  const size_t dot = path.find_last_of("./");
  return dot != std::string::npos && path[dot] == '.' ? path.substr(dot) : std::string();
}

}  // namespace

std::string ShortCaption(const std::string& caption) {
  if (CharacterOffset(caption, 50) == caption.size()) return caption;  // at most 50 characters
  return caption.substr(0, CharacterOffset(caption, 44)) + ".." + FileExtension(caption);
}

TFitRect FitPicture(int bitmapWidth, int bitmapHeight, int viewWidth, int viewHeight) {
  if (bitmapWidth <= 0 || bitmapHeight <= 0 || viewWidth <= 0 || viewHeight <= 0) return {};
  const double a = static_cast<double>(bitmapWidth) / viewWidth;
  const double b = static_cast<double>(bitmapHeight) / viewHeight;
  // nearbyint rounds in the default mode: to nearest, halves to even.
  if (a >= b) {
    const int margin = static_cast<int>(std::nearbyint((viewHeight - bitmapHeight / a) / 2));
    return {0, margin, viewWidth, viewHeight - margin};
  }
  const int margin = static_cast<int>(std::nearbyint((viewWidth - bitmapWidth / b) / 2));
  return {margin, 0, viewWidth - margin, viewHeight};
}
