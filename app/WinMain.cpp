// The main window's creation, layout, menus, first show, skins, folders and closing. The job
// list's commands are in WinMainJobs.cpp, Start and its companions in WinMainRun.cpp.
#include "WinMain.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "About.h"
#include "Skins.h"
#include "preview/CameraIcon.h"
#include "profiles/ui/FormSettings.h"
#include "app/core/DialogSeam.h"
#include "conversion/hook/ConverterHook.h"
#include "conversion/progress/ConversionEvents.h"
#include "conversion/progress/FormProgress.h"
#include "platform/Platform.h"
#include "preview/VideoSurfaceWidget.h"
#include "profiles/ui/FormatChooser.h"

const char* const SupportPageUrl = "https://ondrel.example/xvid-converter/support";

namespace {

const QColor FormatBoxColour(246, 248, 248);

QString Q(const std::string& text) { return QString::fromStdString(text); }


QToolButton* ToolbarButton(QWidget* parent, const char* name, const char* caption, QStyle::StandardPixmap icon) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setText(QLatin1String(caption));
  button->setIcon(parent->style()->standardIcon(icon));
  button->setIconSize(QSize(22, 22));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setFixedSize(78, 50);
  return button;
}

QToolButton* PreviewButton(QWidget* parent, const char* name, const char* hint, const QIcon& icon) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setToolTip(QLatin1String(hint));
  button->setIcon(icon);
  button->setAutoRaise(true);
  button->setFixedSize(28, 24);
  return button;
}

}  // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent),
      FGlobal(std::make_unique<TGlobalObject>()),
      FSettings(FGlobal->SettingsFile()),
      FFormats(FGlobal->FormatStoreFile()) {
  setObjectName(QStringLiteral("frmMain"));
  QGuiApplication::setApplicationDisplayName(Q(FGlobal->ProductTitle()));

  CreateControls();
  CreateMenus();
  // Preview pictures on, events on this thread, and the run's handlers.
  FEvents = std::make_unique<TConversionEvents>(CCAVC, *this, FSettings, this);
  FEvents->Attach();
  // CCAVCCustomHook: each task's frames get its job's adjustments and watermarks. The run's
  // task list is only rebuilt while no task runs.
  CCAVC.SetOnCustomHook(
      MakeConverterHook([this](int task) -> const TlvFilesRecord* { return FRun ? FRun->JobOfTask(task) : nullptr; }));

  // Theme 1..7 for the stored 0..6; anything else keeps the design's theme 1.
  const int skin = FSettings.SkinIndex(0);
  const int applied = SkinTheme(skin) != nullptr ? skin : 0;
  ApplySkin(applied);
  lvFiles->SetSkinIndex(applied);
  FTickedSkin = applied;

  // Start-up goes on without the libraries; Add and Play try again when they are used.
  if (!FFPlayer.LibrariesLoaded() && !FFPlayer.LoadLibraries(MediaLibraryFolder()))
    mmoLog->appendPlainText(Q(FFPlayer.LastErrorMessage()));
}

TfrmMain::~TfrmMain() {
  // No handler may reach a half-destroyed window.
  FEvents->Detach();
  CCAVC.SetOnCustomHook(nullptr);
}

