#include "GenerationBridge.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <set>

#include "FFUtils.h"
#include "FFmpegEntryPoints.h"

namespace {

constexpr AVMediaType Video = AVMEDIA_TYPE_VIDEO;
constexpr AVMediaType Audio = AVMEDIA_TYPE_AUDIO;
constexpr AVMediaType AnyMedia = AVMEDIA_TYPE_UNKNOWN;

using K = TBridgeKind;
using T = TBridgeTarget;

bool ComputeMeRange(const AVCodecContext* ctx, std::string& value) {
  // 0 was "the encoder's default" in the old vocabulary as well: nothing to pass on.
  value = ctx->me_range > 0 ? std::to_string(ctx->me_range) : std::string();
  return true;
}

// The old libx264 wrapper turned the tolerance in bits/s into x264's ratio of the bit rate;
// without a bit rate (constant quality) there is nothing to relate it to.
bool ComputeRateTolerance(const AVCodecContext* ctx, std::string& value) {
  if (ctx->bit_rate <= 0 || ctx->bit_rate_tolerance <= 0) {
    value = "libx264 relates it to a bit rate and none is set";
    return false;
  }
  char text[32];
  const double ratio = static_cast<double>(ctx->bit_rate_tolerance) / static_cast<double>(ctx->bit_rate);
  const auto end = std::to_chars(text, text + sizeof text, ratio, std::chars_format::general, 6).ptr;
  value.assign(text, end);
  return true;
}

// Every row was checked against this generation's option tables: the generic codec class,
// the format class and the private classes of the encoders and muxers named in the note.
// GenerationBridgeTest verifies each row against the bound libraries.
constexpr TBridgeRow Table[] = {
    // Codec names the catalogue uses that this generation lacks. Token: "encoder" or
    // "decoder" when only that side is renamed. Experimental encoders ("vorbis") need no row:
    // BridgeCodecName replaces any of them by a stable encoder of the same codec.
    {K::CodecName, "libfaac", "encoder", T::Private, "aac", "", "", "", "", Audio, nullptr,
     "libfaac is gone; the native AAC encoder is stable in this generation"},
    {K::CodecName, "libfaad", "decoder", T::Private, "aac", "", "", "", "", Audio, nullptr,
     "libfaad is gone; the native AAC decoder replaces it"},
    {K::CodecName, "3gp", "", T::Private, "mpeg4", "", "", "", "", Video, nullptr,
     "a container name in old profiles; they meant MPEG-4 Visual (the mpeg4 encoder)"},
    {K::CodecName, "3g2", "", T::Private, "mpeg4", "", "", "", "", Video, nullptr,
     "a container name in old profiles; they meant MPEG-4 Visual (the mpeg4 encoder)"},
    {K::CodecName, "mov", "", T::Private, "mpeg4", "", "", "", "", Video, nullptr,
     "a container name in old profiles; they meant MPEG-4 Visual (the mpeg4 encoder)"},
    {K::CodecName, "swf", "", T::Private, "flv", "", "", "", "", Video, nullptr,
     "a container name in old profiles; Flash video uses the Sorenson H.263 (flv) encoder"},

    // Generic options the presets and targets use, unchanged in this generation.
    {K::Option, "b", "", T::Generic, "b", "", "", "", "", Video, nullptr,
     "video bit rate only: this generation's \"b\" is also an audio option, the old one was not"},
    {K::Option, "ab", "", T::Generic, "ab", "", "", "", "", Audio, nullptr, "audio bit rate"},
    {K::Option, "maxrate", "", T::Generic, "maxrate", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "minrate", "", T::Generic, "minrate", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "bufsize", "", T::Generic, "bufsize", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "g", "", T::Generic, "g", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "keyint_min", "", T::Generic, "keyint_min", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "qcomp", "", T::Generic, "qcomp", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "qmin", "", T::Generic, "qmin", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "qmax", "", T::Generic, "qmax", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "qdiff", "", T::Generic, "qdiff", "", "", "", "", AnyMedia, nullptr,
     "libx264 reads it as qpstep"},
    {K::Option, "bf", "", T::Generic, "bf", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "refs", "", T::Generic, "refs", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "trellis", "", T::Generic, "trellis", "", "", "", "", AnyMedia, nullptr, ""},
    {K::Option, "subq", "", T::Generic, "subq", "", "", "", "", AnyMedia, nullptr,
     "libx264 reads it as subme"},
    {K::Option, "i_qfactor", "", T::Generic, "i_qfactor", "", "", "", "", AnyMedia, nullptr,
     "libx264 reads 1/|i_qfactor| as ip_ratio"},
    {K::Option, "cmp", "", T::Generic, "cmp", "", "", "", "", AnyMedia, nullptr,
     "\"+chroma\" still evaluates to the chroma flag; libx264 reads it as chroma_me"},
    {K::Option, "level", "", T::Generic, "level", "", "", "", "", AnyMedia, nullptr,
     "libx264 writes it into the stream's level_idc"},
    {K::Option, "packetsize", "", T::Generic, "packetsize", "", "", "", "", AnyMedia, nullptr,
     "format context option; the MPEG-PS muxers read it"},
    {K::Option, "muxrate", "", T::MuxerPrivate, "muxrate", "", "", "", "", AnyMedia, nullptr,
     "moved from the format context into the MPEG-PS muxers' private options (bits/s)"},
    // Generic, but ignored by this generation's libx264 wrapper: passed through x264-params.
    {K::Option, "me_range", "", T::Generic, "me_range", "", "", "", "", AnyMedia, nullptr,
     "still generic for the native encoders"},
    {K::Option, "me_range", "", T::X264Params, "merange", "", "", "", "", Video, ComputeMeRange,
     "libx264 no longer reads the generic field"},
    {K::Option, "bt", "", T::Generic, "bt", "", "", "", "", AnyMedia, nullptr,
     "still generic for the native encoders"},
    {K::Option, "bt", "", T::X264Params, "ratetol", "", "", "", "", Video, ComputeRateTolerance,
     "libx264 no longer reads the generic field; ratetol = bt / b"},

    // Moved into encoders' private options, renamed or re-spelled.
    {K::Option, "me_method", "", T::Private, "motion-est", "", "",
     "epzs>dia,dia>dia,hex>hex,umh>umh,full>esa,esa>esa,tesa>tesa,"
     "5>dia,7>hex,8>umh,2>esa,10>tesa,*>hex",
     "libx264,libx264rgb", Video, nullptr, "libx264; methods x264 lacks fall back to hex, as they did"},
    {K::Option, "me_method", "", T::Private, "motion-est", "", "", "zero>zero,1>zero,x1>xone,6>xone,*>epzs",
     "svq1", Video, nullptr, "svq1 spells it with a dash; full, log, phods and the x264 methods are gone: epzs"},
    {K::Option, "me_method", "", T::Private, "motion_est", "", "", "zero>zero,1>zero,x1>xone,6>xone,*>epzs",
     "", Video, nullptr,
     "the native MPEG-family encoders; full, log, phods and the x264 methods are gone: epzs"},
    {K::Option, "coder", "", T::Private, "coder", "", "", "0>cavlc,1>cabac,vlc>cavlc,ac>cabac",
     "libx264,libx264rgb", Video, nullptr, "libx264 private option"},
    {K::Option, "coder", "", T::Private, "coder", "", "", "", "", Video, nullptr,
     "private option of the other encoders that still have it (ffv1)"},
    {K::Option, "directpred", "", T::Private, "direct-pred", "", "", "0>none,1>spatial,2>temporal,3>auto",
     "", Video, nullptr, "libx264 private option"},
    {K::Option, "wpredp", "", T::Private, "weightp", "", "", "0>none,1>simple,2>smart", "", Video,
     nullptr, "libx264 private option"},
    {K::Option, "cqp", "", T::Private, "qp", "", "", "", "", Video, nullptr,
     "libx264 private option (constant quantiser)"},
    {K::Option, "b_strategy", "", T::Private, "b_strategy", "", "", "", "", Video, nullptr,
     "same name, now private (libx264, mpeg1video, mpeg2video, mpeg4)"},
    {K::Option, "sc_threshold", "", T::Private, "sc_threshold", "", "", "", "", Video, nullptr,
     "same name, now private (libx264 and the native MPEG-family encoders)"},
    {K::Option, "nr", "", T::Private, "noise_reduction", "", "", "", "", Video, nullptr,
     "private option of libx264 and the native MPEG-family encoders"},
    {K::Option, "lelim", "", T::Private, "luma_elim_threshold", "", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::Option, "celim", "", T::Private, "chroma_elim_threshold", "", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::Option, "qns", "", T::Private, "quantizer_noise_shaping", "", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::Option, "aq_mode", "", T::Private, "aq-mode", "", "", "", "", Video, nullptr, "libx264"},
    {K::Option, "aq_strength", "", T::Private, "aq-strength", "", "", "", "", Video, nullptr, "libx264"},
    {K::Option, "rc_lookahead", "", T::Private, "rc-lookahead", "", "", "", "", Video, nullptr, "libx264"},
    {K::Option, "bframebias", "", T::Private, "b-bias", "", "", "", "", Video, nullptr, "libx264"},
    {K::Option, "complexityblur", "", T::Private, "cplxblur", "", "", "", "", Video, nullptr, "libx264"},
    {K::Option, "deblockalpha", "", T::Dropped, "", "", "", "", "", Video, nullptr,
     "libx264 takes both strengths together in its private option \"deblock\" (alpha:beta)"},
    {K::Option, "deblockbeta", "", T::Dropped, "", "", "", "", "", Video, nullptr,
     "libx264 takes both strengths together in its private option \"deblock\" (alpha:beta)"},
    {K::Option, "psy_rd", "", T::Dropped, "", "", "", "", "", Video, nullptr,
     "libx264 takes both strengths together in its private option \"psy-rd\" (rd:trellis)"},
    {K::Option, "psy_trellis", "", T::Dropped, "", "", "", "", "", Video, nullptr,
     "libx264 takes both strengths together in its private option \"psy-rd\" (rd:trellis)"},

    // "flags" constants that left the generic flags.
    {K::FlagToken, "flags", "loop", T::X264Params, "", "", "no-deblock=1", "", "libx264,libx264rgb",
     Video, nullptr, "libx264 ignores the loop flag and deblocks by default; only -loop matters"},
    {K::FlagToken, "flags", "scan_offset", T::Private, "scan_offset", "1", "0", "", "", Video, nullptr,
     "mpeg1video/mpeg2video private option"},
    {K::FlagToken, "flags", "mv0", T::PrivateFlags, "mpv_flags", "mv0", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::FlagToken, "flags", "naq", T::PrivateFlags, "mpv_flags", "naq", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::FlagToken, "flags", "qprd", T::PrivateFlags, "mpv_flags", "qp_rd", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::FlagToken, "flags", "cbp", T::PrivateFlags, "mpv_flags", "cbp_rd", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::FlagToken, "flags", "obmc", T::Private, "obmc", "1", "0", "", "", Video, nullptr, "h263, h263p"},
    {K::FlagToken, "flags", "part", T::Private, "data_partitioning", "1", "0", "", "", Video, nullptr, "mpeg4"},
    {K::FlagToken, "flags", "alt", T::Private, "alternate_scan", "1", "0", "", "", Video, nullptr,
     "mpeg2video, mpeg4"},
    {K::FlagToken, "flags", "umv", T::Private, "umv", "1", "0", "", "", Video, nullptr, "h263p"},
    {K::FlagToken, "flags", "aiv", T::Private, "aiv", "1", "0", "", "", Video, nullptr, "h263p"},
    {K::FlagToken, "flags", "ss", T::Private, "structured_slices", "1", "0", "", "", Video, nullptr, "h263p"},
    {K::FlagToken, "flags", "gmc", T::Dropped, "", "", "", "", "", Video, nullptr,
     "the MPEG-4 encoder no longer offers global motion compensation"},

    // "flags2" constants: the x264 switches became libx264 private options.
    {K::FlagToken, "flags2", "bpyramid", T::Private, "b-pyramid", "normal", "none", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "wpred", T::Private, "weightb", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "mixed_refs", T::Private, "mixed-refs", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "dct8x8", T::Private, "8x8dct", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "fastpskip", T::Private, "fast-pskip", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "aud", T::Private, "aud", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "mbtree", T::Private, "mbtree", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "psy", T::Private, "psy", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "ssim", T::Private, "ssim", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "intra_refresh", T::Private, "intra-refresh", "1", "0", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "flags2", "skiprd", T::PrivateFlags, "mpv_flags", "skip_rd", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::FlagToken, "flags2", "sgop", T::PrivateFlags, "mpv_flags", "strict_gop", "", "", "", Video, nullptr,
     "native MPEG-family encoders"},
    {K::FlagToken, "flags2", "ivlc", T::Private, "intra_vlc", "1", "0", "", "", Video, nullptr, "mpeg2video"},
    {K::FlagToken, "flags2", "non_linear_q", T::Private, "non_linear_quant", "1", "0", "", "", Video, nullptr,
     "mpeg2video"},
    {K::FlagToken, "flags2", "drop_frame_timecode", T::Private, "drop_frame_timecode", "1", "0", "", "",
     Video, nullptr, "mpeg2video"},
    {K::FlagToken, "flags2", "bit_reservoir", T::Private, "reservoir", "1", "0", "", "", Audio, nullptr,
     "libmp3lame"},
    {K::FlagToken, "flags2", "brdo", T::Dropped, "", "", "", "", "", Video, nullptr,
     "B-frame rate-distortion refinement no longer exists"},

    // The x264 partition flags became libx264's private comma list.
    {K::FlagToken, "partitions", "parti4x4", T::ListItem, "partitions", "i4x4", "", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "partitions", "parti8x8", T::ListItem, "partitions", "i8x8", "", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "partitions", "partp4x4", T::ListItem, "partitions", "p4x4", "", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "partitions", "partp8x8", T::ListItem, "partitions", "p8x8", "", "", "", Video, nullptr, "libx264"},
    {K::FlagToken, "partitions", "partb8x8", T::ListItem, "partitions", "b8x8", "", "", "", Video, nullptr, "libx264"},
};

struct TToken {
  char Sign;  // '+', '-' or 0
  std::string Name;
};

std::vector<TToken> Tokens(const std::string& value) {
  std::vector<TToken> tokens;
  size_t i = 0;
  while (i < value.size()) {
    TToken t{0, {}};
    if (value[i] == '+' || value[i] == '-') t.Sign = value[i++];
    const size_t start = i;
    while (i < value.size() && value[i] != '+' && value[i] != '-') ++i;
    t.Name = value.substr(start, i - start);
    tokens.push_back(std::move(t));
  }
  return tokens;
}

bool HasRows(TBridgeKind kind, const std::string& name, const char* token = nullptr) {
  return std::any_of(std::begin(Table), std::end(Table), [&](const TBridgeRow& r) {
    return r.Kind == kind && name == r.Name && (!token || std::strcmp(token, r.Token) == 0);
  });
}

const AVOption* GenericOption(const std::string& name, const char* unit) {
  const AVClass* cls = Lib.avcodec_get_class();
  return Lib.av_opt_find2(&cls, name.c_str(), unit, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr);
}

// True when `token` is one of the constants of the generic codec option `option`.
bool IsGenericConstant(const std::string& option, const std::string& token) {
  const AVOption* o = GenericOption(option, nullptr);
  if (!o || !o->unit || token.empty()) return false;
  const AVOption* c = GenericOption(token, o->unit);
  return c && c->type == AV_OPT_TYPE_CONST;
}

bool EncoderListed(const char* list, const char* name) {
  if (!*list) return true;
  const std::string_view all(list);
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string_view::npos) comma = all.size();
    if (all.substr(start, comma - start) == name) return true;
    start = comma + 1;
  }
  return false;
}

