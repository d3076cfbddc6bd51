// Start and the hidden Stop, Pause and Resume buttons, and the end of a run.
#include <QAction>
#include <QMetaObject>
#include <QPushButton>
#include <QToolButton>

#include "WinMain.h"

void TfrmMain::SetJobButtonsEnabled(bool enabled) {
  for (QWidget* button : std::initializer_list<QWidget*>{btnAdd, btnRemove, btnClear, btnStart, SpeedButton1})
    button->setEnabled(enabled);
  for (QAction* action : {Add1, Remove1, Clear1, Start1}) action->setEnabled(enabled);
}

void TfrmMain::btnStartClick() {
  std::vector<TRunJob> rows;
  rows.reserve(FJobs.size());
  for (int row = 0; row < JobCount(); ++row) rows.push_back({&Job(row), IsTicked(row)});
  bool anyTicked = false;
  for (const TRunJob& row : rows) anyTicked = anyTicked || row.Ticked;
  if (anyTicked) imgbtnStopClick();

  if (!FRun) FRun = std::make_unique<TConversionRun>(CCAVC, FSettings, FFormats);
  // A job that cannot be prepared throws; the application's error handler shows it.
  if (FRun->Prepare(rows, TRunErrorPolicy::epAbandon) == 0) return;
  TaskRows = FRun->TaskRows();

  // The list must not change under a running conversion.
  SetJobButtonsEnabled(false);
  btnStop->setEnabled(true);
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);
  FRun->Start();
}

void TfrmMain::ConnectConverter() {
  CCAVC.SetOnTerminate([this](TCustomFFConverter*, const TTerminateInfo& info) {
    // Delivered on a thread of the converter; the window's state changes on its own thread,
    // in the order the notices were sent.
    QMetaObject::invokeMethod(this, [this, info] { CCAVCTerminate(info); }, Qt::QueuedConnection);
  });
}

void TfrmMain::CCAVCTerminate(const TTerminateInfo& info) {
  if (info.TaskIndex < 0) {
    SetJobButtonsEnabled(true);
    btnStop->setEnabled(false);
    btnPause->setEnabled(false);
    btnResume->setEnabled(false);
    CCAVC.ClearTasks();
    return;
  }
  if (!info.Finished || info.TaskIndex >= static_cast<int>(TaskRows.size())) return;
  SetCellText(TaskRows[static_cast<size_t>(info.TaskIndex)], jcProgress, QStringLiteral("100%"));
}

void TfrmMain::btnStopClick() {
  btnStop->setEnabled(false);
  btnAdd->setEnabled(true);
  for (QWidget* button : std::initializer_list<QWidget*>{btnRemove, btnClear, btnStart, btnPause, btnResume})
    button->setEnabled(false);
  CCAVC.Stop(true);
}

void TfrmMain::btnPauseClick() {
  btnPause->setEnabled(false);
  btnResume->setEnabled(true);
  CCAVC.Pause();
}

void TfrmMain::btnResumeClick() {
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);
  CCAVC.Resume();
}
