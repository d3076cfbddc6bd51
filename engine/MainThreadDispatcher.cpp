#include "MainThreadDispatcher.h"

#include <atomic>
#include <exception>

namespace {
std::atomic<MainThreadDispatcher*> InstalledDispatcher{nullptr};
}

void SetMainThreadDispatcher(MainThreadDispatcher* dispatcher) { InstalledDispatcher = dispatcher; }
MainThreadDispatcher* GetMainThreadDispatcher() { return InstalledDispatcher; }

void RunEvent(bool toMainThread, const std::function<void()>& fn) {
  MainThreadDispatcher* dispatcher = InstalledDispatcher;
  if (toMainThread && dispatcher)
    dispatcher->runAndWait(fn);
  else
    fn();
}

bool WaitPumping(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto start = std::chrono::steady_clock::now();
  while (!done()) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (std::chrono::duration_cast<std::chrono::milliseconds>(elapsed) >= timeout) return false;
    MainThreadDispatcher* dispatcher = InstalledDispatcher;
    if (dispatcher && dispatcher->isMainThread())
      dispatcher->pumpFor(std::chrono::milliseconds(2));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct TQueueDispatcher::TCall {
  std::function<void()> Fn;
  std::exception_ptr Error;
  bool Done = false;
};

TQueueDispatcher::TQueueDispatcher() : MainThread(std::this_thread::get_id()) {}

bool TQueueDispatcher::isMainThread() const { return std::this_thread::get_id() == MainThread; }

void TQueueDispatcher::runAndWait(const std::function<void()>& fn) {
  if (isMainThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<TCall>();
  call->Fn = fn;
  std::unique_lock lock(Mutex);
  Queue.push_back(call);
  Arrived.notify_all();
  Arrived.wait(lock, [&] { return call->Done; });
  if (call->Error) std::rethrow_exception(call->Error);
}

void TQueueDispatcher::pump() { pumpFor(std::chrono::milliseconds(0)); }

void TQueueDispatcher::pumpFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(Mutex);
  if (Queue.empty() && timeout.count() > 0)
    Arrived.wait_for(lock, timeout, [&] { return !Queue.empty(); });
  while (!Queue.empty()) {
    auto call = Queue.front();
    Queue.pop_front();
    lock.unlock();
    try {
      call->Fn();
    } catch (...) {
      call->Error = std::current_exception();
    }
    lock.lock();
    call->Done = true;
    Arrived.notify_all();
  }
}
