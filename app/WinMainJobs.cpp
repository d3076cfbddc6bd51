// The job list's commands: Add, Remove, Clear, the check commands and the menus' enabling.
#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QToolButton>

#include "WinMain.h"
#include "app/core/DialogSeam.h"
#include "app/core/OutputNaming.h"
#include "platform/Platform.h"

const char* const AddFilesFilter =
    "All Supported Video Formats|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.3G2;*.M4V;*.MP4;*.MPG;*.MPEG;"
    "*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;|All Supported Audio Formats|*.MP3;*.AAC;*.WAV;*.WMA;"
    "*.OGG;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|AVI files "
    "(*.avi)|*.avi|MPEG4 files (*.mp4)|*.mp4|MPEG files (*.mpg,*.mpeg)|*.mpg;*.mpeg|3GP files (*.3gp,*.3g2)|*.3gp;"
    "*.3g2|Itunes Video files (*.m4v)|*.m4v|Windows Media files (*.wmv,*.asf)|*.wmv;*.asf|Real Media files (*.rm,"
    "*.rmvb)|*.rm;*.rmvb|Video CD files (*.dat)|*.dat|Quick Time files (*.mov)|*.mov|Flash Video files (*.flv)|*.flv|"
    "Matroska Video files (*.mkv)|*.mkv|MJPEG Video files (*.mjpg,*.mjpeg)|*.mjpg;*.mjpeg|Animated GIF files (*.gif)|"
    "*.gif|H.264/MPEG4 AVC Video files (*.mts,*.m2ts)|*.mts;*.m2ts|DVD video object files (*.vob)|*.vob|MPEG-1 Video "
    "files (*.mpv)|*.mpv|Video Transport Stream files (*.ts)|*.ts|TP Video files (*.tp)|*.tp|Maceomeida Flash files "
    "(*.swf)|*.swf|MP3 Audio files (*.mp3)|*.mp3|Advanced Audio Coding files (*.aac)|*.aac|Monkey's Audio files "
    "(*.ape)|*.ape|Ogg Vorbis Audio files (*.ogg)|*.ogg|Windows Media Audio files (*.wma)|*.wma|MusePack Audio files "
    "(*.mpc)|*.mpc|MPEG Audio files (*.mpa)|*.mpa|MPEG-4 Audio files (*.m4a)|*.m4a|Matroska Audio files (*.mka)|"
    "*.mka|DTS Audio files (*.dts)|*.dts|Audio Codec 3 files (*.ac3)|*.ac3|Speex Audio files (*.spx)|*.spx|Real "
    "Audio files (*.ra,*.ram)|*.ra;*.ram|MPEG Layer II Compressed Audio files (*.mp2)|*.mp2|All files (*.*)|*.*";

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool TfrmMain::IsTicked(int row) const {
  const QTreeWidgetItem* item = lvFiles->topLevelItem(row);
  return item != nullptr && item->checkState(jcSource) == Qt::Checked;
}

void TfrmMain::SetTicked(int row, bool ticked) {
  if (QTreeWidgetItem* item = lvFiles->topLevelItem(row)) item->setCheckState(jcSource, ticked ? Qt::Checked : Qt::Unchecked);
}

QString TfrmMain::CellText(int row, TJobColumn column) const {
  const QTreeWidgetItem* item = lvFiles->topLevelItem(row);
  return item != nullptr ? item->text(column) : QString();
}

void TfrmMain::SetCellText(int row, TJobColumn column, const QString& text) {
  if (QTreeWidgetItem* item = lvFiles->topLevelItem(row)) item->setText(column, text);
}

bool TfrmMain::HasSelectedRow() const { return JobCount() > 0 && lvFiles->SelectedRow() >= 0; }

void TfrmMain::btnAddClick() {
  // The libraries are needed before the dialog: without them no file could be added.
  if (!CCAVC.LoadLibraries(MediaLibraryFolder())) return;
  const std::vector<std::string> files = DialogSeam().OpenFiles("Open", AddFilesFilter);
  if (files.empty()) return;
  AddFiles(files);
}

