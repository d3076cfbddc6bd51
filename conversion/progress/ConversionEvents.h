// The main window's handling of its converter's events during a run: the progress window,
// the job list's "Progress" column, the latest encoded picture, and what happens when the
// tasks end.
//
// How the main window uses it:
//   - It owns one TConversionEvents, constructed with its converter, itself as the
//     TProgressHost, the settings store and itself as the progress window's parent, and calls
//     Attach() once (the constructor of the main window, after the converter exists). A
//     MainThreadDispatcher whose main thread is the GUI thread must be installed
//     (TQtDispatcherScope, preview/QtDispatcher.h) for as long as tasks may run.
//   - btnStartClick: after TConversionRun::Prepare(rows) returned a count above 0, it calls
//     Execute(run). The progress window opens modally, its appearance starts the run, and
//     Execute returns when the window has closed and the final notice has been handled (tasks
//     cleared, RunFinished called). `run` must stay alive until Execute returns.
//   - btnStopClick / btnPauseClick / btnResumeClick call the converter directly (Stop(true),
//     Pause, Resume); the final notice then closes the window.
//   - Closing the main window: Detach(), then Stop(true) on the converter.
//   - Snapshots of the progress window (imgbtnSnap) go to the handler given to
//     SetSnapshotHandler; without one the button stays disabled.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include <QImage>
#include <QPointer>

#include "ProgressHost.h"
#include "conversion/run/ConversionRun.h"
#include "engine/Bitmap24.h"
#include "engine/FFConverter.h"

class QWidget;
class TfrmProgress;

// The progress window's capture: the latest encoded picture at its own size and the picture
// as the window shows it.
using TProgressSnapshotHandler = std::function<void(const TBitmap24& full, const QImage& shown)>;

class TConversionEvents {
 public:
  TConversionEvents(TCustomFFConverter& converter, TProgressHost& host, TSettingsStore& settings,
                    QWidget* dialogParent);
  // Detaches the handlers and frees the progress window (unless its parent already has).
  ~TConversionEvents();
  TConversionEvents(const TConversionEvents&) = delete;
  TConversionEvents& operator=(const TConversionEvents&) = delete;

  // Turns the converter's preview pictures on, keeps its events on the main thread and sets
  // its OnProgress, OnPreviewBitmap and OnTerminate to the handlers below.
  void Attach();
  // Clears those three handlers.
  void Detach();

  // Shows the progress window (created on first use, then reused) for the tasks `run` has
  // queued; see the header comment.
  void Execute(TConversionRun& run);

  // The handlers, all on the GUI thread: progress and preview are delivered there by the
  // converter, termination notices are carried there by Attach's handler; the final notice
  // comes last.
  void CCAVCProgress(TCustomFFConverter* sender, PProgressInfo info);
  void CCAVCPreviewBitmap(TCustomFFConverter* sender, const TPreviewInfo& info);
  void CCAVCTerminate(TCustomFFConverter* sender, const TTerminateInfo& info);

  void SetSnapshotHandler(TProgressSnapshotHandler handler);

  // The conversion preview bitmap: a copy of the latest encoded picture (empty before the
  // first one).
  const TBitmap24& ConversionPreviewBitmap() const { return FPreviewBitmap; }
  // The progress window; null before the first Execute.
  TfrmProgress* ProgressForm() const { return FForm.data(); }

 private:
  TfrmProgress& Form();
  void InstallSnapshotCapture();
  void RunCompleted();

  TCustomFFConverter& FConverter;
  TProgressHost& FHost;
  TSettingsStore& FSettings;
  QWidget* FDialogParent;
  TBitmap24 FPreviewBitmap;
  TProgressSnapshotHandler FSnapshotHandler;
  QPointer<TfrmProgress> FForm;
  TConversionRun* FRun = nullptr;  // the run being shown, between Execute and the final notice
  int FShownTask = -1;             // the task whose progress the window shows
  std::atomic<bool> FFinalNoticeHandled{false};
  std::shared_ptr<const int> FAlive = std::make_shared<const int>(0);
};
