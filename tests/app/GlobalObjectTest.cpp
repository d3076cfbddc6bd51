#include "app/core/GlobalObject.h"

#include <gtest/gtest.h>

#include "AppCoreTestSupport.h"

namespace {

TEST(RightString, LastCharactersOrAll) {
  struct TCase {
    const char* Text;
    int N;
    const char* Expected;
  } const cases[] = {
      {"abcdef", 3, "def"}, {"abc", 3, "abc"}, {"ab", 5, "ab"}, {"abc", 0, ""}, {"abc", -1, ""}, {"", 2, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + " " + std::to_string(c.N));
    EXPECT_EQ(RightString(c.Text, c.N), c.Expected);
  }
}

TEST(GlobalObject, FieldsComeFromThePlatformAndSettersIgnoreUnusableValues) {
  TAppCoreFixture f;
  TGlobalObject global;
  EXPECT_EQ(global.SettingsFile(), f.Fake.DataFolderResult + "ondrelxvidconverter.ini");
  EXPECT_EQ(global.ProductTitle(), "Ondrel XviD Converter");
  EXPECT_EQ(global.VersionText(), " ver 1.50 ");
  EXPECT_FALSE(global.HelpPageUrl().empty());
  EXPECT_FALSE(global.WebSiteUrl().empty());

  global.SetSettingsFile("/a/");  // 3 characters: kept out
  global.SetFormatStoreFile("");
  global.SetProductTitle("");
  global.SetVersionText("");
  EXPECT_EQ(global.SettingsFile(), f.Fake.DataFolderResult + "ondrelxvidconverter.ini");
  EXPECT_EQ(global.ProductTitle(), "Ondrel XviD Converter");
  EXPECT_EQ(global.VersionText(), " ver 1.50 ");
  global.SetSettingsFile("/a/b");
  global.SetVersionText(global.GetVersionString());
  EXPECT_EQ(global.SettingsFile(), "/a/b");
  EXPECT_EQ(global.VersionText(), GetVersionString());
}

TEST(GlobalObject, VersionStringJoinsMinorReleaseAndBuild) {
  TAppCoreFixture f;
  f.Fake.VersionResult = {3, 6, 0, 0};
  EXPECT_EQ(TGlobalObject().GetVersionString(), " 3.600 ");
  f.Fake.VersionResult = {1, 5, 12, 7};
  EXPECT_EQ(TGlobalObject().GetVersionString(), " 1.5127 ");
}

TEST(GlobalObject, DirectoryIsWritableOnlyWhenItExistsAndTakesATemporaryFile) {
  TAppCoreFixture f;
  const std::string writable = f.Folder("w"), refusing = f.Folder("r");
  f.Fake.WritableFolders[refusing] = false;
  TGlobalObject global;
  EXPECT_TRUE(global.IsDirectoryWritable(writable));
  EXPECT_FALSE(global.IsDirectoryWritable(refusing));
  // The fake would accept it; a missing folder still is not writable.
  EXPECT_FALSE(global.IsDirectoryWritable(f.Root.File("missing")));
  EXPECT_FALSE(global.IsDirectoryWritable(""));
}

TEST(GlobalObject, UserNameAndSpecialFolders) {
  TAppCoreFixture f;
  f.Fake.LoginUserNameResult = "anna";
  f.Fake.ProgramFolderResult = f.Root.File("prog");  // no trailing separator
  TGlobalObject global;
  EXPECT_EQ(global.GetLoginUserName(), "anna");
  EXPECT_EQ(global.GetSpecialFolderPath(TSpecialFolder::sfCommonAppData), f.Fake.DataFolderResult);
  EXPECT_EQ(global.GetSpecialFolderPath(TSpecialFolder::sfProgram), f.Root.File("prog") + "/");
  f.Fake.ProgramFolderResult.clear();
  EXPECT_EQ(global.GetSpecialFolderPath(TSpecialFolder::sfProgram), "");
}

TEST(FormatStoreLookup, DataFolderCopyWinsOverTheOneBesideTheProgram) {
  TAppCoreFixture f;
  const std::string besideProgram = f.Folder("bin") + "/ondrelxvidformat.ini";
  const std::string inData = f.Fake.DataFolderResult + "ondrelxvidformat.ini";
  // Neither exists: the path beside the program, where the shipped copy belongs.
  EXPECT_EQ(LocateFormatStore(), besideProgram);
  TAppCoreFixture::Touch(besideProgram);
  EXPECT_EQ(LocateFormatStore(), besideProgram);
  TAppCoreFixture::Touch(inData);
  EXPECT_EQ(LocateFormatStore(), inData);
  EXPECT_EQ(TGlobalObject().FormatStoreFile(), inData);
  // Without a program folder the data folder is the only place left.
  std::remove(inData.c_str());
  f.Fake.ProgramFolderResult.clear();
  EXPECT_EQ(LocateFormatStore(), inData);
}

}  // namespace
