// File names the libraries are given, and the "unicode:utf8:" I/O that opens names of that
// form through a custom I/O context (this library generation has no protocol registration).
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct AVFormatContext;
struct AVInputFormat;
struct AVIOContext;
struct AVIOInterruptCB;
struct AVDictionary;

// An open "unicode:utf8:" file and the I/O context the libraries read or write through.
class TUnicodeFile {
 public:
  // avioFlags: AVIO_FLAG_READ, AVIO_FLAG_WRITE or AVIO_FLAG_READ_WRITE. On failure returns
  // null and stores the libraries' negative error code in *error. A reader of a named pipe
  // waits for data in short slices: it gives up with AVERROR_EXIT once `interrupt` says so,
  // and with AVERROR(ETIMEDOUT) when nothing arrives for 5 seconds.
  static std::unique_ptr<TUnicodeFile> Open(const std::string& url, int avioFlags, int* error,
                                            const AVIOInterruptCB* interrupt = nullptr);
  ~TUnicodeFile();  // flushes a writer, frees the context, closes the file
  AVIOContext* Context() const;

  TUnicodeFile(const TUnicodeFile&) = delete;
  TUnicodeFile& operator=(const TUnicodeFile&) = delete;

 private:
  TUnicodeFile() = default;
  struct TState;
  std::unique_ptr<TState> State;
};

// True for names of the form "unicode:utf8:" + path.
bool IsUnicodeUrl(std::string_view name);
// The form of a name to give the libraries: names with a known scheme and names the locale's
// character set can hold pass unchanged; others become "unicode:utf8:" + UTF-8.
std::string ConvertFileName(const std::string& name);
// The display form of a name held by the libraries (reverses ConvertFileName).
std::string DecodeFileName(const std::string& name);

// Run by the loader each time avformat loads; registers once per process.
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();

// avformat_open_input, through a TUnicodeFile held in `io` for "unicode:utf8:" names and
// named pipes (which then honour the context's interrupt callback while waiting for data).
int OpenInputFile(AVFormatContext** ctx, std::unique_ptr<TUnicodeFile>& io, const std::string& name,
                  const AVInputFormat* format, AVDictionary** options);
// Opens ctx->pb for writing (unless the format needs no file), through a TUnicodeFile held in
// `io` for "unicode:utf8:" names and avio_open2 otherwise. With `io` set, the caller must
// clear ctx->pb before freeing the context and let `io` close the file.
int OpenOutputFile(AVFormatContext* ctx, std::unique_ptr<TUnicodeFile>& io, const std::string& name,
                   AVDictionary** options);
