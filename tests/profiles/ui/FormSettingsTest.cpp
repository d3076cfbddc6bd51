// The Settings dialog over a temporary format store and settings file, driven through its
// widgets.
#include "ProfilesUiTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "profiles/ui/FormSettings.h"
#include "profiles/ui/FormatChooser.h"
#include "profiles/ui/OwnerDrawColours.h"

namespace {

using B = TParamBox;

constexpr const char* StoreText =
    "[formatInfo404]\n"
    "VideoSize=as source,320x240,640x480\n"
    "VideoBitRate=as source,800,1200\n"
    "FrameRate=as source,25,29.97\n"
    "VideoEncoder=mpeg-4,xvid\n"
    "AudioBitRate=64,128\n"
    "SampleRate=as source,44100,48000\n"
    "AudioEncoder=mp3,gsm\n"
    "Channel=as source,mono 1 channel,stereo 2 channels\n"
    "Volume=100%,150%,110%\n"
    "iVideoSize=2\niVideoBitRate=1\niFrameRate=1\niVideoEncoder=1\niAudioBitRate=1\n"
    "iSampleRate=1\niChannel=2\niVolume=0\niAudioEncoder=0\n"
    "\n[formatInfo405]\n"
    "VideoSize=320x240,640x480\nVideoBitRate=500,1000\nFrameRate=25,30\nVideoEncoder=wmv2\n"
    "AudioBitRate=96,128\nSampleRate=44100\nAudioEncoder=wma2\nChannel=stereo 2 channels\nVolume=100%\n"
    "\n[formatInfo500]\n"
    "VideoSize=null\nVideoEncoder=null\nAudioBitRate=128,192\nSampleRate=44100\nAudioEncoder=mp3\n"
    "Channel=stereo 2 channels\nVolume=100%\n";

// The user's section of 404 with a typed video bit rate and sample rate.
constexpr const char* SettingsText =
    "[settings]\nFormatCode=404\nFormatName=AVI Video (*.avi)\n"
    "\n[formatInfo404]\n"
    "iVideoSize=1\niVideoBitRate=-1\nparaVideoBitRate=1234\niFrameRate=2\niVideoEncoder=1\n"
    "iSampleRate=-1\nparaSampleRate=22050\niAudioBitRate=0\niChannel=1\niVolume=1\niAudioEncoder=0\n"
    "paraZoom=lbox\n"
    "\n[formatInfo405]\n"
    "iVideoSize=1\niVideoBitRate=-1\nparaVideoBitRate=777\niFrameRate=0\niVideoEncoder=0\n"
    "iSampleRate=0\niAudioBitRate=1\niChannel=0\niVolume=0\niAudioEncoder=0\n";

class FormSettingsTest : public ::testing::Test, protected TProfilesUiFixture {
 protected:
  FormSettingsTest() {
    WriteFile(StoreFile, StoreText);
    WriteFile(SettingsFile, SettingsText);
  }

  // A shown, active dialog, loaded as the main window's button shows it.
  std::unique_ptr<TfrmSettings> Open() {
    auto dialog = std::make_unique<TfrmSettings>(Settings, Store);
    dialog->show();
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    return dialog;
  }
  static QString Shown(const TfrmSettings& dialog, B box) {
    const QComboBox* combo = dialog.Box(box);
    return combo->isEditable() ? combo->lineEdit()->text() : combo->currentText();
  }
  // Replaces the box's text as a user pasting it would: not through the key filter.
  static void Paste(TfrmSettings& dialog, B box, const QString& text) {
    QComboBox* combo = dialog.Box(box);
    combo->setFocus(Qt::MouseFocusReason);
    combo->lineEdit()->selectAll();
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(combo, Qt::Key_V, Qt::ControlModifier);
  }
  // Tab to the next control: the box loses the focus.
  static void Leave(TfrmSettings& dialog, B box) { QTest::keyClick(dialog.Box(box), Qt::Key_Tab); }
  void SwitchTo(TfrmSettings& dialog, int code) {
    TFormatChooser& chooser = *dialog.Chooser();
    QTest::mouseClick(chooser.ArrowButton(), Qt::LeftButton);
    ASSERT_TRUE(chooser.IsListOpen());
    TFormatList& list = *chooser.List();
    const auto rowOf = [&](bool header, int value) {
      const auto& rows = chooser.Model().Rows();
      for (size_t i = 0; i < rows.size(); ++i)
        if ((header ? rows[i].Info.IsCategory : rows[i].Info.IsFormat) && rows[i].Info.Code == value) return static_cast<int>(i);
      return -1;
    };
    const auto click = [&](int row, int x) {
      list.EnsureVisible(row);
      QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(x, list.RowRect(row).center().y()));
    };
    if (rowOf(false, code) < 0) click(rowOf(true, code / 100), 5);
    click(rowOf(false, code), 100);
    ASSERT_EQ(chooser.CurrentCode(), code);
  }
  std::vector<std::pair<std::string, std::string>> Section(int code) const {
    return Settings.Ini().ReadSectionValues(FormatSectionName(code));
  }
};

