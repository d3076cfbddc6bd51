// Replacing every byte of a picture through a 256-entry table, the inner loop of the exposure
// adjustment.
#pragma once

#include <cstdint>

#include "editing/render/BitmapView.h"

// Every pixel byte b becomes table[b]; the bytes between rows stay as they are. Uses the
// fastest path the processor offers; all paths give the same bytes.
void MapPixelBytes(TBitmapView frame, const uint8_t (&table)[256]);

// The paths behind MapPixelBytes, exposed so that tests can hold them to each other.
void MapPixelBytesPortable(TBitmapView frame, const uint8_t (&table)[256]);
// 64 bytes per step with two-register byte permutes (AVX-512 VBMI). Returns false and leaves
// the frame alone when the processor or the build lacks them.
bool MapPixelBytesVbmi(TBitmapView frame, const uint8_t (&table)[256]);
