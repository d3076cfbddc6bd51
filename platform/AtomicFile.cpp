#include "AtomicFile.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "UniqueFd.h"

namespace {

// umask() can only be read by changing it, which races with other threads; the kernel
// reports it in /proc/self/status instead.
mode_t CurrentUmask() {
  std::string status;
  if (ReadWholeFile("/proc/self/status", status, 1 << 20) != TReadResult::rrOk) return 022;
  const std::string_view tag = "\nUmask:";
  const std::size_t at = status.find(tag);
  if (at == std::string::npos) return 022;
  std::size_t begin = at + tag.size();
  while (begin < status.size() && (status[begin] == ' ' || status[begin] == '\t')) ++begin;
  unsigned value = 0;
  const char* first = status.data() + begin;
  const auto [end, error] = std::from_chars(first, status.data() + status.size(), value, 8);
  return error == std::errc() && end != first ? static_cast<mode_t>(value & 0777) : 022;
}

std::string FollowSymlink(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;  // dangling: the link itself is replaced
  std::string result(real);
  std::free(real);
  return result;
}

// Folder without trailing slash ("" for the root folder) and file name.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

mode_t ModeFor(const std::string& target) {
  struct stat info {};
  if (stat(target.c_str(), &info) == 0) return info.st_mode & 07777;
  return 0644 & ~CurrentUmask();
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Makes the rename itself durable; a failure here does not undo the completed write.
void SyncFolder(const std::string& folder) {
  TUniqueFd fd(::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.Get());
}

// Removes the temporary file unless it has been renamed into place.
class TTempFileGuard {
 public:
  explicit TTempFileGuard(std::string path) : FPath(std::move(path)) {}
  ~TTempFileGuard() {
    if (!FPath.empty()) ::unlink(FPath.c_str());
  }
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;
  void Release() { FPath.clear(); }

 private:
  std::string FPath;
};

bool FillTemp(int fd, std::string_view data, mode_t mode) {
  return WriteAll(fd, data) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
}

}  // namespace

bool AtomicWriteFile(const std::string& path, std::string_view data,
                     const std::function<bool()>& beforeRename) {
  const std::string target = FollowSymlink(path);
  const auto [folder, name] = SplitPath(target);
  if (name.empty()) return false;
  std::string tempPath = folder + "/." + name + ".XXXXXX";
  // O_CLOEXEC: a child spawned by another thread meanwhile must not inherit the descriptor.
  TUniqueFd fd(::mkostemp(tempPath.data(), O_CLOEXEC));
  if (!fd) return false;
  TTempFileGuard guard(tempPath);
  if (!FillTemp(fd.Get(), data, ModeFor(target)) || fd.Close() != 0) return false;
  if (beforeRename && !beforeRename()) return false;
  if (::rename(tempPath.c_str(), target.c_str()) != 0) return false;
  guard.Release();
  SyncFolder(folder);
  return true;
}

namespace {

TReadResult ReadAll(int fd, std::string& data, std::size_t maxBytes) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return TReadResult::rrError;
    if (got == 0) return TReadResult::rrOk;
    if (data.size() + static_cast<std::size_t>(got) > maxBytes) return TReadResult::rrError;
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

TReadResult ReadWholeFile(const std::string& path, std::string& data, std::size_t maxBytes) {
  data.clear();
  // O_NONBLOCK keeps the open of a named pipe from waiting for a writer.
  TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return errno == ENOENT || errno == ENOTDIR ? TReadResult::rrMissing : TReadResult::rrError;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return TReadResult::rrError;
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) return TReadResult::rrError;
  const TReadResult result = ReadAll(fd.Get(), data, maxBytes);
  if (result != TReadResult::rrOk) data.clear();
  return result;
}
