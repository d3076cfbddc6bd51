// Bitmap subtitles are blended onto the picture while they are due; text subtitles go to the
// surface, which draws them.
#include <gtest/gtest.h>

#include <cstring>

#include "PlayerTestSupport.h"
#include "player/PlayerStream.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegRAII.h"
#include "engine/UnicodeProtocol.h"

namespace {

using namespace std::chrono_literals;

constexpr int SubX = 40, SubY = 80, SubW = 80, SubH = 20;

void Check(int result, const char* what) {
  if (result < 0) throw std::runtime_error(std::string(what) + ": " + ErrorCodeText(result));
}

// One white DVD subtitle from 0 to 1.5 s, encoded by the libraries.
std::vector<uint8_t> EncodeSubtitle(AVCodecContext* encoder) {
  std::vector<uint8_t> indices(SubW * SubH, 1);
  uint32_t palette[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
  AVSubtitleRect rect{};
  rect.type = SUBTITLE_BITMAP;
  rect.x = SubX, rect.y = SubY, rect.w = SubW, rect.h = SubH;
  rect.nb_colors = 4;
  rect.data[0] = indices.data();
  rect.linesize[0] = SubW;
  rect.data[1] = reinterpret_cast<uint8_t*>(palette);
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle sub{};
  sub.format = 0;
  sub.start_display_time = 0;
  sub.end_display_time = 1500;
  sub.num_rects = 1;
  sub.rects = rects;
  sub.pts = 0;
  std::vector<uint8_t> out(64 * 1024);
  const int size = Lib.avcodec_encode_subtitle(encoder, out.data(), static_cast<int>(out.size()), &sub);
  Check(size, "encode subtitle");
  out.resize(size);
  return out;
}

// The generated clip's video, copied, with the subtitle stream beside it in Matroska.
void AddSubtitle(const std::string& videoFile, const std::string& output) {
  AVFormatContext* raw = nullptr;
  Check(Lib.avformat_open_input(&raw, videoFile.c_str(), nullptr, nullptr), "open video");
  TInputFormat in(raw);
  Check(Lib.avformat_find_stream_info(in.get(), nullptr), "stream info");
  raw = nullptr;
  Check(Lib.avformat_alloc_output_context2(&raw, nullptr, "matroska", output.c_str()), "output");
  TOutputFormat out(raw);
  AVStream* video = Lib.avformat_new_stream(out.get(), nullptr);
  Check(video ? Lib.avcodec_parameters_copy(video->codecpar, in->streams[0]->codecpar) : -1, "video stream");
  video->codecpar->codec_tag = 0;
  video->time_base = in->streams[0]->time_base;
  const AVCodec* codec = Lib.avcodec_find_encoder_by_name("dvdsub");
  TCodecContext encoder(codec ? Lib.avcodec_alloc_context3(codec) : nullptr);
  Check(encoder ? 0 : -1, "dvdsub encoder");
  encoder->width = 160, encoder->height = 120, encoder->time_base = {1, 1000};
  Check(Lib.avcodec_open2(encoder.get(), codec, nullptr), "open dvdsub");
  AVStream* subs = Lib.avformat_new_stream(out.get(), nullptr);
  Check(subs ? Lib.avcodec_parameters_from_context(subs->codecpar, encoder.get()) : -1, "subtitle stream");
  subs->time_base = {1, 1000};
  Check(Lib.avio_open2(&out->pb, output.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "open output");
  Check(Lib.avformat_write_header(out.get(), nullptr), "header");
  std::vector<uint8_t> data = EncodeSubtitle(encoder.get());
  TPacket packet(Lib.av_packet_alloc());
  Check(Lib.av_new_packet(packet.get(), static_cast<int>(data.size())), "packet");
  std::memcpy(packet->data, data.data(), data.size());
  packet->pts = packet->dts = Lib.av_rescale_q(0, {1, 1000}, subs->time_base);
  packet->duration = Lib.av_rescale_q(1500, {1, 1000}, subs->time_base);
  packet->stream_index = subs->index;
  Check(Lib.av_interleaved_write_frame(out.get(), packet.get()), "write subtitle");
  while (Lib.av_read_frame(in.get(), packet.get()) >= 0) {
    if (packet->stream_index != 0) {
      Lib.av_packet_unref(packet.get());
      continue;
    }
    Lib.av_packet_rescale_ts(packet.get(), in->streams[0]->time_base, video->time_base);
    packet->stream_index = video->index;
    Check(Lib.av_interleaved_write_frame(out.get(), packet.get()), "write video");
  }
  Check(Lib.av_write_trailer(out.get()), "trailer");
}

double WhiteShare(const TBitmap24& b) {
  int white = 0;
  for (int y = SubY + 2; y < SubY + SubH - 2; ++y)
    for (int x = SubX + 2; x < SubX + SubW - 2; ++x) {
      const uint8_t* p = b.Row(y) + x * 3;
      white += p[0] > 200 && p[1] > 200 && p[2] > 200;
    }
  return double(white) / ((SubW - 4) * (SubH - 4));
}

TEST_F(TPlayerTest, BitmapSubtitleIsBlendedWhileDue) {
  TTestMediaSpec spec = Video(3.0);
  spec.AudioCodec.clear();
  const std::string video = Clip("video.avi", spec);
  const std::string file = Dir.File("subtitled.mkv");
  ASSERT_NO_THROW(AddSubtitle(video, file));
  ASSERT_TRUE(Player.Open(file, &Surface, true)) << Player.LastErrorMessage();
  ASSERT_TRUE(WaitState(psPause));
  EXPECT_GT(WhiteShare(Surface.LastFrame()), 0.9) << "shown from 0 s";
  Player.Seek(2 * Second, 4, true);
  EXPECT_LT(WhiteShare(Surface.LastFrame()), 0.5) << "gone after 1.5 s";
}

TEST_F(TPlayerTest, TextSubtitlesGoToTheSurfaceWhileDue) {
  TTestMediaSpec spec = Video(3.0);
  spec.AudioCodec.clear();
  spec.Container = "matroska";
  spec.SubtitleCodec = "subrip";  // "Line N" from N s to N.8 s
  const std::string file = Clip("text.mkv", spec);
  ASSERT_TRUE(Player.Open(file, &Surface, true)) << Player.LastErrorMessage();
  ASSERT_TRUE(WaitState(psPause));
  EXPECT_EQ(Surface.SubtitleText(), "Line 0\n");
  Player.Seek(Second + Second / 5, 4, true);
  EXPECT_EQ(Surface.SubtitleText(), "Line 1\n");
  Player.Seek(Second * 19 / 10, 4, true);
  EXPECT_EQ(Surface.SubtitleText(), "") << "between two cues";
}

TEST(SubtitleText, TextRectanglesLoseTheirMarkup) {
  const struct {
    AVSubtitleType Type;
    const char* Source;
    const char* Words;
  } cases[] = {
      {SUBTITLE_ASS, "0,0,Default,,0,0,0,,Hello", "Hello"},
      {SUBTITLE_ASS, "3,0,Default,,0,0,0,,{\\i1}Two{\\i0}\\Nlines, with a comma", "Two\nlines, with a comma"},
      {SUBTITLE_ASS, "0,0,Default,,0,0,0,,non\\hbreaking\\n", "non breaking"},
      {SUBTITLE_ASS, "too,few,fields", ""},
      {SUBTITLE_ASS, "0,0,Default,,0,0,0,,{unclosed", ""},
      {SUBTITLE_TEXT, "plain {kept}\r\n", "plain {kept}"},
  };
  for (const auto& c : cases) {
    std::string source = c.Source;
    AVSubtitleRect rect{};
    rect.type = c.Type;
    (c.Type == SUBTITLE_ASS ? rect.ass : rect.text) = source.data();
    EXPECT_EQ(SubtitlePlainText(rect), c.Words) << c.Source;
  }
}

}  // namespace
