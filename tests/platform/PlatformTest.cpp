#include "FakePlatform.h"
#include "Platform.h"
#include "PlatformLinux.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "PlatformTestSupport.h"

namespace {

using namespace std::chrono_literals;
using TOptText = std::optional<std::string>;

std::string PasswordHome() {
  const passwd* entry = getpwuid(geteuid());
  std::string home = entry ? entry->pw_dir : "";
  while (!home.empty() && home.back() == '/') home.pop_back();
  return home;
}

// Processes whose parent is this one, zombies included.
int ChildCount() {
  int count = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;  // only process ids
    const std::string stat = ReadTextFile(std::string("/proc/") + entry->d_name + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    int parent = 0;
    char state = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == getpid()) ++count;
  }
  closedir(proc);
  return count;
}

template <class TCondition>
bool WaitFor(TCondition condition) {
  for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

// A folder that stands in for PATH: it holds scripts named like the programs the platform
// starts, each recording its arguments, so no real desktop program or shutdown can be reached.
class TFakeProgramFolder {
 public:
  void Add(const std::string& program) {
    const std::string script = FDir / program;
    WriteTextFile(script, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + FDir.Path() + "/" + program +
                              ".args'\n: > '" + FDir.Path() + "/" + program + ".done'\n");
    ::chmod(script.c_str(), 0755);
  }
  // The argument lines of the recorded call (count first), or nullopt when there was none.
  TOptText Arguments(const std::string& program) const {
    if (!WaitFor([&] { return std::filesystem::exists(FDir / (program + ".done")); })) return std::nullopt;
    return ReadTextFile(FDir / (program + ".args"));
  }
  bool WasCalled(const std::string& program) const {
    return std::filesystem::exists(FDir / (program + ".args"));
  }
  const std::string& Path() const { return FDir.Path(); }

 private:
  TTempDir FDir;
};

}  // namespace

TEST(PlatformFolders, DataFolderFollowsTheEnvironment) {
  struct TCase {
    TOptText DataDir, ConfigHome, Home;
    std::string Expected;
  };
  const std::vector<TCase> cases = {
      {"/srv/ondrel", "/cfg", "/h", "/srv/ondrel/"},
      {"/srv/ondrel/", std::nullopt, "/h", "/srv/ondrel/"},
      {"", "/cfg", "/h", "/cfg/ondrelxvidconverter/"},
      {std::nullopt, "/cfg/", "/h", "/cfg/ondrelxvidconverter/"},
      {std::nullopt, "relative/cfg", "/h", "/h/.config/ondrelxvidconverter/"},
      {std::nullopt, "", "/h/", "/h/.config/ondrelxvidconverter/"},
      {std::nullopt, std::nullopt, std::nullopt, PasswordHome() + "/.config/ondrelxvidconverter/"},
  };
  TLinuxPlatform platform;
  for (const TCase& c : cases) {
    TEnvGuard env{{"ONDREL_DATA_DIR", c.DataDir}, {"XDG_CONFIG_HOME", c.ConfigHome}, {"HOME", c.Home}};
    EXPECT_EQ(platform.DataFolder(), c.Expected);
  }
}