void TfrmMain::AddFiles(const std::vector<std::string>& files) {
  if (!CCAVC.LoadLibraries(MediaLibraryFolder())) return;
  CCAVC.ClearTasks();
  const int code = FSettings.FormatCode();
  const std::string section = FormatSectionName(code);
  const std::string fileExt = FFormats.FileExt(code);
  const std::string zoomMode = FSettings.Ini().ReadString(section, ProfileKey::paraZoom, DefaultZoomMode);

  for (const std::string& file : files) {
    if (Platform().DirectoryExists(file)) continue;
    bool listed = false;
    for (const auto& job : FJobs) listed = listed || job->SourcePath == file;  // letter case counts
    if (listed) continue;

    const std::string destination = MakeOutputFileName(FSettings, file, "_ipod." + fileExt);
    TInputOptions options;
    options.FileName = file;
    const int task = CCAVC.AddTask(file, options);
    if (task < 0) continue;

    btnStart->setEnabled(true);
    if (!lvFiles->ReportStyle()) lvFiles->SetReportStyle(true);
    int64_t duration = 0;
    TFileStreamInfo info;
    if (TAVProbe* probe = CCAVC.InputProbe(task, 0); probe != nullptr && probe->GetFileStreamInfo(info))
      duration = info.Duration;
    const QString seconds = QString::number(duration > 0 ? duration / 1000000 : 0);
    auto* item = new QTreeWidgetItem(lvFiles);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setText(jcSource, Q(file));
    item->setText(jcLength, seconds);
    item->setText(jcTrimmedLength, seconds);
    item->setText(jcDestination, Q(FileNameOf(destination)));
    item->setText(jcProgress, QString());
    item->setCheckState(jcSource, Qt::Checked);

    auto job = std::make_unique<TlvFilesRecord>();
    job->SourcePath = file;
    job->DestinationPath = destination;
    job->DurationSeconds = static_cast<int32_t>(seconds.toInt());
    job->ZoomMode = zoomMode;
    FJobs.push_back(std::move(job));

    btnClear->setEnabled(true);
    btnRemove->setEnabled(true);
    CCAVC.RemoveTask(task);
    CCAVC.ClearTasks();
    lvFiles->SelectRow(0);
    lvFiles->viewport()->update();
  }
  // Set by Play when it found the list empty and asked for these files.
  PlayAfterAdd = false;
}

void TfrmMain::RemoveRow(int row) {
  delete lvFiles->takeTopLevelItem(row);
  FJobs.erase(FJobs.begin() + row);
}

void TfrmMain::btnRemoveClick() {
  const int row = lvFiles->SelectedRow();
  if (row < 0) return;
  imgbtnStopClick();
  RemoveRow(row);
  if (JobCount() == 0) {
    lvFiles->SetReportStyle(false);
  } else {
    lvFiles->SelectRow(row < JobCount() ? row : JobCount() - 1);
  }
  lvFiles->viewport()->update();
}

void TfrmMain::btnClearClick() {
  if (JobCount() == 0) return;
  CCAVC.ClearTasks();
  lvFiles->clear();
  FJobs.clear();
  lvFiles->SetReportStyle(false);
  imgbtnStopClick();
}

void TfrmMain::CheckAll1Click() {
  for (int row = 0; row < JobCount(); ++row) SetTicked(row, true);
}

void TfrmMain::UncheckAll1Click() {
  for (int row = 0; row < JobCount(); ++row) SetTicked(row, false);
}

void TfrmMain::ReverseCheck1Click() {
  for (int row = 0; row < JobCount(); ++row) SetTicked(row, !IsTicked(row));
}

void TfrmMain::Check1Click() {
  if (const int row = lvFiles->SelectedRow(); row >= 0) SetTicked(row, true);
}

void TfrmMain::Uncheck1Click() {
  if (const int row = lvFiles->SelectedRow(); row >= 0) SetTicked(row, false);
}

void TfrmMain::SetEditItemsEnabled(bool enabled) {
  for (QAction* action : {Crop1, Trim1, WaterMark1, CheckAll1, UncheckAll1, ReverseCheck1, Check1, Uncheck1})
    action->setEnabled(enabled);
}

void TfrmMain::Edit1Popup() {
  WaterMark1->setVisible(true);
  SetEditItemsEnabled(HasSelectedRow());
}

void TfrmMain::PopupMenu1Popup() {
  WaterMark2->setVisible(true);
  const bool enabled = HasSelectedRow();
  for (QAction* action : {Crop2, WaterMark2, Remove2, Clear2, Start2, VideoInfo2}) action->setEnabled(enabled);
  Add2->setEnabled(true);
  // Trim is reached through the Edit menu only.
  Trim2->setEnabled(false);
}

void TfrmMain::lvFilesMouseDown(const QPoint& globalPos) { PopupMenu1->popup(globalPos); }

void TfrmMain::BtnEditClick() { PopupMenu1->popup(BtnEdit->mapToGlobal(QPoint(0, BtnEdit->height()))); }
