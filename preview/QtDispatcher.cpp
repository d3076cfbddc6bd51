#include "QtDispatcher.h"

#include <QCoreApplication>
#include <algorithm>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <exception>

bool TQtMainThreadDispatcher::isMainThread() const {
  const QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

void TQtMainThreadDispatcher::runAndWait(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (isMainThread() || app == nullptr) {
    fn();
    return;
  }
  // The exception must not unwind through Qt's event dispatch: carry it back to the caller.
  std::exception_ptr error;
  const bool queued = QMetaObject::invokeMethod(
      app,
      [&fn, &error] {
        try {
          fn();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  // Not queued: the application is going away. The handler touches widgets, which must not
  // happen on this thread, so the call is dropped.
  if (!queued) return;
  if (error) std::rethrow_exception(error);
}

void TQtMainThreadDispatcher::pump() {
  if (isMainThread()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TQtMainThreadDispatcher::pumpFor(std::chrono::milliseconds timeout) {
  if (!isMainThread()) {
    QThread::msleep(static_cast<unsigned long>(timeout.count()));
    return;
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(timeout.count()));
  // processEvents returns early when nothing is pending; sleep a little so callers that loop
  // on it do not spin a core.
  QThread::msleep(static_cast<unsigned long>(std::min<long long>(timeout.count(), 5)));
}

TQtDispatcherScope::TQtDispatcherScope() : FPrevious(GetMainThreadDispatcher()) {
  SetMainThreadDispatcher(&FDispatcher);
}

TQtDispatcherScope::~TQtDispatcherScope() { SetMainThreadDispatcher(FPrevious); }
