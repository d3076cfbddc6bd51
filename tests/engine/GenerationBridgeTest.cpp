#include "engine/GenerationBridge.h"

#include <gtest/gtest.h>

#include <set>

#include "FFmpegOptionsTestSupport.h"
#include "TestMedia.h"
#include "engine/CodecLookup.h"
#include "engine/FFmpegOptions.h"

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

const AVOption* ClassOption(const AVClass* cls, const char* name, const char* unit = nullptr) {
  if (!cls) return nullptr;
  const AVOption* o = Lib.av_opt_find2(&cls, name, unit, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr);
  if (!o) return nullptr;
  return (unit != nullptr) == (o->type == AV_OPT_TYPE_CONST) ? o : nullptr;
}

bool Listed(const char* list, const char* name) {
  if (!*list) return true;
  const std::string all = std::string(",") + list + ",";
  return all.find(std::string(",") + name + ",") != std::string::npos;
}

std::vector<const AVCodec*> EncodersWith(const TBridgeRow& r, const char* option) {
  std::vector<const AVCodec*> found;
  void* it = nullptr;
  while (const AVCodec* c = Lib.av_codec_iterate(&it))
    if (Lib.av_codec_is_encoder(c) && Listed(r.Encoder, c->name) && ClassOption(c->priv_class, option))
      found.push_back(c);
  return found;
}

bool Accepts(const AVCodec* codec, const char* option, const std::string& value) {
  TCodecContext ctx(Lib.avcodec_alloc_context3(codec));
  return Lib.av_opt_set(ctx->priv_data, option, value.c_str(), 0) >= 0;
}

std::vector<std::string> MappedValues(const char* map) {
  std::vector<std::string> values;
  std::string all = map;
  for (size_t start = 0; start < all.size();) {
    size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    const std::string pair = all.substr(start, comma - start);
    values.push_back(pair.substr(pair.find('>') + 1));
    start = comma + 1;
  }
  return values;
}

class GenerationBridge : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
};

