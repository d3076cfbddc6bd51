// Finds the encoder or decoder a stream asks for by name, after the generation bridge.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

// `name` as the option language has it ("libfaac", "vorbis", "3gp", ...). Raises EFFmpegError
// with the user's text when the name is unknown, names a codec of another media type, or an
// experimental one that `strictness` (the "strict" option; FF_COMPLIANCE_*) does not allow.
// `note` receives the bridge's log line when the name was replaced.
const AVCodec* FindCodecByName(const std::string& name, AVMediaType type, bool encoder,
                               int strictness = FF_COMPLIANCE_NORMAL, std::string* note = nullptr);
