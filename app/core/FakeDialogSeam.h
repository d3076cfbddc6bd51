// A dialog seam for tests: records every message and question and answers questions from a
// script, then with DefaultAnswer.
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

  void ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;

  std::vector<TSeamRecord> Records() const;
  void Clear();

 private:
  mutable std::mutex FMutex;
  std::vector<TSeamRecord> FRecords;
};
