// Output file names: folder + source name without its last extension + "_(new)" + suffix,
// numbered "_(new_1)", "_(new_2)", ... when the name is taken.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "SettingsStore.h"

// The names handed out during one conversion run. The files do not exist until their jobs
// run, so without it two jobs of one run with the same source name would get the same output
// name and the second would overwrite the first. Safe to share between threads.
class TOutputNameReserver {
 public:
  bool IsReserved(const std::string& path) const;
  // False when the name was already reserved.
  bool Reserve(const std::string& path);
  void Clear();

 private:
  mutable std::mutex FMutex;
  std::set<std::string> FNames;
};

// `suffix` goes after the name, normally "." + extension. The folder is "OutPutDir" of the
// settings (default: the platform's default output folder). When that folder is missing and
// cannot be created, the user is told through the dialog seam, the default folder is created
// and stored as "OutPutDir"; the name is still formed from the folder as read. A name is
// taken when something of that name exists or `run` has handed it out; with `run` the
// returned name is reserved in it.
std::string MakeOutputFileName(TSettingsStore& settings, const std::string& sourcePath, const std::string& suffix,
                               TOutputNameReserver* run = nullptr);
