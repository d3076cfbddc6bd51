// The option language of a conversion task: (name, value) pairs in the vocabulary of the
// classic command-line transcoder, applied in order to the settings the transcode pipeline
// reads when it opens files and creates streams.
//
// Options given before a file is opened describe that file (TFileOptions); the pipeline calls
// ResetFileOptions() once it has consumed them. Everything else lasts for the whole task.
// Options that are no setting of the language itself are "library options": they are set on
// the task's default contexts (codec contexts per media type, a format context, a scaler
// context) and copied onto every context the pipeline creates later, through
// ApplyRecordedCodecOptions / ApplyRecordedFormatOptions / ApplyRecordedScalerOptions.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FFmpegRAII.h"
#include "GenerationBridge.h"

// Per-file stream tables ("itsscale", "streamid") have this many entries.
constexpr int MaxStreams = 20;

// What the option language needs from the task that runs the conversion.
class IFFmpegOptionsHost {
 public:
  virtual ~IFFmpegOptionsHost() = default;
  virtual int OutputFileCount() const = 0;
  // "newvideo", "newaudio", "newsubtitle": one more stream of `kind` on the last opened
  // output, made from the current settings.
  virtual void AddStreamToLastOutput(AVMediaType kind) = 0;
  // "vhook": the module path followed by its arguments. False when it cannot be added.
  virtual bool AddFrameHook(const std::vector<std::string>& arguments) = 0;
  // The time bases of the video streams of the inputs opened so far, in order.
  virtual std::vector<AVRational> InputVideoTimeBases() const = 0;
};

struct TBitstreamFilterSpec {
  std::string Name;
  std::string Arguments;  // the text after "=", may be empty
  bool operator==(const TBitstreamFilterSpec&) const = default;
};

// The settings of one stream kind of the next file.
struct TStreamKindOptions {
  std::string CodecName;  // as given ("libx264", "libfaac"); resolve with FindStreamCodec
  bool StreamCopy = false;
  uint32_t CodecTag = 0;  // 0: the muxer's choice
  std::string Language;
  bool Disabled = false;  // "vn", "an", "sn"
  int FrameLimit = INT32_MAX;
  std::vector<TBitstreamFilterSpec> BitstreamFilters;
};

struct TStreamMap {
  int File = 0, Stream = 0, SyncFile = 0, SyncStream = 0;
  bool operator==(const TStreamMap&) const = default;
};

struct TMetadataMap {
  int OutputFile = 0, InputFile = 0;
  bool operator==(const TMetadataMap&) const = default;
};

// The settings consumed by the next input or output file.
struct TFileOptions {
  TFileOptions() { InputTimeScale.fill(1.0); }

  std::string ForcedFormat;                    // "f"
  int64_t StartTime = 0;                       // "ss", µs
  int64_t RecordingTime = INT64_MAX;           // "t", µs
  int64_t InputTimeOffset = 0;                 // "itsoffset", µs
  std::array<double, MaxStreams> InputTimeScale;  // "itsscale", per stream of the next input
  std::optional<int64_t> RecordingTimestamp;   // "timestamp", µs since 1970 (creation time)
  int64_t SizeLimit = 0;                       // "fs", bytes; 0: none
  TStreamKindOptions Video, Audio, Subtitle;
  int DataFrameLimit = INT32_MAX;              // "dframes"
  int FrameWidth = 0, FrameHeight = 0;         // "s"; 0: the source's
  AVRational FrameRate{0, 0};                  // "r"; den 0: the source's
  AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
  double AspectRatio = 0;                      // display aspect; 0: the source's
  int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  // The size the crop checks measure against: the frame size given by "s" or the source's
  // (SetSourceFrameSize), less what was cropped so far.
  int CropReferenceWidth = 0, CropReferenceHeight = 0;
  int AudioSampleRate = 44100;                 // "ar"
  int AudioChannels = 2;                       // "ac"
  double VideoQuantiser = 0;                   // "qscale"; 0: none
  double AudioQuantiser = -99999;              // "aq"; -99999: none
  std::vector<TOptionPair> Metadata;           // "metadata", in order
  std::string VideoFilters;                    // "vfilters", "vf"
  std::array<int, MaxStreams> StreamIds{};     // "streamid"; 0: the muxer's choice
  std::vector<uint16_t> IntraMatrix, InterMatrix;  // empty or 64 coefficients
};

