#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

TTempDir::TTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ondrel-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
  Folder = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them writable so removal succeeds.
  for (auto it = std::filesystem::recursive_directory_iterator(Folder, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
    if (it->is_directory(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(Folder, ignored);
}
