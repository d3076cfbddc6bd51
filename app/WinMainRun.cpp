// Start and the hidden Stop, Pause and Resume buttons, and the end of a run.
#include <QAction>
#include <QPushButton>
#include <QToolButton>

#include "WinMain.h"
#include "conversion/progress/ConversionEvents.h"
#include "conversion/progress/FormProgress.h"

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
  btnStop->setEnabled(true);
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);
  // Between Cancel and the final notice the main window takes clicks again; a second Start
  // or a Remove then would pull the tasks from under the run. RunFinished enables them.
  SetJobButtonsEnabled(false);
  // Modal: returns when the run is over and its progress window has closed.
  FEvents->Execute(*FRun);
}

void TfrmMain::SetRowProgress(int row, const std::string& text) {
  SetCellText(row, jcProgress, QString::fromStdString(text));
}

void TfrmMain::SetPaused(bool paused) {
  btnPause->setEnabled(!paused);
  btnResume->setEnabled(paused);
}

void TfrmMain::RunFinished() {
  SetJobButtonsEnabled(true);
  btnStop->setEnabled(false);
  btnPause->setEnabled(false);
  btnResume->setEnabled(false);
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
