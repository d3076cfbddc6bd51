// The task engine's per-file and per-stream state, shared by its source files.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FFmpeg.h"
#include "FFmpegRAII.h"
#include "UnicodeProtocol.h"
#include "probe/AVProbe.h"

struct TInputStream {
  AVStream* Stream = nullptr;
  int FileIndex = 0;
  bool Discard = true;  // no output stream uses it
  bool DecodingNeeded = false;
  bool DecoderFlushed = false;
  TCodecContext Decoder;
  double TimeScale = 1.0;
  int64_t CurrentTime = 0;  // µs, for the hook and the stream choice
  std::vector<TOutputStream*> Outputs;
  bool MultipleFramesNoted = false;
};

struct TInputFile {
  std::string Name;
  std::unique_ptr<TUnicodeFile> Io;  // before Context: the context reads through it to its close
  TInputFormat Context;
  std::unique_ptr<TAVProbe> Probe;
  std::vector<TInputStream> Streams;
  int64_t TimeOffset = 0;  // µs added to every timestamp of the file
  bool Eof = false;
  bool NoPacket = false;
};

// The filter graph between a decoder and an encoder, rebuilt when the decoded frames change.
struct TStreamFilter {
  TFilterGraph Graph;
  AVFilterContext* Source = nullptr;
  AVFilterContext* Sink = nullptr;
  // What the graph was built for.
  int Width = 0, Height = 0, Format = -1;
  int SampleRate = 0;
  AVChannelLayout Layout{};
  ~TStreamFilter() { Lib.av_channel_layout_uninit(&Layout); }
};

struct TOutputStream {
  TOutputFile* File = nullptr;
  AVStream* Stream = nullptr;
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  TInputStream* Source = nullptr;
  bool Copy = false;
  const AVCodec* Codec = nullptr;
  TCodecContext Encoder;
  TDictionary EncoderOptions;
  TStreamFilter Filter;
  std::vector<TBsfContext> BitstreamFilters;
  std::vector<TBitstreamFilterSpec> BitstreamFilterSpecs;
  int FrameLimit = INT32_MAX;
  int64_t FramesWritten = 0;  // packets written (video: encoded pictures)
  int64_t NextPts = 0;        // video: next picture's pts in the encoder's time base
  int64_t LastTime = 0;       // µs reached by the stream (for progress and the input choice)
  int64_t SentEnd = 0;        // µs of output time just past the last frame given to the encoder
  bool Finished = false;
  bool EncoderFlushed = false;
  bool Optional = false;  // added without being asked for: a failure drops it, not the task
  int64_t Drops = 0, Dups = 0;
  int LastQuality = -1;  // encoder quantiser of the last packet (FF_QP2LAMBDA units)
  FILE* PassLog = nullptr;
  std::string PassLogName;
  // Settings taken from the output's options.
  TFileOptions Settings;
  ~TOutputStream() {
    if (PassLog) std::fclose(PassLog);
  }
};

struct TOutputFile {
  std::string Name;
  TOutputFormat Context;
  std::unique_ptr<TUnicodeFile> Io;
  std::vector<std::unique_ptr<TOutputStream>> Streams;
  TFileOptions Settings;  // the per-file settings when the output was opened
  TDictionary FormatOptions;
  bool HeaderWritten = false;
  ~TOutputFile() {
    Streams.clear();
    // A custom I/O context belongs to Io; the format context must not close it.
    if (Io && Context) Context->pb = nullptr;
  }
};

// Throws EFFmpegError with `text` when `result` is negative.
inline void CheckResult(int result, const std::string& text) {
  if (result < 0) throw EFFmpegError(text);
}

// True when the subtitles of `source` can be decoded and encoded again as `target`: both are
// text or both are pictures.
bool SubtitlesConvertible(const AVStream* source, AVCodecID target);
