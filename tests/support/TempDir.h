// A unique temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  // The folder, without a trailing "/".
  const std::string& Path() const { return Folder; }
  std::string File(const std::string& name) const { return Folder + "/" + name; }

 private:
  std::string Folder;
};