TEST_F(FormSettingsTest, ShowsTheStoredChoicesOfTheCurrentFormat) {
  const auto dialog = Open();
  EXPECT_EQ(dialog->windowTitle(), "Settings");
  EXPECT_GE(dialog->width(), 475);
  EXPECT_GE(dialog->height(), 370);
  for (const QLabel* label : dialog->findChildren<QLabel*>())
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();  // nothing cut
  EXPECT_EQ(dialog->Chooser()->FormatBox()->text(), "AVI Video (*.avi)");
  EXPECT_EQ(dialog->Box(B::pbVideoSize)->count(), 3);
  EXPECT_EQ(dialog->Box(B::pbVolume)->maxVisibleItems(), 3);
  const struct {
    B Box;
    const char* Text;
  } shown[] = {
      {B::pbVideoSize, "320x240"},   {B::pbVideoBitRate, "1234"},       {B::pbFrameRate, "29.97"},
      {B::pbVideoEncoder, "xvid"},   {B::pbZoom, "Letterbox"},          {B::pbSampleRate, "22050"},
      {B::pbAudioBitRate, "64"},     {B::pbChannel, "mono 1 channel"},  {B::pbVolume, "150%"},
      {B::pbAudioEncoder, "mp3"},
  };
  for (const auto& c : shown) {
    SCOPED_TRACE(ParamBoxDef(c.Box).Name);
    EXPECT_EQ(Shown(*dialog, c.Box), c.Text);
    EXPECT_TRUE(dialog->Box(c.Box)->isEnabled());
  }
  EXPECT_EQ(dialog->Box(B::pbVideoBitRate)->currentIndex(), -1);  // typed, not an entry
}

TEST_F(FormSettingsTest, AGroupWithoutEncodersIsDisabled) {
  const struct {
    int Code;
    bool Video, Audio;
  } cases[] = {{500, false, true}, {1, false, false}};  // audio only; no section at all
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Code);
    Settings.SetCurrentFormat(FormatCaptionOf(c.Code), c.Code);
    const auto dialog = Open();
    for (const TParamBoxDef& def : ParamBoxDefs()) {
      SCOPED_TRACE(def.Name);
      EXPECT_EQ(dialog->Box(def.Box)->isEnabled(), def.Video ? c.Video : c.Audio);
    }
  }
}

TEST_F(FormSettingsTest, DefaultSelectsTheFormatsDefaultsAndStoresNothing) {
  const std::string before = FileText(SettingsFile);
  const auto dialog = Open();
  dialog->Box(B::pbZoom)->setCurrentIndex(2);
  Paste(*dialog, B::pbVideoSize, "100x100");
  QTest::mouseClick(dialog->DefaultButton(), Qt::LeftButton);
  const struct {
    B Box;
    const char* Text;
  } defaults[] = {
      {B::pbVideoSize, "640x480"}, {B::pbVideoBitRate, "800"},  {B::pbFrameRate, "25"},
      {B::pbVideoEncoder, "xvid"}, {B::pbZoom, "Full screen"},  {B::pbSampleRate, "44100"},
      {B::pbAudioBitRate, "128"},  {B::pbChannel, "stereo 2 channels"}, {B::pbVolume, "100%"},
      {B::pbAudioEncoder, "mp3"},
  };
  for (const auto& c : defaults) EXPECT_EQ(Shown(*dialog, c.Box), c.Text) << ParamBoxDef(c.Box).Name;
  QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(FileText(SettingsFile), before);
}

