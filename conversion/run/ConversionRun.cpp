#include "ConversionRun.h"

#include "OptionBuilder.h"

#include <filesystem>
#include "app/core/DialogSeam.h"

bool PriorityFromSetting(int setting, TTaskPriority& priority) {
  switch (setting) {
    case 0: priority = TTaskPriority::tpIdle; return true;
    case 1: priority = TTaskPriority::tpNormal; return true;
    case 2: priority = TTaskPriority::tpLower; return true;
    case 3: priority = TTaskPriority::tpLowest; return true;
    default: return false;
  }
}

namespace {

std::string CannotConvert(const std::string& path, const std::string& reason) {
  return "Cannot convert \"" + path + "\": " + (reason.empty() ? std::string("the file cannot be opened") : reason);
}

// Closes the converter's probe however the job's preparation ends.
struct TProbeCloser {
  TCustomAVProbe& Probe;
  ~TProbeCloser() { Probe.Close(); }
};

}  // namespace

int TConversionRun::Prepare(const std::vector<TRunJob>& rows, TRunErrorPolicy policy) {
  TTaskPriority priority;
  if (PriorityFromSetting(FSettings.Priority(), priority)) FConverter.SetThreadPriority(priority);

  FTaskRows.clear();
  FTaskJobs.clear();
  FTaskOutputs.clear();
  FFailures.clear();
  FNames.Clear();

  bool anyTicked = false;
  for (const TRunJob& row : rows) anyTicked = anyTicked || (row.Ticked && row.Record != nullptr);
  if (!anyTicked) {
    DialogSeam().ShowMessage("Warning", "Please select a file by clicking the check box!", TMessageIcon::miWarning);
    return 0;
  }
  FConverter.ClearTasks();
  try {
    PrepareTasks(rows, policy);
  } catch (...) {
    DiscardPrepared();
    throw;
  }
  return static_cast<int>(FTaskRows.size());
}

// The tasks queued before the failing job go, and so do the empty files their outputs
// created; otherwise they would stay on disk and push the next run's names along.
void TConversionRun::DiscardPrepared() {
  FConverter.ClearTasks();
  for (const std::string& output : FTaskOutputs) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(output, ec) && std::filesystem::file_size(output, ec) == 0)
      std::filesystem::remove(output, ec);
  }
  FTaskRows.clear();
  FTaskJobs.clear();
  FTaskOutputs.clear();
}

void TConversionRun::PrepareTasks(const std::vector<TRunJob>& rows, TRunErrorPolicy policy) {
  for (int rowIndex = 0; rowIndex < static_cast<int>(rows.size()); ++rowIndex) {
    const TRunJob& row = rows[rowIndex];
    if (!row.Ticked || row.Record == nullptr) continue;
    TlvFilesRecord& job = *row.Record;
    const auto fail = [&](const std::string& message) {
      if (policy == TRunErrorPolicy::epAbandon) throw EConversionRunError(message);
      FFailures.push_back({rowIndex, message});
    };

    TInputOptions input;
    input.FileName = job.SourcePath;
    TCustomAVProbe& probe = FConverter.AVProbe();
    TProbeCloser closer{probe};
    if (!probe.LoadFile(job.SourcePath)) {
      fail(CannotConvert(job.SourcePath, probe.LastErrorMessage()));
      continue;
    }
    input.FileFormat = probe.InputFormatName();
    if (job.TrimStart >= 0) input.TimeStart = job.TrimStart;

    const int code = FSettings.FormatCode();
    const std::string output = MakeOutputFileName(FSettings, job.SourcePath, "." + FFormats.FileExt(code), &FNames);
    const TUserFormatSection section(FSettings.Ini(), code);
    job.ZoomMode = FZoomOverride.empty() ? section.ConversionValue(ProfileKey::paraZoom) : FZoomOverride;

    TOutputOptions options;
    options.FileName = output;
    if (job.IsCropped()) {
      options.CropTop = job.CropTop;
      options.CropBottom = job.CropBottom;
      options.CropLeft = job.CropLeft;
      options.CropRight = job.CropRight;
    }
    // The trimmed length is honoured, so a trimmed job does not run to the source's end.
    if (job.TrimLength > 0) options.TimeLength = job.TrimLength;
    BuildOutputOptions(job, code, options, probe, input, FSettings, FFormats);

    const int task = FConverter.AddTask(input.FileName, input);
    if (task < 0) {
      fail(CannotConvert(job.SourcePath, FConverter.LastErrorMessage()));
      continue;
    }
    options.CustomHook = job.NeedsCustomHook();
    // A task without output ends with an error when its turn comes, which its termination
    // reports; the run goes on with the next job.
    FConverter.SetOutputFile(task, output, options);
    FTaskRows.push_back(rowIndex);
    FTaskJobs.push_back(&job);
    FTaskOutputs.push_back(output);
  }
}

int TConversionRun::RowOfTask(int task) const {
  return task >= 0 && task < static_cast<int>(FTaskRows.size()) ? FTaskRows[task] : -1;
}

TlvFilesRecord* TConversionRun::JobOfTask(int task) const {
  return task >= 0 && task < static_cast<int>(FTaskJobs.size()) ? FTaskJobs[task] : nullptr;
}

const std::string& TConversionRun::OutputFileOfTask(int task) const {
  static const std::string none;
  return task >= 0 && task < static_cast<int>(FTaskOutputs.size()) ? FTaskOutputs[task] : none;
}
