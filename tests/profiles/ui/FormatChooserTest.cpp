// The format chooser driven by the mouse and keys as a user drives it.
#include "ProfilesUiTestSupport.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <functional>
#include <vector>

#include "profiles/ui/FormatChooser.h"
#include "profiles/ui/OwnerDrawColours.h"

namespace {

// A form hosting a chooser at `top`, with another button to click and focus.
struct TChooserWindow {
  QWidget Window;
  TFormatChooser* Chooser;
  QPushButton* Other;

  TChooserWindow(const TSettingsStore& settings, TChooserHost host, int top, int height = 370) {
    Window.resize(475, height);
    Chooser = new TFormatChooser(settings, host, &Window);
    Chooser->setGeometry(20, top, 400, 24);
    Other = new QPushButton("Other", &Window);
    Other->setGeometry(20, top < height / 2 ? height - 40 : 10, 100, 28);
    Window.show();
    Window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&Window));
  }
  TFormatList& List() const { return *Chooser->List(); }
  int Rows() const { return static_cast<int>(Chooser->Model().Rows().size()); }
  int HeaderRow(int category) const { return RowWhere([&](const TItemInfo& i) { return i.IsCategory && i.Code == category; }); }
  int FormatRow(int code) const { return RowWhere([&](const TItemInfo& i) { return i.IsFormat && i.Code == code; }); }
  int RowWhere(const std::function<bool(const TItemInfo&)>& wanted) const {
    const auto& rows = Chooser->Model().Rows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (wanted(rows[i].Info)) return static_cast<int>(i);
    return -1;
  }
  // The codes of the format rows directly under a header.
  std::vector<int> CodesUnder(int category) const {
    std::vector<int> codes;
    const auto& rows = Chooser->Model().Rows();
    for (size_t i = static_cast<size_t>(HeaderRow(category)) + 1; i < rows.size() && rows[i].Info.IsFormat; ++i)
      codes.push_back(rows[i].Info.Code);
    return codes;
  }
  QPoint RowPoint(int row, int x) const { return {x, List().RowRect(row).center().y()}; }
  // Scrolled into view first, as a user would.
  void ClickRow(int row, int x) {
    List().EnsureVisible(row);
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, RowPoint(row, x));
  }
  void DoubleClickRow(int row, int x) {
    List().EnsureVisible(row);
    QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, RowPoint(row, x));
  }
  void OpenByArrow() {
    QTest::mouseClick(Chooser->ArrowButton(), Qt::LeftButton);
    ASSERT_TRUE(Chooser->IsListOpen());
  }
};

class FormatChooserTest : public ::testing::Test, protected TProfilesUiFixture {
 protected:
  void Expanded(std::initializer_list<int> categories) {
    for (int category : categories) Settings.Ini().WriteBool("lstformat", std::to_string(category), false);
  }
};

std::vector<int> Range(int first, int last) {
  std::vector<int> codes;
  for (int code = first; code <= last; ++code) codes.push_back(code);
  return codes;
}

TEST_F(FormatChooserTest, GlyphClicksAndDoubleClicksToggleACategory) {
  TChooserWindow form(Settings, TChooserHost::chSettingsDialog, 12);
  form.OpenByArrow();
  ASSERT_EQ(form.Rows(), 6);
  const int header = form.HeaderRow(4);

  form.ClickRow(header, 5);  // on the glyph
  EXPECT_EQ(form.Rows(), 16);
  EXPECT_EQ(form.CodesUnder(4), Range(400, 409));
  EXPECT_EQ(form.HeaderRow(5), header + 11);

  form.ClickRow(header, 100);  // a single press beside the glyph does nothing
  EXPECT_EQ(form.Rows(), 16);

  form.ClickRow(header, 5);
  EXPECT_EQ(form.Rows(), 6);
  EXPECT_EQ(form.HeaderRow(5), header + 1);

  // A double-click toggles once wherever it lands on the header, the glyph included.
  form.DoubleClickRow(header, 100);
  EXPECT_EQ(form.CodesUnder(4), Range(400, 409));
  form.DoubleClickRow(header, 5);
  EXPECT_EQ(form.Rows(), 6);
  form.DoubleClickRow(form.HeaderRow(1), 5);
  EXPECT_EQ(form.CodesUnder(1), Range(100, 102));

  EXPECT_TRUE(form.Chooser->IsListOpen());
  EXPECT_EQ(FileText(SettingsFile), "");  // expanding is not stored by itself
}

