#include "PlatformLinux.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/magic.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <spawn.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "AtomicFile.h"

#if !defined(ONDREL_VERSION_MAJOR) || !defined(ONDREL_VERSION_MINOR) || \
    !defined(ONDREL_VERSION_RELEASE) || !defined(ONDREL_VERSION_BUILD)
#error "The build must define ONDREL_VERSION_MAJOR, _MINOR, _RELEASE and _BUILD"
#endif

extern char** environ;

namespace {

const char* const KProgramFolderName = "ondrelxvidconverter";
const char* const KOutputFolderName = "videoconverter";

// getenv and setenv race with each other; every access from this library goes through here.
std::mutex& EnvMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string EnvValue(const std::string& name) {
  std::lock_guard lock(EnvMutex());
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? value : "";
}

struct TUserEntry {
  std::string Name;
  std::string Home;
};

std::optional<TUserEntry> EffectiveUser() {
  std::vector<char> buffer(16 * 1024);
  for (;;) {
    passwd entry {};
    passwd* found = nullptr;
    const int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return std::nullopt;
    return TUserEntry{entry.pw_name ? entry.pw_name : "", entry.pw_dir ? entry.pw_dir : ""};
  }
}

std::string HomeFolder() {
  std::string home = EnvValue("HOME");
  if (!home.empty()) return home;
  const auto user = EffectiveUser();
  return user ? user->Home : std::string();
}

std::string WithoutTrailingSlash(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return WithoutTrailingSlash(folder) + "/" + name;
}

std::string ConfigHome() {
  const std::string xdg = EnvValue("XDG_CONFIG_HOME");
  // The XDG rules say a relative value is invalid and must be ignored.
  if (!xdg.empty() && xdg.front() == '/') return xdg;
  return JoinPath(HomeFolder(), ".config");
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// A shell word as user-dirs.dirs writes it: "quoted with \ escapes" or bare up to a blank.
std::string ShellWord(std::string_view text) {
  std::string word;
  if (text.empty() || text.front() != '"') return std::string(text.substr(0, text.find_first_of(" \t")));
  for (std::size_t i = 1; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    word += text[i];
  }
  return word;
}

std::optional<std::string> ExpandHome(const std::string& value, const std::string& home) {
  for (const std::string_view var : {"$HOME", "${HOME}"}) {
    if (value.starts_with(var) && (value.size() == var.size() || value[var.size()] == '/'))
      return WithoutTrailingSlash(home) + value.substr(var.size());
  }
  if (value.starts_with('/')) return value;
  return std::nullopt;  // relative entries are not valid there
}

// The value of an XDG_VIDEOS_DIR="$HOME/Videos" line, or nothing for any other line.
std::optional<std::string> VideosEntry(std::string_view line, const std::string& home) {
  constexpr std::string_view key = "XDG_VIDEOS_DIR";
  line = TrimBlanks(line);
  if (!line.starts_with(key)) return std::nullopt;
  line = TrimBlanks(line.substr(key.size()));
  if (!line.starts_with('=')) return std::nullopt;
  return ExpandHome(ShellWord(TrimBlanks(line.substr(1))), home);
}

std::optional<std::string> VideosFromUserDirs(const std::string& home) {
  std::string text;
  if (ReadWholeFile(JoinPath(ConfigHome(), "user-dirs.dirs"), text, 1 << 20) != TReadResult::rrOk)
    return std::nullopt;
  std::optional<std::string> result;
  std::string_view rest = text;
  while (!rest.empty()) {  // like the shell that sources the file, the last entry wins
    const std::size_t end = rest.find('\n');
    if (auto entry = VideosEntry(rest.substr(0, end), home)) result = std::move(entry);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return result;
}

std::string VideosFolder() {
  const std::string fromEnv = EnvValue("XDG_VIDEOS_DIR");
  if (!fromEnv.empty()) return fromEnv;
  const std::string home = HomeFolder();
  if (auto fromFile = VideosFromUserDirs(home)) return *fromFile;
  return JoinPath(home, "Videos");
}

std::string ExecutablePath() {
  std::string buffer(256, '\0');
  while (buffer.size() <= (1u << 16)) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

std::string ParentFolder(const std::string& path) {
  std::string trimmed = WithoutTrailingSlash(path);
  if (trimmed.empty()) return "/";
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : trimmed.substr(0, slash);
}

}  // namespace

std::string TLinuxPlatform::DataFolder() const {
  const std::string fromEnv = EnvValue("ONDREL_DATA_DIR");
  if (!fromEnv.empty()) return fromEnv.back() == '/' ? fromEnv : fromEnv + "/";
  return JoinPath(ConfigHome(), KProgramFolderName) + "/";
}

std::string TLinuxPlatform::ProgramFolder() const {
  const std::string executable = ExecutablePath();
  const std::size_t slash = executable.rfind('/');
  return slash == std::string::npos ? std::string() : executable.substr(0, slash + 1);
}

std::string TLinuxPlatform::DefaultOutputFolder() const {
  return JoinPath(VideosFolder(), KOutputFolderName);
}

std::string TLinuxPlatform::FallbackOutputFolder() const {
  return JoinPath(HomeFolder(), KOutputFolderName);
}

bool TLinuxPlatform::CreateAndDeleteTempFile(const std::string& folder) const {
  if (folder.empty()) return false;
  std::string path = JoinPath(folder, "DAXXXXXX");
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool closed = close(fd) == 0;
  const bool removed = unlink(path.c_str()) == 0;
  return closed && removed;
}

std::string TLinuxPlatform::LoginUserName() const {
  const auto user = EffectiveUser();
  return user ? user->Name : std::string();
}

bool TLinuxPlatform::IsCdRom(const std::string& folder) const {
  std::string probe = folder.empty() ? "." : folder;
  for (;;) {
    struct statfs info {};
    if (statfs(probe.c_str(), &info) == 0)
      return info.f_type == ISOFS_SUPER_MAGIC || info.f_type == UDF_SUPER_MAGIC;
    std::string parent = ParentFolder(probe);
    if (parent == probe) return false;
    probe = std::move(parent);
  }
}

namespace {

class TSpawnAttributes {
 public:
  TSpawnAttributes() {
    posix_spawnattr_init(&FAttr);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    // The child must not inherit our blocked or ignored signals, nor our session: it is a
    // desktop program that outlives us and must not get our terminal's Ctrl+C.
    posix_spawnattr_setsigmask(&FAttr, &none);
    posix_spawnattr_setsigdefault(&FAttr, &all);
    posix_spawnattr_setflags(&FAttr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  }
  ~TSpawnAttributes() { posix_spawnattr_destroy(&FAttr); }
  TSpawnAttributes(const TSpawnAttributes&) = delete;
  TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;
  const posix_spawnattr_t* Get() const { return &FAttr; }

 private:
  posix_spawnattr_t FAttr;
};

void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until we exit; the start still succeeded.
  }
}

// Starts args[0], searched in PATH, with args as its argument vector (no shell involved)
// and does not wait for it.
bool SpawnDetached(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const TSpawnAttributes attributes;
  pid_t pid = 0;
  int rc = 0;
  {
    std::lock_guard lock(EnvMutex());  // posix_spawnp reads PATH and environ
    rc = posix_spawnp(&pid, argv[0], nullptr, attributes.Get(), argv.data(), environ);
  }
  if (rc != 0) return false;
  ReapInBackground(pid);
  return true;
}

}  // namespace

bool TLinuxPlatform::OpenFolder(const std::string& path) {
  if (path.empty()) return false;
  // xdg-open would take a leading '-' as an option.
  return SpawnDetached({"xdg-open", path.front() == '-' ? "./" + path : path});
}

bool TLinuxPlatform::OpenUrl(const std::string& url) {
  if (url.empty() || url.front() == '-') return false;
  return SpawnDetached({"xdg-open", url});
}

bool TLinuxPlatform::Shutdown(bool force) {
  if (EnvValue("ONDREL_NO_SHUTDOWN") == "1") {
    std::fputs("shutdown requested (ONDREL_NO_SHUTDOWN=1)\n", stderr);
    return true;
  }
  std::vector<std::string> args{"systemctl", "poweroff"};
  if (force) args.push_back("--force");
  return SpawnDetached(std::move(args));
}

namespace {

bool SetThreadPolicy(int policy) {
  sched_param param {};
  param.sched_priority = 0;
  return pthread_setschedparam(pthread_self(), policy, &param) == 0;
}

// On Linux the niceness of a thread id affects that thread only.
bool SetThreadNice(int nice) {
  return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) == 0;
}

// The niceness goes first: leaving SCHED_IDLE is checked against the current niceness.
bool SetNormalPolicy(int nice) {
  const bool niced = SetThreadNice(nice);
  const bool scheduled = SetThreadPolicy(SCHED_OTHER);
  return niced && scheduled;
}

}  // namespace

bool TLinuxPlatform::SetCurrentThreadPriority(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::tpIdle: return SetThreadPolicy(SCHED_IDLE);
    case TThreadPriority::tpLowest: return SetNormalPolicy(19);
    case TThreadPriority::tpLower: return SetNormalPolicy(10);
    case TThreadPriority::tpNormal: return SetNormalPolicy(0);
  }
  return false;
}

TProgramVersion TLinuxPlatform::ProgramVersion() const {
  return {ONDREL_VERSION_MAJOR, ONDREL_VERSION_MINOR, ONDREL_VERSION_RELEASE, ONDREL_VERSION_BUILD};
}

std::string TLinuxPlatform::GetEnv(const std::string& name) const {
  return EnvValue(name);
}

bool TLinuxPlatform::SetEnv(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  std::lock_guard lock(EnvMutex());
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool TLinuxPlatform::FileExists(const std::string& path) const {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool TLinuxPlatform::DirectoryExists(const std::string& path) const {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool TLinuxPlatform::ForceDirectories(const std::string& path) {
  const std::string target = WithoutTrailingSlash(path);
  if (target.empty()) return DirectoryExists(path);  // "" is nothing, "/" is the root
  // Failures on the way show in the final check; a concurrent creator is fine.
  for (std::size_t slash = target.find('/', 1); slash != std::string::npos;
       slash = target.find('/', slash + 1))
    mkdir(target.substr(0, slash).c_str(), 0777);
  mkdir(target.c_str(), 0777);
  return DirectoryExists(target);
}
