// The floating preview window of a conversion task: the host supplies the window (a stay-on-top
// tool window showing a VideoSurface); the engine creates and feeds it on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "VideoSurface.h"

class TPreviewWindow : public VideoSurface {
 public:
  // True once the user has closed the window.
  virtual bool closed() const = 0;
  virtual void setCaption(const std::string& caption) = 0;
};

// Makes a window whose client area is width x height; called on the main thread.
using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>(int width, int height)>;
void SetPreviewWindowFactory(TPreviewWindowFactory factory);

class TPreviewer {
 public:
  ~TPreviewer();
  // Shows one frame; the window is made at the first frame. False when there is no window
  // to show it in (no host factory, or the user closed it).
  bool Show(const TBitmap24& frame, int64_t timeUs);
  // Closes the window (when preview is switched off during a run).
  void Close();

 private:
  std::unique_ptr<TPreviewWindow> Window;
  bool Unavailable = false;
};
