#include "app/core/OutputNaming.h"

#include <gtest/gtest.h>

#include "AppCoreTestSupport.h"

namespace {

struct TNamingFixture : TAppCoreFixture {
  TSettingsStore Store = Settings();
  std::string Out = Folder("out");
};

TEST(MakeOutputFileName, RemovesOnlyTheLastExtensionAndNumbersTakenNames) {
  TNamingFixture f;
  f.Store.SetOutPutDir(f.Out);
  const std::string source = "/clips/a.b.avi";
  EXPECT_EQ(MakeOutputFileName(f.Store, source, ".mp4"), f.Out + "/a.b_(new).mp4");
  TAppCoreFixture::Touch(f.Out + "/a.b_(new).mp4");
  EXPECT_EQ(MakeOutputFileName(f.Store, source, ".mp4"), f.Out + "/a.b_(new_1).mp4");
  TAppCoreFixture::Touch(f.Out + "/a.b_(new_1).mp4");
  EXPECT_EQ(MakeOutputFileName(f.Store, source, ".mp4"), f.Out + "/a.b_(new_2).mp4");
  // Another suffix is another name.
  EXPECT_EQ(MakeOutputFileName(f.Store, source, ".avi"), f.Out + "/a.b_(new).avi");
  // A folder of the candidate's name takes it as much as a file does.
  f.Fake.ForceDirectories(f.Out + "/c_(new).mp4");
  EXPECT_EQ(MakeOutputFileName(f.Store, "c", ".mp4"), f.Out + "/c_(new_1).mp4");
  EXPECT_TRUE(f.Seam.Records().empty());
}

TEST(MakeOutputFileName, FolderWithOrWithoutTrailingSeparatorGivesTheSameName) {
  TNamingFixture f;
  for (const std::string& stored : {f.Out, f.Out + "/"}) {
    SCOPED_TRACE(stored);
    f.Store.SetOutPutDir(stored);
    EXPECT_EQ(MakeOutputFileName(f.Store, "/x/movie.mkv", ".mp4"), f.Out + "/movie_(new).mp4");
  }
}

TEST(MakeOutputFileName, NamesAreUniqueWithinOneRun) {
  TNamingFixture f;
  f.Store.SetOutPutDir(f.Out);
  TAppCoreFixture::Touch(f.Out + "/clip_(new).mp4");
  TOutputNameReserver run;
  // Two jobs whose sources share a name, in different folders; neither output exists yet.
  const std::string first = MakeOutputFileName(f.Store, "/a/clip.avi", ".mp4", &run);
  const std::string second = MakeOutputFileName(f.Store, "/b/clip.mov", ".mp4", &run);
  const std::string third = MakeOutputFileName(f.Store, "/c/clip.mkv", ".mp4", &run);
  EXPECT_EQ(first, f.Out + "/clip_(new_1).mp4");
  EXPECT_EQ(second, f.Out + "/clip_(new_2).mp4");
  EXPECT_EQ(third, f.Out + "/clip_(new_3).mp4");
  // A new run starts from what is on disk.
  run.Clear();
  EXPECT_EQ(MakeOutputFileName(f.Store, "/a/clip.avi", ".mp4", &run), first);
}

TEST(MakeOutputFileName, FolderThatCannotBeCreatedFallsBackToTheDefaultFolder) {
  TNamingFixture f;
  // Below a plain file no folder can be made.
  const std::string blocker = f.Root.File("file");
  TAppCoreFixture::Touch(blocker);
  const std::string unusable = blocker + "/sub";
  f.Store.SetOutPutDir(unusable);

  const std::string name = MakeOutputFileName(f.Store, "/x/song.wav", ".mp3");

  const std::string fallback = f.Fake.DefaultOutputFolderResult;
  ASSERT_EQ(f.Seam.Records().size(), 1u);
  EXPECT_EQ(f.Seam.Records()[0],
            (TSeamRecord{false, "Warning",
                         "Cannot create output directory:" + unusable + ".It will create default directory " +
                             fallback + "!",
                         TMessageIcon::miWarning}));
  EXPECT_TRUE(f.Fake.DirectoryExists(fallback));
  EXPECT_EQ(f.Store.OutPutDir(), fallback);
  // This name still comes from the folder as it was read; the next one from the fallback.
  EXPECT_EQ(name, unusable + "/song_(new).mp3");
  EXPECT_EQ(MakeOutputFileName(f.Store, "/x/song.wav", ".mp3"), fallback + "/song_(new).mp3");
  EXPECT_EQ(f.Seam.Records().size(), 1u);
}

TEST(MakeOutputFileName, MissingFolderIsCreatedWithItsParents) {
  TNamingFixture f;
  const std::string deep = f.Root.File("new/deeper");
  f.Store.SetOutPutDir(deep);
  EXPECT_EQ(MakeOutputFileName(f.Store, "v.mp4", ".avi"), deep + "/v_(new).avi");
  EXPECT_TRUE(f.Fake.DirectoryExists(deep));
  EXPECT_TRUE(f.Seam.Records().empty());
}

}  // namespace
