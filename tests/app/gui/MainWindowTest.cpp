// The main window: first show, the job list's commands, menus, row drawing, the output
// folder, closing and a real run through the progress window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "ShellTestSupport.h"
#include "app/QtDialogSeam.h"
#include "conversion/progress/ConversionEvents.h"
#include "conversion/progress/FormProgress.h"
#include "app/Skins.h"
#include "profiles/ui/FormatChooser.h"

namespace {

std::string Text(const QString& text) { return text.toStdString(); }

std::vector<std::string> Captions(TfrmMain& w) {
  std::vector<std::string> rows;
  for (int row = 0; row < w.JobCount(); ++row) rows.push_back(Text(w.CellText(row, jcSource)));
  return rows;
}

class TMainWindowTest : public ::testing::Test, public TShellFixture {};

TEST_F(TMainWindowTest, FirstStartWithoutSettingsFile) {
  // The default folder is used when it can be written to, else the home folder's fallback.
  for (const bool defaultExists : {false, true}) {
    SCOPED_TRACE(defaultExists);
    TShellFixture f;
    if (defaultExists) f.Fake.ForceDirectories(f.Fake.DefaultOutputFolderResult);
    TfrmMain& w = f.Window();
    const std::string expected = defaultExists ? f.Fake.DefaultOutputFolderResult : f.Fake.FallbackOutputFolderResult;
    EXPECT_EQ(Text(w.edDirectory->text()), expected);
    EXPECT_EQ(f.Settings().OutPutDir(), expected);
    EXPECT_EQ(CurrentSkin(), 0);
    EXPECT_EQ(w.trcVolume->value(), 0);
    EXPECT_EQ(w.trcVolume->maximum(), 128);
    EXPECT_FALSE(w.ckMute->isChecked());
    EXPECT_EQ(w.CurrentFormatCode, "1");
    EXPECT_EQ(w.CurrentFormatName, "iPod Video MPEG-4");
    EXPECT_EQ(Text(w.edt1->FormatBox()->text()), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(Text(w.windowTitle()), "Ondrel XviD Converter" + GetVersionString());
    EXPECT_EQ(w.size(), QSize(786, 480));
    EXPECT_TRUE(w.lvFiles->ReportStyle());
    EXPECT_EQ(Text(w.lvFiles->headerItem()->text(jcDestination)), "Destination File");
    // At least its designed width, and wide enough for its caption.
    EXPECT_GE(w.lvFiles->columnWidth(jcTrimmedLength), 90);
    EXPECT_GE(w.lvFiles->columnWidth(jcTrimmedLength),
              w.lvFiles->header()->fontMetrics().horizontalAdvance(QStringLiteral("Trimmed Length")));
    EXPECT_EQ(w.lvFiles->columnWidth(jcLength), 65);
    EXPECT_TRUE(w.imgbtnPlay->isEnabled());
    EXPECT_FALSE(w.imgbtnPAuse->isEnabled() || w.imgbtnStop->isEnabled() || w.imgbtnSnap->isEnabled());
    EXPECT_FALSE(w.btnStop->isVisible() || w.btnPause->isVisible() || w.btnResume->isVisible() || w.mmoLog->isVisible());
    EXPECT_TRUE(f.Seam.Records().empty());
  }
}

TEST_F(TMainWindowTest, StoredVolumeAndMute) {
  struct TCase {
    int Volume, Mute, Slider;
    bool Muted;
  };
  for (const TCase c : {TCase{200, 1, 64, true}, TCase{-1, 0, 64, false}, TCase{128, 7, 128, false}, TCase{5, 1, 5, true}}) {
    SCOPED_TRACE(c.Volume);
    TShellFixture f;
    f.Settings().SetVolume(c.Volume);
    f.Settings().Ini().WriteInteger(SettingsSection, SettingKey::Mute, c.Mute);
    TfrmMain& w = f.Window();
    EXPECT_EQ(w.trcVolume->value(), c.Slider);
    EXPECT_EQ(w.ckMute->isChecked(), c.Muted);
    EXPECT_EQ(w.FFPlayer.Mute(), c.Muted);
  }
}

TEST_F(TMainWindowTest, AddSkipsDuplicatesFoldersAndUnreadableFiles) {
  const std::string a = Clip(Root.File("in/a.avi"));
  const std::string upper = Clip(Root.File("in/A.AVI"));
  const std::string junk = Root.File("in/junk.avi");
  std::filesystem::create_directories(Root.File("in/folder.avi"));
  { std::ofstream(junk) << "not a video"; }

  TfrmMain& w = Window();
  AddThroughDialog({a, a, Root.File("in/folder.avi"), junk});
  AddThroughDialog({a, upper});
  EXPECT_EQ(Seam.OpenFilesCalls(), 2);
  EXPECT_EQ(Seam.LastFilter(), AddFilesFilter);
  // Letter case counts: a.avi and A.AVI are two files.
  EXPECT_EQ(Captions(w), (std::vector<std::string>{a, upper}));
  EXPECT_TRUE(Seam.Records().empty());  // skipped silently
  EXPECT_EQ(w.CCAVC.TasksCount(), 0);

  // Cancel adds nothing.
  Window().btnAddClick();
  EXPECT_EQ(w.JobCount(), 2);
}

TEST_F(TMainWindowTest, AddFillsRowsAndRecords) {
  const std::string out = Folder("out");
  Settings().SetOutPutDir(out);
  Settings().Ini().WriteString("formatInfo1", "paraZoom", "pan");
  Fake.ForceDirectories(out);
  { std::ofstream(out + "/c_(new)_ipod.mp4") << "taken"; }
  std::vector<std::string> files;
  for (const char* name : {"a", "b", "c"}) files.push_back(Clip(Root.File(std::string("in/") + name + ".avi"), 3.0));

  TfrmMain& w = Window();
  AddThroughDialog(files);
  ASSERT_EQ(w.JobCount(), 3);
  const char* destinations[] = {"a_(new)_ipod.mp4", "b_(new)_ipod.mp4", "c_(new_1)_ipod.mp4"};
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(Text(w.CellText(row, jcLength)), "3");
    EXPECT_EQ(Text(w.CellText(row, jcTrimmedLength)), "3");
    EXPECT_EQ(Text(w.CellText(row, jcDestination)), destinations[row]);
    EXPECT_EQ(Text(w.CellText(row, jcProgress)), "");
    EXPECT_TRUE(w.IsTicked(row));
    const TlvFilesRecord& job = w.Job(row);
    EXPECT_EQ(job.SourcePath, files[row]);
    EXPECT_EQ(job.DestinationPath, out + "/" + destinations[row]);
    EXPECT_EQ(job.DurationSeconds, 3);
    EXPECT_EQ(job.ZoomMode, "pan");
    EXPECT_EQ(job.Brightness, 255);
    EXPECT_EQ(job.Saturation, 255);
    EXPECT_TRUE(job.Watermarks.empty());
  }
  EXPECT_EQ(w.lvFiles->SelectedRow(), 0);
}

TEST_F(TMainWindowTest, RemoveSelectsTheRowThatTakesThePlace) {
  TfrmMain& w = Window();
  std::vector<std::string> files;
  for (const char* name : {"a", "b", "c"}) files.push_back(Clip(Root.File(std::string("in/") + name + ".avi")));
  AddThroughDialog(files);

  w.lvFiles->SelectRow(2);  // the last row: the new last row follows
  w.btnRemoveClick();
  EXPECT_EQ(Captions(w), (std::vector<std::string>{files[0], files[1]}));
  EXPECT_EQ(w.lvFiles->SelectedRow(), 1);

  AddThroughDialog({files[2]});
  w.lvFiles->SelectRow(1);  // the middle row: the row below moves into its place
  w.btnRemoveClick();
  EXPECT_EQ(Captions(w), (std::vector<std::string>{files[0], files[2]}));
  EXPECT_EQ(w.lvFiles->SelectedRow(), 1);
  EXPECT_EQ(w.Job(1).SourcePath, files[2]);  // the records went with their rows

  w.lvFiles->clearSelection();
  w.btnRemoveClick();  // nothing selected: nothing removed
  EXPECT_EQ(w.JobCount(), 2);

  w.lvFiles->SelectRow(0);
  w.btnRemoveClick();
  w.lvFiles->SelectRow(0);
  w.btnRemoveClick();
  EXPECT_EQ(w.JobCount(), 0);
  EXPECT_FALSE(w.lvFiles->ReportStyle());
  EXPECT_EQ(w.lvFiles->columnCount(), 0);
  EXPECT_TRUE(w.lvFiles->isHeaderHidden());

  // The first new row brings the columns back; Clear empties the list again.
  AddThroughDialog({files[0], files[1]});
  EXPECT_TRUE(w.lvFiles->ReportStyle());
  EXPECT_EQ(Text(w.CellText(0, jcSource)), files[0]);
  w.btnClearClick();
  EXPECT_EQ(w.JobCount(), 0);
  EXPECT_FALSE(w.lvFiles->ReportStyle());
}

TEST_F(TMainWindowTest, CheckCommands) {
  TfrmMain& w = Window();
  AddThroughDialog({Clip(Root.File("a.avi")), Clip(Root.File("b.avi")), Clip(Root.File("c.avi"))});
  const auto ticks = [&] { return std::vector<bool>{w.IsTicked(0), w.IsTicked(1), w.IsTicked(2)}; };
  w.SetTicked(1, false);
  w.ReverseCheck1Click();
  EXPECT_EQ(ticks(), (std::vector<bool>{false, true, false}));
  w.lvFiles->SelectRow(2);
  w.Check1Click();
  EXPECT_EQ(ticks(), (std::vector<bool>{false, true, true}));
  w.lvFiles->SelectRow(1);
  w.Uncheck1Click();
  EXPECT_EQ(ticks(), (std::vector<bool>{false, false, true}));
  w.CheckAll1Click();
  EXPECT_EQ(ticks(), (std::vector<bool>{true, true, true}));
  w.UncheckAll1Click();
  EXPECT_EQ(ticks(), (std::vector<bool>{false, false, false}));
}

TEST_F(TMainWindowTest, MenusFollowTheListAndItsSelection) {
  TfrmMain& w = Window();
  const auto editEnabled = [&] {
    emit w.Edit1->aboutToShow();
    std::vector<bool> states;
    for (QAction* a : {w.Crop1, w.Trim1, w.WaterMark1, w.CheckAll1, w.UncheckAll1, w.ReverseCheck1, w.Check1, w.Uncheck1})
      states.push_back(a->isEnabled());
    return states;
  };
  const auto popupEnabled = [&] {
    emit w.PopupMenu1->aboutToShow();
    std::vector<bool> states;
    for (QAction* a : {w.Crop2, w.Trim2, w.WaterMark2, w.Add2, w.Remove2, w.Clear2, w.Start2, w.VideoInfo2})
      states.push_back(a->isEnabled());
    return states;
  };
  const std::vector<bool> none(8, false), all(8, true);
  const std::vector<bool> popupIdle{false, false, false, true, false, false, false, false};
  const std::vector<bool> popupSelected{true, false, true, true, true, true, true, true};

  EXPECT_EQ(editEnabled(), none);
  EXPECT_EQ(popupEnabled(), popupIdle);
  AddThroughDialog({Clip(Root.File("a.avi")), Clip(Root.File("b.avi"))});
  w.lvFiles->clearSelection();
  EXPECT_EQ(editEnabled(), none);  // rows, but none selected
  EXPECT_EQ(popupEnabled(), popupIdle);
  w.lvFiles->SelectRow(1);
  EXPECT_EQ(editEnabled(), all);
  EXPECT_EQ(popupEnabled(), popupSelected);  // Trim stays disabled in the popup
  EXPECT_TRUE(w.WaterMark1->isVisible() && w.WaterMark2->isVisible());
  EXPECT_FALSE(w.Settings1->isVisible());
}

TEST_F(TMainWindowTest, ExitAnsweredNoKeepsEverything) {
  TfrmMain& w = Window();
  AddThroughDialog({Clip(Root.File("a.avi"))});
  const std::string before = [&] {
    std::ifstream in(SettingsFile());
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  Seam.ScriptedAnswers = {false};
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.JobCount(), 1);
  ASSERT_EQ(Seam.Records().size(), 1u);
  EXPECT_EQ(Seam.Records()[0], (TSeamRecord{true, "Warning", "Do you really want to exit?", TMessageIcon::miQuestion}));
  std::ifstream in(SettingsFile());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);

