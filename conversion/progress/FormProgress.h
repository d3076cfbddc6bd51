// The modal progress window of a conversion run: the running job's times, size, number and
// percentage, a live picture of the frames being encoded, Pause/Resume/Cancel, a snapshot
// button and the two completion options.
#pragma once

#include <functional>

#include <QDialog>
#include <QImage>

#include "engine/Bitmap24.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QToolButton;
class TConversionRun;
class TCustomFFConverter;
class TProgressHost;

class TfrmProgress : public QDialog {
  Q_OBJECT

 public:
  // `previewBitmap` is the conversion preview bitmap the live picture is drawn from; it and
  // the other references must outlive the window.
  TfrmProgress(TCustomFFConverter& converter, TProgressHost& host, const TBitmap24& previewBitmap,
               QWidget* parent = nullptr);

  // Shows the window modally; its appearance starts `run`. Returns when the window has
  // closed. RunStarted() tells whether the start succeeded (a final notice then follows).
  void Execute(TConversionRun& run);
  bool RunStarted() const { return FRunStarted; }

  // The live picture as it is shown (imgPreview's content).
  const QImage& PreviewPicture() const { return FPicture; }
  // Enables the snapshot button and calls `capture` when it is pressed; an empty one
  // disables the button.
  void SetSnapshotCapture(std::function<void()> capture);

  QLabel* imgPreview;
  QLabel *lbl1, *lblTime;
  QLabel *lbl2, *lblLength;
  QLabel *lbl3, *lblSize;
  QLabel *lbl4, *lblProgress;
  QLabel *lbl5, *lblOutput;
  QProgressBar* progbarFile;
  QCheckBox* ckShutDown;
  QCheckBox* ckOpen;
  QPushButton *btnPause, *btnResume, *btnCancel;
  QToolButton* imgbtnSnap;
  QTimer* Timer1;

  void btnPauseClick();
  void btnResumeClick();
  void btnCancelClick();
  void imgbtnSnapClick();
  // Redraws the live picture from the conversion preview bitmap.
  void Timer1Timer();

  // Every close (Cancel, the title bar, Escape, the final notice) ends here: the close query
  // stops the converter, waiting for its tasks, and stops the timer; the close is allowed.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void ClearPicture();

  TCustomFFConverter& FConverter;
  TProgressHost& FHost;
  const TBitmap24& FPreviewBitmap;
  QImage FPicture;
  std::function<void()> FSnapshotCapture;
  TConversionRun* FPendingRun = nullptr;  // started when the window appears
  bool FRunStarted = false;
  bool FInCloseQuery = false;
};
