// The shipped format store checked against this build's media libraries: every entry a user
// can pick names an encoder the libraries have, and every format's default choice fits its
// container and its encoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "TempDir.h"
#include "TestMedia.h"
#include "app/core/GlobalObject.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegRAII.h"
#include "engine/GenerationBridge.h"
#include "platform/FakePlatform.h"
#include "profiles/model/FormatCatalogue.h"
#include "profiles/model/ParameterEditors.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

namespace K = ProfileKey;

// The store a program in the build's bin folder finds when the data folder has no copy.
std::string ShippedStorePath() {
  TTempDir emptyData;
  TFakePlatform fake;
  fake.DataFolderResult = emptyData.Path() + "/";
  fake.ProgramFolderResult = TLinuxPlatform().ProgramFolder();
  TPlatformOverride scope(fake);
  return LocateFormatStore();
}

std::vector<int> StoreCodes() {
  std::vector<int> codes{1};
  for (int code : CatalogueCodes()) codes.push_back(code);
  return codes;
}

struct TSection {
  int Code = 0;
  std::string Format, Ext;
  std::map<TParamBox, std::vector<std::string>> Lists;  // enabled lists only
  std::map<TParamBox, int> Defaults;

  const std::vector<std::string>& List(TParamBox box) const {
    static const std::vector<std::string> none;
    const auto it = Lists.find(box);
    return it == Lists.end() ? none : it->second;
  }
  std::string Default(TParamBox box) const {
    const auto& list = List(box);
    const int i = Defaults.at(box);
    return i >= 0 && i < static_cast<int>(list.size()) ? list[static_cast<size_t>(i)] : "";
  }
  bool HasVideo() const { return !List(TParamBox::pbVideoEncoder).empty(); }
};

TSection ReadSection(const TFormatStore& store, int code) {
  TSection s{code, store.Format(code), store.FileExt(code), {}, {}};
  for (const TParamBoxDef& def : ParamBoxDefs()) {
    if (!def.ListKey) continue;
    const TListFill fill = SplitListValue(store.List(code, def.ListKey), def.EmptyListIsNull);
    if (fill.Enabled) s.Lists[def.Box] = fill.Entries;
    s.Defaults[def.Box] = store.DefaultIndex(code, def.IndexKey);
  }
  return s;
}