  // Yes closes, storing the format categories' states.
  Seam.ScriptedAnswers = {true};
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(Settings().Ini().ReadString(CategoryStateSection, "0", ""), "1");
}

TEST_F(TMainWindowTest, RowColoursFollowTheTheme) {
  TfrmMain& w = Window();
  AddThroughDialog({Clip(Root.File("a.avi")), Clip(Root.File("b.avi")), Clip(Root.File("c.avi"))});
  const int x = w.lvFiles->columnViewportPosition(jcProgress) + 30;  // an empty cell
  const auto rowY = [&](int row) { return w.lvFiles->visualItemRect(w.lvFiles->topLevelItem(row)).center().y(); };
  const QColor expected[SkinCount] = {{226, 230, 246}, {236, 236, 236}, {248, 242, 224}, {246, 230, 241},
                                      {247, 225, 225}, {226, 247, 225}, {225, 240, 247}};
  w.lvFiles->clearSelection();
  for (int skin = SkinCount - 1; skin >= 0; --skin) {
    SCOPED_TRACE(SkinTheme(skin)->Caption);
    w.SkinItemClick(skin);
    EXPECT_EQ(Settings().SkinIndex(-1), skin);
    const QImage picture = ListPicture();
    EXPECT_EQ(QColor(picture.pixel(x, rowY(0))), QColor(Qt::white));
    EXPECT_EQ(QColor(picture.pixel(x, rowY(1))), expected[skin]);
    EXPECT_EQ(QColor(picture.pixel(x, rowY(2))), QColor(Qt::white));
  }
  EXPECT_EQ(OddRowColour(SkinCount), QColor(235, 235, 235));

  // A selected row without the focus: its fill and its frame.
  w.btnAdd->setFocus();
  w.lvFiles->SelectRow(1);
  const QRect rect = w.lvFiles->visualItemRect(w.lvFiles->topLevelItem(1));
  QImage picture = ListPicture();
  EXPECT_EQ(QColor(picture.pixel(x, rect.center().y())), QColor(229, 236, 248));
  EXPECT_EQ(QColor(picture.pixel(x, rect.top())), QColor(152, 181, 226));
  // The tick box of row 0: black frame, and its tick.
  const QRect first = w.lvFiles->visualItemRect(w.lvFiles->topLevelItem(0));
  EXPECT_EQ(QColor(picture.pixel(first.left() + 2, first.center().y())), QColor(Qt::black));
  w.SetTicked(0, false);
  picture = ListPicture();
  EXPECT_EQ(QColor(picture.pixel(first.left() + 6, first.top() + 10)), QColor(Qt::white));
}

