// How GUI-free code talks to the user. The desktop program installs a seam that shows message
// boxes, the headless converter one that writes to stderr and answers from its command line,
// and tests a recording fake (FakeDialogSeam.h).
#pragma once

#include <string>
#include <vector>

enum class TMessageIcon { miInformation, miWarning, miError, miQuestion };

class TDialogSeam {
 public:
  virtual ~TDialogSeam() = default;
  // A modal message with an OK button.
  virtual void ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) = 0;
  // A modal Yes/No question with the question icon; true for Yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
  // A file-open dialog for several existing files. `filter` pairs display texts and pattern
  // lists, all separated by "|" ("Text|*.a;*.b|Other|*.c"). The chosen files in the
  // dialog's order; empty after Cancel. A seam without dialogs answers Cancel.
  virtual std::vector<std::string> OpenFiles(const std::string& caption, const std::string& filter) {
    (void)caption, (void)filter;
    return {};
  }
  // The output-folder chooser: the chosen folder, empty after Cancel.
  virtual std::string ChooseFolder() { return {}; }
};

// The installed seam. Until one is installed, messages go to stderr and questions are
// answered No, so nothing waits for a user who is not there.
TDialogSeam& DialogSeam();
// Installs `seam` (not owned; it must outlive its use). nullptr restores the stderr one.
void SetDialogSeam(TDialogSeam* seam);

// Installs a seam for the lifetime of the object, then reinstalls the previous one.
class TDialogSeamOverride {
 public:
  explicit TDialogSeamOverride(TDialogSeam& seam);
  ~TDialogSeamOverride();
  TDialogSeamOverride(const TDialogSeamOverride&) = delete;
  TDialogSeamOverride& operator=(const TDialogSeamOverride&) = delete;

 private:
  TDialogSeam* FPrevious;
};
