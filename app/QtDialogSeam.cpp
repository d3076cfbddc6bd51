#include "QtDialogSeam.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "Directory.h"

namespace {

QMessageBox::Icon IconOf(TMessageIcon icon) {
  switch (icon) {
    case TMessageIcon::miInformation: return QMessageBox::Information;
    case TMessageIcon::miWarning: return QMessageBox::Warning;
    case TMessageIcon::miError: return QMessageBox::Critical;
    case TMessageIcon::miQuestion: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QStringList QtNameFilters(const std::string& filter) {
  const QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (patterns.isEmpty()) continue;
    filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

TQtDialogSeam::TQtDialogSeam() = default;
TQtDialogSeam::~TQtDialogSeam() = default;

void TQtDialogSeam::ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) {
  QMessageBox box(IconOf(icon), Q(caption), Q(text), QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

bool TQtDialogSeam::AskYesNo(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                  QApplication::activeWindow());
  return box.exec() == QMessageBox::Yes;
}

std::vector<std::string> TQtDialogSeam::OpenFiles(const std::string& caption, const std::string& filter) {
  QFileDialog dialog(QApplication::activeWindow(), Q(caption));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  // Qt's own dialog follows the theme; the display texts already name their patterns.
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  dialog.setSizeGripEnabled(true);
  dialog.setNameFilters(QtNameFilters(filter));
  std::vector<std::string> files;
  if (dialog.exec() != QDialog::Accepted) return files;
  for (const QString& file : dialog.selectedFiles()) files.push_back(file.toStdString());
  return files;
}

std::string TQtDialogSeam::ChooseFolder() {
  // The seam owns the chooser: a Qt parent would delete it a second time when the window goes.
  if (!FDirectory) FDirectory = std::make_unique<TfmDirectory>(nullptr);
  FDirectory->exec();
  return FDirectory->Result();
}