TEST_F(TMainWindowTest, ChoosingTheTickedSkinDoesNothing) {
  TfrmMain& w = Window();
  emit w.Skin1->aboutToShow();
  EXPECT_TRUE(w.SkinItems[0]->isChecked());  // the applied theme, even with no stored index
  w.SkinItemClick(0);
  EXPECT_EQ(Settings().SkinIndex(-1), -1);
  w.SkinItemClick(3);
  EXPECT_TRUE(w.SkinItems[3]->isChecked());
  EXPECT_FALSE(w.SkinItems[0]->isChecked());
  EXPECT_EQ(CurrentSkin(), 3);
  EXPECT_TRUE(w.isVisible());
  w.SkinItemClick(0);
}

TEST_F(TMainWindowTest, BrowseChecksTheChosenFolder) {
  TfrmMain& w = Window();
  const std::string shown = Text(w.edDirectory->text());
  const std::string locked = Folder("locked");
  const std::string open = Folder("open");
  Fake.WritableFolders[locked] = false;

  Seam.ScriptedFolders = {"/", shown, locked};
  w.btnBrowsClick();
  EXPECT_EQ(Seam.Records().back(),
            (TSeamRecord{false, "Warning", "The path / is not a valid directory.", TMessageIcon::miWarning}));
  EXPECT_EQ(Text(w.edDirectory->text()), shown);
  w.btnBrowsClick();  // the folder already shown: nothing
  EXPECT_EQ(Seam.Records().size(), 1u);
  w.btnBrowsClick();
  EXPECT_EQ(Seam.Records().back().Text, "You login as tester .You don't have permission to write to directory:" + locked);
  EXPECT_EQ(Text(w.edDirectory->text()), Fake.FallbackOutputFolderResult);
  EXPECT_EQ(Settings().OutPutDir(), Fake.FallbackOutputFolderResult);

  Seam.ScriptedFolders = {open};
  w.btnBrowsClick();
  EXPECT_EQ(Text(w.edDirectory->text()), open);
  EXPECT_EQ(Settings().OutPutDir(), open);
  w.btnOpenClick();
  EXPECT_EQ(Fake.OpenedFolders, std::vector<std::string>{open});
}