// The table's claims, checked against the libraries bound here.
TEST_F(GenerationBridge, EveryRowMatchesThisGeneration) {
  const AVClass* codecClass = Lib.avcodec_get_class();
  const AVClass* formatClass = Lib.avformat_get_class();
  for (const TBridgeRow& r : GenerationBridgeTable()) {
    SCOPED_TRACE(std::string(r.Name) + " " + r.Token + " -> " + r.New);
    if (r.Kind == TBridgeKind::CodecName) {
      EXPECT_TRUE(Lib.avcodec_find_encoder_by_name(r.New) || Lib.avcodec_find_decoder_by_name(r.New));
      const AVCodec* old = Lib.avcodec_find_encoder_by_name(r.Name);
      EXPECT_TRUE(!old || (old->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) << "nothing to bridge";
      continue;
    }
    const bool isFlag = r.Kind == TBridgeKind::FlagToken;
    const AVOption* generic = ClassOption(codecClass, r.Name);
    const bool oldIsGeneric = isFlag ? generic && generic->unit && ClassOption(codecClass, r.Token, generic->unit)
                                     : generic || ClassOption(formatClass, r.Name);
    switch (r.Target) {
      case TBridgeTarget::Generic:
        EXPECT_TRUE(ClassOption(codecClass, r.New) || ClassOption(formatClass, r.New));
        break;
      case TBridgeTarget::MuxerPrivate: {
        EXPECT_FALSE(oldIsGeneric);
        const AVOutputFormat* mpeg = Lib.av_guess_format("vcd", nullptr, nullptr);
        ASSERT_NE(mpeg, nullptr);
        EXPECT_NE(ClassOption(mpeg->priv_class, r.New), nullptr);
        break;
      }
      case TBridgeTarget::Private:
      case TBridgeTarget::PrivateFlags:
      case TBridgeTarget::ListItem: {
        EXPECT_FALSE(oldIsGeneric) << "the generic form still exists";
        const auto encoders = EncodersWith(r, r.New);
        ASSERT_FALSE(encoders.empty());
        std::vector<std::string> values;
        if (r.Target == TBridgeTarget::PrivateFlags) {
          values = {std::string("+") + r.SetValue, std::string("-") + r.SetValue};
        } else if (isFlag) {
          for (const char* v : {r.SetValue, r.ClearValue})
            if (*v) values.push_back(v);
        } else if (*r.ValueMap) {
          values = MappedValues(r.ValueMap);
        }
        for (const AVCodec* c : encoders)
          for (const std::string& v : values) {
            EXPECT_TRUE(Accepts(c, r.New, v)) << c->name << " " << v;
          }
        break;
      }
      case TBridgeTarget::X264Params:
        EXPECT_FALSE(EncodersWith(r, "x264-params").empty());
        break;
      case TBridgeTarget::Dropped:
        EXPECT_FALSE(oldIsGeneric);
        break;
    }
  }
}

// The settings line libx264 writes into the stream shows what x264 actually received.
TEST_F(GenerationBridge, Libx264ReceivesTheOldSettings) {
  struct TCase {
    TOptions Options;
    std::vector<std::string> Expected;
  };
  const TCase cases[] = {
      {{{"me_method", "umh"}}, {" me=umh "}},
      {{{"me_method", "epzs"}}, {" me=dia "}},
      {{{"me_method", "full"}}, {" me=esa "}},
      {{{"coder", "0"}}, {" cabac=0 "}},
      // x264 analyses i8x8 whenever the 8x8 transform is on.
      {{{"partitions", "+parti4x4+partp8x8"}, {"flags2", "-dct8x8"}}, {" analyse=0x1:0x11 "}},
      {{{"partitions", "+parti4x4+parti8x8+partp8x8+partp4x4+partb8x8"}, {"partitions", "-partp4x4"}},
       {" analyse=0x3:0x113 "}},
      {{{"directpred", "2"}}, {" direct=2 "}},
      {{{"flags2", "-wpred-dct8x8"}}, {" weightb=0 ", " 8x8dct=0 "}},
      {{{"flags2", "-mixed_refs-fastpskip-mbtree-bpyramid"}}, {" mixed_ref=0 ", " fast_pskip=0 ", " mbtree=0 ", " b_pyramid=0 "}},
      {{{"wpredp", "0"}}, {" weightp=0 "}},
      {{{"cqp", "0"}}, {" rc=cqp ", " qp=0 "}},
      {{{"me_method", "umh"}, {"me_range", "24"}}, {" me_range=24 "}},
      {{{"b", "500000"}, {"bt", "100000"}}, {" bitrate=500 ", " ratetol=0.2 "}},
      {{{"flags", "-loop"}}, {" deblock=0:"}},
      {{{"flags", "+loop"}}, {" deblock=1:"}},
      {{{"b_strategy", "2"}, {"sc_threshold", "30"}}, {" b_adapt=2 ", " scenecut=30 "}},
      {{{"i_qfactor", "0.71"}, {"qdiff", "5"}, {"qcomp", "0.7"}}, {" ip_ratio=1.41 ", " qpstep=5 ", " qcomp=0.70 "}},
      {{{"cmp", "0"}}, {" chroma_me=0 "}},
      {{{"subq", "5"}, {"refs", "2"}, {"trellis", "2"}, {"bf", "2"}}, {" subme=5 ", " ref=2 ", " trellis=2 ", " bframes=2 "}},
      {{{"g", "100"}, {"keyint_min", "10"}, {"qmin", "12"}, {"qmax", "45"}},
       {" keyint=100 ", " keyint_min=10 ", " qpmin=12 ", " qpmax=45 "}},
      // Merged into one x264-params; x264 caps the range at 16 below umh.
      {{{"x264-params", "ref=4"}, {"me_method", "umh"}, {"me_range", "20"}}, {" ref=4 ", " me_range=20 "}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Options));
    TFFmpegOptions task;
    TLogCapture log;
    ApplyFFmpegOption(task, "vcodec", "libx264");
    for (const auto& [name, value] : c.Options) ApplyFFmpegOption(task, name, value);
    const AVCodec* codec = FindStreamCodec(task, "libx264", AVMEDIA_TYPE_VIDEO, true);
    const TEncodeResult r = EncodeWith(codec, &task, SmallVideo, 0.2);
    ASSERT_EQ(r.Error, "");
    EXPECT_TRUE(r.Unused.empty()) << ::testing::PrintToString(r.Unused);
    const std::string settings = X264Settings(r);
    ASSERT_FALSE(settings.empty());
    for (const std::string& e : c.Expected) {
      EXPECT_NE(settings.find(e), std::string::npos) << e << " in" << settings;
    }
    for (const TLoggedLine& l : log.From(&task)) {
      EXPECT_GT(l.Level, llWarning) << l.Text;
    }
  }
}

