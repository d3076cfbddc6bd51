// Video and subtitle decoding: pictures into the queue of two, through the host's hook when
// it asks for one.
#include "FFPlay.h"
#include "PlayerStream.h"
#include "PlayerLog.h"

#include <string_view>

void TPlayerStream::VideoThread() {
  TFrame frame(Lib.av_frame_alloc());
  if (!frame) return;
  AVStream* st = Input->streams[VideoIndex];
  const AVRational rate = Lib.av_guess_frame_rate(Input.get(), st, nullptr);
  const double duration = rate.num > 0 && rate.den > 0 ? double(rate.den) / rate.num : 0.0;
  // The last picture dropped on the way to an "any frame" target: shown when the file ends
  // before the target, so a seek to the end still shows a picture.
  TFrame dropped(Lib.av_frame_alloc());
  if (!dropped) return;
  double droppedPts = NAN;
  int serial = 0;
  bool pending = false;
  for (;;) {
    const int got = DecodeFrame(VideoCodec.get(), VideoPackets, serial, pending, frame.get());
    if (got < 0) break;
    if (got == 0) {
      if (dropped->format >= 0 && serial == AccurateSerial &&
          !QueuePicture(dropped.get(), droppedPts, duration, serial))
        break;
      Lib.av_frame_unref(dropped.get());
      VideoFinished = serial;
      continue;
    }
    const int64_t ts = frame->best_effort_timestamp;
    const double pts = ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(st->time_base);
    if (serial == AccurateSerial && !std::isnan(pts) && pts + duration / 2 < AccurateTarget) {
      Lib.av_frame_unref(dropped.get());
      Lib.av_frame_move_ref(dropped.get(), frame.get());
      droppedPts = pts;
      continue;
    }
    Lib.av_frame_unref(dropped.get());
    if (!QueuePicture(frame.get(), pts, duration, serial)) break;
  }
}

bool TPlayerStream::QueuePicture(AVFrame* frame, double pts, double duration, int serial) {
  if (frame->width != LastWidth || frame->height != LastHeight || frame->format != LastFormat) {
    if (LastFormat >= 0) PlayerLog(&Owner, llInfo, "Picture properties changed.\n");
    LastWidth = frame->width;
    LastHeight = frame->height;
    LastFormat = frame->format;
  }
  TFrame hooked;
  AVFrame* source = frame;
  if (Owner.HookWanted() && HookIntoFrame(frame, hooked, ToFileTime(pts))) source = hooked.get();
  TPicture picture;
  picture.Frame.reset(Lib.av_frame_alloc());
  if (!picture.Frame) return false;
  Lib.av_frame_move_ref(picture.Frame.get(), source);
  Lib.av_frame_unref(frame);
  picture.Pts = pts;
  picture.Duration = duration;
  picture.Serial = serial;
  if (!Pictures.Push(std::move(picture))) return false;
  NewPictureQueued = true;
  return true;
}

