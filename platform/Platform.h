// The program's only seam to the operating system. Everything else asks Platform(), so tests
// can install a fake (see FakePlatform.h) and nothing in a test reaches the real desktop.
#pragma once

#include <string>

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal };

struct TProgramVersion {
  int Major = 0;
  int Minor = 0;
  int Release = 0;
  int Build = 0;
};

// Every member may be called from any thread.
//
// Folder rule: DataFolder() and ProgramFolder() end with "/" because file names are appended
// to them. DefaultOutputFolder() and FallbackOutputFolder() never end with "/" because they
// are stored as a setting value and shown to the user as they are ("~/Videos/videoconverter").
class TPlatform {
 public:
  virtual ~TPlatform() = default;

  // All-users application data: $ONDREL_DATA_DIR, else $XDG_CONFIG_HOME/ondrelxvidconverter/,
  // else ~/.config/ondrelxvidconverter/. Not created here (see ForceDirectories).
  virtual std::string DataFolder() const = 0;
  // Folder of the running executable; empty when it cannot be found.
  virtual std::string ProgramFolder() const = 0;
  // The user's videos folder + "/videoconverter".
  virtual std::string DefaultOutputFolder() const = 0;
  // The home folder + "/videoconverter", for when the default one cannot be used.
  virtual std::string FallbackOutputFolder() const = 0;

  // True when a file can be created in and removed from `folder`.
  virtual bool CreateAndDeleteTempFile(const std::string& folder) const = 0;
  // Name of the effective user; empty when unknown.
  virtual std::string LoginUserName() const = 0;
  // True when `folder` (or its nearest existing parent) lies on an ISO 9660 or UDF medium.
  virtual bool IsCdRom(const std::string& folder) const = 0;

  // Hand a folder or URL to the desktop; these do not wait for the program they start.
  // False when it cannot be started.
  virtual bool OpenFolder(const std::string& path) = 0;
  virtual bool OpenUrl(const std::string& url) = 0;
  // Ask the system to power off (`force`: without stopping services cleanly).
  // With ONDREL_NO_SHUTDOWN=1 in the environment only a line on stderr is written.
  virtual bool Shutdown(bool force) = 0;
  // Scheduling of the calling thread. Raising a lowered priority needs privilege and
  // returns false without it.
  virtual bool SetCurrentThreadPriority(TThreadPriority priority) = 0;

  virtual TProgramVersion ProgramVersion() const = 0;

  // Environment access that is safe against concurrent SetEnv calls made through here.
  // GetEnv gives "" for an unset variable.
  virtual std::string GetEnv(const std::string& name) const = 0;
  virtual bool SetEnv(const std::string& name, const std::string& value) = 0;
  // FileExists: a regular file (links followed); DirectoryExists: a folder.
  virtual bool FileExists(const std::string& path) const = 0;
  virtual bool DirectoryExists(const std::string& path) const = 0;
  // Creates `path` with all missing parents; true when it is a folder afterwards.
  virtual bool ForceDirectories(const std::string& path) = 0;
};

// The installed platform: the Linux one unless SetPlatform installed another.
TPlatform& Platform();
// Installs `platform` (not owned; it must outlive its use). nullptr restores the Linux one.
void SetPlatform(TPlatform* platform);

// " major.minorreleasebuild " with no separator after the minor number, e.g. " 1.500 " for
// 1.5.0.0, from Platform().ProgramVersion().
std::string GetVersionString();
