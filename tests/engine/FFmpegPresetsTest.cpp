#include "engine/FFmpegPresets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include "FFmpegOptionsTestSupport.h"
#include "TempDir.h"
#include "TestMedia.h"
#include "engine/FFmpegOptions.h"

namespace {

int64_t VideoOption(TFFmpegOptions& task, const char* name) {
  int64_t value = 0;
  EXPECT_GE(Lib.av_opt_get_int(task.DefaultCodecContext(AVMEDIA_TYPE_VIDEO), name, 0, &value), 0) << name;
  return value;
}

std::vector<TDeferredOption> Bridged(const TFFmpegOptions& task) {
  std::vector<TDeferredOption> out;
  for (const TPendingOption& p : task.PendingCodecOptions(AVMEDIA_TYPE_VIDEO))
    if (p.Bridged) out.push_back(p.Option);
  return out;
}

TEST(FFmpegPresets, FortyNamesFiveSharedTexts) {
  const auto presets = BuiltInPresets();
  ASSERT_EQ(presets.size(), 40u);
  std::set<std::string> names;
  std::map<const char*, std::vector<std::string>> byText;
  for (const TBuiltInPreset& p : presets) {
    EXPECT_TRUE(names.insert(p.Name).second) << p.Name;
    byText[p.Text].push_back(p.Name);
    const std::string text = p.Text;
    ASSERT_FALSE(text.empty()) << p.Name;
    EXPECT_EQ(text.back(), '\n') << p.Name;
  }
  const std::pair<const char*, const char*> shared[] = {
      {"libx264-medium_firstpass", "libx264-fast_firstpass"}, {"libx264-placebo_firstpass", "libx264-placebo"},
      {"libx264-slower_firstpass", "libx264-slow_firstpass"}, {"libx264-ultrafast_firstpass", "libx264-ultrafast"},
      {"libx264-mp4", "libx264-psp"}};
  for (const auto& [a, b] : shared) {
    EXPECT_EQ(FindBuiltInPreset(a), FindBuiltInPreset(b)) << a;
  }
  EXPECT_EQ(byText.size(), 35u) << "only the five pairs share a text";
  EXPECT_STREQ(FindBuiltInPreset("libx264-baseline"), "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n");
  EXPECT_STREQ(FindBuiltInPreset("libx264-main"), "flags2=-dct8x8\n");
}

TEST(FFmpegPresets, LookupIgnoresCase) {
  EXPECT_EQ(FindBuiltInPreset("LIBX264-MAIN"), FindBuiltInPreset("libx264-main"));
  EXPECT_NE(FindBuiltInPreset("LibX264-Medium"), nullptr);
  EXPECT_EQ(FindBuiltInPreset("libx264-mediu"), nullptr);
  EXPECT_EQ(FindBuiltInPreset("libx264-mediumm"), nullptr);
  EXPECT_EQ(FindBuiltInPreset(""), nullptr);
}

class FFmpegPresetOption : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
  TFFmpegOptions Task;
};

TEST_F(FFmpegPresetOption, ShortNameUsesTheSelectedCodec) {
  ApplyFFmpegOption(Task, "vcodec", "libx264");
  ApplyFFmpegOption(Task, "vpre", "medium");
  EXPECT_EQ(VideoOption(Task, "subq"), 7);
  EXPECT_EQ(VideoOption(Task, "refs"), 3);
  const auto bridged = Bridged(Task);
  EXPECT_NE(std::find(bridged.begin(), bridged.end(), TDeferredOption{"me_method", "hex", false}), bridged.end());
}

TEST_F(FFmpegPresetOption, NamesAndFiles) {
  ExpectRaises([&] { ApplyFFmpegOption(Task, "vpre", "medium"); }, "Preset \"medium\" not found");
  ExpectRaises([&] { ApplyFFmpegOption(Task, "fpre", "libx264-main"); }, "Preset \"libx264-main\" not found");
  ApplyFFmpegOption(Task, "acodec", "libx264");  // the audio codec does not prefix "vpre"
  ExpectRaises([&] { ApplyFFmpegOption(Task, "vpre", "main"); }, "Preset \"main\" not found");
  ApplyFFmpegOption(Task, "vpre", "");  // nothing
  ApplyFFmpegOption(Task, "vpre", "LIBX264-MAIN");
  EXPECT_EQ(Bridged(Task), (std::vector<TDeferredOption>{{"flags2", "-dct8x8", false}}));
}

