// The engine's log: the media libraries' messages, assembled into whole lines, and the
// components' own messages, both handed to one handler the host assigns.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Unscoped on purpose: the rest of the code reads `llError`, not `TLogLevel::llError`.
enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// Library level (AV_LOG_*) to TLogLevel: trunc(level / 8) + 1, clamped to llQuiet..llDebug.
TLogLevel LogLevelFromLibrary(int libraryLevel);
// TLogLevel to library level: (ordinal - 1) * 8, so llQuiet is AV_LOG_QUIET (-8).
int LibraryLevelFromLogLevel(TLogLevel level);

class TFFLogger {
 public:
  using TLogHandler =
      std::function<void(void* sender, uint32_t threadId, TLogLevel level, const std::string& msg)>;

  // The process's logger, created on first use unless the host constructed one.
  static TFFLogger& Instance();

  // The host may construct the logger itself; it then is the instance until destroyed.
  // A second one while the first lives throws EAssertionFailed.
  TFFLogger();
  ~TFFLogger();
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  TLogLevel LogLevel() const;
  // Also sets the libraries' level (when avutil is bound), which filters their messages.
  void SetLogLevel(TLogLevel level);
  // Names ("quiet" .. "debug", any case) or a decimal library level; else EFFmpegError.
  void SetLevelFromText(const std::string& text);

  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool value);

  TLogHandler OnLog() const;
  void SetOnLog(TLogHandler handler);

  // Routes the libraries' log into this logger and applies the level. Needs avutil bound.
  void InstallLibraryHook();

  // A component's own message. Delivered when a handler is assigned and level <= LogLevel;
  // llVerbose also passes any level but llQuiet. An exception thrown by the handler reaches
  // the caller: these calls come from our own C++ code, which can deal with it, and hiding
  // it would leave a broken handler unnoticed.
  void Log(void* sender, TLogLevel level, const std::string& msg);
  void LogFmt(void* sender, TLogLevel level, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

 private:
  static void LibraryCallback(void* avcl, int level, const char* format, va_list args);
  void HandleLibraryMessage(void* avcl, int level, const char* format, va_list args);
  void Deliver(void* sender, uint32_t threadId, TLogLevel level, const std::string& msg);

  std::atomic<int> Level;         // a TLogLevel
  std::atomic<int> LibraryLevel;  // what the libraries were told; filters their messages
  std::atomic<bool> TriggerInMainThread{true};

  mutable std::mutex HandlerMutex;
  std::shared_ptr<const TLogHandler> Handler;

  // Each thread's unfinished line, by kernel thread id. Entries stay for the logger's life.
  std::mutex PendingMutex;
  std::map<uint32_t, std::string> Pending;
};