std::vector<TSection> ShippedSections() {
  const TFormatStore store(ShippedStorePath());
  std::vector<TSection> sections;
  for (int code : StoreCodes()) sections.push_back(ReadSection(store, code));
  return sections;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

TEST(ShippedFormatStore, LiesBesideTheProgramWithOneSectionPerCode) {
  const std::string path = ShippedStorePath();
  EXPECT_EQ(path, TLinuxPlatform().ProgramFolder() + FormatStoreFileName);
  ASSERT_TRUE(TLinuxPlatform().FileExists(path)) << path;
  const TFormatStore store(path);
  std::set<std::string> expected;
  for (int code : StoreCodes()) expected.insert(Lower(FormatSectionName(code)));
  std::set<std::string> found;
  for (const std::string& name : store.Ini().ReadSections()) found.insert(Lower(name));
  EXPECT_EQ(found, expected);
}

TEST(ShippedFormatStore, EntriesAreWhatTheEditorsAcceptAndMap) {
  for (const TSection& s : ShippedSections()) {
    SCOPED_TRACE(FormatSectionName(s.Code));
    EXPECT_NE(s.Format, "null");
    EXPECT_FALSE(s.Ext.empty());
    EXPECT_EQ(s.Ext.find('.'), std::string::npos);
    for (const auto& [box, list] : s.Lists) {
      SCOPED_TRACE(ParamBoxDef(box).Name);
      const int index = s.Defaults.at(box);
      EXPECT_TRUE(index >= 0 && index < static_cast<int>(list.size())) << index;
      for (const std::string& e : list) {
        SCOPED_TRACE(e);
        ASSERT_FALSE(e.empty());
        EXPECT_TRUE(e.front() != ' ' && e.back() != ' ');
        switch (box) {
          case TParamBox::pbVideoSize: EXPECT_TRUE(CheckFrameSize(e).Accepted); break;
          case TParamBox::pbVideoBitRate: EXPECT_TRUE(CheckVideoBitRate(e).Accepted); break;
          case TParamBox::pbAudioBitRate: EXPECT_TRUE(CheckAudioBitRate(e).Accepted); break;
          case TParamBox::pbSampleRate: EXPECT_TRUE(CheckSampleRate(e).Accepted); break;
          case TParamBox::pbFrameRate: EXPECT_TRUE(e == "as source" || (IsDecimalNumber(e) && std::stod(e) > 0)); break;
          case TParamBox::pbVideoEncoder: EXPECT_TRUE(MapVideoEncoder(e).has_value()); break;
          case TParamBox::pbAudioEncoder: EXPECT_TRUE(MapAudioEncoder(e).has_value()); break;
          case TParamBox::pbChannel: EXPECT_TRUE(MapChannel(e).has_value()); break;
          case TParamBox::pbVolume: EXPECT_TRUE(MapVolume(e).has_value()); break;
          default: break;
        }
      }
    }
    // A volume list from 25% to 400%, unchanged by default.
    EXPECT_EQ(MapVolume(s.List(TParamBox::pbVolume).front()), "64");
    EXPECT_EQ(MapVolume(s.List(TParamBox::pbVolume).back()), "1024");
    EXPECT_EQ(MapVolume(s.Default(TParamBox::pbVolume)), "256");
    EXPECT_FALSE(s.List(TParamBox::pbAudioEncoder).empty());
    // Without video the video lists are "null", not lists nobody can use.
    if (!s.HasVideo()) {
      for (TParamBox box : {TParamBox::pbVideoSize, TParamBox::pbVideoBitRate, TParamBox::pbFrameRate})
        EXPECT_TRUE(s.List(box).empty()) << ParamBoxDef(box).Name;
    }
  }
}

TEST(ShippedFormatStore, H264KeysOnlyWhereH264IsOfferedAndAllCopyable) {
  const TFormatStore store(ShippedStorePath());
  for (const TSection& s : ShippedSections()) {
    SCOPED_TRACE(FormatSectionName(s.Code));
    const auto& encoders = s.List(TParamBox::pbVideoEncoder);
    const bool h264 = std::any_of(encoders.begin(), encoders.end(),
                                  [](const std::string& e) { return MapVideoEncoder(e) == H264EncoderValue; });
    for (const char* key : H264Keys()) {
      const std::string value = store.H264Value(s.Code, key);
      if (value.empty()) continue;
      SCOPED_TRACE(key);
      EXPECT_TRUE(h264);
      // A value the copy would refuse is a value that never reaches the user's section.
      const int least = std::string(key) == K::paraCoder ? 0 : 1;
      const bool copyable = std::string(key) == K::paraBitExact ? Lower(value) == "true"
                                                                : IsWholeNumber(value) && std::stoi(value) >= least;
      EXPECT_TRUE(copyable) << value;
    }
  }
}

// The muxer a conversion of the section's default choice writes with: a disc target's, the
// forced container of a video format, or the one the file extension names.
const AVOutputFormat* MuxerOf(const TSection& s) {
  static const std::map<std::string, std::string> targets{{"ntsc-dvd", "dvd"},  {"pal-dvd", "dvd"},
                                                          {"ntsc-vcd", "vcd"},  {"pal-vcd", "vcd"},
                                                          {"ntsc-svcd", "svcd"}, {"pal-svcd", "svcd"}};
  static const std::set<std::string> forced{"ipod", "3gp", "3g2", "avi", "psp", "mov", "vcd", "flv", "mpegts", "vob"};
  const std::string format = Lower(s.Format);
  if (const auto t = targets.find(format); t != targets.end()) return Lib.av_guess_format(t->second.c_str(), nullptr, nullptr);
  if (s.HasVideo() && MapVideoEncoder(s.Default(TParamBox::pbVideoEncoder)) == "mpeg2video")
    return Lib.av_guess_format("dvd", nullptr, nullptr);
  if (s.HasVideo() && forced.count(format)) return Lib.av_guess_format(s.Format.c_str(), nullptr, nullptr);
  return Lib.av_guess_format(nullptr, ("out." + s.Ext).c_str(), nullptr);
}

const AVCodec* EncoderOf(const std::string& storedName) {
  return Lib.avcodec_find_encoder_by_name(BridgeCodecName(storedName, true, FF_COMPLIANCE_NORMAL).c_str());
}

// 1: the muxer says it takes the codec; its own default codecs it takes without saying so.
bool MuxerTakes(const AVOutputFormat* muxer, const AVCodec* codec) {
  if (codec->id == muxer->video_codec || codec->id == muxer->audio_codec) return true;
  return Lib.avformat_query_codec(muxer, codec->id, FF_COMPLIANCE_NORMAL) == 1;
}

bool RateSupported(const AVCodec* codec, int rate) {
  if (!codec->supported_samplerates) return true;
  for (const int* r = codec->supported_samplerates; *r; ++r)
    if (*r == rate) return true;
  return false;
}

bool ChannelsSupported(const AVCodec* codec, int channels) {
  if (!codec->ch_layouts) return true;
  for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l)
    if (l->nb_channels == channels) return true;
  return false;
}

