// The conversion command of ondrel-convert: the same run as the desktop program's Start, with
// a progress line per job on the terminal.
#pragma once

#include "CliOptions.h"

// Converts options.Files; returns the exit status (0 all converted, 1 any failed or stopped).
int RunCliConversion(const TCliOptions& options);
