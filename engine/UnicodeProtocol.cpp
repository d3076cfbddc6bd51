#include "UnicodeProtocol.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "EngineError.h"
#include "FFmpegEntryPoints.h"

namespace {

constexpr std::string_view UnicodePrefix = "unicode:utf8:";
// Schemes the libraries open themselves; such names must reach them untouched. Beyond the
// historic list this holds the schemes that became common since (https, file, ...).
constexpr std::string_view KnownSchemes =
    ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:https:file:ftp:rtmp:rtsp:";
constexpr int IoBufferSize = 32 * 1024;

struct TAvFree {
  void operator()(void* p) const { Lib.av_free(p); }
};

// The file name inside a "scheme:encoding:" name, or false when it has no two colons.
bool PathOfUrl(const std::string& url, std::string& path) {
  const size_t first = url.find(':');
  const size_t second = first == std::string::npos ? first : url.find(':', first + 1);
  if (second == std::string::npos) return false;
  path = url.substr(second + 1);
  return true;
}

bool OpenFlagsFor(int avioFlags, int& openFlags) {
  switch (avioFlags & AVIO_FLAG_READ_WRITE) {
    case AVIO_FLAG_READ: openFlags = O_RDONLY; return true;
    case AVIO_FLAG_WRITE: openFlags = O_WRONLY | O_CREAT | O_TRUNC; return true;
    case AVIO_FLAG_READ_WRITE: openFlags = O_RDWR | O_CREAT | O_TRUNC; return true;
    default: return false;
  }
}

bool IsPipe(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// open() that reports AVERROR(errno) and refuses folders, which would fail only at the first read.
int OpenDescriptor(const std::string& path, int openFlags, int& fd) {
  do fd = ::open(path.c_str(), openFlags | O_CLOEXEC, 0644);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return AVERROR(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0) return AVERROR(errno);
  if (S_ISDIR(st.st_mode)) return AVERROR(EISDIR);
  return 0;
}

}  // namespace

struct TUnicodeFile::TState {
  int Fd = -1;
  bool Writer = false;
  // A named pipe is read without blocking, so that a reader waiting for data that never comes
  // can still be stopped through the interrupt callback, and gives up after a silence.
  bool Pipe = false;
  AVIOInterruptCB Interrupt{};
  AVIOContext* Io = nullptr;

  ~TState() {
    if (Io) {
      if (Writer) Lib.avio_flush(Io);
      Lib.av_freep(&Io->buffer);  // the context may have replaced the buffer it was given
      Lib.avio_context_free(&Io);
    }
    if (Fd >= 0) ::close(Fd);
  }

  static int Read(void* opaque, uint8_t* buffer, int size) {
    const TState& state = *static_cast<TState*>(opaque);
    if (state.Pipe) return state.ReadPipe(buffer, size);
    const int fd = state.Fd;
    ssize_t count;
    do count = ::read(fd, buffer, static_cast<size_t>(size));
    while (count < 0 && errno == EINTR);
    if (count < 0) return AVERROR(errno);
    if (count == 0) return AVERROR_EOF;
    return static_cast<int>(count);
  }

  // A sender silent for this long counts as gone: a reader (a probe when a file is added, the
  // player's Open) must not hold its caller for ever.
  static constexpr int SilenceLimitMs = 5000;
  static constexpr int SliceMs = 100;  // how often the interrupt callback is asked

  int ReadPipe(uint8_t* buffer, int size) const {
    for (int waited = 0;; waited += SliceMs) {
      if (Interrupt.callback && Interrupt.callback(Interrupt.opaque)) return AVERROR_EXIT;
      if (waited >= SilenceLimitMs) return AVERROR(ETIMEDOUT);
      pollfd wanted{Fd, POLLIN, 0};
      const int ready = ::poll(&wanted, 1, SliceMs);
      if (ready < 0 && errno != EINTR) return AVERROR(errno);
      if (ready <= 0) continue;
      const ssize_t count = ::read(Fd, buffer, static_cast<size_t>(size));
      if (count < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (count < 0) return AVERROR(errno);
      return count == 0 ? AVERROR_EOF : static_cast<int>(count);
    }
  }

  static int Write(void* opaque, uint8_t* buffer, int size) {
    const int fd = static_cast<TState*>(opaque)->Fd;
    int done = 0;
    while (done < size) {
      const ssize_t count = ::write(fd, buffer + done, static_cast<size_t>(size - done));
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) return AVERROR(errno);
      if (count == 0) return AVERROR(EIO);  // would loop for ever
      done += static_cast<int>(count);
    }
    return size;
  }

  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    const TState& state = *static_cast<TState*>(opaque);
    if (state.Pipe) return AVERROR(ESPIPE);
    const int fd = state.Fd;
    if (whence == AVSEEK_SIZE) {
      struct stat st {};
      if (fstat(fd, &st) != 0) return AVERROR(errno);
      return st.st_size;
    }
    whence &= ~AVSEEK_FORCE;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
    const off_t position = ::lseek(fd, static_cast<off_t>(offset), whence);
    if (position == static_cast<off_t>(-1)) return AVERROR(errno);
    return position;
  }
};

