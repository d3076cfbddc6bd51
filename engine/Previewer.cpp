#include "Previewer.h"

#include <mutex>

#include "FFUtils.h"
#include "MainThreadDispatcher.h"

namespace {
std::mutex FactoryMutex;
TPreviewWindowFactory Factory;
}  // namespace

void SetPreviewWindowFactory(TPreviewWindowFactory factory) {
  std::lock_guard lock(FactoryMutex);
  Factory = std::move(factory);
}

TPreviewer::~TPreviewer() { Close(); }

void TPreviewer::Close() {
  if (Window) RunEvent(true, [this] { Window.reset(); });
}

bool TPreviewer::Show(const TBitmap24& frame, int64_t timeUs) {
  if (Unavailable) return false;
  bool shown = false;
  RunEvent(true, [&] {
    if (!Window) {
      TPreviewWindowFactory factory;
      {
        std::lock_guard lock(FactoryMutex);
        factory = Factory;
      }
      if (factory) Window = factory(frame.Width, frame.Height);
    }
    if (!Window || Window->closed()) return;
    Window->setCaption(FormatTimeCode(timeUs));
    Window->present(frame, timeUs);
    shown = true;
  });
  if (!shown) Unavailable = true;
  return shown;
}
