#include "ConversionEvents.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

#include "FormProgress.h"
#include "conversion/run/ProgressTexts.h"
#include "engine/MainThreadDispatcher.h"
#include "platform/Platform.h"

TConversionEvents::TConversionEvents(TCustomFFConverter& converter, TProgressHost& host, TSettingsStore& settings,
                                     QWidget* dialogParent)
    : FConverter(converter), FHost(host), FSettings(settings), FDialogParent(dialogParent) {}

TConversionEvents::~TConversionEvents() {
  Detach();
  FAlive.reset();
  delete FForm.data();
}

void TConversionEvents::Attach() {
  FConverter.SetPreviewBitmap(true);
  // The handlers draw on widgets: they must run on the GUI thread.
  FConverter.SetTriggerEventInMainThread(true);
  // A notice already under way when this object goes still arrives: each handler checks, on
  // the GUI thread, that the object is there.
  const std::weak_ptr<const int> alive = FAlive;
  FConverter.SetOnProgress([this, alive](TCustomFFConverter* sender, PProgressInfo info) {
    if (!alive.expired()) CCAVCProgress(sender, info);
  });
  FConverter.SetOnPreviewBitmap([this, alive](TCustomFFConverter* sender, const TPreviewInfo& info) {
    if (!alive.expired()) CCAVCPreviewBitmap(sender, info);
  });
  FConverter.SetOnTerminate([this, alive](TCustomFFConverter*, const TTerminateInfo& info) {
    // Delivered on a thread of the converter's and carried to the GUI thread. The final notice
    // comes after every task's own has been handled; a task's notice may still be on its way
    // when the next task reports (see CCAVCTerminate).
    RunEvent(true, [this, alive, &info] {
      if (!alive.expired()) CCAVCTerminate(nullptr, info);
    });
  });
}

void TConversionEvents::Detach() {
  FConverter.SetOnProgress(nullptr);
  FConverter.SetOnPreviewBitmap(nullptr);
  FConverter.SetOnTerminate(nullptr);
}

TfrmProgress& TConversionEvents::Form() {
  if (FForm.isNull()) {
    FForm = new TfrmProgress(FConverter, FHost, FPreviewBitmap, FDialogParent);
    InstallSnapshotCapture();
  }
  return *FForm;
}

void TConversionEvents::SetSnapshotHandler(TProgressSnapshotHandler handler) {
  FSnapshotHandler = std::move(handler);
  if (!FForm.isNull()) InstallSnapshotCapture();
}

void TConversionEvents::InstallSnapshotCapture() {
  if (!FSnapshotHandler) {
    FForm->SetSnapshotCapture(nullptr);
    return;
  }
  FForm->SetSnapshotCapture([this] {
    // Before the first encoded picture there is nothing to capture.
    if (!FPreviewBitmap.Empty()) FSnapshotHandler(FPreviewBitmap, FForm->PreviewPicture());
  });
}

void TConversionEvents::Execute(TConversionRun& run) {
  FRun = &run;
  FShownTask = -1;
  FFinalNoticeHandled = false;
  TfrmProgress& form = Form();
  form.Execute(run);
  // A Cancel closes the window before the final notice has come; the run is over only when
  // it has been handled, so the next Start finds the tasks cleared.
  if (form.RunStarted()) WaitPumping([this] { return FFinalNoticeHandled.load(); });
  FRun = nullptr;
}

void TConversionEvents::CCAVCProgress(TCustomFFConverter*, PProgressInfo info) {
  if (FRun == nullptr) return;
  const int task = info->TaskIndex;
  const TlvFilesRecord* job = FRun->JobOfTask(task);
  const int64_t expected = job != nullptr ? ExpectedJobDuration(*job) : 0;
  const int percent = ProgressPercent(info->CurrentDuration, info->TotalDuration, expected);
  FShownTask = task;

  if (!FForm.isNull()) {
    FForm->progbarFile->setValue(percent);
    FForm->lblTime->setText(QString::fromStdString(SecondsText(KnownCurrentDuration(info->CurrentDuration))));
    FForm->lblLength->setText(
        QString::fromStdString(SecondsText(EffectiveTotalDuration(info->TotalDuration, expected))));
    FForm->lblSize->setText(QString::fromStdString(KilobytesText(info->TotalSize)));
    FForm->lblProgress->setText(QString::fromStdString(TaskNumberText(task, FConverter.TasksCount())));
    if (job != nullptr) {
      FForm->lblOutput->setText(QString::fromStdString(ShortCaption(job->SourcePath)));
      FForm->lblOutput->setToolTip(QString::fromStdString(job->SourcePath));
    }
  }
  const int row = FRun->RowOfTask(task);
  if (row >= 0) FHost.SetRowProgress(row, std::to_string(percent) + "%");
}

void TConversionEvents::CCAVCPreviewBitmap(TCustomFFConverter*, const TPreviewInfo& info) {
  if (info.Bitmap != nullptr && !info.Bitmap->Empty()) FPreviewBitmap = *info.Bitmap;
}

void TConversionEvents::CCAVCTerminate(TCustomFFConverter*, const TTerminateInfo& info) {
  if (info.TaskIndex < 0) {
    FFinalNoticeHandled = true;
    FHost.RunFinished();
    FConverter.ClearTasks();
    if (!FForm.isNull() && FForm->isVisible()) FForm->close();
    return;
  }
  // A stopped or failed task shows nothing; its row keeps its last percentage.
  if (!info.Finished || FRun == nullptr) return;
  const int row = FRun->RowOfTask(info.TaskIndex);
  if (row >= 0) FHost.SetRowProgress(row, "100%");
  // The next task may already have reported; the bar then stays with it.
  if (!FForm.isNull() && info.TaskIndex >= FShownTask) FForm->progbarFile->setValue(100);
  if (info.TaskIndex + 1 == static_cast<int>(FRun->TaskRows().size())) RunCompleted();
}

void TConversionEvents::RunCompleted() {
  if (FForm.isNull()) return;
  if (FForm->ckOpen->isChecked()) {
    // As the Open button does: only a folder name of more than two characters is opened.
    const std::string folder = FSettings.OutPutDir();
    if (folder.size() > 2) Platform().OpenFolder(folder);
  }
  // A clean power-off: forcing it could lose other programs' unsaved work.
  if (FForm->ckShutDown->isChecked()) Platform().Shutdown(false);
}
