#include "FormProgress.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>
#include <utility>

#include "conversion/run/ProgressTexts.h"
#include "ProgressHost.h"
#include "app/core/DialogSeam.h"
#include "app/core/GlobalObject.h"
#include "conversion/run/ConversionRun.h"
#include "engine/FFConverter.h"
#include "preview/CameraIcon.h"

namespace {

constexpr int FormWidth = 420;
constexpr int FormHeight = 460;
constexpr int PictureWidth = 372;
constexpr int PictureHeight = 210;
constexpr int OutputLineWidth = 283;
const QColor PictureBackground(166, 202, 240);

QLabel* CaptionLabel(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

}  // namespace

TfrmProgress::TfrmProgress(TCustomFFConverter& converter, TProgressHost& host, const TBitmap24& previewBitmap,
                           QWidget* parent)
    : QDialog(parent), FConverter(converter), FHost(host), FPreviewBitmap(previewBitmap) {
  setWindowTitle("Progress");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setModal(true);
  setFixedSize(FormWidth, FormHeight);

  imgPreview = new QLabel(this);
  imgPreview->setFixedSize(PictureWidth, PictureHeight);
  imgPreview->setFrameShape(QFrame::StyledPanel);
  imgPreview->setAlignment(Qt::AlignCenter);

  lbl1 = CaptionLabel("Current Time:", this);
  lbl2 = CaptionLabel("Length:", this);
  lbl3 = CaptionLabel("File Size:", this);
  lbl4 = CaptionLabel("Progress:", this);
  lbl5 = CaptionLabel("File:", this);
  lblTime = new QLabel(this);
  lblLength = new QLabel(this);
  lblSize = new QLabel(this);
  lblProgress = new QLabel(this);
  lblOutput = new QLabel(this);
  lblOutput->setMinimumWidth(OutputLineWidth);

  progbarFile = new QProgressBar(this);
  progbarFile->setRange(0, 100);
  progbarFile->setTextVisible(true);

  ckOpen = new QCheckBox("Open the output folder after conversion", this);
  // Unticked once, then kept from run to run.
  ckShutDown = new QCheckBox("Shut down computer after conversion", this);

  btnPause = new QPushButton("Pause", this);
  btnResume = new QPushButton("Resume", this);
  btnCancel = new QPushButton("Cancel", this);
  for (QPushButton* button : {btnPause, btnResume, btnCancel}) button->setAutoDefault(false);
  imgbtnSnap = new QToolButton(this);
  imgbtnSnap->setIcon(CameraIcon(24));
  imgbtnSnap->setIconSize(QSize(24, 24));
  imgbtnSnap->setAutoRaise(true);
  imgbtnSnap->setToolTip("Save snapshot picture");
  imgbtnSnap->setEnabled(false);

  Timer1 = new QTimer(this);
  Timer1->setInterval(100);

  auto* values = new QGridLayout;
  values->setHorizontalSpacing(8);
  values->addWidget(lbl1, 0, 0);
  values->addWidget(lblTime, 0, 1);
  values->addWidget(lbl4, 0, 2);
  values->addWidget(lblProgress, 0, 3);
  values->addWidget(lbl2, 1, 0);
  values->addWidget(lblLength, 1, 1);
  values->addWidget(lbl3, 1, 2);
  values->addWidget(lblSize, 1, 3);
  values->setColumnStretch(1, 1);
  values->setColumnStretch(3, 1);

  // The file gets the whole width: its shortened caption still runs to 50 characters.
  auto* file = new QHBoxLayout;
  file->setSpacing(8);
  file->addWidget(lbl5);
  file->addWidget(lblOutput, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(imgbtnSnap);
  buttons->addStretch(1);
  buttons->addWidget(btnPause);
  buttons->addWidget(btnResume);
  buttons->addWidget(btnCancel);

  auto* form = new QVBoxLayout(this);
  form->setContentsMargins(24, 16, 24, 16);
  form->setSpacing(10);
  form->addWidget(imgPreview, 0, Qt::AlignHCenter);
  form->addLayout(values);
  form->addLayout(file);
  form->addWidget(progbarFile);
  form->addWidget(ckOpen);
  form->addWidget(ckShutDown);
  form->addStretch(1);
  form->addLayout(buttons);

  connect(btnPause, &QPushButton::clicked, this, &TfrmProgress::btnPauseClick);
  connect(btnResume, &QPushButton::clicked, this, &TfrmProgress::btnResumeClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmProgress::btnCancelClick);
  connect(imgbtnSnap, &QToolButton::clicked, this, &TfrmProgress::imgbtnSnapClick);
  connect(Timer1, &QTimer::timeout, this, &TfrmProgress::Timer1Timer);

  ClearPicture();
}

void TfrmProgress::Execute(TConversionRun& run) {
  FPendingRun = &run;
  FRunStarted = false;
  exec();
  FPendingRun = nullptr;
}

void TfrmProgress::SetSnapshotCapture(std::function<void()> capture) {
  FSnapshotCapture = std::move(capture);
  imgbtnSnap->setEnabled(static_cast<bool>(FSnapshotCapture));
}

void TfrmProgress::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (FPendingRun != nullptr) FormShow();
}

void TfrmProgress::FormShow() {
  TConversionRun& run = *std::exchange(FPendingRun, nullptr);
  for (QLabel* value : {lblTime, lblLength, lblSize, lblProgress, lblOutput}) value->clear();
  lblOutput->setToolTip(QString());
  ckOpen->setChecked(true);
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);
  ClearPicture();
  Timer1->start();
  progbarFile->setRange(0, 100);
  progbarFile->setValue(0);
  try {
    run.Start();
    FRunStarted = true;
  } catch (const std::exception& e) {
    // Nothing runs, so no final notice will close the window: close it here, once the
    // modal loop has begun.
    DialogSeam().ShowMessage(ApplicationTitleText, e.what(), TMessageIcon::miWarning);
    QMetaObject::invokeMethod(this, &TfrmProgress::reject, Qt::QueuedConnection);
  }
}