TEST_F(GenerationBridge, LevelReachesTheSequenceHeader) {
  TFFmpegOptions task;
  ApplyFFmpegOption(task, "level", "30");
  const AVCodec* codec = FindStreamCodec(task, "libx264", AVMEDIA_TYPE_VIDEO, true);
  const TEncodeResult r = EncodeWith(codec, &task, SmallVideo, 0.2);
  ASSERT_EQ(r.Error, "");
  EXPECT_EQ(H264ProfileAndLevel(r).second, 30);
}

int64_t PrivateInt(const TEncodeResult& r, const char* name) {
  int64_t value = -1;
  EXPECT_GE(Lib.av_opt_get_int(r.Encoder->priv_data, name, 0, &value), 0) << name;
  return value;
}

TEST_F(GenerationBridge, NativeEncodersGetTheirPrivateForms) {
  struct TCase {
    const char* Encoder;
    TOptions Options;
    const char* Private;
    int64_t Expected;
  };
  const TCase cases[] = {
      {"mpeg2video", {{"flags", "+scan_offset"}}, "scan_offset", 1},
      {"mpeg2video", {{"flags2", "+ivlc"}}, "intra_vlc", 1},
      {"mpeg2video", {{"flags2", "+non_linear_q"}, {"qmax", "28"}}, "non_linear_quant", 1},
      {"mpeg4", {{"me_method", "x1"}}, "motion_est", 2},
      {"mpeg4", {{"me_method", "umh"}}, "motion_est", 1},  // epzs: what this generation has
      {"mpeg4", {{"me_method", "zero"}}, "motion_est", 0},
      {"mpeg4", {{"flags", "+mv0+naq+psnr"}}, "mpv_flags", 32 | 16},
      {"mpeg4", {{"flags", "+part"}}, "data_partitioning", 1},
      {"mpeg4", {{"b_strategy", "2"}, {"sc_threshold", "-10"}}, "b_strategy", 2},
      {"mpeg4", {{"b_strategy", "2"}, {"sc_threshold", "-10"}}, "sc_threshold", -10},
      {"h263p", {{"flags", "+umv+aiv"}}, "umv", 1},
      {"libmp3lame", {{"flags2", "-bit_reservoir"}}, "reservoir", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Encoder) + " " + ::testing::PrintToString(c.Options));
    TFFmpegOptions task;
    TLogCapture log;
    for (const auto& [name, value] : c.Options) ApplyFFmpegOption(task, name, value);
    const AVCodec* codec = Lib.avcodec_find_encoder_by_name(c.Encoder);
    ASSERT_NE(codec, nullptr);
    const TEncodeResult r = EncodeWith(codec, &task, [&](AVCodecContext* ctx) {
      if (codec->type == AVMEDIA_TYPE_VIDEO) {
        SmallVideo(ctx);
        ctx->width = 176;
        ctx->height = 144;
      } else {
        ctx->sample_rate = 44100;
        ctx->sample_fmt = codec->sample_fmts[0];
        Lib.av_channel_layout_default(&ctx->ch_layout, 2);
        ctx->time_base = AVRational{1, 44100};
      }
    }, 0.2);
    ASSERT_EQ(r.Error, "");
    EXPECT_EQ(PrivateInt(r, c.Private), c.Expected);
    EXPECT_TRUE(r.Unused.empty()) << ::testing::PrintToString(r.Unused);
    for (const TLoggedLine& l : log.From(&task)) {
      EXPECT_GT(l.Level, llWarning) << l.Text;
    }
    if (c.Options[0].second.find("psnr") != std::string::npos) {
      EXPECT_TRUE(r.Encoder->flags & AV_CODEC_FLAG_PSNR) << "the generic part of the flags stays";
    }
  }
}

