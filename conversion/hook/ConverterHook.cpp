#include "conversion/hook/ConverterHook.h"

#include <utility>

TCustomHookEvent MakeConverterHook(TTaskJobLookup findJob, std::shared_ptr<TJobFrameRenderer> renderer) {
  return [findJob = std::move(findJob), renderer = std::move(renderer)](TCustomFFConverter*, PHookInfo info) {
    if (info == nullptr || info->Bitmap == nullptr) return;
    const TlvFilesRecord* job = findJob ? findJob(info->TaskIndex) : nullptr;
    if (job == nullptr) {
      info->StopHook = true;
      return;
    }
    renderer->Render(*job, *info->Bitmap, info->PTS);
  };
}