TEST(ShippedFormatStore, EveryEncoderExistsAndEveryDefaultFitsItsContainerAndEncoders) {
  RequireConverterLibraries();
  for (const TSection& s : ShippedSections()) {
    SCOPED_TRACE(FormatSectionName(s.Code));
    const AVOutputFormat* muxer = MuxerOf(s);
    ASSERT_NE(muxer, nullptr) << s.Format << " / " << s.Ext;
    // The "Format" text, when it names a muxer, names the one the file gets.
    const AVOutputFormat* named = Lib.av_guess_format(s.Format.c_str(), nullptr, nullptr);
    if (named && Lower(s.Format).find('-') == std::string::npos) {
      EXPECT_EQ(named, muxer) << s.Format;
    }

    for (TParamBox box : {TParamBox::pbVideoEncoder, TParamBox::pbAudioEncoder}) {
      const bool video = box == TParamBox::pbVideoEncoder;
      for (const std::string& entry : s.List(box)) {
        SCOPED_TRACE(entry);
        const std::string stored = *(video ? MapVideoEncoder(entry) : MapAudioEncoder(entry));
        const AVCodec* codec = EncoderOf(stored);
        ASSERT_NE(codec, nullptr) << stored << " has no encoder in this build";
        EXPECT_EQ(codec->type, video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO);
        // The default must be confirmed; another entry may be one the muxer cannot vouch
        // for (it answers "unknown"), but never one it refuses.
        const bool taken = entry == s.Default(box)
                               ? MuxerTakes(muxer, codec)
                               : Lib.avformat_query_codec(muxer, codec->id, FF_COMPLIANCE_NORMAL) != 0;
        EXPECT_TRUE(taken) << muxer->name << " refuses " << codec->name;
        if (video) {
          // A disc target's norm must be fixed: the conversion cannot guess it before the
          // frame rate is known.
          if (stored == "mpeg2video") {
            EXPECT_NE(Lower(s.Format).find("-dvd"), std::string::npos);
          }
          continue;
        }
        if (Lower(entry) == GsmEntry) continue;  // always 8000 Hz mono
        for (const std::string& rate : s.List(TParamBox::pbSampleRate)) {
          const bool supported = rate == "as source" || RateSupported(codec, std::stoi(rate));
          EXPECT_TRUE(supported) << codec->name << " " << rate;
        }
        for (const std::string& channel : s.List(TParamBox::pbChannel)) {
          const std::string count = *MapChannel(channel);
          // "as source" only where the encoder also takes the 5.1 of a film's sound track.
          const bool supported = ChannelsSupported(codec, count == "as source" ? 6 : std::stoi(count));
          EXPECT_TRUE(supported) << codec->name << " " << count;
        }
      }
    }
  }
}

// The frame size, rate and bit rate a choice gives for a typical source (1280x720, 30 fps,
// 48 kHz stereo); "as source" stands for the source's value.
struct TTypicalSettings {
  int Width = 1280, Height = 720;
  AVRational TimeBase{1, 30};
  int64_t VideoBitRate = 2000000;
  int SampleRate = 48000, Channels = 2;
  int64_t AudioBitRate = 0;
};

TTypicalSettings SettingsOf(const TSection& s) {
  TTypicalSettings t;
  if (const std::string size = s.Default(TParamBox::pbVideoSize); !size.empty() && size != "as source") {
    t.Width = std::stoi(size.substr(0, size.find('x')));
    t.Height = std::stoi(size.substr(size.find('x') + 1));
  }
  if (const std::string rate = s.Default(TParamBox::pbFrameRate); !rate.empty() && rate != "as source")
    t.TimeBase = av_inv_q(Lib.av_d2q(std::stod(rate), 1001000));
  if (const std::string rate = s.Default(TParamBox::pbVideoBitRate); !rate.empty() && rate != "as source")
    t.VideoBitRate = std::stoll(rate) * 1000;
  if (const std::string rate = s.Default(TParamBox::pbSampleRate); rate != "as source") t.SampleRate = std::stoi(rate);
  if (const std::string channels = *MapChannel(s.Default(TParamBox::pbChannel)); channels != "as source")
    t.Channels = std::stoi(channels);
  if (const std::string rate = s.Default(TParamBox::pbAudioBitRate); !rate.empty()) t.AudioBitRate = std::stoll(rate) * 1000;
  return t;
}