// A library option accepted so far, and the contexts that took it.
struct TRecordedOption {
  static constexpr unsigned FormatTarget = 1u << 8;
  static constexpr unsigned ScalerTarget = 1u << 9;
  std::string Name;
  unsigned Targets = 0;  // bit (1 << AVMediaType) per codec context, FormatTarget, ScalerTarget
};

// An encoder or muxer private option (or an old-vocabulary setting the bridge translates
// once the encoder is known), kept until the pipeline opens the codec.
struct TPendingOption {
  TDeferredOption Option;
  bool Bridged = false;  // translated by TranslateForEncoder; else passed on unchanged
};

enum class TTargetNorm { Automatic, PAL, NTSC, FILM };
enum class TLibraryOptionResult { Accepted, Rejected, Unknown };

// The settings of a task, as the pipeline reads them; the values are those of a new task.
struct TTaskOptions {
  TFileOptions File;

  // Whole-task settings.
  int Verbosity = 1;                // "v"
  bool PgmYuv = false;              // "f pgmyuv" was given (it became image2)
  int ThreadCount = 0;              // "threads"; 0: the codec chooses (all cores)
  int VideoSync = -1;               // "vsync"; -1: automatic
  int AudioSync = 0;                // "async"
  double AudioDriftThreshold = 0.1; // "adrift_threshold", s
  double DtsDeltaThreshold = 10;    // "dts_delta_threshold", s
  bool CopyTimestamps = false;      // "copyts"
  bool Shortest = false;
  bool ExitOnError = false;         // "xerror"
  int CopyInitialNonKeyframes = 0;  // "copyinkf"
  int ProgramId = 0;                // "programid"
  int VideoGlobalHeader = 0;        // "vglobal"
  bool DumpPackets = false;         // "dump"
  bool HexDump = false;             // "hex"
  bool RateEmulation = false;       // "re"
  bool LoopInput = false;           // "loop_input"
  int LoopOutput = -1;              // "loop_output"; -1: no loop, 0: endless
  bool IntraOnly = false;           // "intra"
  bool SameQuant = false;           // "sameq"
  bool Deinterlace = false;
  bool DoPsnr = false;              // "psnr"
  bool QpHistogram = false;         // "qphist"
  bool ForceFps = false;            // "force_fps"
  bool InputSync = false;           // "isync"
  int VideoDiscard = 0;             // "vdt"
  int MeThreshold = 0;              // "me_threshold"
  int TopFieldFirst = -1;           // "top"; -1: automatic
  int IntraDcPrecision = 8;         // "dc"
  int Volume = 256;                 // "vol"; 256: unchanged
  int VideoChannel = 0;             // "vc"
  std::string TvStandard;           // "tvstd"
  std::string RcOverride;           // "rc_override"
  int PassNumber = 0;               // "pass": 0, 1 or 2
  std::string PassLogFile;          // "passlogfile"
  std::string VstatsFile;           // "vstats", "vstats_file"; empty: none
  std::vector<std::vector<std::string>> FrameHooks;  // "vhook", as added to the host
  double MuxMaxDelay = 0.7;         // "muxdelay", s
  double MuxPreload = 0.5;          // "muxpreload", s
  std::vector<TStreamMap> StreamMaps;        // "map"
  std::vector<TMetadataMap> MetadataMaps;    // "map_meta_data"
  int ScalerFlags = 4;              // SWS_BICUBIC; follows "sws_flags"
  int VideoEncodeBufferSize = 262144;
  int64_t ExpectedDuration = -1;    // µs, for progress; -1: unknown

};

class TFFmpegOptions : public TTaskOptions {
 public:
  // `logSender` is the sender of this task's log messages; null: this object.
  explicit TFFmpegOptions(IFFmpegOptionsHost* host = nullptr, void* logSender = nullptr);
  ~TFFmpegOptions();
  TFFmpegOptions(const TFFmpegOptions&) = delete;
  TFFmpegOptions& operator=(const TFFmpegOptions&) = delete;

  // Back to the state of a new task (the default contexts are recreated when next needed).
  void Reset();
  // Called by the pipeline once it has opened the file the per-file settings describe.
  void ResetFileOptions();
  // The opened input's frame size: what later crop options are checked against.
  void SetSourceFrameSize(int width, int height);

