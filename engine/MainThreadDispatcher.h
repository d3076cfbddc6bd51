// How the engine reaches the host's main thread. The host installs one dispatcher; without
// one, events run on the thread that raises them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class MainThreadDispatcher {
 public:
  virtual ~MainThreadDispatcher() = default;
  virtual bool isMainThread() const = 0;
  // Runs fn on the main thread and returns when it has run; on the main thread it runs at
  // once. An exception thrown by fn is rethrown to the caller.
  virtual void runAndWait(const std::function<void()>& fn) = 0;
  // Runs the calls queued so far. The main thread calls it whenever it waits for a worker.
  virtual void pump() = 0;
  // Pumps, then waits up to `timeout` for more work; hosts with their own wake-up override it.
  virtual void pumpFor(std::chrono::milliseconds timeout) {
    pump();
    std::this_thread::sleep_for(timeout);
  }
};

void SetMainThreadDispatcher(MainThreadDispatcher* dispatcher);
MainThreadDispatcher* GetMainThreadDispatcher();

// The run-on-main-thread rule: with `toMainThread` and an installed dispatcher the call is
// queued to the main thread and waited for; otherwise it runs here.
void RunEvent(bool toMainThread, const std::function<void()>& fn);

// Waits until `done` holds, pumping the installed dispatcher while on its main thread, so a
// worker blocked in runAndWait can finish. Returns false on time-out.
bool WaitPumping(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds::max());

// A plain dispatcher for tests and the command-line front end: the thread that creates it is
// the main thread, and queued calls run when that thread pumps.
class TQueueDispatcher : public MainThreadDispatcher {
 public:
  TQueueDispatcher();
  bool isMainThread() const override;
  void runAndWait(const std::function<void()>& fn) override;
  void pump() override;
  // Waits until a call arrives or the time passes, then runs what is queued.
  void pumpFor(std::chrono::milliseconds timeout) override;

 private:
  struct TCall;
  std::thread::id MainThread;
  std::mutex Mutex;
  std::condition_variable Arrived;
  std::deque<std::shared_ptr<TCall>> Queue;
};
