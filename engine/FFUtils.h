// Text formatting shared by the engine's messages and reports.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
}

struct AVCodecParameters;
struct AVDictionary;

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for an argument list the caller has started; it stays the caller's to end.
std::string FormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// "H:MM:SS" with as many hour digits as needed; negative counts as 0.
std::string FormatClock(int64_t seconds);
// "HH:MM:SS.mmm" (hours not wrapped at 24), "-" before a negative time, "N/A" for
// AV_NOPTS_VALUE.
std::string FormatTimeCode(int64_t microseconds);
// "S.mmm", "-" before a negative time.
std::string FormatSeconds(int64_t microseconds);
// Nearest integer, halves to the even neighbour. NaN gives 0; values beyond the int64 range
// saturate.
int64_t RoundHalfEven(double value);
// "%.2f GB/MB/KB" above 1 GiB/MiB/KiB, else "N Byte". Always a decimal point, whatever the
// locale says.
std::string FormatByteSize(int64_t bytes);

// The user-facing text of a library error code.
std::string ErrorCodeText(int errorCode);
// name + ": " + ErrorCodeText(errorCode).
std::string ErrorText(const std::string& name, int errorCode);

// "Video", "Audio", "Data", "Subtitle", "Attachment" or "Unknown".
std::string MediaTypeName(AVMediaType type);
// The decoder's (or encoder's) name with its long name in parentheses; without one, the
// codec's descriptor name or its tag. Needs avcodec bound.
std::string CodecNameText(const AVCodecParameters* par, bool encoder);
// The entry's value, or `defaultValue` when the key is missing. Needs avutil bound.
std::string MetadataValue(const AVDictionary* dict, const std::string& key,
                          const std::string& defaultValue = std::string());

// Size of an existing regular file; -1 for anything else.
int64_t FileSizeOf(const std::string& path);
// Local "YYYY-MM-DD HH:MM:SS" of a time in seconds since 1970, daylight saving included.
std::string FileTimeToText(int64_t secondsSince1970);