TEST_F(FormSettingsTest, KeysOutsideABoxsFilterAreRefused) {
  const struct {
    const char* Name;
    B Box;
    const char* Keys;
    const char* Text;
    bool Message;
  } cases[] = {
      {"a letter in a frame size", B::pbVideoSize, "a", "320x240", false},
      {"a second x", B::pbVideoSize, "x", "320x240", false},
      {"digits in a frame size", B::pbVideoSize, "0", "320x2400", false},
      {"a letter in a bit rate", B::pbVideoBitRate, "k", "1234", true},
      {"a point in an audio bit rate", B::pbAudioBitRate, ".", "64", true},
      {"digits in a sample rate", B::pbSampleRate, "0", "220500", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Seam.Clear();
    const auto dialog = Open();
    QComboBox* combo = dialog->Box(c.Box);
    combo->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(combo, c.Keys);
    EXPECT_EQ(Shown(*dialog, c.Box), c.Text);
    EXPECT_EQ(dialog->Parameters().Box(c.Box).Text, c.Text);
    const std::vector<TSeamRecord> records = Seam.Records();
    ASSERT_EQ(records.size(), c.Message ? 1u : 0u);
    if (c.Message) {
      EXPECT_EQ(records[0].Text, "Please enter numerical.");
    }
  }
  // An emptied frame-size box takes any first key, then filters again.
  const auto dialog = Open();
  QComboBox* size = dialog->Box(B::pbVideoSize);
  size->setFocus(Qt::MouseFocusReason);
  for (int i = 0; i < 7; ++i) QTest::keyClick(size, Qt::Key_Backspace);
  QTest::keyClicks(size, "ab");
  EXPECT_EQ(Shown(*dialog, B::pbVideoSize), "a");
}

TEST_F(FormSettingsTest, LeavingABoxChecksItsText) {
  const struct {
    B Box;
    const char* Typed;
    const char* Message;  // empty: accepted without a message
    const char* Result;
  } cases[] = {
      {B::pbVideoSize, "641x479", "Frame Size must be a multiple of 2.\nThe correct value:640x478", "640x478"},
      {B::pbVideoSize, "0x0", "Frame Size must be a multiple of 2.\nThe correct value:2x2", "2x2"},
      {B::pbVideoSize, "640", "Frame Size is not a valid value!", "320x240"},
      {B::pbVideoSize, "720x576", "", "720x576"},
      {B::pbVideoSize, "As Source", "", "As Source"},
      {B::pbVideoBitRate, "12a", "Video BitRate is not a valid value!", "800"},
      {B::pbAudioBitRate, "12.5", "", "12.5"},
      {B::pbAudioBitRate, "1.2.3", "Audio BitRate is not a valid value!", "128"},
      {B::pbSampleRate, "as source", "", "as source"},
      {B::pbSampleRate, "44k", "Audio SampleRate is not a valid value!", "44100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Typed);
    Seam.Clear();
    const auto dialog = Open();
    Paste(*dialog, c.Box, c.Typed);
    ASSERT_EQ(Shown(*dialog, c.Box), c.Typed);
    EXPECT_TRUE(Seam.Records().empty());
    Leave(*dialog, c.Box);
    EXPECT_FALSE(dialog->Box(c.Box)->hasFocus());
    EXPECT_EQ(Shown(*dialog, c.Box), c.Result);
    const std::vector<TSeamRecord> records = Seam.Records();
    ASSERT_EQ(records.size(), *c.Message ? 1u : 0u);
    if (*c.Message) {
      EXPECT_EQ(records[0].Text, c.Message);
    }
  }
}

TEST_F(FormSettingsTest, OkByKeyChecksTheBoxBeingTyped) {
  const auto dialog = Open();
  Paste(*dialog, B::pbVideoSize, "641x479");
  QTest::keyClick(dialog->Box(B::pbVideoSize), Qt::Key_Return);
  EXPECT_TRUE(dialog->isVisible());  // the correction is shown first
  EXPECT_EQ(Shown(*dialog, B::pbVideoSize), "640x478");
  EXPECT_EQ(Setting("formatInfo404", "paraVideoSize"), "<missing>");
  QTest::keyClick(dialog->Box(B::pbVideoSize), Qt::Key_Return);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Setting("formatInfo404", "paraVideoSize"), "640x478");
  EXPECT_EQ(Setting("formatInfo404", "iVideoSize"), "-1");
}

TEST_F(FormSettingsTest, SwitchingFormatsStoresOnlyTheLastOne) {
  const auto before404 = Section(404);
  const auto dialog = Open();
  dialog->Box(B::pbVideoSize)->setCurrentIndex(2);  // a change for 404, dropped by the switch
  SwitchTo(*dialog, 405);
  EXPECT_EQ(dialog->Chooser()->FormatBox()->text(), "WMV Video (*.wmv)");
  EXPECT_EQ(Shown(*dialog, B::pbVideoSize), "640x480");
  EXPECT_EQ(Shown(*dialog, B::pbVideoBitRate), "");  // its stored index is -1
  dialog->Box(B::pbVideoBitRate)->setCurrentIndex(1);
  QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);

  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(Section(404), before404);
  EXPECT_EQ(Setting("formatInfo405", "Description"), "WMV Video (*.wmv)");
  EXPECT_EQ(Setting("formatInfo405", "iVideoBitRate"), "1");
  EXPECT_EQ(Setting("formatInfo405", "paraVideoBitRate"), "1000");
  EXPECT_EQ(Setting("formatInfo405", "paraVideoSize"), "640x480");
  EXPECT_EQ(Setting("formatInfo405", "paraVideoEncoder"), "wmv2");
  EXPECT_EQ(Setting("formatInfo405", "paraAudioEncoder"), "wmav2");
  EXPECT_EQ(Setting("settings", "FormatCode"), "405");
  EXPECT_EQ(Setting("settings", "FormatName"), "WMV Video (*.wmv)");
  // The category opened in the dialog is stored for the main window.
  EXPECT_EQ(Setting("lstformat", "4"), "0");
  EXPECT_EQ(Setting("lstformat", "5"), "1");
}