TEST(PlatformFolders, DefaultOutputFolderUsesTheVideosFolder) {
  struct TCase {
    const char* Name;
    TOptText VideosEnv;
    bool UnderXdgConfig;    // where user-dirs.dirs lies: $XDG_CONFIG_HOME or ~/.config
    TOptText UserDirs;      // its content, nullopt for no file
    std::string Expected;   // "~" stands for the test's HOME
  };
  const std::vector<TCase> cases = {
      {"environment first", "/media/films/", true, "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n",
       "/media/films/videoconverter"},
      {"user-dirs in XDG_CONFIG_HOME", std::nullopt, true,
       "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n",
       "~/Filme/videoconverter"},
      {"user-dirs in ~/.config, absolute and escaped", std::nullopt, false,
       "XDG_VIDEOS_DIR=\"/data/my \\\"clips\\\"\"\r\n", "/data/my \"clips\"/videoconverter"},
      {"braced HOME, the last entry wins", "", true,
       "XDG_VIDEOS_DIR=\"$HOME/old\"\n  XDG_VIDEOS_DIR = \"${HOME}/Vids\"  \n", "~/Vids/videoconverter"},
      {"commented out", std::nullopt, true, "#XDG_VIDEOS_DIR=\"$HOME/Filme\"\n", "~/Videos/videoconverter"},
      {"relative entry is invalid", std::nullopt, false, "XDG_VIDEOS_DIR=\"Filme\"\n",
       "~/Videos/videoconverter"},
      {"similar name", std::nullopt, true, "XDG_VIDEOS_DIRECTORY=\"/x\"\n", "~/Videos/videoconverter"},
      {"no file", std::nullopt, true, std::nullopt, "~/Videos/videoconverter"},
  };
  TLinuxPlatform platform;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string home = dir / "home";
    const std::string configFolder = c.UnderXdgConfig ? dir / "cfg" : home + "/.config";
    ASSERT_TRUE(platform.ForceDirectories(configFolder));
    if (c.UserDirs) WriteTextFile(configFolder + "/user-dirs.dirs", *c.UserDirs);
    TEnvGuard env{{"XDG_VIDEOS_DIR", c.VideosEnv},
                  {"XDG_CONFIG_HOME", c.UnderXdgConfig ? TOptText(dir / "cfg") : std::nullopt},
                  {"HOME", home}};
    const std::string expected = c.Expected[0] == '~' ? home + c.Expected.substr(1) : c.Expected;
    EXPECT_EQ(platform.DefaultOutputFolder(), expected);
  }
}

TEST(PlatformFolders, FallbackOutputFolderIsInTheHomeFolder) {
  TLinuxPlatform platform;
  {
    TEnvGuard env{{"HOME", "/home/someone/"}};
    EXPECT_EQ(platform.FallbackOutputFolder(), "/home/someone/videoconverter");
  }
  TEnvGuard env{{"HOME", std::nullopt}};
  EXPECT_EQ(platform.FallbackOutputFolder(), PasswordHome() + "/videoconverter");
}

TEST(PlatformFolders, ProgramFolderHoldsTheRunningExecutable) {
  TLinuxPlatform platform;
  const std::string folder = platform.ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(platform.FileExists(folder + "platform_tests"));
}

TEST(PlatformFiles, CreateAndDeleteTempFileProbesWritability) {
  TLinuxPlatform platform;
  TTempDir dir;
  EXPECT_TRUE(platform.CreateAndDeleteTempFile(dir.Path()));
  EXPECT_TRUE(platform.CreateAndDeleteTempFile(dir.Path() + "/"));
  EXPECT_TRUE(FolderEntries(dir.Path()).empty());
  EXPECT_FALSE(platform.CreateAndDeleteTempFile(dir / "missing"));
  EXPECT_FALSE(platform.CreateAndDeleteTempFile(""));
}

TEST(PlatformFiles, CreateAndDeleteTempFileFailsInAReadOnlyFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TLinuxPlatform platform;
  TTempDir dir;
  const std::string readOnly = dir / "ro";
  ASSERT_EQ(::mkdir(readOnly.c_str(), 0555), 0);
  EXPECT_FALSE(platform.CreateAndDeleteTempFile(readOnly));
  ::chmod(readOnly.c_str(), 0755);
}

TEST(PlatformFiles, ForceDirectoriesAndExistence) {
  TLinuxPlatform platform;
  TTempDir dir;
  EXPECT_TRUE(platform.ForceDirectories(dir / "a/b//c/"));
  EXPECT_TRUE(platform.DirectoryExists(dir / "a/b/c"));
  EXPECT_TRUE(platform.ForceDirectories(dir / "a/b"));  // already there
  EXPECT_FALSE(platform.ForceDirectories(""));

  WriteTextFile(dir / "file", "x");
  EXPECT_FALSE(platform.ForceDirectories(dir / "file/sub"));
  EXPECT_FALSE(platform.ForceDirectories(dir / "file"));
  EXPECT_TRUE(platform.FileExists(dir / "file"));
  EXPECT_FALSE(platform.FileExists(dir / "a"));
  EXPECT_FALSE(platform.DirectoryExists(dir / "file"));
  EXPECT_FALSE(platform.FileExists(dir / "missing"));
  EXPECT_FALSE(platform.DirectoryExists(dir / "missing"));
}

