#include "IniFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "PlatformTestSupport.h"

using TValues = std::vector<std::pair<std::string, std::string>>;

class IniFileTest : public ::testing::Test {
 protected:
  TTempDir FDir;
  std::string FPath = FDir / "settings.ini";
  TIniFile FIni{FPath};
};

TEST_F(IniFileTest, NamesMatchWithoutRegardToCaseAndWritesKeepTheFirstSpelling) {
  WriteTextFile(FPath, "[Settings]\nSnapOutPutDir=/a\nparaZoom=3\nPriority = 2\n");

  EXPECT_EQ(FIni.ReadString("settings", "snapOutPutDir", "-"), "/a");
  EXPECT_EQ(FIni.ReadInteger("SETTINGS", "parazoom", 0), 3);
  EXPECT_EQ(FIni.ReadInteger(" Settings ", " priority ", 0), 2);
  EXPECT_TRUE(FIni.ValueExists("settings", "PARAZOOM"));

  ASSERT_TRUE(FIni.WriteString("SETTINGS", "snapOutPutDir", "/b"));
  ASSERT_TRUE(FIni.WriteInteger("settings", "priority", 4));
  EXPECT_EQ(ReadTextFile(FPath), "[Settings]\nSnapOutPutDir=/b\nparaZoom=3\nPriority = 4\n");
}

TEST_F(IniFileTest, MissingOrIgnoredEntriesGiveTheDefault) {
  EXPECT_EQ(FIni.ReadString("s", "k", "dflt"), "dflt");  // no file at all
  EXPECT_FALSE(FIni.SectionExists("s"));
  EXPECT_TRUE(FIni.ReadSections().empty());

  WriteTextFile(FPath,
                "k=before any section\n"
                "[s]\n"
                "; k=comment\n"
                "# k=comment\n"
                "k without equals sign\n"
                "=no name\n"
                "[other]\n"
                "k=elsewhere\n");
  EXPECT_TRUE(FIni.SectionExists("S"));
  for (const char* key : {"k", "", "missing"}) EXPECT_EQ(FIni.ReadString("s", key, "dflt"), "dflt") << key;
  EXPECT_EQ(FIni.ReadString("nosection", "k", "dflt"), "dflt");
  EXPECT_FALSE(FIni.ValueExists("s", "k"));
  EXPECT_TRUE(FIni.ReadSection("s").empty());
}

TEST_F(IniFileTest, TrimsBlanksFirstKeyWinsAndRepeatedSectionsReadAsOne) {
  WriteTextFile(FPath,
                "  [ Video ]  \r\n"
                "  Codec  =  h264 high  \r\n"
                "codec=second\n"
                "[Audio]\n"
                "rate=44100\n"
                "[video]\n"
                "Bitrate=900\n"
                "CODEC=third\n");

  EXPECT_EQ(FIni.ReadString("video", "codec", ""), "h264 high");
  EXPECT_EQ(FIni.ReadSections(), (std::vector<std::string>{"Video", "Audio"}));
  EXPECT_EQ(FIni.ReadSection("VIDEO"), (std::vector<std::string>{"Codec", "Bitrate"}));
  EXPECT_EQ(FIni.ReadSectionValues("video"), (TValues{{"Codec", "h264 high"}, {"Bitrate", "900"}}));
}

TEST_F(IniFileTest, IntegersAreDecimalAndMustFitInInt) {
  const std::vector<std::pair<std::string, int>> good = {
      {"42", 42}, {" -17 ", -17}, {"+8", 8}, {"-0", 0}, {"007", 7},
      {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}};
  const std::vector<std::string> bad = {"12abc", "", "1.5", "99999999999", "2147483648", "-2147483649",
                                        "+-1", "-+1", "++1", "0x10", "- 5", "1 2", "+", "-", "1e3"};
  std::string text = "[n]\n";
  for (std::size_t i = 0; i < good.size(); ++i)
    text += "good" + std::to_string(i) + "=" + good[i].first + "\n";
  for (std::size_t i = 0; i < bad.size(); ++i) text += "bad" + std::to_string(i) + "=" + bad[i] + "\n";
  WriteTextFile(FPath, text);

  for (std::size_t i = 0; i < good.size(); ++i)
    EXPECT_EQ(FIni.ReadInteger("n", "good" + std::to_string(i), 555), good[i].second) << good[i].first;
  for (std::size_t i = 0; i < bad.size(); ++i)
    EXPECT_EQ(FIni.ReadInteger("n", "bad" + std::to_string(i), 555), 555) << '"' << bad[i] << '"';
}

