#include "engine/MainThreadDispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

// Installs a queue dispatcher owned by the test's main thread.
struct TInstalledDispatcher {
  TQueueDispatcher Dispatcher;
  TInstalledDispatcher() { SetMainThreadDispatcher(&Dispatcher); }
  ~TInstalledDispatcher() { SetMainThreadDispatcher(nullptr); }
};

}  // namespace

TEST(MainThreadDispatcher, WorkerCallsRunOnTheMainThreadWhileItWaitsPumping) {
  TInstalledDispatcher installed;
  const auto mainId = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    RunEvent(true, [&] { ranOn = std::this_thread::get_id(); });
    workerDone = true;
  });
  // A bare join here would deadlock: the worker waits for the main thread.
  EXPECT_TRUE(WaitPumping([&] { return workerDone.load(); }, std::chrono::seconds(10)));
  worker.join();
  EXPECT_EQ(ranOn, mainId);
}

TEST(MainThreadDispatcher, CallsFromTheMainThreadOrWithoutTheFlagRunAtOnce) {
  TInstalledDispatcher installed;
  int calls = 0;
  RunEvent(true, [&] { ++calls; });
  EXPECT_EQ(calls, 1);
  std::thread::id ranOn;
  std::thread worker([&] { RunEvent(false, [&] { ranOn = std::this_thread::get_id(); }); });
  const auto workerId = worker.get_id();
  worker.join();
  EXPECT_EQ(ranOn, workerId);
}

TEST(MainThreadDispatcher, HandlerErrorReachesTheWaitingWorker) {
  TInstalledDispatcher installed;
  std::string caught;
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    try {
      installed.Dispatcher.runAndWait([] { throw std::runtime_error("handler failed"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
    workerDone = true;
  });
  EXPECT_TRUE(WaitPumping([&] { return workerDone.load(); }, std::chrono::seconds(10)));
  worker.join();
  EXPECT_EQ(caught, "handler failed");
}

TEST(MainThreadDispatcher, WaitPumpingTimesOut) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitPumping([] { return false; }, std::chrono::milliseconds(30)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}
