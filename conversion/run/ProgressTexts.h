// What the progress window shows, computed apart from the window so the rules can be checked
// without one.
#pragma once

#include <cstdint>
#include <string>

#include "conversion/run/JobRecord.h"

// The converter reports this CurrentDuration while no output stream has reached a positive
// time yet; nothing has been converted then.
inline constexpr int64_t NoOutputTimeYet = 10'000'000'000'000'000;

// Microseconds converted so far as far as the report tells: 0 while nothing is written.
int64_t KnownCurrentDuration(int64_t currentDuration);

// The length the job is expected to have when the converter does not know it: the trimmed
// length when one is set, else the source's length from its start position; 0 when unknown.
int64_t ExpectedJobDuration(const TlvFilesRecord& job);

// The running job's percentage, always within 0..100: current × 100 div total (truncated)
// when the converter knows the total (`totalDuration` > 0), else the same against `expected`
// (see ExpectedJobDuration); 0 when neither is known.
int ProgressPercent(int64_t currentDuration, int64_t totalDuration, int64_t expected);

// The total the labels and the percentage use: the converter's when it has one, else `expected`.
int64_t EffectiveTotalDuration(int64_t totalDuration, int64_t expected);

// "<whole seconds> Second".
std::string SecondsText(int64_t microseconds);
// "<size div 1000> kb".
std::string KilobytesText(int64_t bytes);
// "[<task + 1>/<count>]".
std::string TaskNumberText(int task, int count);

// The job's caption on one line of the window: whole when shorter than 51 characters, else
// its first 44 characters, "..", and its extension with the dot. Characters, not bytes, are
// counted, so a UTF-8 name is never cut inside a character.
std::string ShortCaption(const std::string& caption);

// Where a picture of bitmapWidth × bitmapHeight goes in a view of viewWidth × viewHeight:
// scaled to keep its proportions and centred, the margins rounded to nearest (halves to even).
struct TFitRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;  // Right and Bottom exclusive
  bool operator==(const TFitRect&) const = default;
};
TFitRect FitPicture(int bitmapWidth, int bitmapHeight, int viewWidth, int viewHeight);
