// ondrel-converter: the desktop video converter.
#include <QFileInfo>
#include <QIcon>
#include <clocale>
#include <string>
#include <vector>

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
  // Files named on the command line (an "Open with" of the desktop) join the job list as Add
  // would take them.
  std::vector<std::string> files;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) files.push_back(QFileInfo(arguments[i]).absoluteFilePath().toStdString());
  if (!files.empty()) frmMain.AddFiles(files);
  return app.exec();
}
