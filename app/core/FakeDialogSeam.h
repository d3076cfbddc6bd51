// A dialog seam for tests: records every message and question and answers questions, file
// dialogs and folder choosers from scripts; an exhausted script answers DefaultAnswer, Cancel.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "DialogSeam.h"

struct TSeamRecord {
  bool Question = false;  // AskYesNo rather than ShowMessage
  std::string Caption;
  std::string Text;
  TMessageIcon Icon = TMessageIcon::miInformation;  // miQuestion for questions
  bool operator==(const TSeamRecord&) const = default;
};

class TFakeDialogSeam : public TDialogSeam {
 public:
  std::deque<bool> ScriptedAnswers;  // used first, front to back
  bool DefaultAnswer = false;
  std::deque<std::vector<std::string>> ScriptedFiles;  // one entry per OpenFiles call
  std::deque<std::string> ScriptedFolders;             // one entry per ChooseFolder call

  void ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  std::vector<std::string> OpenFiles(const std::string& caption, const std::string& filter) override;
  std::string ChooseFolder() override;

  std::vector<TSeamRecord> Records() const;
  void Clear();
  // How often each dialog was asked for, and the last file dialog's filter.
  int OpenFilesCalls() const;
  int ChooseFolderCalls() const;
  std::string LastFilter() const;

 private:
  mutable std::mutex FMutex;
  std::vector<TSeamRecord> FRecords;
  int FOpenFilesCalls = 0;
  int FChooseFolderCalls = 0;
  std::string FLastFilter;
};
