// The desktop program's dialog seam: message boxes, the file-open dialog and the folder
// chooser, parented to the active window.
#pragma once

#include <QStringList>
#include <memory>

#include "app/core/DialogSeam.h"

class TfmDirectory;

// "Text|*.a;*.b|..." as Qt name filters "Text (*.a *.b)"; empty patterns are dropped.
QStringList QtNameFilters(const std::string& filter);

class TQtDialogSeam : public TDialogSeam {
 public:
  TQtDialogSeam();
  ~TQtDialogSeam() override;

  void ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  std::vector<std::string> OpenFiles(const std::string& caption, const std::string& filter) override;
  std::string ChooseFolder() override;

 private:
  std::unique_ptr<TfmDirectory> FDirectory;  // made at first use, then reused
};