void TfrmProgress::ClearPicture() {
  FPicture = QImage(PictureWidth, PictureHeight, QImage::Format_RGB32);
  FPicture.fill(PictureBackground);
  imgPreview->setPixmap(QPixmap::fromImage(FPicture));
}

void TfrmProgress::Timer1Timer() {
  if (FPreviewBitmap.Empty()) return;
  const TFitRect fit = FitPicture(FPreviewBitmap.Width, FPreviewBitmap.Height, PictureWidth, PictureHeight);
  // The bitmap's B, G, R rows, read in place.
  const QImage frame(FPreviewBitmap.Pixels.data(), FPreviewBitmap.Width, FPreviewBitmap.Height,
                     FPreviewBitmap.Stride, QImage::Format_BGR888);
  FPicture.fill(PictureBackground);
  QPainter painter(&FPicture);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRect(fit.Left, fit.Top, fit.Right - fit.Left, fit.Bottom - fit.Top), frame);
  painter.end();
  imgPreview->setPixmap(QPixmap::fromImage(FPicture));
}

void TfrmProgress::btnPauseClick() {
  FConverter.Pause();
  FHost.SetPaused(true);
  btnPause->setEnabled(false);
  btnResume->setEnabled(true);
}

void TfrmProgress::btnResumeClick() {
  FConverter.Resume();
  FHost.SetPaused(false);
  btnPause->setEnabled(true);
  btnResume->setEnabled(false);
}

void TfrmProgress::btnCancelClick() { close(); }

void TfrmProgress::imgbtnSnapClick() {
  if (FSnapshotCapture) FSnapshotCapture();
}

void TfrmProgress::done(int result) {
  // The final notice may arrive while Stop pumps events below and close the window again;
  // the close under way finishes it.
  if (FInCloseQuery) return;
  FInCloseQuery = true;
  FConverter.Stop(true);
  FInCloseQuery = false;
  Timer1->stop();
  QDialog::done(result);
}