void TfrmMain::CreateControls() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->setSpacing(6);

  auto* toolbar = new QHBoxLayout;
  toolbar->setSpacing(4);
  btnAdd = ToolbarButton(central, "btnAdd", "&Add", QStyle::SP_FileDialogNewFolder);
  btnRemove = ToolbarButton(central, "btnRemove", "&Remove", QStyle::SP_DialogDiscardButton);
  btnClear = ToolbarButton(central, "btnClear", "&Clear", QStyle::SP_DialogResetButton);
  BtnEdit = ToolbarButton(central, "BtnEdit", "&Edit", QStyle::SP_FileDialogDetailedView);
  btnSettings = ToolbarButton(central, "btnSettings", "&Settings", QStyle::SP_FileDialogInfoView);
  btnStart = ToolbarButton(central, "btnStart", "&Start", QStyle::SP_MediaPlay);
  btnExit = ToolbarButton(central, "btnExit", "&Exit", QStyle::SP_DialogCloseButton);
  for (QToolButton* button : {btnAdd, btnRemove, btnClear, BtnEdit, btnSettings, btnStart, btnExit})
    toolbar->addWidget(button);
  toolbar->addStretch(1);
  layout->addLayout(toolbar);

  auto* middle = new QHBoxLayout;
  lvFiles = new TJobListView(central);
  lvFiles->SetReportStyle(true);
  middle->addWidget(lvFiles, 1);
  middle->addWidget(CreatePreviewGroup());
  layout->addLayout(middle, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(CreateOutputBoxes(), 1);
  SpeedButton1 = new QPushButton(QStringLiteral("&Start"), central);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  SpeedButton1->setIconSize(QSize(24, 24));
  SpeedButton1->setFixedSize(150, 58);
  QFont big = SpeedButton1->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.25);
  SpeedButton1->setFont(big);
  bottom->addWidget(SpeedButton1, 0, Qt::AlignBottom);
  layout->addLayout(bottom);

  // Never shown: they carry state that other windows read and set.
  btnStop = new QPushButton(QStringLiteral("Stop"), central);
  btnPause = new QPushButton(QStringLiteral("Pause"), central);
  btnResume = new QPushButton(QStringLiteral("Resume"), central);
  grpbxVideo = new QGroupBox(central);
  grpbxAudio = new QGroupBox(central);
  btnDefault = new QPushButton(central);
  cbOutputFormat = new QComboBox(central);
  mmoLog = new QPlainTextEdit(central);
  mmoLog->setObjectName(QStringLiteral("mmoLog"));
  for (QWidget* hidden : std::initializer_list<QWidget*>{btnStop, btnPause, btnResume, grpbxVideo, grpbxAudio,
                                                         btnDefault, cbOutputFormat, mmoLog})
    hidden->hide();

  connect(btnAdd, &QToolButton::clicked, this, &TfrmMain::btnAddClick);
  connect(btnRemove, &QToolButton::clicked, this, &TfrmMain::btnRemoveClick);
  connect(btnClear, &QToolButton::clicked, this, &TfrmMain::btnClearClick);
  connect(BtnEdit, &QToolButton::clicked, this, &TfrmMain::BtnEditClick);
  connect(btnSettings, &QToolButton::clicked, this, &TfrmMain::btnSettingsClick);
  connect(btnStart, &QToolButton::clicked, this, &TfrmMain::btnStartClick);
  connect(btnExit, &QToolButton::clicked, this, &QWidget::close);
  connect(SpeedButton1, &QPushButton::clicked, this, &TfrmMain::btnStartClick);
  connect(btnStop, &QPushButton::clicked, this, &TfrmMain::btnStopClick);
  connect(btnPause, &QPushButton::clicked, this, &TfrmMain::btnPauseClick);
  connect(btnResume, &QPushButton::clicked, this, &TfrmMain::btnResumeClick);
  connect(lvFiles, &TJobListView::PopupRequested, this, &TfrmMain::lvFilesMouseDown);
  connect(lvFiles, &TJobListView::FilesDropped, this, [this](const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(file.toStdString());
    AddFiles(paths);
  });
  connect(cbOutputFormat, &QComboBox::currentIndexChanged, this,
          [this](int index) { if (FShown) FSettings.SetOutPutFormat(index); });
}

QWidget* TfrmMain::CreatePreviewGroup() {
  grpbxPreview = new QGroupBox(QStringLiteral("Preview"), centralWidget());
  grpbxPreview->setObjectName(QStringLiteral("grpbxPreview"));
  grpbxPreview->setFixedWidth(276);
  auto* layout = new QVBoxLayout(grpbxPreview);
  layout->setContentsMargins(9, 12, 9, 6);
  layout->setSpacing(3);

  pan1 = new TVideoSurfaceWidget(grpbxPreview);
  pan1->setObjectName(QStringLiteral("pan1"));
  pan1->setFixedSize(256, 183);
  pan1->SetBackground(QColor(128, 128, 128));
  layout->addWidget(pan1, 0, Qt::AlignHCenter);

  trcPreview = new QSlider(Qt::Horizontal, grpbxPreview);
  trcPreview->setObjectName(QStringLiteral("trcPreview"));
  trcPreview->setTickPosition(QSlider::NoTicks);
  trcPreview->setEnabled(false);
  layout->addWidget(trcPreview);

  auto* times = new QHBoxLayout;
  lblTime = new QLabel(QStringLiteral("00:00:00"), grpbxPreview);
  lblPTS = new QLabel(QStringLiteral("00:00:00"), grpbxPreview);
  times->addWidget(lblTime);
  times->addStretch(1);
  times->addWidget(lblPTS);
  layout->addLayout(times);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(2);
  imgbtnPlay = PreviewButton(grpbxPreview, "imgbtnPlay", "play", style()->standardIcon(QStyle::SP_MediaPlay));
  imgbtnPAuse = PreviewButton(grpbxPreview, "imgbtnPAuse", "pause", style()->standardIcon(QStyle::SP_MediaPause));
  imgbtnStop = PreviewButton(grpbxPreview, "imgbtnStop", "stop", style()->standardIcon(QStyle::SP_MediaStop));
  imgbtnSnap = PreviewButton(grpbxPreview, "imgbtnSnap", "capture image", CameraIcon(16));
  for (QToolButton* button : {imgbtnPlay, imgbtnPAuse, imgbtnStop, imgbtnSnap}) buttons->addWidget(button);
  buttons->addStretch(1);
  ckMute = new QCheckBox(QStringLiteral("Mute"), grpbxPreview);
  ckMute->setObjectName(QStringLiteral("ckMute"));
  buttons->addWidget(ckMute);
  layout->addLayout(buttons);

  auto* volume = new QHBoxLayout;
  volume->addWidget(new QLabel(QStringLiteral("Volume:"), grpbxPreview));
  trcVolume = new QSlider(Qt::Horizontal, grpbxPreview);
  trcVolume->setObjectName(QStringLiteral("trcVolume"));
  trcVolume->setRange(0, 128);
  volume->addWidget(trcVolume, 1);
  layout->addLayout(volume);
  layout->addStretch(1);  // the controls stay together below the picture

  connect(imgbtnStop, &QToolButton::clicked, this, &TfrmMain::imgbtnStopClick);
  connect(trcVolume, &QSlider::valueChanged, this, &TfrmMain::trcVolumeChange);
  connect(trcVolume, &QSlider::sliderReleased, this, [this] { FSettings.SetVolume(trcVolume->value()); });
  connect(ckMute, &QCheckBox::toggled, this, &TfrmMain::ckMuteClick);
  return grpbxPreview;
}