TEST_F(TMainWindowTest, DroppedFilesAreAdded) {
  TfrmMain& w = Window();
  const std::string a = Clip(Root.File("a.avi"));
  const std::string b = Clip(Root.File("b.avi"));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(a)), QUrl::fromLocalFile(QString::fromStdString(b)),
                QUrl::fromLocalFile(QString::fromStdString(Root.Path())), QUrl::fromLocalFile(QString::fromStdString(a))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.lvFiles->viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w.lvFiles->viewport(), &drop);
  EXPECT_EQ(Captions(w), (std::vector<std::string>{a, b}));
  EXPECT_EQ(Seam.OpenFilesCalls(), 0);
}

TEST_F(TMainWindowTest, StartWithoutTickedRowOnlyWarns) {
  TfrmMain& w = Window();
  AddThroughDialog({Clip(Root.File("a.avi"))});
  w.UncheckAll1Click();
  w.btnStartClick();
  ASSERT_EQ(Seam.Records().size(), 1u);
  EXPECT_EQ(Seam.Records()[0],
            (TSeamRecord{false, "Warning", "Please select a file by clicking the check box!", TMessageIcon::miWarning}));
  EXPECT_EQ(w.ConversionEvents().ProgressForm(), nullptr);
  EXPECT_EQ(w.CCAVC.TasksCount(), 0);
}

