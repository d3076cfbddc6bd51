// Audio: the decoding thread converts to the device's format, SDL's callback mixes the blocks
// at the player's volume and keeps the audio clock.
#include <algorithm>
#include <cstring>

#include "FFPlay.h"
#include "PlayerStream.h"
#include "PlayerTap.h"
#include "engine/FFUtils.h"
#include "PlayerLog.h"

namespace {

constexpr size_t WaveSamples = 4096;
std::atomic<TPlayerAudioTap> AudioTap{nullptr};

int SampleFormatOf(SDL_AudioFormat format) {
  switch (format) {
    case AUDIO_U8: return AV_SAMPLE_FMT_U8;
    case AUDIO_S16SYS: return AV_SAMPLE_FMT_S16;
    case AUDIO_S32SYS: return AV_SAMPLE_FMT_S32;
    case AUDIO_F32SYS: return AV_SAMPLE_FMT_FLT;
    default: return AV_SAMPLE_FMT_NONE;
  }
}

// About 30 callbacks a second, as a power of two.
Uint16 BufferSamples(int rate) {
  int samples = 512;
  while (samples * 2 <= rate / 30) samples *= 2;
  return static_cast<Uint16>(samples);
}

float SampleValue(const uint8_t* p, int format) {
  switch (format) {
    case AV_SAMPLE_FMT_U8: return (p[0] - 128) / 128.0f;
    case AV_SAMPLE_FMT_S16: { int16_t v; std::memcpy(&v, p, 2); return v / 32768.0f; }
    case AV_SAMPLE_FMT_S32: { int32_t v; std::memcpy(&v, p, 4); return v / 2147483648.0f; }
    default: { float v; std::memcpy(&v, p, 4); return v; }
  }
}

}  // namespace

void SetPlayerAudioTap(TPlayerAudioTap tap) { AudioTap = tap; }
double PlayerClockSeconds() { return NowSeconds(); }

bool TPlayerStream::OpenAudioDevice(AVCodecContext* codec) {
  SDL_AudioSpec wanted{}, obtained{};
  wanted.freq = codec->sample_rate;
  wanted.channels = static_cast<Uint8>(std::clamp(codec->ch_layout.nb_channels, 1, 2));
  wanted.format = AUDIO_S16SYS;
  wanted.samples = BufferSamples(codec->sample_rate);
  wanted.callback = &TPlayerStream::AudioCallback;
  wanted.userdata = this;
  Device = Lib.SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained,
                                   SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (Device == 0 || SampleFormatOf(obtained.format) == AV_SAMPLE_FMT_NONE) {
    PlayerLog(&Owner, llError, std::string("SDL_OpenAudio() failed: ") + Lib.SDL_GetError());
    if (Device) Lib.SDL_CloseAudioDevice(Device);
    Device = 0;
    return false;
  }
  DeviceFormat = SampleFormatOf(obtained.format);
  DeviceSdlFormat = obtained.format;
  DeviceRate = obtained.freq;
  DeviceChannels = obtained.channels;
  BytesPerSecond = DeviceRate * DeviceChannels *
                   Lib.av_get_bytes_per_sample(static_cast<AVSampleFormat>(DeviceFormat));
  Wave.assign(WaveSamples, 0.0f);
  return true;
}

void TPlayerStream::AudioThread() {
  TFrame frame(Lib.av_frame_alloc());
  if (!frame) return;
  const AVRational tb = Input->streams[AudioIndex]->time_base;
  int serial = 0;
  bool pending = false;
  for (;;) {
    const int got = DecodeFrame(AudioCodec.get(), AudioPackets, serial, pending, frame.get());
    if (got < 0) break;
    if (got == 0) {
      AudioFinished = serial;
      continue;
    }
    const double pts = frame->pts == AV_NOPTS_VALUE ? NAN : frame->pts * av_q2d(tb);
    const double length = frame->sample_rate > 0 ? frame->nb_samples / double(frame->sample_rate) : 0;
    const bool early = serial == AccurateAudioSerial && pts + length < AccurateTarget;
    TAudioBlock block;
    block.Pts = pts;
    block.Serial = serial;
    const bool converted = !early && ConvertAudio(frame.get(), block);
    Lib.av_frame_unref(frame.get());
    if (!converted) continue;
    NewPictureQueued = true;
    if (!AudioBlocks.Push(std::move(block))) break;
  }
}