QWidget* TfrmMain::CreateOutputBoxes() {
  auto* box = new QWidget(centralWidget());
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(5);
  QPalette boxPalette = palette();
  boxPalette.setColor(QPalette::Base, FormatBoxColour);

  edt1 = new TFormatChooser(FSettings, TChooserHost::chMainWindow, box);
  edt1->setObjectName(QStringLiteral("edt1"));
  btnOptions = new QPushButton(QStringLiteral("Settings"), box);
  btnOptions->setObjectName(QStringLiteral("btnOptions"));
  grid->addWidget(new QLabel(QStringLiteral("Output Format:"), box), 0, 0);
  grid->addWidget(edt1, 0, 1, 1, 2);
  grid->addWidget(btnOptions, 0, 3);

  edDirectory = new QLineEdit(box);
  edDirectory->setObjectName(QStringLiteral("edDirectory"));
  edDirectory->setReadOnly(true);
  edDirectory->setPalette(boxPalette);
  btnBrows = new QPushButton(QStringLiteral("Brows"), box);
  btnOpen = new QPushButton(QStringLiteral("Open"), box);
  grid->addWidget(new QLabel(QStringLiteral("Output Folder:"), box), 1, 0);
  grid->addWidget(edDirectory, 1, 1, 1, 2);
  auto* folderButtons = new QHBoxLayout;
  folderButtons->setSpacing(4);
  folderButtons->addWidget(btnBrows);
  folderButtons->addWidget(btnOpen);
  grid->addLayout(folderButtons, 1, 3);
  grid->setColumnStretch(1, 1);

  connect(btnOptions, &QPushButton::clicked, this, &TfrmMain::btnSettingsClick);
  connect(edt1, &TFormatChooser::FormatChosen, this, [this](int code, const QString& caption) {
    CurrentFormatCode = std::to_string(code);
    CurrentFormatName = caption.toStdString();
  });
  connect(edDirectory, &QLineEdit::textChanged, this, &TfrmMain::edDirectoryChange);
  connect(btnBrows, &QPushButton::clicked, this, &TfrmMain::btnBrowsClick);
  connect(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
  return box;
}

void TfrmMain::CreateMenus() {
  const auto item = [this](QMenu* menu, const char* caption, void (TfrmMain::*handler)()) {
    QAction* action = menu->addAction(QLatin1String(caption));
    if (handler != nullptr) connect(action, &QAction::triggered, this, handler);
    return action;
  };

  File1 = menuBar()->addMenu(QStringLiteral("&File"));
  Add1 = item(File1, "&Add", &TfrmMain::btnAddClick);
  Remove1 = item(File1, "&Remove", &TfrmMain::btnRemoveClick);
  Clear1 = item(File1, "&Clear", &TfrmMain::btnClearClick);
  Start1 = item(File1, "&Start", &TfrmMain::btnStartClick);
  File1->addSeparator();
  Settings1 = item(File1, "Se&ttings", &TfrmMain::btnSettingsClick);
  Settings1->setVisible(false);
  Exit1 = File1->addAction(QStringLiteral("&Exit"));
  connect(Exit1, &QAction::triggered, this, &QWidget::close);

  // Trim, Crop and the watermark dialog, the Preferences and the file information dialog
  // open nothing yet; their items are there so the menus keep their shape.
  Edit1 = menuBar()->addMenu(QStringLiteral("&Edit"));
  Crop1 = item(Edit1, "&Crop", &TfrmMain::imgbtnStopClick);
  Trim1 = item(Edit1, "&Trim", &TfrmMain::imgbtnStopClick);
  WaterMark1 = item(Edit1, "&Video Effect && Water Mark", &TfrmMain::imgbtnStopClick);
  Edit1->addSeparator();
  CheckAll1 = item(Edit1, "&Check All", &TfrmMain::CheckAll1Click);
  UncheckAll1 = item(Edit1, "&Uncheck All", &TfrmMain::UncheckAll1Click);
  ReverseCheck1 = item(Edit1, "&Reverse Check", &TfrmMain::ReverseCheck1Click);
  Edit1->addSeparator();
  Check1 = item(Edit1, "C&heck", &TfrmMain::Check1Click);
  Uncheck1 = item(Edit1, "U&ncheck", &TfrmMain::Uncheck1Click);
  connect(Edit1, &QMenu::aboutToShow, this, &TfrmMain::Edit1Popup);

  Tools1 = menuBar()->addMenu(QStringLiteral("&Tools"));
  Preference1 = item(Tools1, "&Preference", nullptr);
  Preference1->setEnabled(false);
  Skin1 = Tools1->addMenu(QStringLiteral("&Skin"));
  FSkinGroup = new QActionGroup(this);
  FSkinGroup->setExclusive(true);
  for (int index = 0; index < SkinCount; ++index) {
    QAction* action = Skin1->addAction(QLatin1String(SkinTheme(index)->Caption));
    action->setCheckable(true);
    FSkinGroup->addAction(action);
    connect(action, &QAction::triggered, this, [this, index] { SkinItemClick(index); });
    SkinItems[static_cast<size_t>(index)] = action;
  }
  connect(Skin1, &QMenu::aboutToShow, this, &TfrmMain::Skin1Popup);

  Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
  HelpItem1 = Help1->addAction(QStringLiteral("&Help"));
  connect(HelpItem1, &QAction::triggered, this, [this] { Platform().OpenUrl(FGlobal->HelpPageUrl()); });
  Help1->addSeparator();
  WebSite1 = Help1->addAction(QStringLiteral("&Web Site"));
  connect(WebSite1, &QAction::triggered, this, [this] { Platform().OpenUrl(FGlobal->WebSiteUrl()); });
  Support1 = Help1->addAction(QStringLiteral("&Support and Contact"));
  connect(Support1, &QAction::triggered, this, [] { Platform().OpenUrl(SupportPageUrl); });
  About1 = item(Help1, "&About", &TfrmMain::About1Click);

  PopupMenu1 = new QMenu(this);
  Crop2 = item(PopupMenu1, "&Crop", &TfrmMain::imgbtnStopClick);
  Trim2 = item(PopupMenu1, "&Trim", &TfrmMain::imgbtnStopClick);
  WaterMark2 = item(PopupMenu1, "&Video Effect && Water Mark", &TfrmMain::imgbtnStopClick);
  PopupMenu1->addSeparator();
  Add2 = item(PopupMenu1, "Add", &TfrmMain::btnAddClick);
  Remove2 = item(PopupMenu1, "Remove", &TfrmMain::btnRemoveClick);
  Clear2 = item(PopupMenu1, "Clear", &TfrmMain::btnClearClick);
  Start2 = item(PopupMenu1, "Start", &TfrmMain::btnStartClick);
  PopupMenu1->addSeparator();
  VideoInfo2 = item(PopupMenu1, "Video Infomation", nullptr);
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmMain::PopupMenu1Popup);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FShown) return;
  FShown = true;
  FormShow();
}