TEST_F(IniFileTest, BooleansAreIntegers) {
  WriteTextFile(FPath, "[b]\none=1\nzero=0\nfive=5\nminus=-1\nx=x\nempty=\n");
  struct TCase {
    const char* Key;
    bool WithFalseDefault;
    bool WithTrueDefault;
  };
  for (const TCase& c : {TCase{"one", true, true}, TCase{"zero", false, false}, TCase{"five", true, true},
                         TCase{"minus", true, true}, TCase{"x", false, true}, TCase{"empty", false, true},
                         TCase{"missing", false, true}}) {
    EXPECT_EQ(FIni.ReadBool("b", c.Key, false), c.WithFalseDefault) << c.Key;
    EXPECT_EQ(FIni.ReadBool("b", c.Key, true), c.WithTrueDefault) << c.Key;
  }
}

// Each write must change exactly the lines concerned and leave every other byte alone.
struct TEditCase {
  const char* Name;
  std::string Before;
  std::function<bool(TIniFile&)> Edit;
  std::string After;
};

TEST_F(IniFileTest, WritesChangeOnlyTheLinesConcerned) {
  const std::vector<TEditCase> cases = {
      {"existing key keeps its line, spelling and spacing",
       "; top comment\nloose=line\n[A]\nKey = old\n# note\nnot a key line\n\n[B]\nx=1\n",
       [](TIniFile& f) { return f.WriteString("a", "KEY", "new"); },
       "; top comment\nloose=line\n[A]\nKey = new\n# note\nnot a key line\n\n[B]\nx=1\n"},
      {"new key goes after the last key, before blank lines",
       "[A]\nk1=1\n; note\nk2=2\n\n\n[B]\ny=1\n",
       [](TIniFile& f) { return f.WriteString("A", "k3", "3"); },
       "[A]\nk1=1\n; note\nk2=2\nk3=3\n\n\n[B]\ny=1\n"},
      {"new key in a section without keys goes under its header",
       "[A]\n\n[B]\nx=1\n",
       [](TIniFile& f) { return f.WriteString("A", "k", "v"); },
       "[A]\nk=v\n\n[B]\nx=1\n"},
      {"new section is appended after a blank line", "[A]\nx=1\n",
       [](TIniFile& f) { return f.WriteString("B", "y", "2"); }, "[A]\nx=1\n\n[B]\ny=2\n"},
      {"no second blank line before a new section", "[A]\nx=1\n\n",
       [](TIniFile& f) { return f.WriteString("B", "y", "2"); }, "[A]\nx=1\n\n[B]\ny=2\n"},
      {"last line without line ending gets one", "[A]\nx=1",
       [](TIniFile& f) { return f.WriteString("A", "z", "2"); }, "[A]\nx=1\nz=2\n"},
      {"missing file is created", "",
       [](TIniFile& f) { return f.WriteBool("A", "on", true) && f.WriteBool("A", "off", false); },
       "[A]\non=1\noff=0\n"},
      {"integers are written in decimal", "",
       [](TIniFile& f) { return f.WriteInteger("N", "min", INT_MIN) && f.WriteInteger("N", "max", INT_MAX); },
       "[N]\nmin=-2147483648\nmax=2147483647\n"},
      {"CRLF file stays CRLF", "[A]\r\nx=1\r\n",
       [](TIniFile& f) { return f.WriteString("A", "x", "2") && f.WriteString("A", "y", "3") &&
                                f.WriteString("B", "z", "4"); },
       "[A]\r\nx=2\r\ny=3\r\n\r\n[B]\r\nz=4\r\n"},
      {"line breaks in a value become spaces", "",
       [](TIniFile& f) { return f.WriteString("A", "k", "one\r\ntwo\nthree"); }, "[A]\nk=one  two three\n"},
      {"key above the first section is not the section's key", "k=0\n[A]\n",
       [](TIniFile& f) { return f.WriteString("A", "k", "1"); }, "k=0\n[A]\nk=1\n"},
      {"a byte order mark stays in front of the first header", "\xEF\xBB\xBF[A]\nx=1\n",
       [](TIniFile& f) { return f.WriteString("a", "x", "2"); }, "\xEF\xBB\xBF[A]\nx=2\n"},
      {"key of a repeated section is changed where it is", "[A]\nx=1\n[B]\n[a]\ny=2\n",
       [](TIniFile& f) { return f.WriteString("A", "y", "3") && f.WriteString("A", "z", "4"); },
       "[A]\nx=1\nz=4\n[B]\n[a]\ny=3\n"},
      {"DeleteKey removes every occurrence", "[A]\nk=1\nx=2\nK=3\n[B]\nk=4\n",
       [](TIniFile& f) { return f.DeleteKey("a", "k"); }, "[A]\nx=2\n[B]\nk=4\n"},
      {"EraseSection keeps what introduces the next section",
       "[A]\nx=1\n[B]\ny=2\nz\n\n; about C\n[C]\nv=3\n",
       [](TIniFile& f) { return f.EraseSection("b"); }, "[A]\nx=1\n\n; about C\n[C]\nv=3\n"},
      {"deleting what is not there changes nothing", "[A]\r\nx=1",
       [](TIniFile& f) { return f.DeleteKey("A", "y") && f.DeleteKey("Q", "x") && f.EraseSection("Q"); },
       "[A]\r\nx=1"},
  };
  for (const TEditCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ::unlink(FPath.c_str());
    if (!c.Before.empty()) WriteTextFile(FPath, c.Before);
    EXPECT_TRUE(c.Edit(FIni));
    EXPECT_EQ(ReadTextFile(FPath), c.After);
  }
}

