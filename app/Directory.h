// The output-folder chooser behind the "Brows" button: a folder tree with "Ok" and "Cancel".
#pragma once

#include <QDialog>
#include <string>

class QFileSystemModel;
class QPushButton;
class QTreeView;

class TfmDirectory : public QDialog {
  Q_OBJECT

 public:
  explicit TfmDirectory(QWidget* parent = nullptr);
  // The folder chosen with "Ok"; empty after "Cancel" or a closed window.
  const std::string& Result() const { return FResult; }
  // Selects `folder` in the tree and scrolls it into view.
  void SelectFolder(const QString& folder);
  QString SelectedFolder() const;

  QTreeView* tvFolders;
  QPushButton* btnOk;
  QPushButton* btnCancel;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void btnOkClick();
  void btnCancelClick();
  void tvFoldersChange();

  QFileSystemModel* FModel;
  std::string FResult;
};
