// Temporary folders, environment overrides and file helpers for the platform tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A fresh folder under $TMPDIR (or /tmp), removed with its content at the end.
class TTempDir {
 public:
  TTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ondrel-platform-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

// Sets (a value) or unsets (nullopt) environment variables and restores them afterwards.
class TEnvGuard {
 public:
  TEnvGuard(std::initializer_list<std::pair<const char*, std::optional<std::string>>> values) {
    for (const auto& [name, value] : values) Set(name, value);
  }
  ~TEnvGuard() {
    for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) Apply(it->first, it->second);
  }
  TEnvGuard(const TEnvGuard&) = delete;
  TEnvGuard& operator=(const TEnvGuard&) = delete;

  void Set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    Apply(name, value);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;

  static void Apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
};

inline void WriteTextFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}
