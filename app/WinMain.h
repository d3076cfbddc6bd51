// The main window: toolbar and menus, the job list, the format and output-folder boxes, the
// preview group, and the converter and player components.
#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "JobList.h"
#include "app/core/GlobalObject.h"
#include "app/core/SettingsStore.h"
#include "conversion/progress/ProgressHost.h"
#include "conversion/run/ConversionRun.h"
#include "conversion/run/JobRecord.h"
#include "engine/FFConverter.h"
#include "player/FFPlay.h"
#include "profiles/model/ProfileStore.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QToolButton;
class TConversionEvents;
class TFormatChooser;
class TVideoSurfaceWidget;

// The file-open dialog's filter of Add: display texts and patterns separated by "|".
extern const char* const AddFilesFilter;
// The product's support page (Help > Support and Contact).
extern const char* const SupportPageUrl;

class TfrmMain : public QMainWindow, public TProgressHost {
  Q_OBJECT

 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Toolbar, in its order, and the large Start button.
  QToolButton *btnAdd, *btnRemove, *btnClear, *BtnEdit, *btnSettings, *btnStart, *btnExit;
  QPushButton* SpeedButton1;
  TJobListView* lvFiles;
  // Output format (the chooser's box and arrow are edt1's) and folder.
  TFormatChooser* edt1;
  QPushButton* btnOptions;
  QLineEdit* edDirectory;
  QPushButton *btnBrows, *btnOpen;
  // Preview group.
  QGroupBox* grpbxPreview;
  TVideoSurfaceWidget* pan1;
  QSlider* trcPreview;
  QLabel *lblTime, *lblPTS;
  QToolButton *imgbtnPlay, *imgbtnPAuse, *imgbtnStop, *imgbtnSnap;
  QCheckBox* ckMute;
  QSlider* trcVolume;
  // Never visible.
  QPushButton *btnStop, *btnPause, *btnResume;
  QGroupBox *grpbxVideo, *grpbxAudio;
  QPushButton* btnDefault;
  QComboBox* cbOutputFormat;
  QPlainTextEdit* mmoLog;

  QMenu *File1, *Edit1, *Tools1, *Skin1, *Help1, *PopupMenu1;
  QAction *Add1, *Remove1, *Clear1, *Start1, *Settings1, *Exit1;
  QAction *Crop1, *Trim1, *WaterMark1, *CheckAll1, *UncheckAll1, *ReverseCheck1, *Check1, *Uncheck1;
  QAction *Preference1, *HelpItem1, *WebSite1, *Support1, *About1;
  std::array<QAction*, 7> SkinItems{};
  QAction *Crop2, *Trim2, *WaterMark2, *Add2, *Remove2, *Clear2, *Start2, *VideoInfo2;

  TFFConverter CCAVC;
  TFFPlayer FFPlayer;

  // Entry t: the row that became converter task t at the last Start.
  std::vector<int> TaskRows;
  std::string CurrentFormatCode;
  std::string CurrentFormatName;
  bool PlayAfterAdd = false;
  bool UserPaused = false;
  bool PlayStopped = true;

  TGlobalObject& Global() { return *FGlobal; }
  TSettingsStore& Settings() { return FSettings; }
  TFormatStore& Formats() { return FFormats; }

  // The job list's rows and the record each one owns.
  int JobCount() const { return static_cast<int>(FJobs.size()); }
  TlvFilesRecord& Job(int row) { return *FJobs.at(static_cast<size_t>(row)); }
  bool IsTicked(int row) const;
  void SetTicked(int row, bool ticked);
  QString CellText(int row, TJobColumn column) const;
  void SetCellText(int row, TJobColumn column, const QString& text);

  // Add without the dialog: the files in this order (Add's steps after the dialog).
  void AddFiles(const std::vector<std::string>& files);

  // Handlers; the menu items and buttons call these.
  void btnAddClick();
  void btnRemoveClick();
  void btnClearClick();
  void BtnEditClick();
  void btnSettingsClick();
  void btnStartClick();
  void btnStopClick();
  void btnPauseClick();
  void btnResumeClick();
  void btnBrowsClick();
  void btnOpenClick();
  void CheckAll1Click();
  void UncheckAll1Click();
  void ReverseCheck1Click();
  void Check1Click();
  void Uncheck1Click();
  void Edit1Popup();
  void PopupMenu1Popup();
  void Skin1Popup();
  void SkinItemClick(int skinIndex);
  void About1Click();
  void imgbtnStopClick();
  void trcVolumeChange(int position);
  void ckMuteClick(bool checked);
  // The exit question and the shutdown of the components; false keeps the window open.
  bool FormCloseQuery();

  // TProgressHost: the run's events reach the window through these.
  void SetRowProgress(int row, const std::string& text) override;
  void SetPaused(bool paused) override;
  void RunFinished() override;
  TConversionEvents& ConversionEvents() { return *FEvents; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateMenus();
  void CreateControls();
  QWidget* CreatePreviewGroup();
  QWidget* CreateOutputBoxes();
  void FormShow();
  void BuildFormatList();
  void edDirectoryChange(const QString& text);
  void lvFilesMouseDown(const QPoint& globalPos);
  void SetEditItemsEnabled(bool enabled);
  bool HasSelectedRow() const;
  void RemoveRow(int row);
  void SetJobButtonsEnabled(bool enabled);

  std::unique_ptr<TGlobalObject> FGlobal;
  TSettingsStore FSettings;
  TFormatStore FFormats;
  std::vector<std::unique_ptr<TlvFilesRecord>> FJobs;  // parallel to the rows
  std::unique_ptr<TConversionRun> FRun;
  std::unique_ptr<TConversionEvents> FEvents;
  QActionGroup* FSkinGroup = nullptr;
  int FTickedSkin = -1;
  bool FShown = false;
  bool FClosing = false;
};
