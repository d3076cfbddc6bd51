// The generation bridge: the option vocabulary of the classic transcoder (libavcodec 52) mapped
// onto the library generation bound here. All knowledge of what was renamed, moved into an
// encoder's private options, re-spelled or removed lives in the one table of
// GenerationBridge.cpp; callers only ask the three questions below.
#pragma once

#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

struct AVCodec;
struct AVCodecContext;

struct TOptionPair {
  std::string Name;
  std::string Value;
  bool operator==(const TOptionPair&) const = default;
};

// An old-vocabulary setting kept until the encoder is known, because its meaning in this
// generation depends on the encoder. `AlsoGeneric`: the setting was also applied to the
// default contexts (its generic form still exists), so an encoder without a translation
// is served by the generic form and nothing is dropped.
struct TDeferredOption {
  std::string Name;
  std::string Value;
  bool AlsoGeneric = false;
  bool operator==(const TDeferredOption&) const = default;
};

enum class TBridgeKind {
  CodecName,  // Name: old codec name, New: this generation's codec name
  Option,     // Name: old option name
  FlagToken,  // Name: old flags option ("flags", "flags2", "partitions"), Token: one constant
};

enum class TBridgeTarget {
  Generic,       // unchanged: this generation's generic codec/format option of the same name
  MuxerPrivate,  // unchanged name, now a muxer's private option
  Private,       // the encoder's private option New (value re-spelled by ValueMap)
  PrivateFlags,  // one constant (SetValue) of the encoder's private flags option New
  ListItem,      // one item (SetValue) of the encoder's private comma list option New
  X264Params,    // a key of libx264's "x264-params": New = key (value computed or SetValue)
  Dropped,       // no equivalent in this generation
};

struct TBridgeRow {
  TBridgeKind Kind;
  const char* Name;
  const char* Token;     // FlagToken rows: the constant; CodecName rows: "encoder", "decoder" or "" (both)
  TBridgeTarget Target;
  const char* New;       // see TBridgeTarget
  const char* SetValue;  // FlagToken rows: value for a set token ("" = nothing to do)
  const char* ClearValue;  // FlagToken rows: value for a cleared token ("" = nothing to do)
  const char* ValueMap;  // Option rows: "old>new,...", "*>new" for any other; empty: unchanged
  const char* Encoder;   // only this encoder; empty: any encoder that has the target option
  AVMediaType Media;     // the media type of the streams the setting belongs to
  // Option rows whose value is read from the new context (after the generic copy). Returns
  // false, with the reason in `value`, when it cannot be computed (the setting is dropped).
  bool (*Compute)(const AVCodecContext* ctx, std::string& value);
  const char* Note;
};

// The table, in lookup order (the first row that applies to an encoder wins).
std::span<const TBridgeRow> GenerationBridgeTable();

// Codec names. An old name this generation lacks becomes its replacement; an encoder this
// generation marks experimental becomes a stable encoder of the same codec when one exists
// and `strictness` (the "strict" option) does not allow experimental ones. `note` gets a
// line for the log when a replacement happened.
std::string BridgeCodecName(const std::string& name, bool encoder, int strictness,
                            std::string* note = nullptr);

// What the library-option path does with one old-vocabulary option, at the time it is given.
struct TBridgedOption {
  // Set on the default contexts as usual (usually the option itself, unchanged).
  std::vector<TOptionPair> Generic;
  // Restricts Generic to the codec contexts of these media types (bit 1 << type); 0: none.
  unsigned CodecMediaMask = 0;
  // Kept per media type for the encoder; see TranslateForEncoder.
  std::vector<std::pair<AVMediaType, TDeferredOption>> Deferred;
  // Settings with no equivalent at all: one log line each, nothing else happens.
  std::vector<std::string> Dropped;
};
// Needs avcodec bound (flag constants are looked up in the generic class).
TBridgedOption BridgeOption(const std::string& name, const std::string& value);

// Open time: the deferred settings translated for one encoder. `ctx` is the new encoder
// context after the generic options were copied onto it.
struct TEncoderTranslation {
  std::vector<TOptionPair> Private;   // for avcodec_open2's dictionary, in order
  std::vector<std::string> Dropped;   // one log line for each dropped setting
};
TEncoderTranslation TranslateForEncoder(const AVCodec* encoder, const AVCodecContext* ctx,
                                        const std::vector<TDeferredOption>& deferred);

// The text of a drop warning.
std::string DroppedOptionText(const std::string& setting, const std::string& reason);