TEST_F(GenerationBridge, SettingsWithoutEquivalentWarnOnce) {
  TFFmpegOptions task;
  TLogCapture log;
  ApplyFFmpegOption(task, "flags", "+gmc+loop");
  ApplyFFmpegOption(task, "deblockalpha", "2");
  ApplyFFmpegOption(task, "me_threshold", "5");
  ApplyFFmpegOption(task, "flags2", "-wpred");
  ApplyFFmpegOption(task, "coder", "1");
  const AVCodec* mpeg4 = Lib.avcodec_find_encoder_by_name("mpeg4");
  for (int i = 0; i < 2; ++i) ASSERT_EQ(EncodeWith(mpeg4, &task, SmallVideo, 0.2).Error, "");
  std::vector<std::string> warnings;
  for (const TLoggedLine& l : log.From(&task))
    if (l.Level == llWarning) warnings.push_back(l.Text);
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                DroppedOptionText("flags=+gmc", "the MPEG-4 encoder no longer offers global motion compensation"),
                DroppedOptionText("deblockalpha",
                                  "libx264 takes both strengths together in its private option \"deblock\" (alpha:beta)"),
                DroppedOptionText("flags2=-wpred", "encoder 'mpeg4' has no such setting"),
                DroppedOptionText("coder", "encoder 'mpeg4' has no such setting"),
                DroppedOptionText("me_threshold", "the encoders no longer skip motion search below a threshold"),
            }));
  EXPECT_EQ(task.DefaultCodecContext(AVMEDIA_TYPE_VIDEO)->flags & AV_CODEC_FLAG_LOOP_FILTER, AV_CODEC_FLAG_LOOP_FILTER);
}

TEST_F(GenerationBridge, CodecNames) {
  struct TCase {
    const char* Old;
    bool Encoder;
    int Strictness;
    const char* New;
  };
  for (const TCase& c : {TCase{"libfaac", true, FF_COMPLIANCE_NORMAL, "aac"},
                         TCase{"vorbis", true, FF_COMPLIANCE_NORMAL, "libvorbis"},
                         TCase{"vorbis", true, FF_COMPLIANCE_EXPERIMENTAL, "vorbis"},
                         TCase{"vorbis", false, FF_COMPLIANCE_NORMAL, "vorbis"},
                         TCase{"3gp", true, FF_COMPLIANCE_NORMAL, "mpeg4"},
                         TCase{"swf", true, FF_COMPLIANCE_NORMAL, "flv"},
                         TCase{"libx264", true, FF_COMPLIANCE_NORMAL, "libx264"},
                         TCase{"nonesuch", true, FF_COMPLIANCE_NORMAL, "nonesuch"}}) {
    std::string note;
    EXPECT_EQ(BridgeCodecName(c.Old, c.Encoder, c.Strictness, &note), c.New) << c.Old;
    EXPECT_EQ(note.empty(), std::string(c.Old) == c.New) << c.Old << ": " << note;
  }
}

// ---- codec lookup -------------------------------------------------------------------------

class CodecLookup : public GenerationBridge {};

TEST_F(CodecLookup, Errors) {
  ExpectRaises([] { FindCodecByName("nonesuch", AVMEDIA_TYPE_VIDEO, true); }, "Unknown encoder 'nonesuch'");
  ExpectRaises([] { FindCodecByName("nonesuch", AVMEDIA_TYPE_AUDIO, false); }, "Unknown decoder 'nonesuch'");
  ExpectRaises([] { FindCodecByName("mp2", AVMEDIA_TYPE_VIDEO, true); }, "Invalid encoder type 'mp2'");
  ExpectRaises([] { FindCodecByName("libfaac", AVMEDIA_TYPE_VIDEO, true); }, "Invalid encoder type 'libfaac'");
  // An experimental encoder without a stable sibling stays refused unless "strict" allows it.
  const AVCodec* experimental = nullptr;
  void* it = nullptr;
  while (const AVCodec* c = Lib.av_codec_iterate(&it)) {
    if (!Lib.av_codec_is_encoder(c) || !(c->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) continue;
    bool stable = false;
    void* it2 = nullptr;
    while (const AVCodec* o = Lib.av_codec_iterate(&it2))
      stable |= o->id == c->id && Lib.av_codec_is_encoder(o) && !(o->capabilities & AV_CODEC_CAP_EXPERIMENTAL);
    if (!stable) {
      experimental = c;
      break;
    }
  }
  ASSERT_NE(experimental, nullptr);
  ExpectRaises([&] { FindCodecByName(experimental->name, experimental->type, true); },
               Format("encoder '%s' is experimental and might produce bad results.\r\n"
                      "Add '-strict experimental' if you want to use it.",
                      experimental->name));
  EXPECT_EQ(FindCodecByName(experimental->name, experimental->type, true, FF_COMPLIANCE_EXPERIMENTAL), experimental);
}

TEST_F(CodecLookup, StrictOptionAndBridgeNote) {
  TFFmpegOptions task;
  TLogCapture log;
  EXPECT_STREQ(FindStreamCodec(task, "vorbis", AVMEDIA_TYPE_AUDIO, true)->name, "libvorbis");
  const auto lines = log.From(&task);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Level, llInfo);
  EXPECT_EQ(lines[0].Text, "Encoder 'vorbis' is experimental in this library generation; using 'libvorbis'");
  ApplyFFmpegOption(task, "strict", "experimental");
  EXPECT_STREQ(FindStreamCodec(task, "vorbis", AVMEDIA_TYPE_AUDIO, true)->name, "vorbis");
}