const AVOption* PrivateOption(const AVCodec* codec, const char* name) {
  if (!codec->priv_class) return nullptr;
  const AVOption* o = Lib.av_opt_find2(const_cast<AVClass**>(&codec->priv_class), name, nullptr, 0,
                                       AV_OPT_SEARCH_FAKE_OBJ, nullptr);
  return o && o->type != AV_OPT_TYPE_CONST ? o : nullptr;
}

bool RowApplies(const TBridgeRow& r, const AVCodec* codec) {
  if (!EncoderListed(r.Encoder, codec->name)) return false;
  switch (r.Target) {
    case T::Private:
    case T::PrivateFlags:
    case T::ListItem: return PrivateOption(codec, r.New) != nullptr;
    case T::X264Params: return PrivateOption(codec, "x264-params") != nullptr;
    case T::Dropped: return true;
    case T::Generic:
    case T::MuxerPrivate: return false;  // nothing to translate at open time
  }
  return false;
}

std::string MapValue(const char* map, const std::string& value) {
  std::string fallback;
  bool haveFallback = false;
  const std::string_view all(map);
  size_t start = 0;
  while (start < all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string_view::npos) comma = all.size();
    const std::string_view pair = all.substr(start, comma - start);
    const size_t arrow = pair.find('>');
    if (arrow != std::string_view::npos) {
      const std::string_view from = pair.substr(0, arrow), to = pair.substr(arrow + 1);
      if (from == value) return std::string(to);
      if (from == "*") {
        fallback = std::string(to);
        haveFallback = true;
      }
    }
    start = comma + 1;
  }
  return haveFallback ? fallback : value;
}