TEST(PlatformFiles, TemporaryFolderIsNoCdRomNorIsAMissingPathBelowIt) {
  TLinuxPlatform platform;
  TTempDir dir;
  EXPECT_FALSE(platform.IsCdRom(dir.Path()));
  EXPECT_FALSE(platform.IsCdRom(dir / "not/yet/there"));
}

TEST(PlatformEnvironment, SetEnvIsSeenByGetEnvAndRejectsBadNames) {
  TLinuxPlatform platform;
  TEnvGuard env{{"ONDREL_TEST_VARIABLE", std::nullopt}};
  EXPECT_EQ(platform.GetEnv("ONDREL_TEST_VARIABLE"), "");
  EXPECT_TRUE(platform.SetEnv("ONDREL_TEST_VARIABLE", "a b=c"));
  EXPECT_EQ(platform.GetEnv("ONDREL_TEST_VARIABLE"), "a b=c");
  EXPECT_FALSE(platform.SetEnv("", "x"));
  EXPECT_FALSE(platform.SetEnv("A=B", "x"));
}

TEST(PlatformDesktop, OpenFolderAndUrlStartXdgOpenWithOneArgumentAndReapIt) {
  TFakeProgramFolder programs;
  programs.Add("xdg-open");
  TEnvGuard env{{"PATH", programs.Path()}};
  TLinuxPlatform platform;

  // A shell would split this, expand $HOME and run `id`.
  const std::string folder = "/tmp/my videos/it's \"here\"; $HOME `id`";
  ASSERT_TRUE(platform.OpenFolder(folder));
  EXPECT_EQ(programs.Arguments("xdg-open"), "1\n" + folder + "\n");
  EXPECT_TRUE(WaitFor([] { return ChildCount() == 0; })) << "xdg-open was not reaped";

  ::unlink((programs.Path() + "/xdg-open.done").c_str());
  ASSERT_TRUE(platform.OpenFolder("-folder"));
  EXPECT_EQ(programs.Arguments("xdg-open"), "1\n./-folder\n");

  ::unlink((programs.Path() + "/xdg-open.done").c_str());
  ASSERT_TRUE(platform.OpenUrl("https://example.org/a?b=1&c=2"));
  EXPECT_EQ(programs.Arguments("xdg-open"), "1\nhttps://example.org/a?b=1&c=2\n");
  EXPECT_TRUE(WaitFor([] { return ChildCount() == 0; })) << "xdg-open was not reaped";
}

TEST(PlatformDesktop, OpenFailsWhenNothingCanBeStarted) {
  TTempDir emptyPath;
  TEnvGuard env{{"PATH", emptyPath.Path()}};
  TLinuxPlatform platform;
  EXPECT_FALSE(platform.OpenFolder("/tmp"));
  EXPECT_FALSE(platform.OpenUrl("https://example.org/"));
  EXPECT_FALSE(platform.OpenFolder(""));
  EXPECT_FALSE(platform.OpenUrl("--help"));
}

TEST(PlatformDesktop, ShutdownIsOnlyReportedWhenSuppressed) {
  // The stand-in systemctl on PATH would catch a start that must not happen.
  TFakeProgramFolder programs;
  programs.Add("systemctl");
  TEnvGuard env{{"ONDREL_NO_SHUTDOWN", "1"}, {"PATH", programs.Path()}};
  TLinuxPlatform platform;
  for (const bool force : {false, true}) {
    ::testing::internal::CaptureStderr();
    const bool result = platform.Shutdown(force);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "shutdown requested (ONDREL_NO_SHUTDOWN=1)\n");
    EXPECT_TRUE(result);
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(programs.WasCalled("systemctl"));
  EXPECT_EQ(ChildCount(), 0);
}

namespace {

int ThreadNice() {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  return errno == 0 ? nice : -100;
}

int ThreadPolicy() {
  int policy = -1;
  sched_param param {};
  pthread_getschedparam(pthread_self(), &policy, &param);
  return policy;
}

}  // namespace

