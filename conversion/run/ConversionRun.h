// Start of a batch: one converter task per ticked job, in list order, with the options the
// builder makes from the current format. Shared by the desktop program and ondrel-convert.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "JobRecord.h"
#include "app/core/OutputNaming.h"
#include "app/core/SettingsStore.h"
#include "engine/FFConverter.h"
#include "profiles/model/ProfileStore.h"

// A ticked job whose source cannot be opened; the text names the file and the reason.
class EConversionRunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One row of the job list as the run sees it.
struct TRunJob {
  TlvFilesRecord* Record = nullptr;  // not owned; must outlive the run's tasks
  bool Ticked = false;
};

struct TRunFailure {
  int Row = -1;
  std::string Message;
};

enum class TRunErrorPolicy {
  epAbandon,  // a job that cannot be prepared throws and ends the preparation (desktop program)
  epSkip      // it is left out and listed in Failures(); the others are queued (ondrel-convert)
};

// The "priority" setting as the converter's thread priority: 0 idle, 1 normal, 2 lower,
// 3 lowest; false for any other value (the priority stays as it is).
bool PriorityFromSetting(int setting, TTaskPriority& priority);

class TConversionRun {
 public:
  TConversionRun(TCustomFFConverter& converter, TSettingsStore& settings, TFormatStore& formats)
      : FConverter(converter), FSettings(settings), FFormats(formats) {}

  // Clears the converter's tasks and queues one per ticked row. Returns the number of tasks
  // queued. With no ticked row, shows "Please select a file by clicking the check box!" and
  // returns 0. Errors of the option builder (EConvertError) propagate in both policies; an
  // error that ends the preparation leaves no task queued.
  int Prepare(const std::vector<TRunJob>& rows, TRunErrorPolicy policy = TRunErrorPolicy::epAbandon);
  // A zoom mode for every job of the next runs instead of the format's stored one (the
  // headless converter's --zoom); empty: the stored one.
  void SetZoomOverride(std::string mode) { FZoomOverride = std::move(mode); }

  // Starts the queued tasks, one after the other.
  void Start() { FConverter.StartTask(1); }

  // Entry t: the row of the job that became task t.
  const std::vector<int>& TaskRows() const { return FTaskRows; }
  int RowOfTask(int task) const;
  TlvFilesRecord* JobOfTask(int task) const;  // nullptr when there is no such task
  const std::string& OutputFileOfTask(int task) const;
  const std::vector<TRunFailure>& Failures() const { return FFailures; }

 private:
  void PrepareTasks(const std::vector<TRunJob>& rows, TRunErrorPolicy policy);
  void DiscardPrepared();

  TCustomFFConverter& FConverter;
  TSettingsStore& FSettings;
  TFormatStore& FFormats;
  TOutputNameReserver FNames;
  std::string FZoomOverride;
  std::vector<int> FTaskRows;
  std::vector<TlvFilesRecord*> FTaskJobs;
  std::vector<std::string> FTaskOutputs;
  std::vector<TRunFailure> FFailures;
};