std::unique_ptr<TUnicodeFile> TUnicodeFile::Open(const std::string& url, int avioFlags, int* error,
                                                 const AVIOInterruptCB* interrupt) {
  int ignored = 0;
  int& result = error ? *error : ignored;
  if (!Lib.avio_alloc_context || !Lib.av_malloc)
    throw EAssertionFailed("TUnicodeFile::Open: avformat is not loaded");
  std::string path;
  int openFlags = 0;
  if (!PathOfUrl(url, path) || !OpenFlagsFor(avioFlags, openFlags)) {
    result = AVERROR(EINVAL);
    return nullptr;
  }
  std::unique_ptr<TUnicodeFile> file(new TUnicodeFile());
  file->State = std::make_unique<TState>();
  TState& state = *file->State;
  state.Pipe = avioFlags == AVIO_FLAG_READ && IsPipe(path);
  if (state.Pipe) openFlags |= O_NONBLOCK;  // else open() waits for a writer
  if (interrupt) state.Interrupt = *interrupt;
  if ((result = OpenDescriptor(path, openFlags, state.Fd)) < 0) return nullptr;
  std::unique_ptr<unsigned char, TAvFree> buffer(static_cast<unsigned char*>(Lib.av_malloc(IoBufferSize)));
  if (!buffer) {
    result = AVERROR(ENOMEM);
    return nullptr;
  }
  const bool reads = avioFlags & AVIO_FLAG_READ, writes = avioFlags & AVIO_FLAG_WRITE;
  state.Io = Lib.avio_alloc_context(buffer.get(), IoBufferSize, writes ? 1 : 0, &state,
                                    reads ? &TState::Read : nullptr, writes ? &TState::Write : nullptr,
                                    &TState::Seek);
  if (!state.Io) {
    result = AVERROR(ENOMEM);
    return nullptr;
  }
  buffer.release();  // the context owns it now
  state.Writer = writes;
  if (state.Pipe) state.Io->seekable = 0;
  result = 0;
  return file;
}

TUnicodeFile::~TUnicodeFile() = default;

AVIOContext* TUnicodeFile::Context() const { return State ? State->Io : nullptr; }

bool IsUnicodeUrl(std::string_view name) { return name.starts_with(UnicodePrefix); }