void TfrmMain::FormShow() {
  // Layout.
  setFixedSize(786, 480);
  imgbtnPlay->setEnabled(true);
  imgbtnPAuse->setEnabled(false);
  imgbtnStop->setEnabled(false);
  imgbtnSnap->setEnabled(false);
  PlayAfterAdd = false;
  trcPreview->setEnabled(false);
  lvFiles->SetReportStyle(true);

  // Settings.
  cbOutputFormat->setCurrentIndex(FSettings.OutPutFormat());
  const TStartupFolders folders = SettleStartupFolders(FSettings);
  edDirectory->setText(Q(folders.Output));
  CurrentFormatCode = FSettings.FormatCodeText();
  CurrentFormatName = FSettings.FormatName();
  trcVolume->setRange(0, 128);
  trcVolume->setValue(VolumeSliderPosition(FSettings.Volume()));
  const int mute = FSettings.Mute();
  if (mute == 1 || mute == 0) ckMute->setChecked(mute == 1);
  FGlobal->SetVersionText(FGlobal->GetVersionString());
  setWindowTitle(Q(FGlobal->ProductTitle() + FGlobal->VersionText()));
  BuildFormatList();
}

void TfrmMain::BuildFormatList() { edt1->BuildFormatList(); }

void TfrmMain::edDirectoryChange(const QString& text) { FSettings.SetOutPutDir(text.toStdString()); }

