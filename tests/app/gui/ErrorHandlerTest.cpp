// The application-wide error handler: what escapes an event handler is shown and the program
// goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <stdexcept>

#include "ShellTestSupport.h"
#include "app/ErrorHandler.h"
#include "engine/EngineError.h"

#if defined(__SANITIZE_ADDRESS__)
// Qt does not clean up behind an exception that unwinds through its event dispatch, which is
// what the handler test makes happen on purpose: the button's click guard and a string stay
// behind. Leaks our own code allocates are still reported.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:QtSharedPointer::ExternalRefCountData::getAndRef\n"
         "leak:libQt6Widgets.so\n";
}
#endif

namespace {

TEST(UnhandledErrorText, AddsAPeriodAfterCharactersThatSortAfterIt) {
  const struct {
    const char* In;
    const char* Out;
  } cases[] = {{"", ""}, {"Failed", "Failed."}, {"Failed!", "Failed!"}, {"Failed.", "Failed."},
               {"code 42", "code 42."}, {"ends in a blank ", "ends in a blank "}, {"(x)", "(x)"}, {"über", "über."}};
  for (const auto& c : cases) EXPECT_EQ(UnhandledErrorText(c.In), c.Out) << c.In;
}

// A press of the space bar through the application, as a user's click would come: the slot
// runs inside the event dispatch. (Synthetic mouse events leave Qt's pointer records behind.)
void Click(QWidget& widget) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
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
