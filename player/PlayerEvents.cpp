#include "PlayerEvents.h"

void TPlayerEventRing::Post(const TPlayerEvent& event) {
  {
    std::lock_guard lock(Mutex);
    const int newest = (Head + Size - 1) % Capacity;
    if (Size > 0 && Slots[newest].Kind == event.Kind) {
      Slots[newest] = event;
    } else {
      if (Size == Capacity) {
        Head = (Head + 1) % Capacity;
        --Size;
      }
      Slots[(Head + Size) % Capacity] = event;
      ++Size;
    }
  }
  NotEmpty.notify_one();
}

bool TPlayerEventRing::Take(TPlayerEvent& event, std::chrono::milliseconds timeout) {
  std::unique_lock lock(Mutex);
  if (!NotEmpty.wait_for(lock, timeout, [&] { return Size > 0; })) return false;
  event = Slots[Head];
  Head = (Head + 1) % Capacity;
  --Size;
  return true;
}

int TPlayerEventRing::Count() const {
  std::lock_guard lock(Mutex);
  return Size;
}

void TPlayerEventRing::Clear() {
  std::lock_guard lock(Mutex);
  Head = 0;
  Size = 0;
}
