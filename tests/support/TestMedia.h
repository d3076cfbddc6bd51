// Short clips for the tests, made at run time: the testsrc picture and a sine tone, encoded
// by libavcodec and muxed by libavformat through the engine's bound entry points.
#pragma once

#include <functional>
#include <string>

struct AVFrame;

struct TTestMediaSpec {
  std::string Container;             // muxer short name; empty: guessed from the file name
  std::string VideoCodec = "mpeg4";  // encoder name; empty: no video stream
  int Width = 160;
  int Height = 120;
  int FrameRateNum = 25;
  int FrameRateDen = 1;
  int VideoBitRate = 300000;
  std::string AudioCodec = "mp2";  // encoder name; empty: no audio stream
  int SampleRate = 44100;
  int Channels = 2;
  int AudioBitRate = 128000;
  double Duration = 1.0;  // seconds
  // Text subtitle encoder ("subrip", "ass", "mov_text"); empty: no subtitle stream. One cue
  // per whole second, "Line N" from N s to N.8 s.
  std::string SubtitleCodec;
};

// Loads the converter's libraries once; fails the calling test when they do not load.
void RequireConverterLibraries();

// Writes the clip to `path` (which may be a "unicode:utf8:" name). Returns "" on success or
// a text that says what failed.
std::string MakeTestMedia(const std::string& path, const TTestMediaSpec& spec);

struct TDecodedCounts {
  int VideoFrames = 0;
  int AudioFrames = 0;
  int Errors = 0;
};

// Decodes every packet of the file; a valid output decodes without a single error. A file
// that does not open counts as one error.
TDecodedCounts DecodeAll(const std::string& path);
// The same, handing each decoded picture and its time in seconds to `onPicture`.
TDecodedCounts DecodeAll(const std::string& path, const std::function<void(const AVFrame&, double)>& onPicture);

// What the probe finds in a converted file.
struct TMediaFacts {
  bool Opened = false;
  int VideoStreams = 0;
  int AudioStreams = 0;
  std::string VideoCodec;  // decoder name of the first video stream
  int Width = 0, Height = 0;
  double Seconds = 0;  // the container's duration
};
TMediaFacts InspectMedia(const std::string& path);
