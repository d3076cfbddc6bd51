#include "FakePlatform.h"

TFakePlatform::TFakePlatform(const std::string& root) : VersionResult(TLinuxPlatform::ProgramVersion()) {
  if (root.empty()) return;
  const std::string base = root.back() == '/' ? root : root + "/";
  DataFolderResult = base + "data/";
  ProgramFolderResult = base + "bin/";
  DefaultOutputFolderResult = base + "Videos/videoconverter";
  FallbackOutputFolderResult = base + "videoconverter";
}

bool TFakePlatform::CreateAndDeleteTempFile(const std::string& folder) const {
  const auto found = WritableFolders.find(folder);
  return found != WritableFolders.end() ? found->second : WritableByDefault;
}

bool TFakePlatform::OpenFolder(const std::string& path) {
  std::lock_guard lock(FRecordMutex);
  OpenedFolders.push_back(path);
  return OpenResult;
}

bool TFakePlatform::OpenUrl(const std::string& url) {
  std::lock_guard lock(FRecordMutex);
  OpenedUrls.push_back(url);
  return OpenResult;
}

bool TFakePlatform::Shutdown(bool force) {
  std::lock_guard lock(FRecordMutex);
  ShutdownCalls.push_back(force);
  return ShutdownResult;
}

bool TFakePlatform::SetCurrentThreadPriority(TThreadPriority priority) {
  std::lock_guard lock(FRecordMutex);
  PriorityCalls.push_back(priority);
  return PriorityResult;
}
