#include "app/core/SettingsStore.h"

#include <gtest/gtest.h>

#include "AppCoreTestSupport.h"

namespace {

TEST(SettingsStore, FirstStartReadsTheDefaults) {
  TAppCoreFixture f;
  const TSettingsStore s = f.Settings();
  EXPECT_EQ(s.OutPutDir(), f.Fake.DefaultOutputFolderResult);
  EXPECT_EQ(s.SnapOutPutDir(), f.Fake.DefaultOutputFolderResult);
  EXPECT_EQ(s.OutPutFormat(), 0);
  EXPECT_EQ(s.FormatCodeText(), "1");
  EXPECT_EQ(s.FormatCode(), 1);
  EXPECT_EQ(s.FormatName(), "iPod Video MPEG-4");
  EXPECT_EQ(s.SkinIndex(), 0);
  EXPECT_EQ(s.SkinIndex(1), 1);
  EXPECT_EQ(s.Volume(), 0);
  EXPECT_EQ(s.Mute(), 0);
  EXPECT_EQ(s.Priority(), 1);
  EXPECT_TRUE(s.SnapFullSize() && s.SnapSmallSize() && s.SnapBmp() && s.SnapJpg());
  EXPECT_EQ(s.JpgCmp(), 30);
}

TEST(SettingsStore, WritesReachTheFileAndKeysMatchInAnyCase) {
  TAppCoreFixture f;
  TSettingsStore s = f.Settings();
  // The Preferences dialog spells the key with a lower-case s.
  ASSERT_TRUE(s.Ini().WriteString(SettingsSection, "snapOutPutDir", "/shots"));
  ASSERT_TRUE(s.SetCurrentFormat("AVI Video (*.avi)", 404));
  ASSERT_TRUE(s.SetSnapOptions(false, true, false, true, 85));
  const TSettingsStore reread = f.Settings();
  EXPECT_EQ(reread.SnapOutPutDir(), "/shots");
  EXPECT_EQ(reread.FormatName(), "AVI Video (*.avi)");
  EXPECT_EQ(reread.FormatCodeText(), "404");
  EXPECT_EQ(reread.FormatCode(), 404);
  EXPECT_FALSE(reread.SnapFullSize());
  EXPECT_TRUE(reread.SnapSmallSize());
  EXPECT_FALSE(reread.SnapBmp());
  EXPECT_EQ(reread.JpgCmp(), 85);
  EXPECT_EQ(reread.Ini().ReadString("SETTINGS", "formatcode", ""), "404");
}

TEST(SettingsStore, FormatCodeThatIsNoNumberReadsAsCodeOne) {
  TAppCoreFixture f;
  TSettingsStore s = f.Settings();
  s.Ini().WriteString(SettingsSection, SettingKey::FormatCode, "abc");
  EXPECT_EQ(s.FormatCodeText(), "abc");
  EXPECT_EQ(s.FormatCode(), 1);
}

TEST(VolumeSliderPosition, OutOfRangeShowsTheMiddle) {
  for (const auto& [stored, shown] : {std::pair{0, 0}, {128, 128}, {200, 64}, {-1, 64}, {129, 64}, {37, 37}}) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(VolumeSliderPosition(stored), shown);
  }
}

TEST(SettleStartupFolders, UnusableFoldersAreReplacedByTheFallbackAndStored) {
  TAppCoreFixture f;
  TSettingsStore s = f.Settings();
  const std::string good = f.Folder("good"), refusing = f.Folder("refusing");
  f.Fake.WritableFolders[refusing] = false;

  s.SetOutPutDir(good);
  s.SetSnapOutPutDir(refusing);
  TStartupFolders folders = SettleStartupFolders(s);
  EXPECT_EQ(folders.Output, good);
  EXPECT_EQ(folders.Snapshot, f.Fake.FallbackOutputFolderResult);
  EXPECT_EQ(s.OutPutDir(), good);
  EXPECT_EQ(s.SnapOutPutDir(), f.Fake.FallbackOutputFolderResult);
  EXPECT_FALSE(f.Fake.DirectoryExists(f.Fake.FallbackOutputFolderResult));  // not created here

  // First start: the default folder does not exist yet, so it is not writable either.
  TAppCoreFixture fresh;
  TSettingsStore first = fresh.Settings();
  folders = SettleStartupFolders(first);
  EXPECT_EQ(folders.Output, fresh.Fake.FallbackOutputFolderResult);
  EXPECT_EQ(first.OutPutDir(), fresh.Fake.FallbackOutputFolderResult);
}

}  // namespace
