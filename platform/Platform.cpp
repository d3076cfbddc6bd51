#include "Platform.h"

#include <atomic>

#include "PlatformLinux.h"

namespace {

TPlatform& LinuxPlatform() {
  static TLinuxPlatform platform;
  return platform;
}

std::atomic<TPlatform*> GInstalledPlatform{nullptr};

}  // namespace

TPlatform& Platform() {
  TPlatform* installed = GInstalledPlatform.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : LinuxPlatform();
}

void SetPlatform(TPlatform* platform) {
  GInstalledPlatform.store(platform, std::memory_order_release);
}

std::string GetVersionString() {
  const TProgramVersion version = Platform().ProgramVersion();
  return " " + std::to_string(version.Major) + "." + std::to_string(version.Minor) +
         std::to_string(version.Release) + std::to_string(version.Build) + " ";
}