TEST(PlatformThreads, LoweredPriorityAffectsOnlyTheCallingThread) {
  TLinuxPlatform platform;
  const int mainNice = ThreadNice();
  for (const auto& [priority, nice] :
       {std::pair{TThreadPriority::tpLowest, 19}, std::pair{TThreadPriority::tpLower, 10}}) {
    bool result = false;
    int seen = -100;
    int policy = -1;
    std::thread([&] {
      result = platform.SetCurrentThreadPriority(priority);
      seen = ThreadNice();
      policy = ThreadPolicy();
    }).join();
    EXPECT_TRUE(result);
    EXPECT_EQ(seen, nice);
    EXPECT_EQ(policy, SCHED_OTHER);
  }
  EXPECT_EQ(ThreadNice(), mainNice);
}

TEST(PlatformThreads, IdleAndBackToNormalReportWhatHappened) {
  TLinuxPlatform platform;
  std::thread([&] {
    EXPECT_TRUE(platform.SetCurrentThreadPriority(TThreadPriority::tpIdle));
    EXPECT_EQ(ThreadPolicy(), SCHED_IDLE);
    // Raising needs privilege; whatever the answer, it must match the thread's state.
    const bool normal = platform.SetCurrentThreadPriority(TThreadPriority::tpNormal);
    EXPECT_EQ(normal, ThreadPolicy() == SCHED_OTHER && ThreadNice() == 0);
  }).join();
  std::thread([&] {
    ASSERT_TRUE(platform.SetCurrentThreadPriority(TThreadPriority::tpLower));
    const bool normal = platform.SetCurrentThreadPriority(TThreadPriority::tpNormal);
    EXPECT_EQ(normal, ThreadNice() == 0);
  }).join();
  EXPECT_NE(ThreadPolicy(), SCHED_IDLE);
}

TEST(PlatformVersion, VersionStringJoinsMinorReleaseAndBuild) {
  struct TCase {
    TProgramVersion Version;
    const char* Expected;
  };
  for (const TCase& c : {TCase{{3, 6, 0, 0}, " 3.600 "}, TCase{{1, 5, 0, 0}, " 1.500 "},
                         TCase{{2, 10, 3, 12}, " 2.10312 "}}) {
    TFakePlatform fake;
    fake.VersionResult = c.Version;
    TPlatformOverride installed(fake);
    EXPECT_EQ(GetVersionString(), c.Expected);
  }
}

TEST(PlatformAccessor, SetPlatformInstallsAndNullRestoresLinux) {
  EXPECT_NE(dynamic_cast<TLinuxPlatform*>(&Platform()), nullptr);
  TFakePlatform fake;
  SetPlatform(&fake);
  EXPECT_EQ(&Platform(), &fake);
  SetPlatform(nullptr);
  EXPECT_NE(&Platform(), &fake);
  EXPECT_EQ(dynamic_cast<TFakePlatform*>(&Platform()), nullptr);
  {
    TPlatformOverride installed(fake);
    EXPECT_EQ(&Platform(), &fake);
  }
  EXPECT_NE(&Platform(), &fake);
}

TEST(FakePlatformTest, RecordsRequestsAndAnswersFromItsFields) {
  TTempDir dir;
  TFakePlatform fake(dir.Path());
  fake.WritableFolders["/ro"] = false;
  fake.ShutdownResult = false;
  TPlatformOverride installed(fake);

  EXPECT_EQ(Platform().DataFolder(), dir.Path() + "/data/");
  EXPECT_EQ(Platform().DefaultOutputFolder(), dir.Path() + "/Videos/videoconverter");
  EXPECT_FALSE(Platform().CreateAndDeleteTempFile("/ro"));
  EXPECT_TRUE(Platform().CreateAndDeleteTempFile("/elsewhere"));
  EXPECT_TRUE(Platform().OpenFolder("/out"));
  EXPECT_FALSE(Platform().Shutdown(true));
  EXPECT_TRUE(Platform().SetCurrentThreadPriority(TThreadPriority::tpIdle));

  EXPECT_EQ(fake.OpenedFolders, std::vector<std::string>{"/out"});
  EXPECT_TRUE(fake.OpenedUrls.empty());
  EXPECT_EQ(fake.ShutdownCalls, std::vector<bool>{true});
  EXPECT_EQ(fake.PriorityCalls, std::vector<TThreadPriority>{TThreadPriority::tpIdle});
  EXPECT_EQ(ThreadPolicy(), SCHED_OTHER);  // the fake changes nothing
  EXPECT_TRUE(FolderEntries(dir.Path()).empty());
}
