// A platform for tests: answers from settable fields, records the calls that would reach the
// desktop or the system, and never starts a program. Environment and file queries are the
// real Linux ones, so tests can work in temporary folders.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "PlatformLinux.h"

class TFakePlatform : public TLinuxPlatform {
 public:
  // With a root folder ("/tmp/x/") the folders default to root + "data/", root + "bin/",
  // root + "Videos/videoconverter" and root + "videoconverter"; without one they are empty.
  explicit TFakePlatform(const std::string& root = {});

  // Answers. Set them before the code under test runs.
  std::string DataFolderResult;
  std::string ProgramFolderResult;
  std::string DefaultOutputFolderResult;
  std::string FallbackOutputFolderResult;
  std::string LoginUserNameResult = "tester";
  std::map<std::string, bool> WritableFolders;  // CreateAndDeleteTempFile per folder ...
  bool WritableByDefault = true;                // ... and for any other folder
  bool IsCdRomResult = false;
  bool OpenResult = true;
  bool ShutdownResult = true;
  bool PriorityResult = true;
  TProgramVersion VersionResult;  // the build's own version unless changed

  // Records, in call order. Read them after the calling threads have finished.
  std::vector<std::string> OpenedFolders;
  std::vector<std::string> OpenedUrls;
  std::vector<bool> ShutdownCalls;  // the `force` argument of each call
  std::vector<TThreadPriority> PriorityCalls;

  std::string DataFolder() const override { return DataFolderResult; }
  std::string ProgramFolder() const override { return ProgramFolderResult; }
  std::string DefaultOutputFolder() const override { return DefaultOutputFolderResult; }
  std::string FallbackOutputFolder() const override { return FallbackOutputFolderResult; }
  bool CreateAndDeleteTempFile(const std::string& folder) const override;
  std::string LoginUserName() const override { return LoginUserNameResult; }
  bool IsCdRom(const std::string&) const override { return IsCdRomResult; }

  bool OpenFolder(const std::string& path) override;
  bool OpenUrl(const std::string& url) override;
  bool Shutdown(bool force) override;
  bool SetCurrentThreadPriority(TThreadPriority priority) override;

  TProgramVersion ProgramVersion() const override { return VersionResult; }

 private:
  std::mutex FRecordMutex;
};

// Installs a platform for the lifetime of the object and then reinstalls the previous one.
class TPlatformOverride {
 public:
  explicit TPlatformOverride(TPlatform& platform) : FPrevious(&Platform()) { SetPlatform(&platform); }
  ~TPlatformOverride() { SetPlatform(FPrevious); }
  TPlatformOverride(const TPlatformOverride&) = delete;
  TPlatformOverride& operator=(const TPlatformOverride&) = delete;

 private:
  TPlatform* FPrevious;
};