// Opens the encoder as a conversion would: the picture in the encoder's format closest to a
// source's 4:2:0 at the nearest rate the encoder has, the sound in its first sample format.
std::string OpenError(const AVCodec* codec, const TTypicalSettings& t, AVPixelFormat pixelFormat = AV_PIX_FMT_NONE) {
  TCodecContext ctx(Lib.avcodec_alloc_context3(codec));
  if (codec->type == AVMEDIA_TYPE_VIDEO) {
    ctx->width = t.Width;
    ctx->height = t.Height;
    AVRational rate = av_inv_q(t.TimeBase);
    // Codecs with a fixed set of rates get the nearest one, as in a conversion.
    if (codec->supported_framerates) rate = codec->supported_framerates[Lib.av_find_nearest_q_idx(rate, codec->supported_framerates)];
    ctx->framerate = rate;
    ctx->time_base = av_inv_q(rate);
    ctx->bit_rate = t.VideoBitRate;
    ctx->pix_fmt = pixelFormat != AV_PIX_FMT_NONE ? pixelFormat
                   : codec->pix_fmts ? Lib.avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_YUV420P, 0, nullptr)
                                     : AV_PIX_FMT_YUV420P;
  } else {
    const bool gsm = std::string(codec->name) == "libgsm";
    ctx->sample_rate = gsm ? 8000 : t.SampleRate;
    Lib.av_channel_layout_default(&ctx->ch_layout, gsm ? 1 : t.Channels);
    ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    ctx->bit_rate = t.AudioBitRate;
    ctx->time_base = {1, ctx->sample_rate};
  }
  const int result = Lib.avcodec_open2(ctx.get(), codec, nullptr);
  if (result >= 0) return {};
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  Lib.av_strerror(result, text, sizeof text);
  return text;
}

TEST(ShippedFormatStore, EveryEncoderOpensWithTheFormatsDefaultsOnATypicalSource) {
  RequireConverterLibraries();
  for (const TSection& s : ShippedSections()) {
    SCOPED_TRACE(FormatSectionName(s.Code));
    const TTypicalSettings typical = SettingsOf(s);
    for (const std::string& entry : s.List(TParamBox::pbVideoEncoder)) {
      SCOPED_TRACE(entry);
      const AVCodec* codec = EncoderOf(*MapVideoEncoder(entry));
      ASSERT_NE(codec, nullptr);
      // DV's sampling follows its norm: 4:1:1 for 480 lines, 4:2:0 for 576.
      const AVPixelFormat dv = typical.Height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
      EXPECT_EQ(OpenError(codec, typical, codec->id == AV_CODEC_ID_DVVIDEO ? dv : AV_PIX_FMT_NONE), "");
    }
    for (const std::string& entry : s.List(TParamBox::pbAudioEncoder)) {
      SCOPED_TRACE(entry);
      const AVCodec* codec = EncoderOf(*MapAudioEncoder(entry));
      ASSERT_NE(codec, nullptr);
      EXPECT_EQ(OpenError(codec, typical), "");
    }
  }
}

// What the libraries do not report: limits the muxers check only when a file is written.
TEST(ShippedFormatStore, ContainerLimitsTheLibrariesDoNotReport) {
  for (const TSection& s : ShippedSections()) {
    SCOPED_TRACE(FormatSectionName(s.Code));
    const std::string ext = s.Ext;
    if (ext == "dv") {
      // DV carries 16-bit stereo PCM at 48 kHz only.
      EXPECT_EQ(s.List(TParamBox::pbSampleRate), std::vector<std::string>{"48000"});
      EXPECT_EQ(s.List(TParamBox::pbChannel), std::vector<std::string>{"stereo 2 channels"});
      EXPECT_EQ(s.List(TParamBox::pbAudioEncoder), std::vector<std::string>{"pcm_s16"});
    }
    if (ext == "flv") {
      // FLV headers can say 11025, 22050 or 44100 Hz for MP3, nothing else.
      for (const std::string& rate : s.List(TParamBox::pbSampleRate))
        EXPECT_TRUE(rate == "11025" || rate == "22050" || rate == "44100") << rate;
    }
    if (ext == "ac3") {
      EXPECT_EQ(s.Default(TParamBox::pbSampleRate), "48000");
    }
    if (ext == "3gp" || ext == "3g2") {
      // These containers' own audio default is AMR, which this build cannot encode.
      EXPECT_EQ(s.Default(TParamBox::pbAudioEncoder), "aac");
    }
  }
  // The code in use on a first start is an iPod MPEG-4 video profile.
  const TSection first = ShippedSections().front();
  ASSERT_EQ(first.Code, 1);
  EXPECT_EQ(first.Format, "ipod");
  EXPECT_EQ(first.Ext, "mp4");
  EXPECT_EQ(MapVideoEncoder(first.Default(TParamBox::pbVideoEncoder)), "mpeg4");
  EXPECT_EQ(MapAudioEncoder(first.Default(TParamBox::pbAudioEncoder)), "libfaac");
}

}  // namespace
