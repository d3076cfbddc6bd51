// ondrel-converter: the desktop video converter.
#include <QIcon>
#include <clocale>

#include "Cover.h"
#include "ErrorHandler.h"
#include "QtDialogSeam.h"
#include "WinMain.h"
#include "app/core/GlobalObject.h"
#include "preview/QtDispatcher.h"

int main(int argc, char** argv) {
  TOndrelApplication app(argc, argv);
  // Qt takes the user's locale; the engine's option values are written with "." decimals.
  std::setlocale(LC_NUMERIC, "C");
  QGuiApplication::setDesktopFileName(QStringLiteral("ondrel-converter"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("ondrel-converter")));

  TQtDispatcherScope dispatcher;
  TQtDialogSeam seam;
  TDialogSeamOverride seamScope(seam);

  TfrmCover cover;
  cover.show();
  cover.repaint();
  QApplication::processEvents();

  QGuiApplication::setApplicationDisplayName(QString::fromLatin1(ApplicationTitleText));
  TfrmMain frmMain;
  cover.CloseWhenShown(&frmMain);
  frmMain.show();
  return app.exec();
}