TEST_F(TMainWindowTest, RunConvertsTheTickedRows) {
  const std::string out = Folder("out");
  Settings().SetOutPutDir(out);
  TfrmMain& w = Window();
  AddThroughDialog({Clip(Root.File("in/one.avi")), Clip(Root.File("in/skip.avi")), Clip(Root.File("in/two.avi"))});
  w.SetTicked(1, false);
  w.btnStartClick();  // returns when the progress window has closed

  EXPECT_EQ(w.TaskRows, (std::vector<int>{0, 2}));
  EXPECT_EQ(Text(w.CellText(0, jcProgress)), "100%");
  EXPECT_EQ(Text(w.CellText(1, jcProgress)), "");
  EXPECT_EQ(Text(w.CellText(2, jcProgress)), "100%");
  for (const char* name : {"one", "two"}) {
    SCOPED_TRACE(name);
    const std::string output = out + "/" + name + "_(new).mp4";
    ASSERT_TRUE(std::filesystem::exists(output));
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(output));
    TFileStreamInfo info;
    ASSERT_TRUE(probe.GetFileStreamInfo(info));
    EXPECT_GT(info.Duration, 1000000);
  }
  EXPECT_FALSE(std::filesystem::exists(out + "/skip_(new).mp4"));
  // The output folder opens once, after the last job; nothing shuts down.
  EXPECT_EQ(Fake.OpenedFolders, std::vector<std::string>{out});
  EXPECT_TRUE(Fake.ShutdownCalls.empty());
  EXPECT_TRUE(w.btnAdd->isEnabled() && w.btnStart->isEnabled());
  EXPECT_FALSE(w.btnStop->isEnabled() || w.btnPause->isEnabled());
  EXPECT_EQ(w.CCAVC.TasksCount(), 0);
  EXPECT_TRUE(Seam.Records().empty());
}

