// The player's event ring: position and state notices waiting for the event thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

enum TPlayerEventKind { pekPosition = 1, pekState = 2, pekQuit = 3 };

struct TPlayerEvent {
  int Kind = 0;
  int State = 0;
  int64_t Position = 0;
};

// Ten slots. A notice of the same kind as the newest queued one overwrites it, so a burst of
// positions reaches the host as the latest one; a full ring drops its oldest entry.
class TPlayerEventRing {
 public:
  static constexpr int Capacity = 10;

  void Post(const TPlayerEvent& event);
  // Waits up to `timeout` for an entry; false when none came.
  bool Take(TPlayerEvent& event, std::chrono::milliseconds timeout);
  int Count() const;
  void Clear();

 private:
  mutable std::mutex Mutex;
  std::condition_variable NotEmpty;
  TPlayerEvent Slots[Capacity];
  int Head = 0;  // oldest entry
  int Size = 0;
};
