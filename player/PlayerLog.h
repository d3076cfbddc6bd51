// The player's log lines. They come from its worker threads and SDL's audio thread, where an
// exception from the host's log handler must not escape, so a failing handler is ignored.
#pragma once

#include <string>

#include "engine/FFUtils.h"
#include "engine/FFmpegLogger.h"

inline void PlayerLog(void* sender, TLogLevel level, const std::string& text) noexcept {
  try {
    TFFLogger::Instance().Log(sender, level, text);
  } catch (...) {
  }
}

template <typename... TArgs>
void PlayerLogFmt(void* sender, TLogLevel level, const char* format, TArgs... args) noexcept {
  try {
    TFFLogger::Instance().Log(sender, level, Format(format, args...));
  } catch (...) {
  }
}