TEST_F(FormatChooserTest, ChoosingAFormatStoresItAtOnceOnlyOnTheMainWindow) {
  for (const TChooserHost host : {TChooserHost::chMainWindow, TChooserHost::chSettingsDialog}) {
    const bool main = host == TChooserHost::chMainWindow;
    SCOPED_TRACE(main ? "main window" : "Settings dialog");
    std::remove(SettingsFile.c_str());
    TChooserWindow form(Settings, host, main ? 320 : 12);
    QSignalSpy chosen(form.Chooser, &TFormatChooser::FormatChosen);
    QTest::mouseClick(form.Chooser->FormatBox(), Qt::LeftButton);
    ASSERT_TRUE(form.Chooser->IsListOpen());
    form.ClickRow(form.HeaderRow(4), 5);

    form.ClickRow(form.FormatRow(404), 100);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen[0][0].toInt(), 404);
    EXPECT_EQ(chosen[0][1].toString(), "AVI Video (*.avi)");
    EXPECT_FALSE(form.Chooser->IsListOpen());
    EXPECT_EQ(form.Chooser->FormatBox()->text(), "AVI Video (*.avi)");
    EXPECT_EQ(form.Chooser->CurrentCode(), 404);
    EXPECT_EQ(form.Chooser->CurrentFormatName(), "AVI Video (*.avi)");
    if (main) {
      EXPECT_EQ(Setting("settings", "FormatCode"), "404");
      EXPECT_EQ(Setting("settings", "FormatName"), "AVI Video (*.avi)");
    } else {
      EXPECT_EQ(FileText(SettingsFile), "");
    }
  }
}