void TfrmMain::btnSettingsClick() {
  edt1->SaveCategoryStates();
  int code = FSettings.FormatCode();
  // The dialog stores the confirmed format; the rebuilt list shows it.
  if (TfrmSettings::Execute(this, FSettings, FFormats, code)) BuildFormatList();
}

void TfrmMain::btnBrowsClick() {
  const std::string folder = DialogSeam().ChooseFolder();
  if (folder.empty() || Q(folder) == edDirectory->text()) return;
  if (folder.size() < 4) {
    DialogSeam().ShowMessage("Warning", "The path " + folder + " is not a valid directory.", TMessageIcon::miWarning);
    return;
  }
  if (FGlobal->IsDirectoryWritable(folder)) {
    FSettings.SetOutPutDir(folder);
    edDirectory->setText(Q(folder));
    return;
  }
  DialogSeam().ShowMessage("Warning",
                           "You login as " + QString::fromStdString(FGlobal->GetLoginUserName()).trimmed().toStdString() +
                               " .You don't have permission to write to directory:" + folder,
                           TMessageIcon::miWarning);
  const std::string fallback = Platform().FallbackOutputFolder();
  FSettings.SetOutPutDir(fallback);
  edDirectory->setText(Q(fallback));
}

void TfrmMain::btnOpenClick() {
  const std::string folder = FSettings.OutPutDir();
  if (edDirectory->text().size() > 2) Platform().OpenFolder(folder);
}

void TfrmMain::Skin1Popup() {
  // The applied theme is the ticked one; with no stored index that is "Default".
  const int stored = FSettings.SkinIndex(FTickedSkin);
  if (SkinTheme(stored) == nullptr) return;
  SkinItems[static_cast<size_t>(stored)]->setChecked(true);
  FTickedSkin = stored;
}

void TfrmMain::SkinItemClick(int skinIndex) {
  if (skinIndex == FTickedSkin || SkinTheme(skinIndex) == nullptr) return;
  hide();
  ApplySkin(skinIndex);
  lvFiles->SetSkinIndex(skinIndex);
  SkinItems[static_cast<size_t>(skinIndex)]->setChecked(true);
  FTickedSkin = skinIndex;
  show();
  FSettings.SetSkinIndex(skinIndex);
}

void TfrmMain::About1Click() {
  TfrmAbout about(*FGlobal, this);
  about.exec();
}

void TfrmMain::trcVolumeChange(int position) { FFPlayer.SetAudioVolume(position); }

void TfrmMain::ckMuteClick(bool checked) {
  FFPlayer.SetMute(checked);
  FSettings.SetMute(checked);
}

void TfrmMain::imgbtnStopClick() {
  if (PlayStopped) return;
  FFPlayer.Close(true);
  trcPreview->setValue(0);
  trcPreview->setEnabled(false);
  PlayStopped = true;
  UserPaused = false;
  imgbtnPlay->setEnabled(true);
  imgbtnStop->setEnabled(false);
  imgbtnPAuse->setEnabled(false);
  imgbtnSnap->setEnabled(false);
  lblTime->setText(QStringLiteral("00:00:00"));
  lblPTS->setText(QStringLiteral("00:00:00"));
  pan1->clear();
  pan1->update();
}

bool TfrmMain::FormCloseQuery() {
  if (!DialogSeam().AskYesNo("Warning", "Do you really want to exit?")) return false;
  edt1->SaveCategoryStates();
  FEvents->Detach();
  CCAVC.SetOnCustomHook(nullptr);
  CCAVC.Stop(true);
  FFPlayer.Close(false);
  TaskRows.clear();
  return true;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (FClosing || FormCloseQuery()) {
    FClosing = true;
    event->accept();
  } else {
    event->ignore();
  }
}
