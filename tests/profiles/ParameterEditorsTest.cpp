#include "profiles/model/ParameterEditors.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "app/core/FakeDialogSeam.h"

namespace {

using TEntries = std::vector<std::string>;

TEST(ListSplitting, EveryCommaSplitsAndNothingIsTrimmed) {
  struct TCase {
    const char* Value;
    bool EmptyIsNull;
    TListFill Expected;
  } const cases[] = {
      {"null", false, {false, {}}},
      {"null", true, {false, {}}},
      {"", true, {false, {}}},
      {"", false, {true, {}}},
      {"a", true, {true, {"a"}}},
      {"a,b", true, {true, {"a", "b"}}},
      {"a,,b", true, {true, {"a", "", "b"}}},
      {",a,", true, {true, {"", "a", ""}}},
      {",", false, {true, {"", ""}}},
      {"a, b", true, {true, {"a", " b"}}},
      {"NULL", true, {true, {"NULL"}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string("'") + c.Value + "' " + (c.EmptyIsNull ? "empty is null" : "empty is empty"));
    EXPECT_EQ(SplitListValue(c.Value, c.EmptyIsNull), c.Expected);
  }
}

TEST(MappingTables, EncodersChannelsAndVolumes) {
  using O = std::optional<std::string>;
  const std::pair<const char*, O> video[] = {
      {"mpeg-4", "mpeg4"}, {"MPEG-4", "mpeg4"}, {"xvid", "libxvid"}, {"H264", "libx264"},
      {"wmv2", "wmv2"},    {"flv", "flv"},      {"mpeg4", std::nullopt}, {"", std::nullopt}};
  for (const auto& [entry, stored] : video) EXPECT_EQ(MapVideoEncoder(entry), stored) << entry;
  const std::pair<const char*, O> audio[] = {
      {"mp3", "libmp3lame"},     {"MP3", "libmp3lame"}, {"ogg", "vorbis"},          {"aac", "libfaac"},
      {"AC-3", "ac3"},           {"gsm", "libgsm"},     {"libamr_nb", "libopencore_amrnb"},
      {"pcm_s16", "pcm_s16le"},  {"PCM-16bit", "pcm_s16be"}, {"CCITT A-Law(8-bit)", "pcm_alaw"},
      {"wma2", "wmav2"},         {"ac3", std::nullopt}, {"mp3 ", std::nullopt}};
  for (const auto& [entry, stored] : audio) EXPECT_EQ(MapAudioEncoder(entry), stored) << entry;
  const std::pair<const char*, O> channels[] = {{"as source", "as source"},
                                                {"mono 1 channel", "1"},
                                                {"stereo 2 channels", "2"},
                                                {"Mono 1 Channel", std::nullopt},
                                                {"As Source", std::nullopt}};
  for (const auto& [entry, stored] : channels) EXPECT_EQ(MapChannel(entry), stored) << entry;
  const std::pair<const char*, O> volumes[] = {
      {"25%", "64"},   {"50%", "128"},  {"75%", "192"},  {"100%", "256"}, {"125%", "320"},
      {"150%", "384"}, {"175%", "448"}, {"200%", "512"}, {"250%", "640"}, {"300%", "768"},
      {"350%", "896"}, {"400%", "1024"}, {"150x", "384"},  // any last character goes
      {"110%", std::nullopt}, {"0%", std::nullopt}, {"150", std::nullopt}, {"%", std::nullopt},
      {"", std::nullopt},    {"abc%", std::nullopt}, {"150 %", std::nullopt}};
  for (const auto& [entry, stored] : volumes) EXPECT_EQ(MapVolume(entry), stored) << entry;
}

TEST(TypedValueChecks, FrameSize) {
  struct TCase {
    const char* Text;
    bool Accepted;
    const char* Corrected;  // "" none
    const char* Message;    // "" none
  } const cases[] = {
      {"640x480", true, "", ""},
      {"As Source", true, "", ""},
      {"keep as source please", true, "", ""},
      {"641x479", false, "640x478", "Frame Size must be a multiple of 2.\nThe correct value:640x478"},
      {"0x0", false, "2x2", "Frame Size must be a multiple of 2.\nThe correct value:2x2"},
      {"1x3", false, "2x2", "Frame Size must be a multiple of 2.\nThe correct value:2x2"},
      {"640x0", false, "640x2", "Frame Size must be a multiple of 2.\nThe correct value:640x2"},
      {"640", false, "", "Frame Size is not a valid value!"},
      {"640X480", false, "", "Frame Size is not a valid value!"},
      {"640x", false, "", "Frame Size is not a valid value!"},
      {"x480", false, "", "Frame Size is not a valid value!"},
      {"64a0x480", false, "", "Frame Size is not a valid value!"},
      {"-640x480", false, "", "Frame Size is not a valid value!"},
      {"99999999999x2", false, "", "Frame Size is not a valid value!"},
      {"", false, "", "Frame Size is not a valid value!"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const TCheckResult r = CheckFrameSize(c.Text);
    EXPECT_EQ(r.Accepted, c.Accepted);
    EXPECT_EQ(r.Corrected, c.Corrected);
    EXPECT_EQ(r.Message, c.Message);
    if (*c.Corrected) {
      EXPECT_EQ(r.Caption, "Input Error!");
    }
    // Only an invalid text resets the box; a corrected one keeps the correction.
    EXPECT_EQ(r.ResetBox, !c.Accepted && !*c.Corrected);
  }
}

TEST(TypedValueChecks, BitRatesAndSampleRate) {
  struct TCase {
    const char* Text;
    bool Video, Audio, SampleRate;  // accepted by each check
  } const cases[] = {
      {"800", true, true, true},        {"as source", true, true, true},  {"96.5", false, true, false},
      {".5", false, true, false},       {"5.", false, true, false},       {"-5", true, true, true},
      {"As Source", false, false, false}, {"", false, false, false},      {"1e3", false, false, false},
      {"8 00", false, false, false},    {".", false, false, false},       {"1.2.3", false, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(CheckVideoBitRate(c.Text).Accepted, c.Video);
    EXPECT_EQ(CheckAudioBitRate(c.Text).Accepted, c.Audio);
    EXPECT_EQ(CheckSampleRate(c.Text).Accepted, c.SampleRate);
  }
  EXPECT_EQ(CheckVideoBitRate("x").Message, "Video BitRate is not a valid value!");
  EXPECT_EQ(CheckAudioBitRate("x").Message, "Audio BitRate is not a valid value!");
  EXPECT_EQ(CheckSampleRate("x").Message, "Audio SampleRate is not a valid value!");
}

TEST(KeyFilters, FrameSizeAndNumericBoxes) {
  using V = TKeyVerdict;
  struct TCase {
    TParamBox Box;
    const char* Text;
    char Key;
    V Verdict;
  } const cases[] = {
      {TParamBox::pbVideoSize, "", 'q', V::kvAccept},  // an empty box takes anything
      {TParamBox::pbVideoSize, "64", '0', V::kvAccept},
      {TParamBox::pbVideoSize, "640", 'x', V::kvAccept},
      {TParamBox::pbVideoSize, "640x", 'x', V::kvRefuse},
      {TParamBox::pbVideoSize, "640", 'X', V::kvRefuse},
      {TParamBox::pbVideoSize, "640x4", BackspaceKey, V::kvAccept},
      {TParamBox::pbVideoSize, "640", ' ', V::kvRefuse},
      {TParamBox::pbVideoBitRate, "", '7', V::kvAccept},
      {TParamBox::pbVideoBitRate, "", 'a', V::kvRefuseWithMessage},
      {TParamBox::pbAudioBitRate, "96", '.', V::kvRefuseWithMessage},
      {TParamBox::pbSampleRate, "441", BackspaceKey, V::kvAccept},
      {TParamBox::pbChannel, "", 'z', V::kvAccept},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(ParamBoxDef(c.Box).Name) + " '" + c.Text + "' + " + c.Key);
    EXPECT_EQ(FilterKey(c.Box, c.Text, c.Key), c.Verdict);
  }
}

// A format store and a settings file in a temporary folder, and a model to drive.
struct TEditorFixture {
  TTempDir Dir;
  TIniFile StoreFile{Dir.File("ondrelxvidformat.ini")};
  TFormatStore Store{Dir.File("ondrelxvidformat.ini")};
  TIniFile Settings{Dir.File("ondrelxvidconverter.ini")};
  TParameterModel Model;
  TFakeDialogSeam Seam;
  TDialogSeamOverride SeamScope{Seam};
  static constexpr int Code = 403;

  void StoreList(const char* key, const std::string& value) { StoreFile.WriteString(FormatSectionName(Code), key, value); }
  std::string User(const char* key) const { return Settings.ReadString(FormatSectionName(Code), key, "<none>"); }
  void Load(bool typed = true) {
    Model.LoadLists(Store, Code);
    Model.RestoreSelections(Settings, Code, typed);
  }
  void FillVideoFormat() {
    StoreList(ProfileKey::VideoSize, "as source,320x240,640x480");
    StoreList(ProfileKey::VideoBitRate, "as source,800,1500");
    StoreList(ProfileKey::VideoEncoder, "h264,mpeg-4");
    StoreList(ProfileKey::FrameRate, "null");
    StoreList(ProfileKey::SampleRate, "as source,44100,48000");
    StoreList(ProfileKey::AudioEncoder, "aac,MP3,gsm");
    StoreList(ProfileKey::AudioBitRate, "96,128");
    StoreList(ProfileKey::Channel, "as source,mono 1 channel,stereo 2 channels,Mono 1 Channel");
    StoreList(ProfileKey::Volume, "50%,100%,110%,150%");
  }
};

TEST(ParameterModel, NullFrameRateIsEnabledEmptyAndStoredEmpty) {
  TEditorFixture f;
  f.FillVideoFormat();
  f.Load();
  const TBoxState& rate = f.Model.Box(TParamBox::pbFrameRate);
  EXPECT_TRUE(rate.Enabled);  // the video group enables it
  EXPECT_TRUE(rate.Entries.empty());
  EXPECT_EQ(rate.Text, "");
  f.Model.StoreValues(f.Settings, f.Store, f.Code);
  EXPECT_EQ(f.User(ProfileKey::paraFrameRate), "");
  EXPECT_EQ(f.User(ProfileKey::iFrameRate), "-1");
}

TEST(ParameterModel, GroupsFollowTheirEncoderBoxes) {
  TEditorFixture f;
  f.StoreList(ProfileKey::VideoEncoder, "null");
  f.StoreList(ProfileKey::VideoSize, "320x240");
  f.StoreList(ProfileKey::AudioEncoder, "mp3");
  f.StoreList(ProfileKey::AudioBitRate, "");  // empty counts as "null" for the audio boxes
  f.Load();
  for (const TParamBoxDef& def : ParamBoxDefs()) {
    SCOPED_TRACE(def.Name);
    const bool enabled = !def.Video && def.Box != TParamBox::pbAudioBitRate;
    EXPECT_EQ(f.Model.Box(def.Box).Enabled, enabled);
    EXPECT_EQ(f.Model.Box(def.Box).GreyText, !enabled);
  }
}

TEST(ParameterModel, RestoringTypedValuesIndicesAndZoom) {
  TEditorFixture f;
  f.FillVideoFormat();
  const std::string section = FormatSectionName(f.Code);
  f.Settings.WriteInteger(section, ProfileKey::iVideoSize, -1);
  f.Settings.WriteString(section, ProfileKey::paraVideoSize, "500x300");
  f.Settings.WriteInteger(section, ProfileKey::iVideoBitRate, -1);  // no stored value: "800"
  f.Settings.WriteInteger(section, ProfileKey::iSampleRate, 7);     // beyond the list
  f.Settings.WriteInteger(section, ProfileKey::iAudioEncoder, 1);
  f.Settings.WriteInteger(section, ProfileKey::iChannel, -1);

  f.Load(true);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).Text, "500x300");
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).ItemIndex, -1);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoBitRate).Text, "800");
  EXPECT_EQ(f.Model.Box(TParamBox::pbSampleRate).Text, "");
  EXPECT_EQ(f.Model.Box(TParamBox::pbAudioEncoder).Text, "MP3");
  EXPECT_EQ(f.Model.Box(TParamBox::pbChannel).Text, "");  // not a typed-value box
  EXPECT_EQ(f.Model.Box(TParamBox::pbZoom).Text, "Full screen");

  f.Load(false);  // switching formats inside the dialog: -1 leaves the box empty
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).Text, "");
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoBitRate).Text, "");

  struct TZoomCase {
    const char* Stored;
    int Index;
  } const zooms[] = {{"lbox", 1}, {"pan", 2}, {"full", 0}, {"center", -1}, {"Full", -1}};
  // "Full" is no known value: the box stays as "center" left it.
  for (const TZoomCase& z : zooms) {
    SCOPED_TRACE(z.Stored);
    f.Settings.WriteString(section, ProfileKey::paraZoom, z.Stored);
    f.Model.RestoreSelections(f.Settings, f.Code, true);
    EXPECT_EQ(f.Model.Box(TParamBox::pbZoom).ItemIndex, z.Index);
  }
}

