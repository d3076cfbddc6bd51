#include "IniFile.h"

#include <charconv>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "AtomicFile.h"

namespace {

// Far above any real settings file; a bigger one is treated as unreadable rather than
// loaded into memory on every call.
constexpr std::size_t KMaxFileBytes = 64u << 20;

// '\r' counts as a blank so that CRLF lines read like LF lines.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = LowerAscii(c);
  return folded;
}

enum class TLineKind { lkOther, lkBlank, lkComment, lkSection, lkKey };

struct TLineInfo {
  TLineKind Kind = TLineKind::lkOther;
  std::string_view Name;   // of a section or key
  std::string_view Value;  // of a key
};

TLineInfo ClassifyLine(std::string_view line) {
  std::string_view text = Trim(line);
  if (text.starts_with("\xEF\xBB\xBF")) text = Trim(text.substr(3));  // BOM of Windows editors
  if (text.empty()) return {TLineKind::lkBlank, {}, {}};
  if (text.front() == ';' || text.front() == '#') return {TLineKind::lkComment, {}, {}};
  if (text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return {};
    return {TLineKind::lkSection, Trim(text.substr(1, close - 1)), {}};
  }
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {};
  const std::string_view name = Trim(text.substr(0, equals));
  if (name.empty()) return {};
  return {TLineKind::lkKey, name, Trim(text.substr(equals + 1))};
}

// Calls visit(line) for each line, without its '\n'.
template <class TVisit>
void ForEachLine(std::string_view text, TVisit&& visit) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    visit(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

// Calls visit(name, value) for each key line under any "[section]" header.
template <class TVisit>
void ForEachKey(std::string_view text, std::string_view section, TVisit&& visit) {
  bool inside = false;
  ForEachLine(text, [&](std::string_view line) {
    const TLineInfo info = ClassifyLine(line);
    if (info.Kind == TLineKind::lkSection) inside = SameName(info.Name, section);
    else if (inside && info.Kind == TLineKind::lkKey) visit(info.Name, info.Value);
  });
}

std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
  std::optional<std::string> found;
  ForEachKey(text, section, [&](std::string_view name, std::string_view value) {
    if (!found && SameName(name, key)) found.emplace(value);
  });
  return found;
}

std::optional<int> ParseInteger(std::string_view text) {
  text = Trim(text);
  // from_chars takes '-' but not '+'; "+-1" must still be rejected.
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-')) return std::nullopt;
  }
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

std::string TIniFile::LoadText() const {
  std::string text;
  ReadWholeFile(FFileName, text, KMaxFileBytes);  // stays empty when it cannot be read
  return text;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  return FindValue(LoadText(), Trim(section), Trim(key)).value_or(defaultValue);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
  const auto text = FindValue(LoadText(), Trim(section), Trim(key));
  return text ? ParseInteger(*text).value_or(defaultValue) : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
  const auto text = FindValue(LoadText(), Trim(section), Trim(key));
  const auto number = text ? ParseInteger(*text) : std::nullopt;
  return number ? *number != 0 : defaultValue;
}

bool TIniFile::SectionExists(const std::string& section) const {
  bool found = false;
  ForEachLine(LoadText(), [&](std::string_view line) {
    const TLineInfo info = ClassifyLine(line);
    found = found || (info.Kind == TLineKind::lkSection && SameName(info.Name, Trim(section)));
  });
  return found;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return FindValue(LoadText(), Trim(section), Trim(key)).has_value();
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> names;
  for (auto& [name, value] : ReadSectionValues(section)) names.push_back(std::move(name));
  return names;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSectionValues(
    const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> values;
  std::unordered_set<std::string> seen;
  ForEachKey(LoadText(), Trim(section), [&](std::string_view name, std::string_view value) {
    if (seen.insert(FoldedName(name)).second) values.emplace_back(name, value);
  });
  return values;
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  ForEachLine(LoadText(), [&](std::string_view line) {
    const TLineInfo info = ClassifyLine(line);
    if (info.Kind == TLineKind::lkSection && seen.insert(FoldedName(info.Name)).second)
      names.emplace_back(info.Name);
  });
  return names;
}

// ---- Writing ----

namespace {

struct TEditLine {
  std::string Body;    // without the line ending
  std::string Ending;  // "\n", "\r\n", or "" for a last line without one
};

struct TDocument {
  std::vector<TEditLine> Lines;
  std::string NewLine = "\n";  // for lines added to this file
};

TDocument ParseDocument(std::string_view text) {
  TDocument document;
  std::size_t crlf = 0;
  std::size_t lf = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      document.Lines.push_back({std::string(text), ""});
      break;
    }
    const bool cr = end > 0 && text[end - 1] == '\r';
    ++(cr ? crlf : lf);
    document.Lines.push_back({std::string(text.substr(0, cr ? end - 1 : end)), cr ? "\r\n" : "\n"});
    text.remove_prefix(end + 1);
  }
  if (crlf > lf) document.NewLine = "\r\n";
  return document;
}

std::string JoinDocument(const TDocument& document) {
  std::string text;
  for (const TEditLine& line : document.Lines) text += line.Body + line.Ending;
  return text;
}

TLineKind KindOf(const TEditLine& line) {
  return ClassifyLine(line.Body).Kind;
}

bool IsKey(const TEditLine& line, std::string_view key) {
  const TLineInfo info = ClassifyLine(line.Body);
  return info.Kind == TLineKind::lkKey && SameName(info.Name, key);
}

// One "[section]" header (Header) and the lines up to the next header (End, exclusive).
struct TBlock {
  std::size_t Header;
  std::size_t End;
};

