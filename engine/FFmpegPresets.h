// The built-in encoder presets: the libx264 settings in the classic option vocabulary, one
// "key=value" line each, applied by the "vpre" option like a preset file.
#pragma once

#include <span>
#include <string>

struct TBuiltInPreset {
  const char* Name;
  const char* Text;
};

// All 40, in a fixed order. Some names share one text (the same object, not a copy).
std::span<const TBuiltInPreset> BuiltInPresets();

// The text of the preset called `name` (ASCII case-insensitive), or nullptr.
const char* FindBuiltInPreset(const std::string& name);