TEST(ParameterModel, StoringMapsEveryBoxAndGsmForcesEightKilohertzMono) {
  TEditorFixture f;
  f.FillVideoFormat();
  f.Load();
  f.Model.Select(TParamBox::pbVideoSize, 2);
  f.Model.SetText(TParamBox::pbVideoBitRate, "1234");
  f.Model.Select(TParamBox::pbVideoEncoder, 1);
  f.Model.Select(TParamBox::pbZoom, 2);
  f.Model.Select(TParamBox::pbSampleRate, 2);
  f.Model.Select(TParamBox::pbAudioBitRate, 1);
  f.Model.Select(TParamBox::pbChannel, 2);
  f.Model.Select(TParamBox::pbVolume, 3);
  f.Model.Select(TParamBox::pbAudioEncoder, 1);  // "MP3" matches like "mp3"
  f.Model.StoreValues(f.Settings, f.Store, f.Code);
  const std::pair<const char*, const char*> expected[] = {
      {ProfileKey::iVideoSize, "2"},          {ProfileKey::iVideoBitRate, "-1"},
      {ProfileKey::iVideoEncoder, "1"},       {ProfileKey::iFrameRate, "-1"},
      {ProfileKey::iSampleRate, "2"},         {ProfileKey::iAudioBitRate, "1"},
      {ProfileKey::iChannel, "2"},            {ProfileKey::iVolume, "3"},
      {ProfileKey::iAudioEncoder, "1"},       {ProfileKey::paraVideoSize, "640x480"},
      {ProfileKey::paraVideoBitRate, "1234"}, {ProfileKey::paraFrameRate, ""},
      {ProfileKey::paraZoom, "pan"},          {ProfileKey::paraVideoEncoder, "mpeg4"},
      {ProfileKey::paraSampleRate, "48000"},  {ProfileKey::paraAudioBitRate, "128"},
      {ProfileKey::paraChannel, "2"},         {ProfileKey::paraVolume, "384"},
      {ProfileKey::paraAudioEncoder, "libmp3lame"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(f.User(key), value) << key;

  // Unmapped entries leave the earlier values; "gsm" overrides what the boxes show.
  f.Model.Select(TParamBox::pbChannel, 3);  // "Mono 1 Channel"
  f.Model.Select(TParamBox::pbVolume, 2);   // "110%"
  f.Model.Select(TParamBox::pbZoom, -1);
  f.Model.StoreValues(f.Settings, f.Store, f.Code);
  EXPECT_EQ(f.User(ProfileKey::paraChannel), "2");
  EXPECT_EQ(f.User(ProfileKey::paraVolume), "384");
  EXPECT_EQ(f.User(ProfileKey::paraZoom), "pan");
  f.Model.Select(TParamBox::pbAudioEncoder, 2);
  f.Model.Select(TParamBox::pbChannel, 2);
  f.Model.StoreValues(f.Settings, f.Store, f.Code);
  EXPECT_EQ(f.User(ProfileKey::paraAudioEncoder), "libgsm");
  EXPECT_EQ(f.User(ProfileKey::paraSampleRate), "8000");
  EXPECT_EQ(f.User(ProfileKey::paraChannel), "1");
}

TEST(ParameterModel, H264KeysAreCopiedWhenTheyPassTheirTests) {
  struct TCase {
    const char* Key;
    const char* InStore;  // nullptr: missing
    const char* Written;  // what the user's section holds afterwards ("old" was there before)
  } const cases[] = {
      {ProfileKey::paraBitExact, "TRUE", "TRUE"}, {ProfileKey::paraBitExact, "false", "old"},
      {ProfileKey::paraMaxBitrate, "1500", "1500"}, {ProfileKey::paraMaxBitrate, "0", "old"},
      {ProfileKey::paraBufferSize, "-3", "old"},  {ProfileKey::paraLevel, "4.1", "old"},
      {ProfileKey::paraQscale, "abc", "old"},     {ProfileKey::paraGop, nullptr, "old"},
      {ProfileKey::paraCoder, "0", "0"},          {ProfileKey::paraCoder, "-1", "old"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Key) + "=" + (c.InStore ? c.InStore : "<missing>"));
    TEditorFixture f;
    f.FillVideoFormat();
    if (c.InStore) f.StoreList(c.Key, c.InStore);
    f.Settings.WriteString(FormatSectionName(f.Code), c.Key, "old");
    f.Load();
    f.Model.Select(TParamBox::pbVideoEncoder, 1);  // mpeg-4: nothing is copied
    f.Model.StoreValues(f.Settings, f.Store, f.Code);
    EXPECT_EQ(f.User(c.Key), "old");
    f.Model.Select(TParamBox::pbVideoEncoder, 0);  // h264
    f.Model.StoreValues(f.Settings, f.Store, f.Code);
    EXPECT_EQ(f.User(c.Key), c.Written);
  }
}

TEST(ParameterModel, LeavingABoxCorrectsOrResetsAndTellsTheUser) {
  TEditorFixture f;
  f.FillVideoFormat();
  f.Load();
  f.Model.SetText(TParamBox::pbVideoSize, "641x479");
  EXPECT_FALSE(f.Model.LeaveBox(TParamBox::pbVideoSize).Accepted);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).Text, "640x478");
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).ItemIndex, -1);

  f.Model.SetText(TParamBox::pbVideoBitRate, "fast");
  f.Model.LeaveBox(TParamBox::pbVideoBitRate);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoBitRate).ItemIndex, 1);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoBitRate).Text, "800");

  // With fewer than two entries the rejected text stays and is stored as shown.
  f.StoreList(ProfileKey::AudioBitRate, "96");
  f.Load();
  f.Model.SetText(TParamBox::pbAudioBitRate, "lots");
  f.Model.LeaveBox(TParamBox::pbAudioBitRate);
  EXPECT_EQ(f.Model.Box(TParamBox::pbAudioBitRate).Text, "lots");

  f.Model.SetText(TParamBox::pbSampleRate, "");
  EXPECT_EQ(f.Model.KeyPress(TParamBox::pbSampleRate, '4'), TKeyVerdict::kvAccept);
  EXPECT_EQ(f.Model.KeyPress(TParamBox::pbSampleRate, 'k'), TKeyVerdict::kvRefuseWithMessage);
  EXPECT_EQ(f.Model.Box(TParamBox::pbSampleRate).Text, "4");
  EXPECT_TRUE(f.Model.LeaveBox(TParamBox::pbSampleRate).Accepted);

  const std::vector<TSeamRecord> records = f.Seam.Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].Caption, "Input Error!");
  EXPECT_EQ(records[0].Text, "Frame Size must be a multiple of 2.\nThe correct value:640x478");
  EXPECT_EQ(records[1].Text, "Video BitRate is not a valid value!");
  EXPECT_EQ(records[2].Text, "Audio BitRate is not a valid value!");
  EXPECT_EQ(records[3].Text, "Please enter numerical.");
}

