// The INI store behind the settings file and the format store.
#pragma once

#include <string>
#include <utility>
#include <vector>

// A file of "[section]" lines and "key=value" lines.
//
// Reading: section and key names match regardless of ASCII letter case; names and values are
// trimmed of surrounding blanks. Lines before the first section, comments (';' or '#' first)
// and lines without '=' are ignored. A section that appears twice reads as one; of two equal
// keys the first wins. Every call reads the file anew, nothing is cached; a missing or
// unreadable file reads as empty, so callers get their defaults. Values are bytes: UTF-8 and
// anything else pass through untouched.
//
// Writing: each call rewrites the file at once and atomically (see AtomicWriteFile), changing
// only the lines concerned; every other line keeps its bytes and its place. An existing key
// keeps its line and its spelling; a new key goes after the last key of its section; a new
// section goes at the end after a blank line. A rewritten file keeps its dominant line ending
// (CRLF or LF; LF for a new file). The file is created when missing, its folder is not.
// Writes within this process are serialised, so concurrent writers never lose an update.
// Values cannot span lines: CR and LF in a written value become spaces, and leading or
// trailing blanks of a value do not survive a read. Names must be non-empty one-line texts;
// a key cannot contain '=' nor start with ';', '#' or '['; a section cannot contain ']'.
// Writes return false when a name is invalid or the file cannot be read or written.
class TIniFile {
 public:
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return FFileName; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Optional sign and decimal digits that fit in int; anything else gives the default.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // An integer other than 0 is true, 0 is false, anything else gives the default.
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // Key names of a section in file order, each once, spelled as at its first occurrence.
  std::vector<std::string> ReadSection(const std::string& section) const;
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section) const;
  // Section names in file order, each once.
  std::vector<std::string> ReadSections() const;

  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInteger(const std::string& section, const std::string& key, int value);
  bool WriteBool(const std::string& section, const std::string& key, bool value);  // "1" / "0"
  // Both succeed when there is nothing to remove.
  bool DeleteKey(const std::string& section, const std::string& key);
  bool EraseSection(const std::string& section);

 private:
  std::string FFileName;

  std::string LoadText() const;
};