// Collects the translated settings; flags and lists of one option merge into one entry.
class TCollector {
 public:
  void Set(const std::string& name, const std::string& value) { Slot(name) = value; }
  void AddFlag(const std::string& name, char sign, const std::string& constant) {
    Slot(name) += std::string(1, sign == '-' ? '-' : '+') + constant;
  }
  void AddX264Param(const std::string& keyValue) {
    std::string& v = Slot("x264-params");
    if (!v.empty()) v += ':';
    v += keyValue;
  }
  void ListItem(const std::string& name, const std::string& item, bool set) {
    std::vector<std::string>& items = List(name);
    Slot(name);  // keeps the order of first mention
    items.erase(std::remove(items.begin(), items.end(), item), items.end());
    if (set) items.push_back(item);
  }
  std::vector<TOptionPair> Take() {
    for (auto& [name, items] : Lists) {
      std::string joined;
      for (const std::string& item : items) joined += (joined.empty() ? "" : ",") + item;
      Slot(name) = joined.empty() ? "none" : joined;
    }
    return std::move(Pairs);
  }

 private:
  std::string& Slot(const std::string& name) {
    for (TOptionPair& p : Pairs)
      if (p.Name == name) return p.Value;
    Pairs.push_back({name, {}});
    return Pairs.back().Value;
  }
  std::vector<std::string>& List(const std::string& name) {
    for (auto& [n, items] : Lists)
      if (n == name) return items;
    Lists.push_back({name, {}});
    return Lists.back().second;
  }
  std::vector<TOptionPair> Pairs;
  // A list starts empty: the old partition flags defaulted to none.
  std::vector<std::pair<std::string, std::vector<std::string>>> Lists;
};