TEST_F(FFmpegPresetOption, PresetFile) {
  TTempDir dir;
  const std::string path = dir.File("my.ffpreset");
  std::ofstream(path, std::ios::binary) << "\r\n  VCODEC = mpeg4 \r\ng=50\r\r\n\n  qmin =3\n";
  ApplyFFmpegOption(Task, "vpre", path);
  EXPECT_EQ(Task.File.Video.CodecName, "mpeg4");
  EXPECT_EQ(VideoOption(Task, "g"), 50);
  EXPECT_EQ(VideoOption(Task, "qmin"), 3);

  struct TCase {
    const char* Text;
    std::string Message;
  };
  const TCase bad[] = {
      {"g=10\nqmax=\n", path + ": Invalid syntax: \"qmax=\""},
      {"=5\n", path + ": Invalid syntax: \"=5\""},
      {"refs 3\n", path + ": Invalid syntax: \"refs 3\""},
      {"g=abc\n", path + ": Invalid option or argument: \"g=abc\", parsed as \"g\" = \"abc\""},
      {"no_such_key = 1\n", path + ": Invalid option or argument: \"no_such_key = 1\", parsed as \"no_such_key\" = \"1\""},
  };
  for (const TCase& c : bad) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.Text;
    ExpectRaises([&] { ApplyFFmpegOption(Task, "fpre", path); }, c.Message);
  }
}

// Each built-in preset, applied after "vcodec=libx264", opens libx264 and encodes one second.
class BuiltInPresetEncodes : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
};

TEST_P(BuiltInPresetEncodes, OpensLibx264AndEncodes) {
  const std::string name = GetParam();
  TFFmpegOptions task;
  TLogCapture log;
  ApplyFFmpegOption(task, "vcodec", "libx264");
  ApplyFFmpegOption(task, "vpre", name);
  const AVCodec* codec = FindStreamCodec(task, task.File.Video.CodecName, AVMEDIA_TYPE_VIDEO, true);
  const TEncodeResult r = EncodeWith(codec, &task, SmallVideo);
  ASSERT_EQ(r.Error, "");
  EXPECT_TRUE(r.Unused.empty()) << ::testing::PrintToString(r.Unused);
  // The only warning a preset may cause: the rate tolerance of a preset without a bit rate.
  for (const TLoggedLine& l : log.From(&task)) {
    if (l.Level > llWarning) continue;
    EXPECT_EQ(l.Text, DroppedOptionText("bt", "libx264 relates it to a bit rate and none is set"));
  }
  // What the stream says about itself follows from the preset's settings.
  const std::map<std::string, int> profiles = {
      {"libx264-baseline", 66},        {"libx264-ultrafast", 66},      {"libx264-ipod320", 66},
      {"libx264-ipod640", 66},         {"libx264-main", 77},           {"libx264-medium", 100},
      {"libx264-lossless_ultrafast", 244}, {"libx264-lossless_max", 244}, {"libx264-lossless_medium", 244}};
  const auto [profile, level] = H264ProfileAndLevel(r);
  if (const auto it = profiles.find(name); it != profiles.end()) {
    EXPECT_EQ(profile, it->second);
  }
  if (name == "libx264-psp" || name == "libx264-ipod" || name == "libx264-ipod640") {
    EXPECT_EQ(level, 30);
  }
  if (name == "libx264-ipod320") {
    EXPECT_EQ(level, 13);
  }
  if (name.find("lossless") != std::string::npos) {
    EXPECT_NE(X264Settings(r).find(" qp=0 "), std::string::npos);
  }
}

std::vector<const char*> PresetNames() {
  std::vector<const char*> names;
  for (const TBuiltInPreset& p : BuiltInPresets()) names.push_back(p.Name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Presets, BuiltInPresetEncodes, ::testing::ValuesIn(PresetNames()),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

}  // namespace