TEST_F(IniFileTest, WrittenValuesReadBackUnchanged) {
  const std::string utf8 = "/home/jos\xC3\xA9/V\xC3\xAD" "deos \xE2\x82\xAC";
  ASSERT_TRUE(FIni.WriteString("paths", "out", utf8));
  ASSERT_TRUE(FIni.WriteString("paths", "empty", ""));
  ASSERT_TRUE(FIni.WriteString("paths", "equals", "a=b=c"));
  EXPECT_EQ(FIni.ReadString("paths", "out", ""), utf8);
  EXPECT_EQ(FIni.ReadString("paths", "empty", "dflt"), "");
  EXPECT_EQ(FIni.ReadString("paths", "equals", ""), "a=b=c");
}

TEST_F(IniFileTest, InvalidNamesAreRefusedWithoutTouchingTheFile) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"", "k"}, {"a]b", "k"}, {"a\nb", "k"}, {"s", ""}, {"s", "  "}, {"s", "a=b"},
      {"s", ";k"}, {"s", "#k"}, {"s", "[k"}, {"s", "a\rb"}};
  for (const auto& [section, key] : names) {
    EXPECT_FALSE(FIni.WriteString(section, key, "v")) << section << "/" << key;
  }
  EXPECT_FALSE(FIni.SectionExists("s"));
  EXPECT_FALSE(std::filesystem::exists(FPath));
}