  IFFmpegOptionsHost* Host() const { return HostPtr; }
  void* LogSender() const { return Sender; }

  // "v" above 0: the target norm note; above 2: the per-frame "*** drop!" / "*** N dup!" notes.
  bool ShowTargetNotes() const { return Verbosity > 0; }
  bool ShowDropDupNotes() const { return Verbosity > 2; }

  // The default contexts library options are set on; created on first use (needs the
  // converter's libraries bound).
  AVCodecContext* DefaultCodecContext(AVMediaType type);
  AVFormatContext* DefaultFormatContext();
  SwsContext* DefaultScalerContext();

  // The "strict" option as recorded for `type` (FF_COMPLIANCE_NORMAL when never set).
  int Strictness(AVMediaType type) const;

  const std::vector<TRecordedOption>& RecordedOptions() const { return Recorded; }
  const std::vector<TPendingOption>& PendingCodecOptions(AVMediaType type) const;
  const std::vector<TOptionPair>& PendingFormatOptions() const { return PendingFormat; }

  // Logs a warning once per task, however often the same setting is dropped.
  void WarnOnce(const std::string& text);

  // The library-option path's bookkeeping (used by FFmpegOptions.cpp).
  void Record(const std::string& name, unsigned targets);
  void AddPendingCodecOption(AVMediaType type, const TDeferredOption& option, bool bridged);
  void AddPendingFormatOption(const std::string& name, const std::string& value);

 private:
  IFFmpegOptionsHost* HostPtr;
  void* Sender;
  TCodecContext CodecContexts[AVMEDIA_TYPE_NB];
  TOutputFormat FormatContext;
  TSwsContext ScalerContext;
  std::vector<TRecordedOption> Recorded;
  std::vector<TPendingOption> PendingCodec[AVMEDIA_TYPE_NB];
  std::vector<TOptionPair> PendingFormat;
  std::set<std::string> Warned;
};

// The one entry point: applies option `name` with `value` to the task. Errors raise
// EFFmpegError (EAssertionFailed for a tag of the wrong length); notes go to the logger.
void ApplyFFmpegOption(TFFmpegOptions& task, const std::string& name, const std::string& value);

// A library option (any name the language does not define), through the bridge. A rejected
// value is logged through the libraries' log; an unknown name does nothing.
TLibraryOptionResult ApplyLibraryOption(TFFmpegOptions& task, const std::string& name,
                                        const std::string& value);

// "apre", "vpre", "spre", "fpre".
void ApplyPreset(TFFmpegOptions& task, const std::string& option, const std::string& value);

// The disc targets: type "vcd", "svcd", "dvd", "dv" or "dv50"; `fallbackNorm` ("pal",
// "ntsc", "film") when the automatic norm finds nothing.
void ApplyTarget(TFFmpegOptions& task, const std::string& type, TTargetNorm norm,
                 const std::string& fallbackNorm);

// The codec a stream of `type` gets from `name` (bridge, lookup, strictness of the task);
// the bridge's replacement note is logged. Raises the lookup's EFFmpegError.
const AVCodec* FindStreamCodec(TFFmpegOptions& task, const std::string& name, AVMediaType type,
                               bool encoder);

// For a codec context the pipeline just allocated for `codec`: copies the recorded generic
// options from the default context of its media type, sets the thread count, and fills
// `privateOptions` with what avcodec_open2 must get as its options dictionary (the codec's
// private options and, for an encoder, the bridge's translations). Settings the encoder has
// no equivalent for are logged once each.
void ApplyRecordedCodecOptions(TFFmpegOptions& task, AVCodecContext* ctx, const AVCodec* codec,
                               TDictionary& privateOptions);
// The same for a format context (an allocated input context before avformat_open_input, or
// an output context before avformat_write_header): recorded generic options, and for an
// output the mux delay, the MPEG muxers' preload, the loop count and the creation time.
void ApplyRecordedFormatOptions(TFFmpegOptions& task, AVFormatContext* ctx, bool output,
                                TDictionary& privateOptions);
void ApplyRecordedScalerOptions(TFFmpegOptions& task, SwsContext* ctx);

// Logs a warning naming each entry `leftover` still holds after avcodec_open2,
// avformat_open_input or avformat_write_header; `owner` says whose ("encoder 'libx264'").
void LogUnusedOptions(TFFmpegOptions& task, const AVDictionary* leftover, const std::string& owner);
