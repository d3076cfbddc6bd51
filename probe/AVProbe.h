// The media probe: opens a file (or describes a container someone else opened), counts its
// streams and tells what they hold, for the job list and the file information dialog. It
// reads stream information but never opens a decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/FFmpegLogger.h"

struct AVFormatContext;
struct AVStream;
class TUnicodeFile;

// Times are in microseconds unless said otherwise; a time the file does not give is -1.
// A default-constructed record is the reset state: strings empty, every number -1.
struct TFileStreamInfo {
  int64_t StartTime = -1;
  int64_t Duration = -1;
  int32_t BitRate = -1;
  int64_t Timestamp = -1;  // seconds since 1970, from the "creation_time" tag; 0 when absent
  int32_t Year = -1;       // from the "date" (or "year") tag; 0 when absent
  int32_t Track = -1;      // from the "track" tag; 0 when absent
  std::string Title;
  std::string Author;  // "author", else "artist"
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// The fields audio and video records share, in their order.
struct TStreamInfoCommon {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;  // stream time base
  int64_t StartTimeUs = -1;
  int64_t Duration = -1;  // stream time base
  int64_t DurationUs = -1;
  int32_t BitRate = -1;
};

struct TAudioStreamInfo : TStreamInfoCommon {
  int32_t Channels = -1;
  int32_t SampleRate = -1;
  int32_t SampleFormat = -1;  // AVSampleFormat
};

struct TVideoStreamInfo : TStreamInfoCommon {
  int32_t Height = -1;
  int32_t Width = -1;
  float DisplayAspectRatio = -1.0f;  // sample aspect ratio × width ÷ height
  int32_t PixelFormat = -1;          // AVPixelFormat
  int32_t FrameRateNum = -1;         // r_frame_rate, or avg_frame_rate when that is unset
  int32_t FrameRateDen = -1;
};

class TCustomAVProbe {
 public:
  TCustomAVProbe();
  virtual ~TCustomAVProbe();
  TCustomAVProbe(const TCustomAVProbe&) = delete;
  TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

  // Opens and describes a file; formatName forces a demuxer by short name. Throws
  // EFFmpegError when a library it needs is not loaded; returns false on any other failure,
  // with the reason in LastErrorMessage().
  bool LoadFile(const std::string& fileName, const std::string& formatName = std::string());
  // Describes a container opened elsewhere; the probe never closes it. Null only closes.
  void AttachContext(AVFormatContext* context);
  // Closes an owned container, forgets an attached one.
  void Close();
  // Re-reads the counts, e.g. after the attached container gained streams.
  void RefreshStreams();

  // Each getter resets the record first and leaves it reset when it fails.
  bool GetFileStreamInfo(TFileStreamInfo& info);
  // A negative index asks for the first stream of the kind.
  bool GetAudioStreamInfo(int index, TAudioStreamInfo& info);
  bool GetVideoStreamInfo(int index, TVideoStreamInfo& info);
  bool IsAudioStream(int index);
  bool IsVideoStream(int index);

  // The container's name in display form ("" without a container).
  std::string GetFileName() const;
  // The demuxer's short name ("" without a container).
  std::string GetFormatName() const;
  // A readable report of the container, its programs and streams; LF after every line.
  std::string GetFileInfoText();

  AVFormatContext* FormatContext() const { return Context; }
  bool OwnsContext() const { return Owned; }
  const std::string& LastErrorMessage() const { return ErrorMessage; }
  // The format name LoadFile was given ("" when it detected the format).
  const std::string& InputFormatName() const { return ForcedFormat; }
  int64_t FileSize() const { return Counts.FileSize; }
  int32_t StreamCount() const { return Counts.StreamCount; }
  int32_t ProgramCount() const { return Counts.ProgramCount; }
  int32_t AudioStreamCount() const { return Counts.AudioStreamCount; }
  int32_t VideoStreamCount() const { return Counts.VideoStreamCount; }
  int32_t SubtitleStreamCount() const { return Counts.SubtitleStreamCount; }
  int32_t FirstAudioStream() const { return Counts.FirstAudioStream; }
  int32_t FirstVideoStream() const { return Counts.FirstVideoStream; }
  int32_t FirstSubtitleStream() const { return Counts.FirstSubtitleStream; }

 protected:
  // Logs the text as this probe and keeps it as LastErrorMessage.
  void Report(TLogLevel level, const std::string& text);

 private:
  // All -1 while no container is held.
  struct TCounts {
    int64_t FileSize = -1;
    int32_t StreamCount = -1;
    int32_t ProgramCount = -1;
    int32_t AudioStreamCount = -1;
    int32_t VideoStreamCount = -1;
    int32_t SubtitleStreamCount = -1;
    int32_t FirstAudioStream = -1;
    int32_t FirstVideoStream = -1;
    int32_t FirstSubtitleStream = -1;
  };

  // The stream a typed getter reads, or null after reporting why there is none.
  AVStream* StreamOfKind(int index, bool audio);
  bool IsStreamOfType(int index, int mediaType);  // an AVMediaType
  std::string StreamLine(int index) const;

  AVFormatContext* Context = nullptr;
  bool Owned = false;
  std::unique_ptr<TUnicodeFile> Io;  // the I/O of an owned "unicode:utf8:" file
  std::string ErrorMessage;
  std::string ForcedFormat;
  TCounts Counts;
};

// The class the rest of the program creates.
class TAVProbe : public TCustomAVProbe {};

// A rate as the stream lines show it: two decimals when it has a fraction ("29.97"), else
// whole ("25"), or in thousands when a multiple of 1000 ("90k"). Independent of the locale.
std::string StreamRateText(double value);
