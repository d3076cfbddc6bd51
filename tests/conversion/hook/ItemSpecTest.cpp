#include "conversion/hook/ItemSpec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>

#include "HookTestSupport.h"
#include "TempDir.h"
#include "conversion/hook/WmText.h"

TEST(ItemSpecTest, TextItemsTakeTheirGeometryAndKeys) {
  const auto check = [](const std::string& spec, const std::function<void(TWmRec&)>& fill) {
    SCOPED_TRACE(spec);
    TWmRec expected;
    expected.Kind = kWmKindText;
    expected.TextOpacity = 255;
    expected.EndSecond = INT32_MAX;
    expected.Font.Size = 24;
    expected.Font.Color = WmColor(255, 255, 255);
    fill(expected);
    TWmRec item;
    std::string error;
    ASSERT_TRUE(ParseTextItem(spec, item, error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(item, expected);
  };
  check("Hello@10,20,100x30", [](TWmRec& e) {
    e.Text = "Hello";
    e.TextX = 10, e.TextY = 20, e.TextWidth = 100, e.TextHeight = 30;
  });
  check("a@b.c; x=1@-5,-7,1x1;opacity=0;from=3;to=3;font=DejaVu Serif;size=1000;bold;italic;underline;strike;"
        "color=#10a0Ff;background=#000001;",
        [](TWmRec& e) {
          e.Text = "a@b.c; x=1";  // the last @ ends the text
          e.TextX = -5, e.TextY = -7, e.TextWidth = 1, e.TextHeight = 1;
          e.TextOpacity = 0;
          e.StartSecond = 3, e.EndSecond = 3;
          e.Font = {"DejaVu Serif", 1000, true, true, true, true, WmColor(0x10, 0xA0, 0xFF)};
          e.HasBackColor = true;
          e.BackColor = WmColor(0, 0, 1);
        });
  check("Twice@0,0,5x5;opacity=1;;opacity=255;to=2147483647", [](TWmRec& e) {
    e.Text = "Twice";
    e.TextWidth = 5, e.TextHeight = 5;
  });
}

TEST(ItemSpecTest, TextWithoutASizeGetsItsExtentAtTheFixedResolution) {
  TWmRec small, large;
  std::string error;
  ASSERT_TRUE(ParseTextItem("Wide text@0,0;size=10", small, error)) << error;
  ASSERT_TRUE(ParseTextItem("Wide text@0,0;size=40", large, error)) << error;
  const QSize extent = WmTextExtent("Wide text", large.Font);
  EXPECT_EQ(large.TextWidth, extent.width());
  EXPECT_EQ(large.TextHeight, extent.height());
  // At 96 dpi 40 points are 53 pixels, and the line is a little taller than the size.
  EXPECT_GE(large.TextHeight, 53);
  EXPECT_LT(large.TextHeight, 90);
  EXPECT_GT(large.TextWidth, 3 * small.TextWidth);
}

TEST(ItemSpecTest, PictureItemsTakeTheirOwnSizeUnlessGivenOne) {
  TTempDir folder;
  const std::string path = folder.File("logo @home.bmp");
  ASSERT_TRUE(WriteBmp(path, 17, 9, Qt::red));
  TWmRec item;
  std::string error;
  ASSERT_TRUE(ParsePictureItem(path + "@3,4;opacity=128;from=1;to=2", item, error)) << error;
  TWmRec expected;
  expected.Kind = kWmKindImage;
  expected.ImagePath = path;
  expected.ImageX = 3, expected.ImageY = 4, expected.ImageWidth = 17, expected.ImageHeight = 9;
  expected.ImageOpacity = 128;
  expected.StartSecond = 1, expected.EndSecond = 2;
  EXPECT_EQ(item, expected);

  ASSERT_TRUE(ParsePictureItem(path + "@0,0,40x30", item, error)) << error;
  EXPECT_EQ(item.ImageWidth, 40);
  EXPECT_EQ(item.ImageHeight, 30);
  EXPECT_EQ(item.ImageOpacity, 255);
  EXPECT_EQ(item.EndSecond, INT32_MAX);
}

TEST(ItemSpecTest, BadSpecsAreRejectedWithOneLine) {
  TTempDir folder;
  const std::string picture = folder.File("p.bmp");
  ASSERT_TRUE(WriteBmp(picture, 4, 4, Qt::red));
  const std::string notPicture = folder.File("n.bmp");
  std::ofstream(notPicture) << "not a picture";
  const struct {
    bool Text;
    std::string Spec;
    std::string Error;
  } cases[] = {
      {true, "No position", "missing @X,Y after the text"},
      {true, "@1,2", "the text is empty"},
      {true, "T@1", "the position must be X,Y or X,Y,WxH, not '1'"},
      {true, "T@,2", "the position must be X,Y or X,Y,WxH, not ',2'"},
      {true, "T@1,2,", "the size must be WxH, not ''"},
      {true, "T@a,2", "x must be a whole number from -100000 to 100000, not 'a'"},
      {true, "T@1,100001", "y must be a whole number from -100000 to 100000, not '100001'"},
      {true, "T@1,2,0x5", "the width must be a whole number from 1 to 100000, not '0'"},
      {true, "T@1,2,5x", "the height must be a whole number from 1 to 100000, not ''"},
      {true, "T@1,2,5x5x5", "the height must be a whole number from 1 to 100000, not '5x5'"},
      {true, "T@1.5,2", "x must be a whole number from -100000 to 100000, not '1.5'"},
      {true, "T@1,2;opacity=256", "opacity must be a whole number from 0 to 255, not '256'"},
      {true, "T@1,2;opacity=-1", "opacity must be a whole number from 0 to 255, not '-1'"},
      {true, "T@1,2;opacity", "opacity needs a value"},
      {true, "T@1,2;from=-1", "from must be a whole number from 0 to 2147483647, not '-1'"},
      {true, "T@1,2;from=5;to=4", "to (4) is before from (5)"},
      {true, "T@1,2;size=0", "size must be a whole number from 1 to 1000, not '0'"},
      {true, "T@1,2;size=", "size needs a value"},
      {true, "T@1,2;font", "font needs a value"},
      {true, "T@1,2;bold=1", "bold takes no value"},
      {true, "T@1,2;color=red", "color must be a colour #RRGGBB, not 'red'"},
      {true, "T@1,2;color=#12345", "color must be a colour #RRGGBB, not '#12345'"},
      {true, "T@1,2;background=#-12345", "background must be a colour #RRGGBB, not '#-12345'"},
      {true, "T@1,2;colour=#000000", "unknown key 'colour'"},
      {false, "@1,2", "the file name is empty"},
      {false, picture, "missing @X,Y after the file name"},
      {false, picture + "@1,2;bold", "unknown key 'bold' for a picture"},
      {false, picture + "@1,2;opacity=300", "opacity must be a whole number from 0 to 255, not '300'"},
      {false, folder.File("none.bmp") + "@1,2", "cannot read the picture '" + folder.File("none.bmp") + "'"},
      {false, notPicture + "@1,2,4x4", "cannot read the picture '" + notPicture + "'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Spec);
    TWmRec item;
    std::string error;
    EXPECT_FALSE(c.Text ? ParseTextItem(c.Spec, item, error) : ParsePictureItem(c.Spec, item, error));
    EXPECT_EQ(error, c.Error);
  }
}