std::string SettingText(const TDeferredOption& d) { return d.Name + "=" + d.Value; }

void TranslateToken(const TDeferredOption& d, const AVCodec* codec, TCollector& out,
                    std::vector<std::string>& dropped) {
  const char sign = d.Value.empty() ? 0 : (d.Value[0] == '+' || d.Value[0] == '-' ? d.Value[0] : 0);
  const std::string token = sign ? d.Value.substr(1) : d.Value;
  const bool set = sign != '-';
  for (const TBridgeRow& r : Table) {
    if (r.Kind != K::FlagToken || d.Name != r.Name || token != r.Token || !RowApplies(r, codec)) continue;
    const std::string value = set ? r.SetValue : r.ClearValue;
    switch (r.Target) {
      case T::Private:
        if (!value.empty()) out.Set(r.New, value);
        break;
      case T::PrivateFlags: out.AddFlag(r.New, sign, r.SetValue); break;
      case T::ListItem: out.ListItem(r.New, r.SetValue, set); break;
      case T::X264Params:
        if (!value.empty()) out.AddX264Param(value);
        break;
      case T::Dropped: dropped.push_back(DroppedOptionText(SettingText(d), r.Note)); break;
      default: break;
    }
    return;
  }
  if (!d.AlsoGeneric)
    dropped.push_back(DroppedOptionText(SettingText(d), Format("encoder '%s' has no such setting", codec->name)));
}

