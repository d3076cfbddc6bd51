// The platform on Linux (POSIX, procfs, XDG conventions).
#pragma once

#include "Platform.h"

class TLinuxPlatform : public TPlatform {
 public:
  std::string DataFolder() const override;
  std::string ProgramFolder() const override;
  std::string DefaultOutputFolder() const override;
  std::string FallbackOutputFolder() const override;

  bool CreateAndDeleteTempFile(const std::string& folder) const override;
  std::string LoginUserName() const override;
  bool IsCdRom(const std::string& folder) const override;

  bool OpenFolder(const std::string& path) override;
  bool OpenUrl(const std::string& url) override;
  bool Shutdown(bool force) override;
  bool SetCurrentThreadPriority(TThreadPriority priority) override;

  TProgramVersion ProgramVersion() const override;

  std::string GetEnv(const std::string& name) const override;
  bool SetEnv(const std::string& name, const std::string& value) override;
  bool FileExists(const std::string& path) const override;
  bool DirectoryExists(const std::string& path) const override;
  bool ForceDirectories(const std::string& path) override;
};