TEST_F(FormatChooserTest, ClosesWithoutAChoice) {
  struct TCase {
    const char* Name;
    std::function<void(TChooserWindow&)> Act;
  } const cases[] = {
      {"a click elsewhere in the window", [](TChooserWindow& f) { QTest::mouseClick(f.Other, Qt::LeftButton); }},
      {"a click on the format box", [](TChooserWindow& f) { QTest::mouseClick(f.Chooser->FormatBox(), Qt::LeftButton); }},
      {"a click on the arrow", [](TChooserWindow& f) { QTest::mouseClick(f.Chooser->ArrowButton(), Qt::LeftButton); }},
      {"the focus moving to another control", [](TChooserWindow& f) { f.Other->setFocus(Qt::TabFocusReason); }},
      {"the application losing the focus",
       [](TChooserWindow&) {
         QEvent deactivate(QEvent::ApplicationDeactivate);
         QCoreApplication::sendEvent(qApp, &deactivate);
       }},
      {"Escape", [](TChooserWindow& f) { QTest::keyClick(&f.List(), Qt::Key_Escape); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TChooserWindow form(Settings, TChooserHost::chMainWindow, 320);
    QSignalSpy chosen(form.Chooser, &TFormatChooser::FormatChosen);
    form.OpenByArrow();
    ASSERT_TRUE(form.List().hasFocus());
    c.Act(form);
    EXPECT_FALSE(form.Chooser->IsListOpen());
    EXPECT_EQ(chosen.count(), 0);
    EXPECT_EQ(Setting("settings", "FormatCode"), "<missing>");
  }
}

TEST_F(FormatChooserTest, SaveCategoryStatesStoresWhatIsExpandedNow) {
  {
    TChooserWindow form(Settings, TChooserHost::chSettingsDialog, 12);
    form.OpenByArrow();
    form.ClickRow(form.HeaderRow(1), 5);
    form.ClickRow(form.HeaderRow(4), 5);
    ASSERT_TRUE(form.Chooser->SaveCategoryStates());
  }
  for (int category = 0; category < CategoryCount; ++category)
    EXPECT_EQ(Setting("lstformat", std::to_string(category)), category == 1 || category == 4 ? "0" : "1") << category;
  TChooserWindow next(Settings, TChooserHost::chMainWindow, 320);
  EXPECT_EQ(next.CodesUnder(1), Range(100, 102));
  EXPECT_EQ(next.CodesUnder(4), Range(400, 409));
  EXPECT_EQ(next.Rows(), 6 + 3 + 10);
}

TEST_F(FormatChooserTest, OpensOnTheBoxWithinItsHeight) {
  struct TCase {
    const char* Name;
    TChooserHost Host;
    int WindowHeight, Top;
    bool ExpandTwo;  // categories 4 and 5: 23 rows
    bool Up;
    int Height;
  } const cases[] = {
      {"dialog, six rows", TChooserHost::chSettingsDialog, 370, 12, false, false, 7 * 20},
      {"dialog, long list", TChooserHost::chSettingsDialog, 370, 12, true, false, 247},
      {"main window, six rows", TChooserHost::chMainWindow, 500, 440, false, true, 7 * 20},
      {"main window, long list", TChooserHost::chMainWindow, 500, 440, true, true, 358},
      {"dialog without room below", TChooserHost::chSettingsDialog, 370, 320, false, true, 7 * 20},
      {"main window without room above", TChooserHost::chMainWindow, 370, 12, false, false, 7 * 20},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(SettingsFile.c_str());
    if (c.ExpandTwo) Expanded({4, 5});
    TChooserWindow form(Settings, c.Host, c.Top, c.WindowHeight);
    form.OpenByArrow();
    const QRect list = form.List().geometry(), box = form.Chooser->geometry();
    EXPECT_EQ(list.height(), c.Height);
    EXPECT_EQ(list.left(), box.left());
    EXPECT_EQ(list.width(), box.width());
    if (c.Up)
      EXPECT_EQ(list.bottom() + 1, box.top());
    else
      EXPECT_EQ(list.top(), box.bottom() + 1);
  }
}

TEST_F(FormatChooserTest, ShowsTheStoredFormatAndTracksThePointer) {
  {
    TChooserWindow form(Settings, TChooserHost::chMainWindow, 320);
    EXPECT_EQ(form.Chooser->FormatBox()->text(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(form.Chooser->CurrentCode(), 1);
    EXPECT_EQ(form.Chooser->CurrentFormatName(), "iPod Video MPEG-4");
    EXPECT_TRUE(form.Chooser->FormatBox()->isReadOnly());  // no caret
    EXPECT_EQ(form.Chooser->FormatBox()->cursor().shape(), Qt::ArrowCursor);
    form.OpenByArrow();
    EXPECT_EQ(form.Chooser->Model().SelectedRow(), -1);
  }
  Settings.SetCurrentFormat("AVI Video (*.avi)", 404);
  Expanded({4});
  TChooserWindow form(Settings, TChooserHost::chMainWindow, 320);
  form.OpenByArrow();
  EXPECT_EQ(form.Chooser->Model().SelectedRow(), form.FormatRow(404));
  QTest::mouseMove(form.List().viewport(), form.RowPoint(form.FormatRow(401), 60));
  EXPECT_EQ(form.Chooser->Model().SelectedRow(), form.FormatRow(401));
  QTest::mouseMove(form.List().viewport(), form.RowPoint(form.HeaderRow(5), 60));
  EXPECT_EQ(form.Chooser->Model().SelectedRow(), form.HeaderRow(5));
  // Keys move the selection and choose too.
  QTest::keyClick(&form.List(), Qt::Key_Up);
  QTest::keyClick(&form.List(), Qt::Key_Return);
  EXPECT_EQ(Setting("settings", "FormatCode"), "409");
}

TEST_F(FormatChooserTest, PaintsTheSelectedRowHighlighted) {
  Settings.SetCurrentFormat("AVI Video (*.avi)", 404);
  Expanded({4});
  TChooserWindow form(Settings, TChooserHost::chSettingsDialog, 12);
  form.OpenByArrow();
  const QImage shot = form.Window.grab().toImage();
  if (const char* folder = std::getenv("ONDREL_SCREENSHOT_DIR")) shot.save(QString(folder) + "/format-chooser.png");
  const auto at = [&](int row, int x, int dy) {
    const QPoint p = form.List().viewport()->mapTo(&form.Window, form.RowPoint(row, x)) + QPoint(0, dy);
    return shot.pixelColor(p * shot.devicePixelRatio()).rgb();
  };
  const int selected = form.FormatRow(404);
  EXPECT_EQ(at(selected, 380, 0), HighlightFillColour.rgb());
  EXPECT_EQ(at(selected, 380, -9), HighlightFrameColour.rgb());  // the row's top line
  EXPECT_EQ(at(form.FormatRow(405), 380, 0), ChooserBackgroundColour.rgb());
}

}  // namespace