TEST(ParameterModel, DefaultsSelectTheStoreIndicesAndFullScreen) {
  TEditorFixture f;
  f.FillVideoFormat();
  f.StoreList(ProfileKey::iVideoSize, "1");
  f.StoreList(ProfileKey::iVolume, "1");
  f.StoreList(ProfileKey::iAudioEncoder, "9");  // out of range: empty
  f.Settings.WriteString(FormatSectionName(f.Code), ProfileKey::paraZoom, "pan");
  f.Load();
  f.Model.ApplyDefaults(f.Store, f.Code);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).Text, "320x240");
  EXPECT_EQ(f.Model.Box(TParamBox::pbVolume).Text, "100%");
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoEncoder).Text, "h264");  // missing index: 0
  EXPECT_EQ(f.Model.Box(TParamBox::pbAudioEncoder).ItemIndex, -1);
  EXPECT_EQ(f.Model.Box(TParamBox::pbZoom).Text, "Full screen");
  EXPECT_EQ(f.User(ProfileKey::iVideoSize), "<none>");  // nothing stored
}

// The conversion's view of a format never set up is exactly what "&Default" and "&Ok"
// would write, and computing it writes nothing.
TEST(ParameterModel, FormatDefaultValuesAreWhatDefaultAndOkStore) {
  TEditorFixture f;
  f.FillVideoFormat();
  f.StoreList(ProfileKey::iVideoBitRate, "1");
  f.StoreList(ProfileKey::iSampleRate, "2");
  f.StoreList(ProfileKey::iChannel, "2");
  f.StoreList(ProfileKey::iVolume, "3");
  f.StoreList(ProfileKey::iAudioEncoder, "1");
  f.StoreList(ProfileKey::paraLevel, "30");
  f.StoreList(ProfileKey::paraGop, "x");

  const TStoredValues computed = FormatDefaultValues(f.Store, f.Code);
  const TConversionValues reader(f.Settings, f.Store, f.Code);
  EXPECT_TRUE(reader.FromFormatDefaults());
  EXPECT_EQ(reader.Value(ProfileKey::paraVideoEncoder), "libx264");
  EXPECT_EQ(reader.Value(ProfileKey::paraVolume), "384");
  EXPECT_EQ(reader.AudioEncoder(false), "libmp3lame");
  EXPECT_FALSE(std::filesystem::exists(f.Settings.FileName()));

  f.Load();
  f.Model.ApplyDefaults(f.Store, f.Code);
  f.Model.StoreValues(f.Settings, f.Store, f.Code);
  const auto written = f.Settings.ReadSectionValues(FormatSectionName(f.Code));
  EXPECT_EQ(written, computed);
  EXPECT_EQ(f.User(ProfileKey::paraLevel), "30");  // the H.264 keys come along
  EXPECT_EQ(f.User(ProfileKey::paraGop), "<none>");
  EXPECT_FALSE(TConversionValues(f.Settings, f.Store, f.Code).FromFormatDefaults());
}

// The dialog shows what a conversion of a format never set up uses, and a stored choice once
// there is one.
TEST(ParameterModel, AFormatNeverSetUpShowsItsDefaults) {
  TEditorFixture f;
  f.FillVideoFormat();
  f.StoreList(ProfileKey::iVideoSize, "2");
  f.StoreList(ProfileKey::iVolume, "1");
  f.Model.LoadLists(f.Store, f.Code);
  f.Model.RestoreOrShowDefaults(f.Settings, f.Store, f.Code, true);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).Text, "640x480");
  EXPECT_EQ(f.Model.Box(TParamBox::pbVolume).Text, "100%");
  EXPECT_EQ(f.Model.Box(TParamBox::pbZoom).Text, "Letterbox");
  EXPECT_FALSE(std::filesystem::exists(f.Settings.FileName()));

  f.Model.Select(TParamBox::pbVideoSize, 1);
  f.Model.StoreValues(f.Settings, f.Store, f.Code);
  f.Model.LoadLists(f.Store, f.Code);
  f.Model.RestoreOrShowDefaults(f.Settings, f.Store, f.Code, true);
  EXPECT_EQ(f.Model.Box(TParamBox::pbVideoSize).Text, "320x240");
}

}  // namespace