// The encoder names the format catalogue uses. Each opens here, or is one of the few this
// generation does not have, reported with the lookup's text.
void SetUpCatalogueEncoder(const AVCodec* codec, AVCodecContext* c) {
  if (codec->type == AVMEDIA_TYPE_VIDEO) {
    SmallVideo(c);
    c->width = 176;  // QCIF: a size every encoder of the list accepts
    c->height = 144;
    if (codec->id == AV_CODEC_ID_DVVIDEO) {
      c->width = 720;
      c->height = 576;
      c->pix_fmt = AV_PIX_FMT_YUV420P;
    }
    c->bit_rate = 400000;
    return;
  }
  int rate = 44100;
  if (codec->id == AV_CODEC_ID_GSM) {  // GSM 06.10 is 8 kHz mono, 13 kbit/s
    c->sample_rate = 8000;
    c->time_base = AVRational{1, 8000};
    c->sample_fmt = AV_SAMPLE_FMT_S16;
    Lib.av_channel_layout_default(&c->ch_layout, 1);
    c->bit_rate = 13000;
    return;
  }
  if (codec->supported_samplerates) {
    rate = codec->supported_samplerates[0];
    for (const int* r = codec->supported_samplerates; *r; ++r)
      if (*r == 44100) rate = 44100;
  }
  c->sample_rate = rate;
  c->time_base = AVRational{1, rate};
  c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  if (codec->ch_layouts)
    Lib.av_channel_layout_copy(&c->ch_layout, &codec->ch_layouts[0]);
  else
    Lib.av_channel_layout_default(&c->ch_layout, 2);
  c->bit_rate = 128000;
}

TEST_F(CodecLookup, CatalogueEncoderNames) {
  const std::vector<std::pair<AVMediaType, std::vector<const char*>>> catalogue = {
      {AVMEDIA_TYPE_VIDEO,
       {"mpeg4", "libxvid", "libx264", "3gp", "3g2", "mov", "wmv1", "wmv2", "wmv3", "flv", "swf", "msmpeg4",
        "msmpeg4v1", "msmpeg4v2", "mpeg1video", "mpeg2video", "h263", "h263p", "rawvideo", "rv10", "rv20",
        "dvvideo", "huffyuv", "ljpeg", "mjpeg", "svq1", "zlib"}},
      {AVMEDIA_TYPE_AUDIO,
       {"libmp3lame", "vorbis", "mp2", "libfaac", "ac3", "flac", "alac", "libopencore_amrnb", "adpcm_swf",
        "adpcm_yamaha", "pcm_s8", "pcm_s16be", "pcm_s24be", "pcm_s32be", "pcm_f32be", "pcm_f64be", "pcm_alaw",
        "pcm_mulaw", "adpcm_ima_qt", "libgsm", "pcm_s16le", "pcm_u16le"}}};
  // No encoder of these exists in this generation (nor did one for wmv3 and msmpeg4v1 in the
  // old); Debian builds FFmpeg without opencore-amr.
  const std::set<std::string> knownUnavailable = {"wmv3", "msmpeg4v1", "libopencore_amrnb"};
  std::set<std::string> unavailable;
  for (const auto& [type, names] : catalogue)
    for (const char* name : names) {
      SCOPED_TRACE(name);
      const AVCodec* codec = nullptr;
      try {
        codec = FindCodecByName(name, type, true);
      } catch (const EFFmpegError& e) {
        EXPECT_EQ(e.what(), Format("Unknown encoder '%s'", name));
        unavailable.insert(name);
        continue;
      }
      const TEncodeResult r = EncodeWith(codec, nullptr, [&](AVCodecContext* c) { SetUpCatalogueEncoder(codec, c); }, 0.2);
      EXPECT_EQ(r.Error, "") << codec->name;
    }
  EXPECT_EQ(unavailable, knownUnavailable);
}

}  // namespace
