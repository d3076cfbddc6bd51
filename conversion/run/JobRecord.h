// The record each row of the job list owns: what the user chose for one source file. The
// desktop program, the conversion run, the frame hook and the headless converter share it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editing/render/WaterMark.h"

inline constexpr const char* DefaultZoomMode = "lbox";

struct TlvFilesRecord {
  std::string SourcePath;       // the row caption
  std::string DestinationPath;  // provisional output path shown in the list
  int32_t DurationSeconds = 0;
  int64_t TrimStart = 0;   // µs
  int64_t TrimLength = 0;  // µs; 0: to the end
  std::string ZoomMode = DefaultZoomMode;  // "full", "lbox", "pan" or "center"
  int32_t CropTop = 0, CropLeft = 0, CropBottom = 0, CropRight = 0;  // source pixels
  int32_t CropTopView = 0, CropLeftView = 0, CropBottomView = 0, CropRightView = 0;
  std::vector<TWmRec> Watermarks;
  int32_t Brightness = kBrightnessDefault;
  int32_t Contrast = kContrastDefault;
  int32_t Saturation = kSaturationDefault;
  int32_t Exposure = kExposureDefault;
  bool ProcessText = false;
  bool ProcessImage = false;

  bool IsCropped() const { return CropTop > 0 || CropBottom > 0 || CropLeft > 0 || CropRight > 0; }
  // True when the converter must hand this job's frames to the frame hook: an adjustment away
  // from the stored neutral set, or a first watermark with a text or a picture.
  bool NeedsCustomHook() const;
};
