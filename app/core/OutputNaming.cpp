#include "OutputNaming.h"

#include "DialogSeam.h"
#include "platform/Platform.h"

bool TOutputNameReserver::IsReserved(const std::string& path) const {
  std::lock_guard lock(FMutex);
  return FNames.count(path) != 0;
}

bool TOutputNameReserver::Reserve(const std::string& path) {
  std::lock_guard lock(FMutex);
  return FNames.insert(path).second;
}

void TOutputNameReserver::Clear() {
  std::lock_guard lock(FMutex);
  FNames.clear();
}

namespace {

// The file name without its folder and without its last extension ("a.b.avi" gives "a.b").
std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

void EnsureOutputFolder(TSettingsStore& settings, const std::string& folder) {
  if (Platform().DirectoryExists(folder) || Platform().ForceDirectories(folder)) return;
  const std::string fallback = Platform().DefaultOutputFolder();
  DialogSeam().ShowMessage(
      "Warning", "Cannot create output directory:" + folder + ".It will create default directory " + fallback + "!",
      TMessageIcon::miWarning);
  Platform().ForceDirectories(fallback);
  settings.SetOutPutDir(fallback);
}

}  // namespace

std::string MakeOutputFileName(TSettingsStore& settings, const std::string& sourcePath, const std::string& suffix,
                               TOutputNameReserver* run) {
  std::string folder = settings.OutPutDir();
  EnsureOutputFolder(settings, folder);
  if (folder.empty() || folder.back() != '/') folder += '/';
  const std::string base = folder + BaseName(sourcePath);

  // A folder of that name blocks the file as much as a file does. Reserving is the last test,
  // so two callers sharing `run` never both get a name.
  for (int n = 0;; ++n) {
    const std::string candidate =
        n == 0 ? base + "_(new)" + suffix : base + "_(new_" + std::to_string(n) + ")" + suffix;
    if (Platform().FileExists(candidate) || Platform().DirectoryExists(candidate)) continue;
    if (run && !run->Reserve(candidate)) continue;
    return candidate;
  }
}
