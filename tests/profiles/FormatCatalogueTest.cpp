#include "profiles/model/FormatCatalogue.h"

#include <gtest/gtest.h>

#include "TempDir.h"
#include "app/core/SettingsStore.h"

namespace {

struct TChooserFixture {
  TTempDir Dir;
  TSettingsStore Settings{Dir.File("ondrelxvidconverter.ini")};
  TFormatChooserModel Model;

  int HeaderRow(int category) const {
    const auto& rows = Model.Rows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].Info.IsCategory && rows[i].Info.Code == category) return static_cast<int>(i);
    return -1;
  }
};

TEST(FormatCatalogue, CodesAndCaptions) {
  struct TCase {
    int Code;
    const char* Caption;
  } const cases[] = {
      {0, "XviD Video Format (*.avi)"},
      {100, "3GPP -mpeg4 -3rd Generation Partnership Project (*.3gp)"},
      {101, "3GPP2 -mpeg4 -3rd Generation Partnership Project2 (*.3g2)"},
      {102, "Mobile Phone MPEG-4 Video(*.mp4)"},
      {200, "Flash Video Format (*.flv)"},
      {300, "MOV - Quick Time Video (*.mov)"},
      {400, "MPEG-1 Video (*.mpg)"},
      {401, "MPEG-2 Video (*.mpg)"},
      {402, "MPEG-4 Video (*.mp4)"},
      {403, "H.264/MPEG-4 AVC Video (*.mp4)"},
      {404, "AVI Video (*.avi)"},
      {405, "WMV Video (*.wmv)"},
      {406, "Divx Video (*.avi)"},
      {407, "Xvid Video (*.avi)"},
      {408, "DV - NTSC -Digital Video Format (*.dv)"},
      {409, "DV - PAL -Digital Video Format (*.dv)"},
      {500, "MP3 MPEG Layer-3 Audio (*.mp3)"},
      {501, "AAC Advenced Audio Codec (*.aac)"},
      {502, "M4A MPEG-4 Audio (*.m4a)"},
      {503, "WMA - Windows Meida Audio (*.wma)"},
      {504, "WAV - Waveform Audio (*.wav)"},
      {505, "OGG Vorbis Audio Codec (*.ogg)"},
      {506, "AC-3 Audio Codec (*.ac3)"},
  };
  std::vector<int> expectedCodes;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Code);
    EXPECT_EQ(FormatCaptionOf(c.Code), c.Caption);
    expectedCodes.push_back(c.Code);
  }
  EXPECT_EQ(CatalogueCodes(), expectedCodes);
  for (int missing : {1, 103, 410, 507, 600, -1}) EXPECT_EQ(FormatCaptionOf(missing), "") << missing;

  const char* const categories[] = {"XviD Video Format",      "3GP Video",
                                    "Flash Video",            "Quick Time Video - MOV",
                                    "General Video formates", "General Audio formates"};
  ASSERT_EQ(FormatCatalogue().size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_STREQ(FormatCatalogue()[i].Caption, categories[i]);
}

TEST(FormatChooser, EmptySettingsShowCollapsedCategoriesAndTheCodeOneCaption) {
  TChooserFixture f;
  f.Model.Build(f.Settings);
  ASSERT_EQ(f.Model.Rows().size(), 6u);
  for (int c = 0; c < 6; ++c) EXPECT_EQ(f.Model.Rows()[c].Info, (TItemInfo{false, true, true, c}));
  EXPECT_EQ(f.Model.BoxText(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
  EXPECT_EQ(f.Model.SelectedRow(), -1);
  EXPECT_EQ(f.Settings.FormatCode(), 1);
}

TEST(FormatChooser, ExpandAndCollapseTouchOnlyTheirCategory) {
  TChooserFixture f;
  f.Model.Build(f.Settings);
  const int header = f.HeaderRow(4);
  f.Model.Expand(header);
  const auto& rows = f.Model.Rows();
  ASSERT_EQ(rows.size(), 16u);
  EXPECT_FALSE(rows[header].Info.Collapsed);
  for (int p = 0; p < 10; ++p) {
    const TFormatRow& row = rows[header + 1 + p];
    EXPECT_EQ(row.Info, (TItemInfo{true, false, false, 400 + p}));
    EXPECT_EQ(row.Text, FormatCaptionOf(400 + p));
  }
  EXPECT_EQ(rows[header + 11].Info, (TItemInfo{false, true, true, 5}));
  f.Model.Expand(header);  // already expanded: nothing doubles
  EXPECT_EQ(rows.size(), 16u);

  f.Model.Collapse(header);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_TRUE(rows[header].Info.Collapsed);
  EXPECT_EQ(rows[header + 1].Info, (TItemInfo{false, true, true, 5}));
}

TEST(FormatChooser, StoredStatesChoiceAndSelectionByTrimmedName) {
  TChooserFixture f;
  WriteCategoryCollapsed(f.Settings.Ini(), 1, false);
  f.Settings.Ini().WriteString(SettingsSection, SettingKey::FormatName, "  Mobile Phone MPEG-4 Video(*.mp4) ");
  f.Model.Build(f.Settings);
  ASSERT_EQ(f.Model.Rows().size(), 9u);
  ASSERT_EQ(f.Model.SelectedRow(), 4);
  EXPECT_EQ(f.Model.Rows()[4].Info.Code, 102);

  // The Settings dialog's choice stores nothing; the main window's at once.
  const int avi = [&] {
    f.Model.Expand(f.HeaderRow(4));
    return f.Model.FindRow("AVI Video (*.avi)");
  }();
  ASSERT_GE(avi, 0);
  ASSERT_TRUE(f.Model.Choose(avi, nullptr));
  EXPECT_EQ(f.Model.CurrentFormatCode, "404");
  EXPECT_EQ(f.Settings.FormatCodeText(), "1");
  ASSERT_TRUE(f.Model.Choose(avi, &f.Settings));
  EXPECT_EQ(f.Settings.FormatName(), "AVI Video (*.avi)");
  EXPECT_EQ(f.Settings.FormatCodeText(), "404");
  EXPECT_EQ(f.Model.BoxText(), "AVI Video (*.avi)");
  EXPECT_FALSE(f.Model.Choose(f.HeaderRow(4), &f.Settings));  // a header is no format

  // Saving writes every header's state; the next build shows the same rows.
  ASSERT_TRUE(f.Model.SaveCategoryStates(f.Settings.Ini()));
  EXPECT_EQ(f.Settings.Ini().ReadString(CategoryStateSection, "4", ""), "0");
  EXPECT_EQ(f.Settings.Ini().ReadString(CategoryStateSection, "0", ""), "1");
  TFormatChooserModel again;
  again.Build(f.Settings);
  EXPECT_EQ(again.Rows().size(), f.Model.Rows().size());
  EXPECT_EQ(again.Rows()[again.SelectedRow()].Text, "AVI Video (*.avi)");
}

}  // namespace
