#include "PlayerQueues.h"

#include <chrono>

double NowSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void TPacketQueue::Put(AVPacket* packet) {
  TPacket owned(Lib.av_packet_alloc());
  if (!owned) return;
  Lib.av_packet_move_ref(owned.get(), packet);
  std::lock_guard lock(Mutex);
  if (IsAborted) return;
  TotalBytes += owned->size;
  Entries.push_back({std::move(owned), CurrentSerial.load()});
  Changed.notify_all();
}

void TPacketQueue::PutEnd() {
  std::lock_guard lock(Mutex);
  if (IsAborted) return;
  Entries.push_back({TPacket(), CurrentSerial.load()});
  Changed.notify_all();
}

bool TPacketQueue::Get(TEntry& entry) {
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [&] { return IsAborted || !Entries.empty(); });
  if (IsAborted) return false;
  entry = std::move(Entries.front());
  Entries.pop_front();
  if (entry.Packet) TotalBytes -= entry.Packet->size;
  return true;
}

void TPacketQueue::Flush() {
  std::lock_guard lock(Mutex);
  Entries.clear();
  TotalBytes = 0;
  ++CurrentSerial;
  Changed.notify_all();
}

void TPacketQueue::Abort() {
  std::lock_guard lock(Mutex);
  IsAborted = true;
  Changed.notify_all();
}

void TPacketQueue::Start() {
  std::lock_guard lock(Mutex);
  IsAborted = false;
  ++CurrentSerial;
}

int TPacketQueue::Count() const {
  std::lock_guard lock(Mutex);
  return static_cast<int>(Entries.size());
}

int64_t TPacketQueue::Bytes() const {
  std::lock_guard lock(Mutex);
  return TotalBytes;
}

double TClock::Get() const {
  std::lock_guard lock(Mutex);
  if (QueueSerial && *QueueSerial != ClockSerial) return NAN;
  if (Paused) return Pts;
  return Drift + NowSeconds();
}

void TClock::SetAt(double pts, int serial, double time) {
  std::lock_guard lock(Mutex);
  Pts = pts;
  Updated = time;
  Drift = pts - time;
  ClockSerial = serial;
}

void TClock::Set(double pts, int serial) { SetAt(pts, serial, NowSeconds()); }

void TClock::SetPaused(bool paused) {
  std::lock_guard lock(Mutex);
  if (paused == Paused) return;
  const double now = NowSeconds();
  if (paused) {
    Pts = Drift + now;
  } else {
    Drift = Pts - now;
  }
  Updated = now;
  Paused = paused;
}

double TClock::LastUpdated() const {
  std::lock_guard lock(Mutex);
  return Updated;
}

int TClock::Serial() const {
  std::lock_guard lock(Mutex);
  return ClockSerial;
}