// The picture goes to the host as 24-bit RGB and comes back (bicubic) into a frame of its own
// format; on any failure the picture is shown as decoded.
bool TPlayerStream::HookIntoFrame(AVFrame* source, TFrame& hooked, int64_t ptsUs) {
  const int w = source->width, h = source->height;
  const auto format = static_cast<AVPixelFormat>(source->format);
  ToRgb.reset(Lib.sws_getCachedContext(ToRgb.release(), w, h, format, w, h, AV_PIX_FMT_BGR24,
                                       SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!ToRgb) {
    PlayerLog(&Owner, llError, "Cannot initialize the toRGB conversion context");
    return false;
  }
  HookBitmap.SetSize(w, h);
  uint8_t* rgb[4] = {HookBitmap.Row(0), nullptr, nullptr, nullptr};
  int rgbStride[4] = {HookBitmap.Stride, 0, 0, 0};
  Lib.sws_scale(ToRgb.get(), source->data, source->linesize, 0, h, rgb, rgbStride);
  try {
    Owner.CallHook(HookBitmap, ptsUs);
  } catch (const std::exception& e) {
    PlayerLog(&Owner, llError, std::string("Error occurs OnHook: ") + e.what());
    return false;
  } catch (...) {
    PlayerLog(&Owner, llError, "Error occurs OnHook: unknown error");
    return false;
  }
  if (HookBitmap.Width != w || HookBitmap.Height != h) return false;
  FromRgb.reset(Lib.sws_getCachedContext(FromRgb.release(), w, h, AV_PIX_FMT_BGR24, w, h, format,
                                         SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!FromRgb) {
    PlayerLog(&Owner, llError, "Cannot initialize the fromRGB conversion context");
    return false;
  }
  hooked.reset(Lib.av_frame_alloc());
  if (!hooked) return false;
  hooked->format = format;
  hooked->width = w;
  hooked->height = h;
  if (Lib.av_frame_get_buffer(hooked.get(), 0) < 0 || Lib.av_frame_copy_props(hooked.get(), source) < 0)
    return false;
  const uint8_t* back[4] = {HookBitmap.Row(0), nullptr, nullptr, nullptr};
  Lib.sws_scale(FromRgb.get(), back, rgbStride, 0, h, hooked->data, hooked->linesize);
  return true;
}

// ---- Subtitles ----------------------------------------------------------------------------

void TPlayerStream::SubtitleThread() {
  int serial = 0;
  for (;;) {
    TPacketQueue::TEntry entry;
    if (!SubtitlePackets.Get(entry)) break;
    if (entry.Serial != serial) {
      Lib.avcodec_flush_buffers(SubtitleCodec.get());
      serial = entry.Serial;
    }
    if (!entry.Packet) continue;
    AVSubtitle sub{};
    int got = 0;
    if (Lib.avcodec_decode_subtitle2(SubtitleCodec.get(), &sub, &got, entry.Packet.get()) < 0 || !got)
      continue;
    const double pts = sub.pts != AV_NOPTS_VALUE ? sub.pts / double(AV_TIME_BASE) : 0.0;
    const bool queued = ConvertSubtitle(sub, pts, serial);
    Lib.avsubtitle_free(&sub);
    if (!queued) break;
  }
}

std::string SubtitlePlainText(const AVSubtitleRect& rect) {
  std::string_view source;
  if (rect.type == SUBTITLE_ASS && rect.ass) {
    // "ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text"
    source = rect.ass;
    for (int field = 0; field < 8; ++field) {
      const size_t comma = source.find(',');
      source = comma == std::string_view::npos ? std::string_view() : source.substr(comma + 1);
    }
  } else if (rect.type == SUBTITLE_TEXT && rect.text) {
    source = rect.text;
  }
  std::string text;
  for (size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (c == '{' && rect.type == SUBTITLE_ASS) {
      const size_t end = source.find('}', i);
      if (end == std::string_view::npos) break;
      i = end;
    } else if (c == '\\' && i + 1 < source.size() && (source[i + 1] == 'N' || source[i + 1] == 'n')) {
      text += '\n';
      ++i;
    } else if (c == '\\' && i + 1 < source.size() && source[i + 1] == 'h') {
      text += ' ';
      ++i;
    } else if (c != '\r') {
      text += c;
    }
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Bitmap rectangles keep their pictures, the palette made straight BGRA so the display can
// blend without the decoder's structures; text rectangles keep their words for the host.
bool TPlayerStream::ConvertSubtitle(const AVSubtitle& sub, double pts, int serial) {
  TSubtitleItem item;
  item.Start = pts + sub.start_display_time / 1000.0;
  item.End = sub.end_display_time > sub.start_display_time ? pts + sub.end_display_time / 1000.0
                                                           : item.Start + 5.0;
  item.Serial = serial;
  for (unsigned i = 0; i < sub.num_rects; ++i) {
    const AVSubtitleRect* r = sub.rects[i];
    if (r->type == SUBTITLE_ASS || r->type == SUBTITLE_TEXT) {
      const std::string line = SubtitlePlainText(*r);
      if (!line.empty()) item.Text += line + "\n";
      continue;
    }
    if (r->type != SUBTITLE_BITMAP || r->w <= 0 || r->h <= 0 || !r->data[0] || !r->data[1]) continue;
    TSubtitleRect rect{r->x, r->y, r->w, r->h, {}};
    rect.Bgra.resize(static_cast<size_t>(r->w) * r->h * 4);
    const auto* palette = reinterpret_cast<const uint32_t*>(r->data[1]);
    for (int y = 0; y < r->h; ++y)
      for (int x = 0; x < r->w; ++x) {
        const uint8_t index = r->data[0][y * r->linesize[0] + x];
        const uint32_t argb = index < r->nb_colors ? palette[index] : 0;
        uint8_t* p = &rect.Bgra[(static_cast<size_t>(y) * r->w + x) * 4];
        p[0] = argb & 0xff;
        p[1] = (argb >> 8) & 0xff;
        p[2] = (argb >> 16) & 0xff;
        p[3] = argb >> 24;
      }
    item.Rects.push_back(std::move(rect));
  }
  return Subtitles.Push(std::move(item));
}
