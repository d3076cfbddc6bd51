// The converter's frame hook of both front ends: each frame of a task is drawn by the job the
// task was made from.
#pragma once

#include <functional>
#include <memory>

#include "conversion/hook/JobFrameRenderer.h"
#include "conversion/run/JobRecord.h"
#include "engine/FFConverter.h"

// The job of a converter task; nullptr when the task has none.
using TTaskJobLookup = std::function<const TlvFilesRecord*(int taskIndex)>;

// The handler to install as the converter's OnCustomHook (it runs on the worker thread; see
// TJobFrameRenderer for what it needs). It draws the task's job into the hook's bitmap and
// leaves Update set, so the drawn bitmap is encoded; a task without a job gets StopHook, as
// there is nothing to draw into its frames. Errors while drawing reach the converter, which
// logs them and keeps that frame as it was. The job records must not change while a run goes.
TCustomHookEvent MakeConverterHook(TTaskJobLookup findJob,
                                   std::shared_ptr<TJobFrameRenderer> renderer = std::make_shared<TJobFrameRenderer>());