bool TPlayerStream::ConvertAudio(AVFrame* frame, TAudioBlock& block) {
  if (!Resampler || !Lib.swr_is_initialized(Resampler.get()) || frame->format != ResamplerFormat ||
      frame->sample_rate != ResamplerRate ||
      Lib.av_channel_layout_compare(&frame->ch_layout, &ResamplerLayout) != 0) {
    AVChannelLayout out{};
    Lib.av_channel_layout_default(&out, DeviceChannels);
    SwrContext* swr = nullptr;
    int r = Lib.swr_alloc_set_opts2(&swr, &out, static_cast<AVSampleFormat>(DeviceFormat), DeviceRate,
                                    &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                    frame->sample_rate, 0, nullptr);
    Resampler.reset(swr);
    if (r >= 0) r = Lib.swr_init(swr);
    Lib.av_channel_layout_uninit(&out);
    Lib.av_channel_layout_uninit(&ResamplerLayout);
    if (r < 0) {
      const char* from = Lib.av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
      const char* to = Lib.av_get_sample_fmt_name(static_cast<AVSampleFormat>(DeviceFormat));
      PlayerLogFmt(&Owner, llError, "Cannot convert %s sample format to %s sample format",
                                   from ? from : "?", to ? to : "?");
      Resampler.reset();
      return false;
    }
    Lib.av_channel_layout_copy(&ResamplerLayout, &frame->ch_layout);
    ResamplerFormat = frame->format;
    ResamplerRate = frame->sample_rate;
  }
  const int room = Lib.swr_get_out_samples(Resampler.get(), frame->nb_samples) + 32;
  const int frameBytes = DeviceChannels * Lib.av_get_bytes_per_sample(static_cast<AVSampleFormat>(DeviceFormat));
  block.Data.resize(static_cast<size_t>(room) * frameBytes);
  uint8_t* out[1] = {block.Data.data()};
  const int n = Lib.swr_convert(Resampler.get(), out, room,
                                const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
  if (n < 0) {
    PlayerLog(&Owner, llError, "av_audio_convert() failed");
    return false;
  }
  block.Data.resize(static_cast<size_t>(n) * frameBytes);
  return n > 0;
}

void TPlayerStream::AudioCallback(void* opaque, uint8_t* stream, int length) {
  auto* self = static_cast<TPlayerStream*>(opaque);
  try {
    self->FillAudio(stream, length);
  } catch (...) {
    std::memset(stream, 0, static_cast<size_t>(length));
  }
}

bool TPlayerStream::NextAudioBlock() {
  const int serial = AudioPackets.Serial();
  TAudioBlock block;
  while (AudioBlocks.TryPop(block)) {
    if (block.Serial != serial) continue;
    Playing = std::move(block);
    PlayingOffset = 0;
    return true;
  }
  return false;
}

void TPlayerStream::FillAudio(uint8_t* stream, int length) {
  const double now = NowSeconds();
  std::memset(stream, DeviceFormat == AV_SAMPLE_FMT_U8 ? 0x80 : 0, static_cast<size_t>(length));
  if (Paused || StartPausePending) return;
  if (Playing.Serial != AudioPackets.Serial()) PlayingOffset = Playing.Data.size();
  const int volume = Owner.Muted ? 0 : Owner.Volume.load();
  int written = 0;
  while (written < length) {
    if (PlayingOffset >= Playing.Data.size() && !NextAudioBlock()) break;
    const int n = static_cast<int>(std::min<size_t>(length - written, Playing.Data.size() - PlayingOffset));
    const uint8_t* data = Playing.Data.data() + PlayingOffset;
    if (volume > 0) Lib.SDL_MixAudioFormat(stream + written, data, DeviceSdlFormat, n, volume);
    KeepWave(data, n);
    written += n;
    PlayingOffset += n;
  }
  if (TPlayerAudioTap tap = AudioTap.load())
    tap({stream, length, BytesPerSecond, DeviceChannels, DeviceFormat, now});
  if (written == 0 || std::isnan(Playing.Pts)) return;
  // What is handed over now is heard after about two device buffers (SDL double-buffers the
  // device); SDL2 has no call that tells the real latency.
  const double queued = (2.0 * length) / BytesPerSecond;
  AudioClock.SetAt(Playing.Pts + double(PlayingOffset) / BytesPerSecond - queued, Playing.Serial, now);
  if (VideoIndex < 0) {
    const double clock = AudioClock.Get();
    if (!std::isnan(clock)) Owner.UpdatePosition(ToFileTime(clock));
  }
}

void TPlayerStream::KeepWave(const uint8_t* data, int length) {
  const int sampleBytes = Lib.av_get_bytes_per_sample(static_cast<AVSampleFormat>(DeviceFormat));
  const int frameBytes = sampleBytes * DeviceChannels;
  std::lock_guard lock(WaveMutex);
  if (Wave.empty()) return;
  for (int i = 0; i + frameBytes <= length; i += frameBytes) {
    Wave[WaveHead] = SampleValue(data + i, DeviceFormat);
    WaveHead = (WaveHead + 1) % Wave.size();
  }
}
