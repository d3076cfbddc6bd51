#include "CodecLookup.h"

#include "EngineError.h"
#include "FFUtils.h"
#include "FFmpegEntryPoints.h"
#include "GenerationBridge.h"

const AVCodec* FindCodecByName(const std::string& name, AVMediaType type, bool encoder, int strictness,
                               std::string* note) {
  const char* kind = encoder ? "encoder" : "decoder";
  const std::string bridged = BridgeCodecName(name, encoder, strictness, note);
  const AVCodec* codec = encoder ? Lib.avcodec_find_encoder_by_name(bridged.c_str())
                                 : Lib.avcodec_find_decoder_by_name(bridged.c_str());
  if (!codec) throw EFFmpegError(Format("Unknown %s '%s'", kind, name.c_str()));
  if (codec->type != type) throw EFFmpegError(Format("Invalid %s type '%s'", kind, name.c_str()));
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strictness > FF_COMPLIANCE_EXPERIMENTAL) {
    std::string text = Format("%s '%s' is experimental and might produce bad results.\r\n"
                              "Add '-strict experimental' if you want to use it.",
                              kind, codec->name);
    void* it = nullptr;
    while (const AVCodec* c = Lib.av_codec_iterate(&it)) {
      const bool sameSide = encoder ? Lib.av_codec_is_encoder(c) : Lib.av_codec_is_decoder(c);
      if (c->id == codec->id && sameSide && !(c->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
        text += Format("\r\nOr use the non experimental %s '%s'.", kind, c->name);
        break;
      }
    }
    throw EFFmpegError(text);
  }
  return codec;
}