void TranslateOption(const TDeferredOption& d, const AVCodec* codec, const AVCodecContext* ctx,
                     TCollector& out, std::vector<std::string>& dropped) {
  for (const TBridgeRow& r : Table) {
    if (r.Kind != K::Option || d.Name != r.Name || !RowApplies(r, codec)) continue;
    std::string value = *r.ValueMap ? MapValue(r.ValueMap, d.Value) : d.Value;
    if (r.Compute && !r.Compute(ctx, value)) {
      dropped.push_back(DroppedOptionText(d.Name, value));
      return;
    }
    if (r.Target == T::Dropped) {
      dropped.push_back(DroppedOptionText(d.Name, r.Note));
    } else if (!value.empty()) {
      if (r.Target == T::X264Params)
        out.AddX264Param(std::string(r.New) + "=" + value);
      else
        out.Set(r.New, value);
    }
    return;
  }
  if (!d.AlsoGeneric)
    dropped.push_back(DroppedOptionText(d.Name, Format("encoder '%s' has no such setting", codec->name)));
}

}  // namespace

std::span<const TBridgeRow> GenerationBridgeTable() { return Table; }

std::string DroppedOptionText(const std::string& setting, const std::string& reason) {
  return Format("Option '%s' has no equivalent in this library generation (%s); ignored",
                setting.c_str(), reason.c_str());
}

