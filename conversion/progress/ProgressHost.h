// What the run's event handling needs from the main window.
#pragma once

#include <string>

// Implemented by the main window. Every call comes on the GUI thread.
class TProgressHost {
 public:
  virtual ~TProgressHost() = default;
  // The job list's "Progress" column of `row` (a row index of TConversionRun::TaskRows).
  virtual void SetRowProgress(int row, const std::string& text) = 0;
  // The progress window's Pause (true) or Resume (false) was pressed: the main window's
  // hidden Pause is disabled and Resume enabled when paused, the other way round otherwise.
  virtual void SetPaused(bool paused) = 0;
  // Every task has ended: Add, Remove, Clear and Start enabled; the hidden Stop, Pause and
  // Resume disabled.
  virtual void RunFinished() = 0;
};