TEST_F(FormSettingsTest, SwitchingBackShowsTheChoicesByIndexOnly) {
  const auto dialog = Open();
  SwitchTo(*dialog, 405);
  SwitchTo(*dialog, 404);
  EXPECT_EQ(Shown(*dialog, B::pbVideoBitRate), "");
  EXPECT_EQ(Shown(*dialog, B::pbSampleRate), "");
  EXPECT_EQ(Shown(*dialog, B::pbVideoSize), "320x240");
  dialog->Reload();  // the next showing
  EXPECT_EQ(Shown(*dialog, B::pbVideoBitRate), "1234");
  EXPECT_EQ(dialog->Chooser()->FormatBox()->text(), "AVI Video (*.avi)");
}

TEST_F(FormSettingsTest, CancellingWritesNothing) {
  const struct {
    const char* Name;
    std::function<void(TfrmSettings&)> Close;
    bool LeavesTheBox;  // the press on the button takes the focus first: the typed text is checked
  } cases[] = {
      {"Cancel", [](TfrmSettings& d) { QTest::mouseClick(d.CancelButton(), Qt::LeftButton); }, true},
      {"Escape", [](TfrmSettings& d) { QTest::keyClick(d.Box(B::pbVideoSize), Qt::Key_Escape); }, false},
      {"the close button", [](TfrmSettings& d) { d.close(); }, false},
  };
  const std::string before = FileText(SettingsFile);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Seam.Clear();
    const auto dialog = Open();
    SwitchTo(*dialog, 405);
    dialog->Box(B::pbVideoBitRate)->setCurrentIndex(0);
    QTest::mouseClick(dialog->DefaultButton(), Qt::LeftButton);
    Paste(*dialog, B::pbVideoSize, "640");
    c.Close(*dialog);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(FileText(SettingsFile), before);
    EXPECT_EQ(Seam.Records().size(), c.LeavesTheBox ? 1u : 0u);
  }
}