std::string BridgeCodecName(const std::string& name, bool encoder, int strictness, std::string* note) {
  auto find = [encoder](const std::string& n) {
    return encoder ? Lib.avcodec_find_encoder_by_name(n.c_str()) : Lib.avcodec_find_decoder_by_name(n.c_str());
  };
  std::string result = name;
  for (const TBridgeRow& r : Table) {
    if (r.Kind != K::CodecName || name != r.Name || !find(r.New)) continue;
    if (*r.Token && std::strcmp(r.Token, encoder ? "encoder" : "decoder") != 0) continue;
    result = r.New;
    if (note)
      *note = Format("%s '%s' is not available in this library generation; using '%s' (%s)",
                     encoder ? "Encoder" : "Decoder", name.c_str(), r.New, r.Note);
    break;
  }
  if (encoder && strictness > FF_COMPLIANCE_EXPERIMENTAL) {
    const AVCodec* codec = find(result);
    if (codec && (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
      void* it = nullptr;
      while (const AVCodec* c = Lib.av_codec_iterate(&it)) {
        if (c->id != codec->id || !Lib.av_codec_is_encoder(c) || (c->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
          continue;
        if (note)
          *note = Format("Encoder '%s' is experimental in this library generation; using '%s'",
                         result.c_str(), c->name);
        result = c->name;
        break;
      }
    }
  }
  return result;
}

TBridgedOption BridgeOption(const std::string& name, const std::string& value) {
  TBridgedOption result;
  if (HasRows(K::FlagToken, name)) {
    std::string remainder;
    bool extracted = false;
    for (const TToken& t : Tokens(value)) {
      const std::string text = (t.Sign ? std::string(1, t.Sign) : std::string()) + t.Name;
      const bool generic = IsGenericConstant(name, t.Name);
      const TBridgeRow* first = nullptr;
      for (const TBridgeRow& r : Table)
        if (r.Kind == K::FlagToken && name == r.Name && t.Name == r.Token) {
          first = &r;
          break;
        }
      if (generic) remainder += text;
      if (!first) {
        if (!generic) remainder += text;  // unknown: the generic option judges it
        continue;
      }
      extracted = true;
      if (first->Target == T::Dropped && !generic)
        result.Dropped.push_back(DroppedOptionText(name + "=" + text, first->Note));
      else
        result.Deferred.push_back({first->Media, {name, text, generic}});
    }
    if (!extracted)
      result.Generic.push_back({name, value});
    else if (!remainder.empty())
      result.Generic.push_back({name, remainder});
    return result;
  }
  const TBridgeRow* generic = nullptr;
  const TBridgeRow* other = nullptr;
  for (const TBridgeRow& r : Table) {
    if (r.Kind != K::Option || name != r.Name) continue;
    if (r.Target == T::Generic || r.Target == T::MuxerPrivate) {
      if (!generic) generic = &r;
    } else if (!other) {
      other = &r;
    }
  }
  if (!generic && !other) {
    result.Generic.push_back({name, value});
    return result;
  }
  if (generic) {
    result.Generic.push_back({name, value});
    if (generic->Media != AVMEDIA_TYPE_UNKNOWN && generic->Target == T::Generic)
      result.CodecMediaMask = 1u << generic->Media;
  }
  if (other) {
    if (other->Target == T::Dropped)
      result.Dropped.push_back(DroppedOptionText(name, other->Note));
    else
      result.Deferred.push_back({other->Media, {name, value, generic != nullptr}});
  }
  return result;
}

TEncoderTranslation TranslateForEncoder(const AVCodec* encoder, const AVCodecContext* ctx,
                                        const std::vector<TDeferredOption>& deferred) {
  TEncoderTranslation result;
  TCollector out;
  for (const TDeferredOption& d : deferred) {
    if (HasRows(K::FlagToken, d.Name))
      TranslateToken(d, encoder, out, result.Dropped);
    else
      TranslateOption(d, encoder, ctx, out, result.Dropped);
  }
  result.Private = out.Take();
  return result;
}
