// Queues between the player's threads and the clocks they synchronise on. Private to player/.
#pragma once

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "engine/FFmpegRAII.h"

// Packets of one stream. A flush after a seek starts a new serial, so decoders and the display
// can tell stale data from new; a null packet marks the end of the file for the decoder.
class TPacketQueue {
 public:
  struct TEntry {
    TPacket Packet;  // null: end of file
    int Serial = 0;
  };

  // Takes the packet's data over (the caller's packet is left empty).
  void Put(AVPacket* packet);
  void PutEnd();
  // Blocks until a packet comes or the queue is aborted (false).
  bool Get(TEntry& entry);
  void Flush();
  void Abort();
  void Start();
  bool Aborted() const { return IsAborted.load(); }
  int Serial() const { return CurrentSerial.load(); }
  const std::atomic<int>* SerialPointer() const { return &CurrentSerial; }
  int Count() const;
  int64_t Bytes() const;

 private:
  mutable std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<TEntry> Entries;
  int64_t TotalBytes = 0;
  std::atomic<int> CurrentSerial{0};
  std::atomic<bool> IsAborted{true};
};

// A bounded hand-over queue (decoded pictures, converted audio blocks).
template <typename T>
class TBoundedQueue {
 public:
  explicit TBoundedQueue(size_t capacity) : Capacity(capacity) {}

  // Blocks while full; false (and the item dropped) once aborted.
  bool Push(T&& item) {
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [&] { return IsAborted || Items.size() < Capacity; });
    if (IsAborted) return false;
    Items.push_back(std::move(item));
    Changed.notify_all();
    return true;
  }
  bool TryPop(T& item) {
    std::lock_guard lock(Mutex);
    if (Items.empty()) return false;
    item = std::move(Items.front());
    Items.pop_front();
    Changed.notify_all();
    return true;
  }
  // Runs fn on the items under the lock; fn may pop from the front.
  template <typename F>
  auto With(F&& fn) {
    std::lock_guard lock(Mutex);
    const size_t before = Items.size();
    auto finish = [&] {
      if (Items.size() != before) Changed.notify_all();
    };
    if constexpr (std::is_void_v<decltype(fn(Items))>) {
      fn(Items);
      finish();
    } else {
      auto result = fn(Items);
      finish();
      return result;
    }
  }
  size_t Size() const {
    std::lock_guard lock(Mutex);
    return Items.size();
  }
  void Abort() {
    std::lock_guard lock(Mutex);
    IsAborted = true;
    Changed.notify_all();
  }
  void Clear() {
    std::lock_guard lock(Mutex);
    Items.clear();
    Changed.notify_all();
  }

 private:
  const size_t Capacity;
  mutable std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<T> Items;
  bool IsAborted = false;
};

// A decoded picture waiting for its time.
struct TPicture {
  TFrame Frame;
  double Pts = NAN;       // seconds, stream time
  double Duration = 0.0;  // seconds
  int Serial = 0;
};

// Audio converted to the device's format.
struct TAudioBlock {
  std::vector<uint8_t> Data;
  double Pts = NAN;  // seconds, of the first sample
  int Serial = 0;
};

// A playback clock: a time that runs on from where it was last set, unless paused.
class TClock {
 public:
  explicit TClock(const std::atomic<int>* queueSerial = nullptr) : QueueSerial(queueSerial) {}
  // NaN when unset or when it belongs to data from before the last seek.
  double Get() const;
  void Set(double pts, int serial);
  void SetAt(double pts, int serial, double time);
  void SetPaused(bool paused);
  double LastUpdated() const;
  int Serial() const;

 private:
  mutable std::mutex Mutex;
  const std::atomic<int>* QueueSerial;
  double Pts = NAN;
  double Drift = 0.0;
  double Updated = 0.0;
  int ClockSerial = -1;
  bool Paused = false;
};

// Seconds of a monotonic clock.
double NowSeconds();
