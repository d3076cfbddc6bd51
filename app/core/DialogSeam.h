// How GUI-free code talks to the user. The desktop program installs a seam that shows message
// boxes, the headless converter one that writes to stderr and answers from its command line,
// and tests a recording fake (FakeDialogSeam.h).
#pragma once

#include <string>

enum class TMessageIcon { miInformation, miWarning, miError, miQuestion };

class TDialogSeam {
 public:
  virtual ~TDialogSeam() = default;
  // A modal message with an OK button.
  virtual void ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) = 0;
  // A modal Yes/No question with the question icon; true for Yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
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
