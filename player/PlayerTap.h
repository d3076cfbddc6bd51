// A process-wide view of what the player hands to the audio device, for measurement programs
// (the A/V drift run). Null, the default, costs one atomic load per audio callback.
#pragma once

#include <cstdint>

struct TPlayerAudioTapInfo {
  const uint8_t* Data;  // the mixed block, in the device's format
  int Length;           // bytes
  int BytesPerSecond;
  int Channels;
  int SampleFormat;     // AVSampleFormat
  double CallbackTime;  // NowSeconds() when the device asked for the block
};
using TPlayerAudioTap = void (*)(const TPlayerAudioTapInfo& info);

void SetPlayerAudioTap(TPlayerAudioTap tap);
// The clock the tap's CallbackTime comes from (seconds of a monotonic clock).
double PlayerClockSeconds();
