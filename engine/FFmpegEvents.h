// The records a conversion task hands to its host: per-frame hook, preview picture, progress
// and termination.
#pragma once

#include <cstdint>
#include <string>

#include "Bitmap24.h"

// A decoded video frame at the input size; the handler may draw on `Bitmap`.
struct THookInfo {
  int TaskIndex = 0;
  TBitmap24* Bitmap = nullptr;
  int FrameNumber = 0;  // 1-based count of video frames pre-processed by the task
  int64_t PTS = 0;      // the input stream's time, microseconds
  bool Update = true;   // still true afterwards: the bitmap becomes the frame to encode
  bool StopHook = false;  // set true: no hook for the rest of the task
};
using PHookInfo = THookInfo*;

// A copy of the picture handed to the encoder, at the output size.
struct TPreviewInfo {
  int TaskIndex = 0;
  const TBitmap24* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;  // the encoded frame's time, microseconds
};

struct TProgressInfo {
  int TaskIndex = 0;
  int FileIndex = 0;          // input file of the last packet read; -1 in the final report
  int FrameNumber = -1;       // frames written to the first video output stream; -1 without
  int FPS = -1;               // -1 without video output; 0 during the first second
  float Quality = -1.0f;      // last quantiser / 118; -1 for stream copy or no video
  float BitRate = 0.0f;       // kbit/s
  int64_t TotalSize = 0;      // bytes written to the first output so far
  int64_t CurrentDuration = 0;  // microseconds of output written, at least 10 000
  int64_t TotalDuration = -1;   // microseconds expected; -1 unknown
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
  int TaskIndex = 0;  // -1: every task has terminated
  bool Finished = false;
  bool Exception = false;
  std::string ExceptionMsg;
};