TEST_F(FormSettingsTest, ExecuteReportsTheConfirmedFormat) {
  for (const bool confirm : {false, true}) {
    SCOPED_TRACE(confirm ? "Ok" : "Cancel");
    QTimer::singleShot(0, [confirm] {
      auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      (confirm ? dialog->OkButton() : dialog->CancelButton())->click();
    });
    int code = -7;
    EXPECT_EQ(TfrmSettings::Execute(nullptr, Settings, Store, code), confirm);
    EXPECT_EQ(code, confirm ? 404 : -7);
    EXPECT_EQ(Setting("formatInfo404", "Description"), confirm ? "AVI Video (*.avi)" : "<missing>");
  }
}

TEST_F(FormSettingsTest, AnUnwritableSettingsFileIsReportedNotConfirmed) {
  TSettingsStore unwritable(Root.File("missing-folder/ondrelxvidconverter.ini"));
  TfrmSettings dialog(unwritable, Store);
  dialog.show();
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  const std::vector<TSeamRecord> records = Seam.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Caption, "Warning");
}

TEST_F(FormSettingsTest, FixedListEntriesArePaintedInTheListLook) {
  const auto dialog = Open();
  QComboBox* volume = dialog->Box(B::pbVolume);
  volume->showPopup();
  QWidget* popup = volume->view()->window();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
  QTest::mouseMove(volume->view()->viewport(), volume->view()->visualRect(volume->model()->index(1, 0)).center());
  const QImage shot = popup->grab().toImage();
  if (const char* folder = std::getenv("ONDREL_SCREENSHOT_DIR")) {
    dialog->grab().save(QString(folder) + "/settings-dialog.png");
    shot.save(QString(folder) + "/settings-volume-list.png");
  }
  volume->hidePopup();
  if (const char* folder = std::getenv("ONDREL_SCREENSHOT_DIR")) {
    dialog->Chooser()->OpenList();
    dialog->grab().save(QString(folder) + "/settings-dialog-chooser.png");
    dialog->Chooser()->CloseList();
  }

  // Painted by the delegate on its own, so the style's frame around the list plays no part.
  TFixedListDelegate delegate;
  QStandardItemModel model;
  model.appendRow(new QStandardItem("A very long volume entry that cannot fit"));
  QImage image(120, 22, QImage::Format_RGB32);
  for (const bool selected : {true, false}) {
    SCOPED_TRACE(selected);
    image.fill(Qt::black);
    QStyleOptionViewItem option;
    option.initFrom(dialog.get());
    option.rect = image.rect();
    option.state = QStyle::State_Enabled | (selected ? QStyle::State_Selected : QStyle::State_None);
    {
      QPainter painter(&image);
      delegate.paint(&painter, option, model.index(0, 0));
    }
    EXPECT_EQ(image.pixelColor(60, 1).rgb(), (selected ? HighlightFillColour : QColor(Qt::white)).rgb());
    EXPECT_EQ(image.pixelColor(60, 0).rgb(), (selected ? HighlightFrameColour : QColor(Qt::white)).rgb());
    // One line, cut short: nothing is drawn in the last pixels nor left of the margin.
    EXPECT_EQ(image.pixelColor(118, 11).rgb(), image.pixelColor(60, 1).rgb());
    EXPECT_EQ(image.pixelColor(2, 11).rgb(), image.pixelColor(60, 1).rgb());
  }
}

}  // namespace
