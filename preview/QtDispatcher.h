// The desktop program's main-thread dispatcher: engine events queued to Qt's GUI thread.
#pragma once

#include "engine/MainThreadDispatcher.h"

class TQtMainThreadDispatcher : public MainThreadDispatcher {
 public:
  bool isMainThread() const override;
  // Off the GUI thread: a queued call into the GUI thread's event loop, waited for. The main
  // thread runs it when its event loop turns or when it pumps while waiting for a worker.
  void runAndWait(const std::function<void()>& fn) override;
  void pump() override;
  void pumpFor(std::chrono::milliseconds timeout) override;
};

// Installs a TQtMainThreadDispatcher for the lifetime of the object (a QCoreApplication must
// exist), then reinstalls the previous dispatcher.
class TQtDispatcherScope {
 public:
  TQtDispatcherScope();
  ~TQtDispatcherScope();
  TQtDispatcherScope(const TQtDispatcherScope&) = delete;
  TQtDispatcherScope& operator=(const TQtDispatcherScope&) = delete;

 private:
  TQtMainThreadDispatcher FDispatcher;
  MainThreadDispatcher* FPrevious;
};