namespace {

bool HasKnownScheme(const std::string& name) {
  const size_t colon = name.find(':');
  if (colon == std::string::npos) return false;
  const std::string scheme = ":" + name.substr(0, colon) + ":";
  return KnownSchemes.find(scheme) != std::string_view::npos;
}

class TIconv {
 public:
  TIconv(const char* to, const char* from) : Handle(iconv_open(to, from)) {}
  ~TIconv() {
    if (Valid()) iconv_close(Handle);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Valid() const { return Handle != reinterpret_cast<iconv_t>(-1); }

  // False when any character has no exact counterpart in the target set.
  bool Convert(const std::string& in, std::string& out) {
    iconv(Handle, nullptr, nullptr, nullptr, nullptr);
    out.assign(in.size() * 4 + 16, '\0');
    char* input = const_cast<char*>(in.data());
    size_t inputLeft = in.size();
    size_t used = 0;
    for (bool flushing = false;;) {
      char* output = out.data() + used;
      size_t outputLeft = out.size() - used;
      // The second pass writes the shift sequence that ends a stateful encoding.
      const size_t irreversible = flushing ? iconv(Handle, nullptr, nullptr, &output, &outputLeft)
                                           : iconv(Handle, &input, &inputLeft, &output, &outputLeft);
      const int why = errno;
      used = static_cast<size_t>(output - out.data());
      if (irreversible == static_cast<size_t>(-1) && why == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      if (irreversible != 0) return false;  // unconvertible, incomplete, or only approximated
      if (flushing) break;
      flushing = true;
    }
    out.resize(used);
    return true;
  }

 private:
  iconv_t Handle;
};

bool IsUtf8Codeset(const std::string& codeset) {
  return strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0;
}

// True when the current LC_CTYPE character set holds the UTF-8 name without loss.
bool LocaleHolds(const std::string& name) {
  const std::string codeset = nl_langinfo(CODESET);
  if (IsUtf8Codeset(codeset)) return true;
  TIconv toLocale(codeset.c_str(), "UTF-8"), toUtf8("UTF-8", codeset.c_str());
  if (!toLocale.Valid() || !toUtf8.Valid()) return false;
  std::string local, back;
  return toLocale.Convert(name, local) && toUtf8.Convert(local, back) && back == name;
}

std::atomic<bool> Registered{false};

}  // namespace

// No length limit: the 2047 bytes of the older design belonged to its fixed buffer, and a
// name cut short would open a different file. A name too long for the system fails at open
// with ENAMETOOLONG, which is the honest answer.
std::string ConvertFileName(const std::string& name) {
  // Linux keeps the UTF-8 bytes on disk, so a name the locale holds passes as those bytes.
  if (name.empty() || HasKnownScheme(name) || LocaleHolds(name)) return name;
  return std::string(UnicodePrefix) + name;
}

std::string DecodeFileName(const std::string& name) {
  return IsUnicodeUrl(name) ? name.substr(UnicodePrefix.size()) : name;
}

// This library generation has no protocol table to extend: "unicode:utf8:" names are opened
// by OpenInputFile/OpenOutputFile through TUnicodeFile, so registering only records that
// avformat, which those need, has been loaded.
void RegisterUnicodeProtocol() { Registered.store(true); }

bool UnicodeProtocolRegistered() { return Registered.load(); }

int OpenInputFile(AVFormatContext** ctx, std::unique_ptr<TUnicodeFile>& io, const std::string& name,
                  const AVInputFormat* format, AVDictionary** options) {
  if (!ctx) return AVERROR(EINVAL);
  const bool unicode = IsUnicodeUrl(name);
  // Pipes come here too: the libraries' own file reader would block in them for ever.
  if (!unicode && (HasKnownScheme(name) || !IsPipe(name)))
    return Lib.avformat_open_input(ctx, name.c_str(), format, options);
  int error = 0;
  std::unique_ptr<TUnicodeFile> file = TUnicodeFile::Open(unicode ? name : std::string(UnicodePrefix) + name,
                                                          AVIO_FLAG_READ, &error,
                                                          *ctx ? &(*ctx)->interrupt_callback : nullptr);
  if (!file) {
    // Same contract as avformat_open_input: a context the caller supplied is freed on failure.
    Lib.avformat_free_context(*ctx);
    *ctx = nullptr;
    return error;
  }
  if (!*ctx && !(*ctx = Lib.avformat_alloc_context())) return AVERROR(ENOMEM);
  (*ctx)->pb = file->Context();
  (*ctx)->flags |= AVFMT_FLAG_CUSTOM_IO;
  // The full name still goes in: probing scores the extension.
  const int result = Lib.avformat_open_input(ctx, name.c_str(), format, options);
  // On failure the library has freed the context; `file` closes with this scope.
  if (result >= 0) io = std::move(file);
  return result;
}

int OpenOutputFile(AVFormatContext* ctx, std::unique_ptr<TUnicodeFile>& io, const std::string& name,
                   AVDictionary** options) {
  if (!ctx || !ctx->oformat) return AVERROR(EINVAL);
  if (ctx->oformat->flags & AVFMT_NOFILE) return 0;
  if (!IsUnicodeUrl(name)) return Lib.avio_open2(&ctx->pb, name.c_str(), AVIO_FLAG_WRITE, nullptr, options);
  int error = 0;
  std::unique_ptr<TUnicodeFile> file = TUnicodeFile::Open(name, AVIO_FLAG_WRITE, &error);
  if (!file) return error;
  ctx->pb = file->Context();
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  io = std::move(file);
  return 0;
}
