#include "FakeDialogSeam.h"

void TFakeDialogSeam::ShowMessage(const std::string& caption, const std::string& text, TMessageIcon icon) {
  std::lock_guard lock(FMutex);
  FRecords.push_back({false, caption, text, icon});
}

bool TFakeDialogSeam::AskYesNo(const std::string& caption, const std::string& text) {
  std::lock_guard lock(FMutex);
  FRecords.push_back({true, caption, text, TMessageIcon::miQuestion});
  if (ScriptedAnswers.empty()) return DefaultAnswer;
  const bool answer = ScriptedAnswers.front();
  ScriptedAnswers.pop_front();
  return answer;
}

std::vector<TSeamRecord> TFakeDialogSeam::Records() const {
  std::lock_guard lock(FMutex);
  return FRecords;
}

void TFakeDialogSeam::Clear() {
  std::lock_guard lock(FMutex);
  FRecords.clear();
}