TEST_F(TMainWindowTest, AddFilterBecomesQtNameFilters) {
  const QStringList filters = QtNameFilters(AddFilesFilter);
  ASSERT_GE(filters.size(), 30);
  EXPECT_TRUE(filters[0].startsWith(QStringLiteral("All Supported Video Formats (*.AVI *.AVM ")));
  EXPECT_TRUE(filters[0].endsWith(QStringLiteral("*.SWF)")));  // the trailing ";" gives no pattern
  EXPECT_EQ(filters[3], QStringLiteral("MPEG4 files (*.mp4) (*.mp4)"));
  EXPECT_EQ(filters.back(), QStringLiteral("All files (*.*) (*.*)"));
}

}  // namespace

namespace {

// Every control lies inside the fixed-size window without overlapping its neighbours. With
// ONDREL_SCREENSHOT_DIR set, the window and the open format list are saved there as pictures.
TEST_F(TMainWindowTest, ControlsFitTheWindow) {
  TfrmMain& w = Window();
  AddThroughDialog({Clip(Root.File("a_rather_long_source_file_name_for_the_list.avi")), Clip(Root.File("b.avi"))});
  ProcessEvents();
  const QRect inside = w.centralWidget()->rect();
  const auto area = [&](QWidget* widget) { return QRect(widget->mapTo(w.centralWidget(), QPoint(0, 0)), widget->size()); };
  std::vector<QWidget*> toolbar{w.btnAdd, w.btnRemove, w.btnClear, w.BtnEdit, w.btnSettings, w.btnStart, w.btnExit};
  for (size_t i = 0; i < toolbar.size(); ++i) {
    EXPECT_TRUE(inside.contains(area(toolbar[i]))) << i;
    if (i > 0) {
      EXPECT_EQ(area(toolbar[i]).top(), area(toolbar[0]).top()) << i;  // one row
    }
  }
  for (QWidget* widget : std::initializer_list<QWidget*>{w.lvFiles, w.grpbxPreview, w.SpeedButton1, w.edt1, w.edDirectory,
                                                         w.btnBrows, w.btnOpen, w.btnOptions})
    EXPECT_TRUE(inside.contains(area(widget))) << Text(widget->objectName());
  EXPECT_FALSE(area(w.lvFiles).intersects(area(w.grpbxPreview)));
  EXPECT_FALSE(area(w.lvFiles).intersects(area(w.SpeedButton1)));
  EXPECT_GE(area(w.lvFiles).top(), area(w.btnAdd).bottom());

  const QByteArray folder = qgetenv("ONDREL_SCREENSHOT_DIR");
  if (!folder.isEmpty()) w.grab().save(QString::fromUtf8(folder) + QStringLiteral("/main-window.png"));
  w.edt1->OpenList();
  ProcessEvents();
  EXPECT_TRUE(w.edt1->IsListOpen());
  if (!folder.isEmpty()) w.grab().save(QString::fromUtf8(folder) + QStringLiteral("/format-list.png"));
  w.edt1->CloseList();
}

}  // namespace