std::vector<TBlock> FindBlocks(const TDocument& document, std::string_view section) {
  std::vector<TBlock> blocks;
  bool open = false;
  for (std::size_t i = 0; i < document.Lines.size(); ++i) {
    const TLineInfo info = ClassifyLine(document.Lines[i].Body);
    if (info.Kind != TLineKind::lkSection) continue;
    if (open) blocks.back().End = i;
    open = SameName(info.Name, section);
    if (open) blocks.push_back({i, document.Lines.size()});
  }
  return blocks;
}

void InsertLine(TDocument& document, std::size_t at, std::string body) {
  if (at > 0 && document.Lines[at - 1].Ending.empty()) document.Lines[at - 1].Ending = document.NewLine;
  document.Lines.insert(document.Lines.begin() + static_cast<std::ptrdiff_t>(at),
                        TEditLine{std::move(body), document.NewLine});
}

std::size_t AfterLastKey(const TDocument& document, const TBlock& block) {
  std::size_t at = block.Header + 1;
  for (std::size_t i = block.Header + 1; i < block.End; ++i)
    if (KindOf(document.Lines[i]) == TLineKind::lkKey) at = i + 1;
  return at;
}

// Keeps everything up to the blanks after '=' ("Key = old" becomes "Key = new").
void ReplaceValue(std::string& body, std::string_view value) {
  std::size_t keep = body.find('=') + 1;
  while (keep < body.size() && (body[keep] == ' ' || body[keep] == '\t')) ++keep;
  body.resize(keep);
  body += value;
}

void SetValue(TDocument& document, std::string_view section, std::string_view key,
              std::string_view value) {
  const std::vector<TBlock> blocks = FindBlocks(document, section);
  for (const TBlock& block : blocks)
    for (std::size_t i = block.Header + 1; i < block.End; ++i)
      if (IsKey(document.Lines[i], key)) {
        ReplaceValue(document.Lines[i].Body, value);
        return;
      }
  std::string keyLine = std::string(key) + "=" + std::string(value);
  if (!blocks.empty()) {
    InsertLine(document, AfterLastKey(document, blocks.front()), std::move(keyLine));
    return;
  }
  if (!document.Lines.empty() && KindOf(document.Lines.back()) != TLineKind::lkBlank)
    InsertLine(document, document.Lines.size(), "");
  InsertLine(document, document.Lines.size(), "[" + std::string(section) + "]");
  InsertLine(document, document.Lines.size(), std::move(keyLine));
}

// Every occurrence goes: a later duplicate would otherwise become visible.
void RemoveKey(TDocument& document, std::string_view section, std::string_view key) {
  const std::vector<TBlock> blocks = FindBlocks(document, section);
  for (auto block = blocks.rbegin(); block != blocks.rend(); ++block)
    for (std::size_t i = block->End; i-- > block->Header + 1;)
      if (IsKey(document.Lines[i], key))
        document.Lines.erase(document.Lines.begin() + static_cast<std::ptrdiff_t>(i));
}

// Removes each header with its lines up to the last key or other content line; blank lines
// and comments after that stay, as they usually introduce the next section.
void RemoveSection(TDocument& document, std::string_view section) {
  const std::vector<TBlock> blocks = FindBlocks(document, section);
  for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
    std::size_t last = block->Header;
    for (std::size_t i = block->Header + 1; i < block->End; ++i) {
      const TLineKind kind = KindOf(document.Lines[i]);
      if (kind == TLineKind::lkKey || kind == TLineKind::lkOther) last = i;
    }
    const auto first = document.Lines.begin() + static_cast<std::ptrdiff_t>(block->Header);
    document.Lines.erase(first, first + static_cast<std::ptrdiff_t>(last - block->Header + 1));
  }
}

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

// Read, change and replace the file as one step against other writers of this process.
bool ModifyFile(const std::string& fileName, const std::function<void(TDocument&)>& change) {
  std::lock_guard lock(WriteMutex());
  std::string text;
  const TReadResult read = ReadWholeFile(fileName, text, KMaxFileBytes);
  if (read == TReadResult::rrError) return false;  // never replace what could not be read
  TDocument document = ParseDocument(text);
  change(document);
  const std::string updated = JoinDocument(document);
  if (updated == text) return true;  // also keeps a missing file missing
  return AtomicWriteFile(fileName, updated);
}

bool ValidSectionName(std::string_view name) {
  return !name.empty() && name.find_first_of("]\r\n") == std::string_view::npos;
}

bool ValidKeyName(std::string_view name) {
  return !name.empty() && name.find_first_of("=\r\n") == std::string_view::npos &&
         name.front() != ';' && name.front() != '#' && name.front() != '[';
}

std::string OneLine(std::string value) {
  for (char& c : value)
    if (c == '\r' || c == '\n') c = ' ';
  return value;
}

}  // namespace

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  if (!ValidSectionName(sectionName) || !ValidKeyName(keyName)) return false;
  const std::string line = OneLine(value);
  return ModifyFile(FFileName, [&](TDocument& document) { SetValue(document, sectionName, keyName, line); });
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return WriteString(section, key, std::string(buffer, result.ptr));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  return ModifyFile(FFileName, [&](TDocument& document) { RemoveKey(document, sectionName, keyName); });
}

bool TIniFile::EraseSection(const std::string& section) {
  const std::string_view sectionName = Trim(section);
  return ModifyFile(FFileName, [&](TDocument& document) { RemoveSection(document, sectionName); });
}