TEST_F(IniFileTest, UnwritableTargetsFailAndLeaveNoTrace) {
  TIniFile inMissingFolder(FDir / "no/such/folder/settings.ini");
  EXPECT_FALSE(inMissingFolder.WriteString("s", "k", "v"));
  EXPECT_FALSE(std::filesystem::exists(FDir / "no"));

  ASSERT_EQ(::mkdir(FPath.c_str(), 0755), 0);  // the path is a folder
  EXPECT_EQ(FIni.ReadString("s", "k", "dflt"), "dflt");
  EXPECT_TRUE(FIni.ReadSections().empty());
  EXPECT_FALSE(FIni.WriteString("s", "k", "v"));
  EXPECT_TRUE(std::filesystem::is_directory(FPath));
  EXPECT_EQ(FolderEntries(FDir.Path()), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniFileTest, UnreadableFileReadsAsMissingAndIsNotOverwritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  WriteTextFile(FPath, "[s]\nk=secret\n");
  ASSERT_EQ(::chmod(FPath.c_str(), 0), 0);
  EXPECT_EQ(FIni.ReadString("s", "k", "dflt"), "dflt");
  EXPECT_FALSE(FIni.WriteString("s", "other", "v"));
  ASSERT_EQ(::chmod(FPath.c_str(), 0600), 0);
  EXPECT_EQ(ReadTextFile(FPath), "[s]\nk=secret\n");
}

TEST_F(IniFileTest, DamagedFilesReadAsFarAsTheyMakeSense) {
  using namespace std::string_literals;
  const std::string junk = "\x00\xff\xfe\x01junk\x00=\x00\n[\x00\x80\n=\n\x7f\x1b[2J\n"s;
  WriteTextFile(FPath, junk + "[good]\nkey=value\nnul=a\0b\n[after]\n"s + junk);
  EXPECT_EQ(FIni.ReadString("good", "key", ""), "value");
  EXPECT_EQ(FIni.ReadString("good", "nul", ""), "a\0b"s);
  ASSERT_TRUE(FIni.WriteString("good", "added", "1"));
  EXPECT_EQ(ReadTextFile(FPath), junk + "[good]\nkey=value\nnul=a\0b\nadded=1\n[after]\n"s + junk);

  const std::string longLine(5u << 20, 'x');
  const std::string longValue(3u << 20, 'y');
  WriteTextFile(FPath, "[s]\n" + longLine + "\nk=v\nbig=" + longValue + "\n[" + longLine);
  EXPECT_EQ(FIni.ReadString("s", "k", ""), "v");
  EXPECT_EQ(FIni.ReadString("s", "big", "").size(), longValue.size());
  EXPECT_EQ(FIni.ReadSection("s"), (std::vector<std::string>{"k", "big"}));
}

TEST_F(IniFileTest, NamedPipeDoesNotBlockTheReader) {
  ASSERT_EQ(::mkfifo(FPath.c_str(), 0600), 0);
  EXPECT_EQ(FIni.ReadString("s", "k", "dflt"), "dflt");
  EXPECT_FALSE(FIni.WriteString("s", "k", "v"));
}

TEST_F(IniFileTest, ConcurrentWritersLoseNoUpdateAndReadersNeverSeeAHalfFile) {
  ASSERT_TRUE(FIni.WriteString("s", "marker", "present"));
  constexpr int KWrites = 60;
  std::atomic<bool> writing{true};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (writing) torn += TIniFile(FPath).ReadString("s", "marker", "") != "present";
  });
  auto writer = [&](const std::string& prefix) {
    TIniFile ini(FPath);
    for (int i = 0; i < KWrites; ++i) EXPECT_TRUE(ini.WriteInteger("s", prefix + std::to_string(i), i));
  };
  std::thread first(writer, "a");
  std::thread second(writer, "b");
  first.join();
  second.join();
  writing = false;
  reader.join();

  EXPECT_EQ(torn, 0);
  for (const char* prefix : {"a", "b"})
    for (int i = 0; i < KWrites; ++i) EXPECT_EQ(FIni.ReadInteger("s", prefix + std::to_string(i), -1), i);
  EXPECT_EQ(FIni.ReadSection("s").size(), 2u * KWrites + 1);
}
