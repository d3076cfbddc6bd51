#include "FFmpegLogger.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

#include "EngineError.h"
#include "FFUtils.h"
#include "FFmpegEntryPoints.h"
#include "MainThreadDispatcher.h"

namespace {

// Creation by Instance() and by a host's constructor must not race; recursive because
// Instance() runs the constructor while holding it.
std::recursive_mutex InstanceMutex;
std::atomic<TFFLogger*> CurrentLogger{nullptr};

// One line assembled from library pieces; the libraries cap a single piece the same way.
constexpr size_t LibraryMessageSize = 2048;

uint32_t CurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(gettid());
  return id;
}

TLogLevel ClampLevel(int ordinal) { return static_cast<TLogLevel>(std::clamp(ordinal, 0, 7)); }

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool ParseDecimal(const std::string& text, int& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;  // from_chars takes '-' only
  if (first == last) return false;
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

// The "[class @ address] " prefix the libraries' own printer puts before a context's message.
std::string ContextPrefix(void* avcl) {
  if (!avcl) return {};
  const AVClass* cls = *static_cast<const AVClass* const*>(avcl);
  if (!cls) return {};
  const char* name = cls->item_name ? cls->item_name(avcl) : cls->class_name;
  return Format("[%s @ %p] ", name ? name : "", avcl);
}

// Cuts every finished line off the front of `pending`.
std::vector<std::string> TakeLines(std::string& pending) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t lf; (lf = pending.find('\n', start)) != std::string::npos; start = lf + 1)
    lines.push_back(pending.substr(start, lf - start));
  pending.erase(0, start);
  return lines;
}

}  // namespace

TLogLevel LogLevelFromLibrary(int libraryLevel) { return ClampLevel(libraryLevel / 8 + 1); }

int LibraryLevelFromLogLevel(TLogLevel level) { return (ClampLevel(level) - 1) * 8; }

TFFLogger& TFFLogger::Instance() {
  std::lock_guard lock(InstanceMutex);
  TFFLogger* logger = CurrentLogger.load();
  // Deliberately never freed: the libraries may log from their threads until the very end.
  if (!logger) logger = new TFFLogger();
  return *logger;
}

TFFLogger::TFFLogger() {
  std::lock_guard lock(InstanceMutex);
  if (CurrentLogger.load()) throw EAssertionFailed("Allow creating only one instance of TFFLogger.");
  const int libraryLevel = Lib.av_log_get_level ? Lib.av_log_get_level() : AV_LOG_INFO;
  Level = LogLevelFromLibrary(libraryLevel);
  LibraryLevel = libraryLevel;
  CurrentLogger = this;
}

// The host must stop the threads that still log before it destroys its logger.
TFFLogger::~TFFLogger() {
  std::lock_guard lock(InstanceMutex);
  if (CurrentLogger.load() != this) return;
  CurrentLogger = nullptr;
  if (Lib.av_log_set_callback && Lib.av_log_default_callback)
    Lib.av_log_set_callback(Lib.av_log_default_callback);
}

TLogLevel TFFLogger::LogLevel() const { return static_cast<TLogLevel>(Level.load()); }

void TFFLogger::SetLogLevel(TLogLevel level) {
  level = ClampLevel(level);
  Level = level;
  LibraryLevel = LibraryLevelFromLogLevel(level);
  if (Lib.av_log_set_level) Lib.av_log_set_level(LibraryLevel);
}

void TFFLogger::SetLevelFromText(const std::string& text) {
  static const std::pair<const char*, int> names[] = {
      {"quiet", AV_LOG_QUIET}, {"panic", AV_LOG_PANIC},     {"fatal", AV_LOG_FATAL},
      {"error", AV_LOG_ERROR}, {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
      {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG}};
  const std::string lower = LowerCase(text);
  for (const auto& [name, libraryLevel] : names)
    if (lower == name) return SetLogLevel(LogLevelFromLibrary(libraryLevel));
  int value = 0;
  if (!ParseDecimal(text, value)) throw EFFmpegError("'" + text + "' is not a valid integer value");
  SetLogLevel(LogLevelFromLibrary(value));
}

bool TFFLogger::TriggerEventInMainThread() const { return TriggerInMainThread; }

void TFFLogger::SetTriggerEventInMainThread(bool value) { TriggerInMainThread = value; }

TFFLogger::TLogHandler TFFLogger::OnLog() const {
  std::lock_guard lock(HandlerMutex);
  return Handler ? *Handler : TLogHandler();
}

void TFFLogger::SetOnLog(TLogHandler handler) {
  auto shared = handler ? std::make_shared<const TLogHandler>(std::move(handler)) : nullptr;
  std::lock_guard lock(HandlerMutex);
  Handler = std::move(shared);
}

void TFFLogger::InstallLibraryHook() {
  if (!Lib.av_log_set_callback || !Lib.av_log_set_level)
    throw EAssertionFailed("TFFLogger::InstallLibraryHook: avutil is not loaded");
  Lib.av_log_set_callback(&TFFLogger::LibraryCallback);
  Lib.av_log_set_level(LibraryLevel);
}

void TFFLogger::Log(void* sender, TLogLevel level, const std::string& msg) {
  const TLogLevel limit = LogLevel();
  if (level <= limit || (level == llVerbose && limit != llQuiet))
    Deliver(sender, CurrentThreadId(), level, msg);
}

void TFFLogger::LogFmt(void* sender, TLogLevel level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string msg;
  try {
    msg = FormatV(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  Log(sender, level, msg);
}

void TFFLogger::Deliver(void* sender, uint32_t threadId, TLogLevel level, const std::string& msg) {
  std::shared_ptr<const TLogHandler> handler;
  {
    std::lock_guard lock(HandlerMutex);
    handler = Handler;
  }
  if (!handler) return;
  RunEvent(TriggerInMainThread, [&] { (*handler)(sender, threadId, level, msg); });
}

void TFFLogger::LibraryCallback(void* avcl, int level, const char* format, va_list args) {
  TFFLogger* logger = CurrentLogger.load();
  if (!logger) return;
  // Nothing may unwind into the C library that called us.
  try {
    logger->HandleLibraryMessage(avcl, level, format, args);
  } catch (...) {
  }
}

void TFFLogger::HandleLibraryMessage(void* avcl, int level, const char* format, va_list args) {
  if (level >= 0) level &= 0xff;  // the bits above carry a colour hint
  if (level > LibraryLevel) return;
  char text[LibraryMessageSize];
  if (std::vsnprintf(text, sizeof text, format, args) < 0) return;
  const uint32_t threadId = CurrentThreadId();
  const std::string prefix = ContextPrefix(avcl);  // outside the lock: item_name is foreign code
  std::vector<std::string> lines;
  {
    std::lock_guard lock(PendingMutex);
    std::string& pending = Pending[threadId];
    // A line's prefix names the context of its first piece.
    pending += pending.empty() ? prefix + text : std::string(text);
    lines = TakeLines(pending);
  }
  const TLogLevel mapped = LogLevelFromLibrary(level);
  for (const std::string& line : lines) {
    try {
      Deliver(this, threadId, mapped, line);
    } catch (...) {
      // A failing handler loses its own line, not the ones after it.
    }
  }
}
