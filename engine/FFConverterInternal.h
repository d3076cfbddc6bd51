// The converter's task record and the translation of its option records into engine options.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "FFConverter.h"
#include "FFmpeg.h"

struct TConverterTask {
  enum class TState { Created, Running, Terminated };

  TFFmpeg Engine;
  // The records given for each input and output; a default record where none was given.
  std::array<TInputOptions, MaxFiles> InputRecords;
  std::array<TOutputOptions, MaxFiles> OutputRecords;

  // Guarded by the converter's state lock.
  TState State = TState::Created;
  bool HasWorker = false;  // a worker thread runs the job (threaded mode)
  bool Suspended = false;
  int Index = 0;           // place in the list when the run started

  // Written by the job before it terminates, read by the termination.
  bool Exception = false;
  std::string ExceptionMsg;

  // The thread running the job, so Stop never waits for itself.
  std::atomic<std::thread::id> Runner{};
  // Set once the job (or the terminate step of a never-started task) has returned.
  std::atomic<bool> Unwound{false};
};

// One "name=value" line per pair: trimmed, CR LF / CR / "<CRLF>" as line breaks, blank lines
// skipped, names lower-cased.
std::vector<TOptionPair> ParseOptionText(const std::string& text);

// Applies an input record to the engine before its input is opened.
void ApplyInputOptions(TFFmpeg& engine, const TInputOptions& options);

// What an output record asks for beyond the options applied before opening: the default stream
// settings and the pending stream settings from its option text, used by the extra streams.
struct TOutputStreamPlan {
  std::map<std::string, std::string> Defaults;  // "acodec", "vcodec", "scodec", "apre", ..., "s", "vf"
  std::vector<TOptionPair> Pending;
  std::vector<TOptionPair> Lines;
};

// Applies an output record to the engine before the output is opened.
TOutputStreamPlan ApplyOutputOptions(TFFmpeg& engine, const TOutputOptions& options);
// After the output has opened: the "newaudio", "newvideo" and "newsubtitle" lines, in order.
void AddRequestedStreams(TFFmpeg& engine, TOutputStreamPlan& plan);
