#include "AtomicFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "PlatformTestSupport.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

}  // namespace

TEST(AtomicFileTest, AbandonedBeforeRenameLeavesTheOldFileAndNoTemporary) {
  TTempDir dir;
  const std::string path = dir / "formats.ini";
  const std::string old = "[old]\r\nkey=value\r\n";
  WriteTextFile(path, old);

  std::vector<std::string> seen;
  std::string tempContent;
  const bool written = AtomicWriteFile(path, "new content", [&] {
    seen = FolderEntries(dir.Path());
    for (const std::string& name : seen)
      if (name != "formats.ini") tempContent = ReadTextFile(dir / name);
    return false;
  });

  EXPECT_FALSE(written);
  EXPECT_EQ(ReadTextFile(path), old);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"formats.ini"});
  // The new data was complete in a hidden sibling at the moment of the rename.
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(tempContent, "new content");
  for (const std::string& name : seen) {
    if (name != "formats.ini") {
      EXPECT_EQ(name.rfind(".formats.ini.", 0), 0u) << name;
    }
  }
}

TEST(AtomicFileTest, ReplacementKeepsPermissionsAndNewFilesFollowTheUmask) {
  TTempDir dir;
  const std::string existing = dir / "existing";
  WriteTextFile(existing, "old");
  ASSERT_EQ(::chmod(existing.c_str(), 0600), 0);
  ASSERT_TRUE(AtomicWriteFile(existing, "replaced"));
  EXPECT_EQ(ReadTextFile(existing), "replaced");
  EXPECT_EQ(ModeOf(existing), 0600u);

  const mode_t previous = ::umask(027);
  const bool created = AtomicWriteFile(dir / "fresh", "");
  ::umask(previous);
  ASSERT_TRUE(created);
  EXPECT_EQ(ModeOf(dir / "fresh"), 0640u);
  EXPECT_EQ(ReadTextFile(dir / "fresh"), "");
}

TEST(AtomicFileTest, SymbolicLinkStaysAndItsTargetIsReplaced) {
  TTempDir dir;
  WriteTextFile(dir / "real.ini", "old");
  ASSERT_EQ(::symlink("real.ini", (dir / "link.ini").c_str()), 0);
  ASSERT_TRUE(AtomicWriteFile(dir / "link.ini", "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadTextFile(dir / "real.ini"), "new");
}

TEST(AtomicFileTest, FailuresReturnFalseAndLeaveNothingBehind) {
  TTempDir dir;
  EXPECT_FALSE(AtomicWriteFile(dir / "missing/file", "x"));
  EXPECT_FALSE(AtomicWriteFile(dir.Path() + "/", "x"));
  ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
  EXPECT_FALSE(AtomicWriteFile(dir / "folder", "x"));
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"folder"});
  EXPECT_TRUE(FolderEntries(dir / "folder").empty());
}

TEST(AtomicFileTest, ReadWholeFileTellsMissingFromUnreadable) {
  TTempDir dir;
  std::string data = "stale";
  EXPECT_EQ(ReadWholeFile(dir / "missing", data, 100), TReadResult::rrMissing);
  EXPECT_EQ(data, "");
  EXPECT_EQ(ReadWholeFile(dir.Path(), data, 100), TReadResult::rrError);

  WriteTextFile(dir / "ten", "0123456789");
  EXPECT_EQ(ReadWholeFile(dir / "ten", data, 9), TReadResult::rrError);
  EXPECT_EQ(data, "");
  EXPECT_EQ(ReadWholeFile(dir / "ten", data, 10), TReadResult::rrOk);
  EXPECT_EQ(data, "0123456789");
}
