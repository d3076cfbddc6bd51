#include "Directory.h"

#include <QDir>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/core/DialogSeam.h"
#include "platform/Platform.h"

TfmDirectory::TfmDirectory(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Brows"));
  setFixedSize(322, 351);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Please select an output directory:"), this));

  FModel = new QFileSystemModel(this);
  FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  FModel->setRootPath(QDir::rootPath());
  tvFolders = new QTreeView(this);
  tvFolders->setObjectName(QStringLiteral("tvFolders"));
  tvFolders->setModel(FModel);
  tvFolders->setRootIndex(FModel->index(QDir::rootPath()));
  for (int column = 1; column < FModel->columnCount(); ++column) tvFolders->hideColumn(column);
  tvFolders->header()->hide();
  layout->addWidget(tvFolders, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  btnOk = new QPushButton(QStringLiteral("Ok"), this);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnOk->setDefault(true);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);

  connect(btnOk, &QPushButton::clicked, this, &TfmDirectory::btnOkClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfmDirectory::btnCancelClick);
  connect(tvFolders->selectionModel(), &QItemSelectionModel::currentChanged, this, &TfmDirectory::tvFoldersChange);
}

void TfmDirectory::SelectFolder(const QString& folder) {
  const QModelIndex index = FModel->index(folder);
  if (!index.isValid()) return;
  tvFolders->setCurrentIndex(index);
  tvFolders->scrollTo(index);
}

QString TfmDirectory::SelectedFolder() const {
  const QModelIndex index = tvFolders->currentIndex();
  return index.isValid() ? FModel->filePath(index) : QString();
}

void TfmDirectory::showEvent(QShowEvent* event) {
  FResult.clear();
  // The home folder is where a user's own folders start, as the system drive is on Windows.
  SelectFolder(QDir::homePath());
  tvFoldersChange();
  QDialog::showEvent(event);
}

void TfmDirectory::tvFoldersChange() { btnOk->setEnabled(tvFolders->currentIndex().isValid()); }

void TfmDirectory::btnOkClick() {
  FResult = SelectedFolder().toStdString();
  if (!FResult.empty() && Platform().IsCdRom(FResult)) {
    FResult.clear();
    DialogSeam().ShowMessage(QGuiApplication::applicationDisplayName().toStdString(),
                             "Output folder cannot be located in CD-ROM.Please select another folder.",
                             TMessageIcon::miInformation);
    return;
  }
  accept();
}

void TfmDirectory::btnCancelClick() {
  FResult.clear();
  reject();
}
