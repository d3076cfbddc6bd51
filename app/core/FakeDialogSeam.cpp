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

std::vector<std::string> TFakeDialogSeam::OpenFiles(const std::string&, const std::string& filter) {
  std::lock_guard lock(FMutex);
  ++FOpenFilesCalls;
  FLastFilter = filter;
  if (ScriptedFiles.empty()) return {};
  std::vector<std::string> files = std::move(ScriptedFiles.front());
  ScriptedFiles.pop_front();
  return files;
}

std::string TFakeDialogSeam::ChooseFolder() {
  std::lock_guard lock(FMutex);
  ++FChooseFolderCalls;
  if (ScriptedFolders.empty()) return {};
  std::string folder = std::move(ScriptedFolders.front());
  ScriptedFolders.pop_front();
  return folder;
}

int TFakeDialogSeam::OpenFilesCalls() const {
  std::lock_guard lock(FMutex);
  return FOpenFilesCalls;
}

int TFakeDialogSeam::ChooseFolderCalls() const {
  std::lock_guard lock(FMutex);
  return FChooseFolderCalls;
}

std::string TFakeDialogSeam::LastFilter() const {
  std::lock_guard lock(FMutex);
  return FLastFilter;
}
