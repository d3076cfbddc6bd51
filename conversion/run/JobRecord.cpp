#include "JobRecord.h"

bool TlvFilesRecord::NeedsCustomHook() const {
  if (Brightness != kBrightnessDefault || Contrast != kContrastDefault || Saturation != kSaturationDefault ||
      Exposure != kExposureDefault)
    return true;
  return !Watermarks.empty() && (!Watermarks.front().Text.empty() || !Watermarks.front().ImagePath.empty());
}
