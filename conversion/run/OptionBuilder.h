// Turns one job, the current output format and what the probe found in the source into the
// converter's option records.
#pragma once

#include <stdexcept>
#include <string>

#include "JobRecord.h"
#include "app/core/SettingsStore.h"
#include "engine/FFConverter.h"
#include "probe/AVProbe.h"
#include "profiles/model/ProfileStore.h"

// A stored value that must be a whole number is not one ("'abc' is not a valid integer
// value"). The run does not catch it: the run is abandoned and the message shown.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Fills `output` (already reset, with FileName and the job's crop margins set) and, for an
// audio-only format, `input`, from the "formatInfo" + `formatCode` sections of `settings` and
// `formats`. May ask the frame-size question through the dialog seam. `probe` is open on the
// job's source.
void BuildOutputOptions(const TlvFilesRecord& job, int formatCode, TOutputOptions& output, TCustomAVProbe& probe,
                        TInputOptions& input, const TSettingsStore& settings, const TFormatStore& formats);
