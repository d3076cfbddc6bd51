// The rules behind the progress window's texts, percentage and picture placement.
#include "conversion/run/ProgressTexts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgressPercent, KnownAndUnknownTotals) {
  struct TCase {
    const char* Name;
    int64_t Current, Total, Expected;
    int Percent;
  } const cases[] = {
      {"a quarter", 2'500'000, 10'000'000, 0, 25},
      {"truncated, not rounded", 999'999, 10'000'000, 0, 9},
      {"the converter's total wins over the job's", 2'500'000, 10'000'000, 5'000'000, 25},
      {"done", 10'000'000, 10'000'000, 0, 100},
      {"past the expected end stays at 100", 12'000'000, 10'000'000, 0, 100},
      {"no total: the job's expected length", 1'000'000, -1, 4'000'000, 25},
      {"a total of 0: the job's expected length", 3'000'000, 0, 4'000'000, 75},
      {"nothing known", 3'000'000, -1, 0, 0},
      {"nothing written yet", NoOutputTimeYet, 10'000'000, 0, 0},
      {"nothing written yet, no total", NoOutputTimeYet, -1, 4'000'000, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ProgressPercent(c.Current, c.Total, c.Expected), c.Percent);
  }
}

TEST(ProgressPercent, ExpectedLengthOfAJob) {
  TlvFilesRecord job;
  job.DurationSeconds = 10;
  EXPECT_EQ(ExpectedJobDuration(job), 10'000'000);
  job.TrimStart = 2'500'000;
  EXPECT_EQ(ExpectedJobDuration(job), 7'500'000);
  job.TrimLength = 3'000'000;
  EXPECT_EQ(ExpectedJobDuration(job), 3'000'000);
  job.TrimLength = 0;
  job.TrimStart = 12'000'000;
  EXPECT_EQ(ExpectedJobDuration(job), 0);
  job.DurationSeconds = 0;
  job.TrimStart = 0;
  EXPECT_EQ(ExpectedJobDuration(job), 0);
}

TEST(ProgressTexts, Labels) {
  EXPECT_EQ(SecondsText(2'500'000), "2 Second");
  EXPECT_EQ(SecondsText(10'000'000), "10 Second");
  EXPECT_EQ(KilobytesText(1'234'567), "1234 kb");
  EXPECT_EQ(KilobytesText(999), "0 kb");
  EXPECT_EQ(TaskNumberText(0, 3), "[1/3]");
  EXPECT_EQ(TaskNumberText(2, 3), "[3/3]");
}

TEST(ProgressTexts, LongCaptionsAreShortenedToOneLine) {
  const std::string folder = "/home/someone/videos/";  // 21 characters
  const std::string sixty = folder + std::string(35, 'x') + ".avi";
  ASSERT_EQ(sixty.size(), 60u);
  EXPECT_EQ(ShortCaption(sixty), sixty.substr(0, 44) + ".." + ".avi");

  const std::string fifty = folder + std::string(25, 'x') + ".avi";
  EXPECT_EQ(ShortCaption(fifty), fifty);
  const std::string fiftyOne = folder + std::string(26, 'x') + ".avi";
  EXPECT_EQ(ShortCaption(fiftyOne), fiftyOne.substr(0, 44) + "...avi");

  // A dot in a folder name is no extension of the file.
  const std::string noExtension = "/a.b/" + std::string(55, 'x');
  EXPECT_EQ(ShortCaption(noExtension), noExtension.substr(0, 44) + "..");

  // Characters, not bytes: 56 two-byte letters stay whole below 51 characters and are cut
  // between letters above.
  std::string accented;
  for (int i = 0; i < 56; ++i) accented += "\xC3\xA9";  // é
  EXPECT_EQ(ShortCaption(accented.substr(0, 2 * 50)), accented.substr(0, 2 * 50));
  EXPECT_EQ(ShortCaption(accented + ".mkv"), accented.substr(0, 2 * 44) + "..." + "mkv");
}

TEST(FitPicture, KeepsProportionsAndCentres) {
  struct TCase {
    const char* Name;
    int BitmapWidth, BitmapHeight, ViewWidth, ViewHeight;
    TFitRect Rect;
  } const cases[] = {
      {"4:3 in the wide view: full height", 320, 240, 372, 210, {46, 0, 326, 210}},
      {"very wide: full width", 640, 180, 372, 210, {0, 53, 372, 157}},
      {"the view's own size", 372, 210, 372, 210, {0, 0, 372, 210}},
      {"a half margin rounds to even (2.5 to 2)", 10, 5, 10, 10, {0, 2, 10, 8}},
      {"a half margin rounds to even (1.5 to 2)", 10, 7, 10, 10, {0, 2, 10, 8}},
      {"portrait", 480, 640, 372, 210, {107, 0, 265, 210}},
      {"no picture", 0, 240, 372, 210, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TFitRect r = FitPicture(c.BitmapWidth, c.BitmapHeight, c.ViewWidth, c.ViewHeight);
    EXPECT_EQ(r, c.Rect) << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
  }
}

}  // namespace
