// The application-wide error handler: what escapes an event handler is shown and the program
// goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <stdexcept>

#include "ShellTestSupport.h"
#include "app/ErrorHandler.h"
#include "engine/EngineError.h"

namespace {

TEST(UnhandledErrorText, AddsAPeriodAfterCharactersThatSortAfterIt) {
  const struct {
    const char* In;
    const char* Out;
  } cases[] = {{"", ""}, {"Failed", "Failed."}, {"Failed!", "Failed!"}, {"Failed.", "Failed."},
               {"code 42", "code 42."}, {"ends in a blank ", "ends in a blank "}, {"(x)", "(x)"}, {"über", "über."}};
  for (const auto& c : cases) EXPECT_EQ(UnhandledErrorText(c.In), c.Out) << c.In;
}

void Click(QWidget& widget) {
  const QPointF centre = QRectF(widget.rect()).center();
  QMouseEvent press(QEvent::MouseButtonPress, centre, widget.mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, centre, widget.mapToGlobal(centre), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&widget, &press);
  QApplication::sendEvent(&widget, &release);
}

TEST(ApplicationErrorHandler, ShowsAnErrorFromASlotAndCarriesOn) {
  TShellFixture f;
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Ondrel XviD Converter"));
  QPushButton button(QStringLiteral("Go"));
  button.resize(80, 30);
  button.show();
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] {
    ++clicks;
    if (clicks == 1) throw std::runtime_error("Broken thing");
    if (clicks == 2) throw EFFmpegError("Unknown option!");
  });
  Click(button);
  Click(button);
  Click(button);  // the button still works after two failures
  EXPECT_EQ(clicks, 3);
  EXPECT_EQ(f.Seam.Records(),
            (std::vector<TSeamRecord>{
                {false, "Ondrel XviD Converter", "Broken thing.", TMessageIcon::miError},
                {false, "Ondrel XviD Converter", "Unknown option!", TMessageIcon::miWarning}}));
}

}  // namespace
