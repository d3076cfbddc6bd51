// Reading and replacing whole files.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Replaces the file at `path` with `data` so that readers see either the old or the new
// content, never a mix. The data goes to a temporary ".<name>.XXXXXX" in the same folder,
// is flushed to disk, gets the old file's permission bits (0644 less the umask for a new
// file) and is then renamed over the target. A symbolic link is followed, so the file it
// points to is replaced and the link stays. `beforeRename` runs just before the rename;
// when it returns false the write is abandoned. On any failure the temporary is removed,
// the target is untouched and the result is false. Missing parent folders are not created.
bool AtomicWriteFile(const std::string& path, std::string_view data,
                     const std::function<bool()>& beforeRename = {});

enum class TReadResult { rrOk, rrMissing, rrError };

// Reads a whole regular file into `data`. rrMissing when nothing exists at `path`; rrError
// when it cannot be read, is not a regular file (a folder, a pipe) or is longer than maxBytes.
// `data` is empty unless the result is rrOk.
TReadResult ReadWholeFile(const std::string& path, std::string& data, std::size_t maxBytes);
