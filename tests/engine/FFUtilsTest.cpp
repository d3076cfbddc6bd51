#include "engine/FFUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "tests/support/TempDir.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegRAII.h"

namespace {

TEST(FormatTest, Clock) {
  const std::pair<int64_t, const char*> cases[] = {
      {3726, "1:02:06"}, {0, "0:00:00"}, {-5, "0:00:00"}, {59, "0:00:59"}, {360000, "100:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(FormatClock(seconds), text) << seconds;
}

TEST(FormatTest, TimeCodeAndSeconds) {
  const std::pair<int64_t, const char*> timeCodes[] = {
      {90'061'000'000, "25:01:01.000"},
      {3'600'000'000'000, "1000:00:00.000"},  // beyond 32 bits
      {0, "00:00:00.000"},
      {1'999, "00:00:00.001"},  // truncates
      {3'599'999'999, "00:59:59.999"},
      {-1'500'000, "-00:00:01.500"},
      {-999, "00:00:00.000"},  // no sign on a time that shows as zero
      {AV_NOPTS_VALUE, "N/A"}};
  for (const auto& [us, text] : timeCodes) EXPECT_EQ(FormatTimeCode(us), text) << us;

  const std::pair<int64_t, const char*> seconds[] = {
      {5'025'000, "5.025"}, {0, "0.000"}, {-1'500'000, "-1.500"}, {999, "0.000"},
      {5'000'000'000'000, "5000000.000"}, {std::numeric_limits<int64_t>::min(), "-9223372036854.775"}};
  for (const auto& [us, text] : seconds) EXPECT_EQ(FormatSeconds(us), text) << us;
}

TEST(FormatTest, RoundHalfEven) {
  const std::pair<double, int64_t> cases[] = {
      {0.5, 0},   {1.5, 2},     {2.5, 2},        {3.5, 4},  {-0.5, 0}, {-1.5, -2}, {-2.5, -2},
      {2.4999, 2}, {2.5000001, 3}, {-2.5000001, -3}, {7.0, 7}, {-7.2, -7},
      {4503599627370497.0, 4503599627370497},  // 2^52 + 1: no fraction left to round
      {1e300, std::numeric_limits<int64_t>::max()},
      {-1e300, std::numeric_limits<int64_t>::min()},
      {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& [value, rounded] : cases) EXPECT_EQ(RoundHalfEven(value), rounded) << value;
}

TEST(FormatTest, ByteSize) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Byte"},          {1024, "1024 Byte"},        {1025, "1.00 KB"},
      {1536, "1.50 KB"},      {1048576, "1024.00 KB"},    {1048577, "1.00 MB"},
      {1073741824, "1024.00 MB"}, {1073741825, "1.00 GB"}, {5368709120, "5.00 GB"},
      {1099511627776, "1024.00 GB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatByteSize(bytes), text) << bytes;
}

// A locale whose decimal separator is a comma, built from a tiny definition with localedef.
bool UseCommaLocale(const TTempDir& dir) {
  const std::string source = dir.File("comma.src");
  std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\ngrouping -1\n"
                           "END LC_NUMERIC\n";
  const std::string command = "localedef -c -i '" + source + "' -f ANSI_X3.4-1968 '" + dir.File("comma") +
                              "' >/dev/null 2>&1";
  if (std::system(command.c_str()) == -1) return false;
  setenv("LOCPATH", dir.Path().c_str(), 1);
  return std::setlocale(LC_NUMERIC, "comma") != nullptr;
}

TEST(FormatTest, ByteSizeIgnoresTheLocalesDecimalComma) {
  TTempDir dir;
  if (!UseCommaLocale(dir)) GTEST_SKIP() << "cannot build a locale with a decimal comma here";
  char printed[16];
  std::snprintf(printed, sizeof printed, "%.2f", 1.5);
  const std::string kb = FormatByteSize(1536), gb = FormatByteSize(5368709120);
  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  ASSERT_STREQ(printed, "1,50") << "the locale did not take effect";
  EXPECT_EQ(kb, "1.50 KB");
  EXPECT_EQ(gb, "5.00 GB");
}

TEST(FormatTest, ErrorTexts) {
  const std::pair<int, const char*> cases[] = {
      {AVERROR(ENOENT), "No such file or directory"},
      {AVERROR(EIO), "I/O error"},
      {AVERROR(ENOMEM), "Not enough memory"},
      {AVERROR(EINVAL), "Invalid data found when processing input"},
      {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
      {AVERROR_EOF, "End of file"},
      {AVERROR(EDOM), "Number syntax expected in filename"},
      {AVERROR(EILSEQ), "Unknown format"},
      {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
      {AVERROR_MUXER_NOT_FOUND, "Unknown format"},
      {AVERROR(ENOPROTOOPT), "Unsupported network protocol"},
      {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
      {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
      {AVERROR(EACCES), "Error number -13 occurred"},
      {AVERROR_ENCODER_NOT_FOUND, "Error number -1129203192 occurred"}};
  for (const auto& [code, text] : cases) EXPECT_EQ(ErrorCodeText(code), text) << code;
  EXPECT_EQ(ErrorText("in.avi", AVERROR(ENOENT)), "in.avi: No such file or directory");
}

TEST(FormatTest, MediaTypeNames) {
  const std::pair<AVMediaType, const char*> cases[] = {
      {AVMEDIA_TYPE_VIDEO, "Video"},       {AVMEDIA_TYPE_AUDIO, "Audio"},
      {AVMEDIA_TYPE_DATA, "Data"},         {AVMEDIA_TYPE_SUBTITLE, "Subtitle"},
      {AVMEDIA_TYPE_ATTACHMENT, "Attachment"}, {AVMEDIA_TYPE_UNKNOWN, "Unknown"},
      {AVMEDIA_TYPE_NB, "Unknown"}};
  for (const auto& [type, text] : cases) EXPECT_EQ(MediaTypeName(type), text) << type;
}

class LibraryFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFmpegLoader::Instance().Load(ConverterLibraries)) << TFFmpegLoader::Instance().LastErrorMessage();
  }
};

TEST_F(LibraryFormatTest, CodecNames) {
  struct TCase {
    AVCodecID Id;
    uint32_t Tag;
    bool Encoder;
    const char* Text;
  };
  const TCase cases[] = {
      {AV_CODEC_ID_MPEG4, 0, false, "mpeg4(MPEG-4 part 2)"},
      {AV_CODEC_ID_MP2, 0, true, "mp2(MP2 (MPEG audio layer 2))"},
      {AV_CODEC_ID_VP6, 0, true, "vp6"},  // a decoder only: no encoder, so the descriptor names it
      {AV_CODEC_ID_MPEG2TS, 0, false, "mpeg2ts"},
      {AV_CODEC_ID_NONE, MKTAG('a', 'b', 'c', 'd'), false, "abcd / 0x64636261"},
      {AV_CODEC_ID_NONE, MKTAG('a', 'b', 'c', 0x7f), false, "0x7f636261"},
      {AV_CODEC_ID_NONE, 1, false, "0x0001"}};
  struct TFree {
    void operator()(AVCodecParameters* p) const { Lib.avcodec_parameters_free(&p); }
  };
  std::unique_ptr<AVCodecParameters, TFree> par(Lib.avcodec_parameters_alloc());
  ASSERT_TRUE(par);
  for (const TCase& c : cases) {
    par->codec_id = c.Id;
    par->codec_tag = c.Tag;
    EXPECT_EQ(CodecNameText(par.get(), c.Encoder), c.Text) << c.Text;
  }
}

TEST_F(LibraryFormatTest, MetadataValues) {
  TDictionary dict;
  ASSERT_GE(Lib.av_dict_set(&dict.Ptr, "title", "Clip", 0), 0);
  EXPECT_EQ(MetadataValue(dict.Ptr, "title", "none"), "Clip");
  EXPECT_EQ(MetadataValue(dict.Ptr, "TITLE"), "Clip");  // the libraries match keys in any case
  EXPECT_EQ(MetadataValue(dict.Ptr, "artist", "none"), "none");
  EXPECT_EQ(MetadataValue(nullptr, "title", "none"), "none");
}

TEST(FileTest, SizeOfRegularFilesOnly) {
  TTempDir dir;
  const std::string file = dir.File("five bytes é");
  std::ofstream(file) << "12345";
  EXPECT_EQ(FileSizeOf(file), 5);
  EXPECT_EQ(FileSizeOf(dir.Path()), -1);
  EXPECT_EQ(FileSizeOf(dir.File("missing")), -1);
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  EXPECT_EQ(FileSizeOf(dir.File("fifo")), -1);
}

TEST(FileTest, TimeTextIsLocalWithDaylightSaving) {
  const char* saved = std::getenv("TZ");
  const std::string savedZone = saved ? saved : "";
  setenv("TZ", "UTC0", 1);
  EXPECT_EQ(FileTimeToText(0), "1970-01-01 00:00:00");
  // Central European rules: +1 in winter, +2 from the last Sunday of March.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  EXPECT_EQ(FileTimeToText(1704067200), "2024-01-01 01:00:00");  // 2024-01-01 00:00 UTC
  EXPECT_EQ(FileTimeToText(1719835200), "2024-07-01 14:00:00");  // 2024-07-01 12:00 UTC
  if (saved)
    setenv("TZ", savedZone.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
